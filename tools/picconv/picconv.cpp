// picconv: turns the panel drawings (SVG) into the firmware's picture bytes.
//
//   picconv picture NAME IN.svg OUT.cpp OUT.bin
//       renders the drawing at its own pixel size and writes the picture
//       (8-byte header, RGB565 pixels high byte first) as the C++ source of
//       gImage_NAME and as raw bytes
//   picconv preview IN.svg OUT.png
//       how the panel will show a drawing, for whoever edits it
//   picconv sheet OUT.png IN.bin...
//       all converted pictures on one labelled page
#include <cairo.h>
#include <librsvg/rsvg.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint16_t> pixels;  // RGB565, row by row from the top-left
};

bool fail(const std::string& what) {
    std::fprintf(stderr, "picconv: %s\n", what.c_str());
    return false;
}

// Nearest 5- or 6-bit level of an 8-bit channel.
uint16_t toLevel(unsigned value, unsigned max) {
    return (value * max + 127) / 255;
}

uint16_t toRgb565(unsigned r, unsigned g, unsigned b) {
    return static_cast<uint16_t>(toLevel(r, 31) << 11 | toLevel(g, 63) << 5 | toLevel(b, 31));
}

bool render(const std::string& path, Picture& out) {
    GError* error = nullptr;
    RsvgHandle* svg = rsvg_handle_new_from_file(path.c_str(), &error);
    if (!svg) {
        std::string why = error ? error->message : "unreadable";
        if (error) g_error_free(error);
        return fail(path + ": " + why);
    }
    // The drawing states its size in panel pixels and a viewBox of the same
    // size, so one drawing unit is one panel pixel and edges land on pixels.
    gboolean hasWidth, hasHeight, hasViewBox;
    RsvgLength width, height;
    RsvgRectangle box;
    rsvg_handle_get_intrinsic_dimensions(svg, &hasWidth, &width, &hasHeight, &height, &hasViewBox,
                                         &box);
    bool sized = hasWidth && hasHeight && hasViewBox && width.unit == RSVG_UNIT_PX &&
                 height.unit == RSVG_UNIT_PX && width.length >= 1 && height.length >= 1 &&
                 width.length <= 4096 && height.length <= 4096 &&
                 width.length == std::floor(width.length) &&
                 height.length == std::floor(height.length) && box.x == 0 && box.y == 0 &&
                 box.width == width.length && box.height == height.length;
    if (!sized) {
        g_object_unref(svg);
        return fail(path + ": needs width and height in whole pixels and a matching viewBox");
    }
    out.width = static_cast<int>(width.length);
    out.height = static_cast<int>(height.length);

    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, out.width, out.height);
    cairo_t* cr = cairo_create(surface);
    RsvgRectangle viewport{0, 0, width.length, height.length};
    bool drawn = rsvg_handle_render_document(svg, cr, &viewport, &error);
    cairo_destroy(cr);
    g_object_unref(svg);
    if (!drawn) {
        std::string why = error ? error->message : "cannot render";
        if (error) g_error_free(error);
        cairo_surface_destroy(surface);
        return fail(path + ": " + why);
    }

    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    out.pixels.clear();
    out.pixels.reserve(static_cast<size_t>(out.width) * out.height);
    int seeThrough = 0;
    for (int y = 0; y < out.height; ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(data + y * stride);
        for (int x = 0; x < out.width; ++x) {
            uint32_t argb = row[x];
            if (argb >> 24 != 0xFF) ++seeThrough;
            out.pixels.push_back(toRgb565(argb >> 16 & 0xFF, argb >> 8 & 0xFF, argb & 0xFF));
        }
    }
    cairo_surface_destroy(surface);
    // The panel has nothing behind a picture: a pixel the drawing leaves
    // uncovered would come out as an accident of the conversion.
    if (seeThrough) return fail(path + ": " + std::to_string(seeThrough) + " pixels not opaque");
    return true;
}

std::vector<unsigned char> encode(const Picture& picture) {
    std::vector<unsigned char> bytes{0x10,
                                     0x10,
                                     static_cast<unsigned char>(picture.width >> 8),
                                     static_cast<unsigned char>(picture.width & 0xFF),
                                     static_cast<unsigned char>(picture.height >> 8),
                                     static_cast<unsigned char>(picture.height & 0xFF),
                                     0x01,
                                     0x1B};
    for (uint16_t p : picture.pixels) {
        bytes.push_back(static_cast<unsigned char>(p >> 8));
        bytes.push_back(static_cast<unsigned char>(p & 0xFF));
    }
    return bytes;
}

bool decode(const std::vector<unsigned char>& bytes, Picture& out) {
    if (bytes.size() < 8 || bytes[0] != 0x10 || bytes[1] != 0x10 || bytes[6] != 0x01 ||
        bytes[7] != 0x1B)
        return false;
    out.width = bytes[2] << 8 | bytes[3];
    out.height = bytes[4] << 8 | bytes[5];
    if (bytes.size() != 8 + 2 * static_cast<size_t>(out.width) * out.height) return false;
    out.pixels.clear();
    for (size_t i = 8; i < bytes.size(); i += 2)
        out.pixels.push_back(static_cast<uint16_t>(bytes[i] << 8 | bytes[i + 1]));
    return true;
}

bool writeFile(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary);
    file << content;
    file.close();
    return file ? true : fail("cannot write " + path);
}

std::string sourceOf(const std::string& name, const std::string& from,
                     const std::vector<unsigned char>& bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "// Made by picconv from " + from +
                      "; change the drawing, not this file.\n"
                      "#include \"assets/picture_catalogue.h\"\n"
                      "#include \"assets/pictures.h\"\n\n"
                      "const unsigned char gImage_" +
                      name + "[] = {\n";
    out.reserve(out.size() + bytes.size() * 5 + 512);
    for (size_t i = 0; i < bytes.size(); ++i) {
        out += "0x";
        out += hex[bytes[i] >> 4];
        out += hex[bytes[i] & 15];
        out += (i % 16 == 15 || i + 1 == bytes.size()) ? ",\n" : ",";
    }
    out +=
        "};\nstatic_assert(sizeof(gImage_" + name + ") == " + std::to_string(bytes.size()) + ");\n";
    out += "extern const PictureEntry picture_" + name + ";\n";
    out += "const PictureEntry picture_" + name + "{\"" + name + "\", gImage_" + name +
           ", sizeof(gImage_" + name + ")};\n";
    return out;
}

// A cairo image of RGB565 pixels, widened back to 8 bits per channel.
cairo_surface_t* surfaceOf(const Picture& picture) {
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, picture.width, picture.height);
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < picture.height; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(data + y * stride);
        for (int x = 0; x < picture.width; ++x) {
            uint16_t p = picture.pixels[static_cast<size_t>(y) * picture.width + x];
            uint32_t r = (p >> 11) * 255 / 31, g = (p >> 5 & 63) * 255 / 63,
                     b = (p & 31) * 255 / 31;
            row[x] = r << 16 | g << 8 | b;
        }
    }
    cairo_surface_mark_dirty(surface);
    return surface;
}

bool writePng(cairo_surface_t* surface, const std::string& path) {
    return cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS
               ? true
               : fail("cannot write " + path);
}

int picture(const std::string& name, const std::string& svg, const std::string& cpp,
            const std::string& bin) {
    Picture p;
    if (!render(svg, p)) return 1;
    std::vector<unsigned char> bytes = encode(p);
    std::string from = std::filesystem::path(svg).filename().string();
    bool ok = writeFile(bin, std::string(bytes.begin(), bytes.end())) &&
              writeFile(cpp, sourceOf(name, from, bytes));
    return ok ? 0 : 1;
}

int preview(const std::string& svg, const std::string& png) {
    Picture p;
    if (!render(svg, p)) return 1;
    cairo_surface_t* surface = surfaceOf(p);
    bool ok = writePng(surface, png);
    cairo_surface_destroy(surface);
    return ok ? 0 : 1;
}

// Shelf layout: pictures left to right in the given order, a new shelf when
// the page is full, each with its name and size underneath.
int sheet(const std::string& png, const std::vector<std::string>& bins) {
    constexpr int kPageWidth = 1364, kGap = 14, kLabel = 18;
    struct Cell {
        std::string label;
        Picture picture;
        int x, y;
    };
    std::vector<Cell> cells;
    int x = kGap, y = kGap, shelf = 0;
    // Labels are measured with the font they are drawn in.
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    cairo_t* measure = cairo_create(scratch);
    cairo_select_font_face(measure, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(measure, 12);
    for (const std::string& bin : bins) {
        std::ifstream file(bin, std::ios::binary);
        std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                         std::istreambuf_iterator<char>());
        Cell cell;
        if (!decode(bytes, cell.picture)) {
            fail(bin + ": not a picture");
            cairo_destroy(measure);
            cairo_surface_destroy(scratch);
            return 1;
        }
        std::string name = std::filesystem::path(bin).stem().string();
        cell.label = name + "  " + std::to_string(cell.picture.width) + " \u00d7 " +
                     std::to_string(cell.picture.height);
        cairo_text_extents_t extents;
        cairo_text_extents(measure, cell.label.c_str(), &extents);
        int cellWidth = std::max(cell.picture.width, static_cast<int>(extents.x_advance) + 1);
        if (x + cellWidth + kGap > kPageWidth) {
            x = kGap;
            y += shelf + kLabel + kGap;
            shelf = 0;
        }
        cell.x = x;
        cell.y = y;
        x += cellWidth + kGap;
        shelf = std::max(shelf, cell.picture.height);
        cells.push_back(std::move(cell));
    }
    int pageHeight = y + shelf + kLabel + kGap;
    cairo_destroy(measure);
    cairo_surface_destroy(scratch);

    cairo_surface_t* page = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kPageWidth, pageHeight);
    cairo_t* cr = cairo_create(page);
    cairo_set_source_rgb(cr, 0.09, 0.09, 0.1);
    cairo_paint(cr);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 12);
    for (const Cell& cell : cells) {
        cairo_surface_t* image = surfaceOf(cell.picture);
        cairo_set_source_surface(cr, image, cell.x, cell.y);
        cairo_paint(cr);
        cairo_surface_destroy(image);
        // A hairline around each picture shows where it ends on a dark page.
        cairo_set_source_rgb(cr, 0.35, 0.35, 0.38);
        cairo_set_line_width(cr, 1);
        cairo_rectangle(cr, cell.x - 0.5, cell.y - 0.5, cell.picture.width + 1,
                        cell.picture.height + 1);
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 0.85, 0.85, 0.85);
        cairo_move_to(cr, cell.x, cell.y + cell.picture.height + 14);
        cairo_show_text(cr, cell.label.c_str());
    }
    cairo_destroy(cr);
    bool ok = writePng(page, png);
    cairo_surface_destroy(page);
    return ok ? 0 : 1;
}

int usage() {
    std::fputs(
        "usage: picconv picture NAME IN.svg OUT.cpp OUT.bin\n"
        "       picconv preview IN.svg OUT.png\n"
        "       picconv sheet OUT.png IN.bin...\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 5 && args[0] == "picture")
        return picture(args[1], args[2], args[3], args[4]);
    if (args.size() == 3 && args[0] == "preview") return preview(args[1], args[2]);
    if (args.size() >= 3 && args[0] == "sheet")
        return sheet(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    return usage();
}
