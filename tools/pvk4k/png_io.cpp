#include "png_io.h"

#include <png.h>

#include <cstdio>

#include "firmware/print/layer_code.h"
#include "geometry/files.h"

namespace pvk4k {

// The print file's reader and its stdio files are the geometry library's.
using namespace geometry;
namespace {

// libpng reports errors by longjmp; the message is kept here on the way.
struct PngError {
    char text[200] = "";
};

[[noreturn]] void onPngError(png_structp png, png_const_charp message) {
    auto* e = static_cast<PngError*>(png_get_error_ptr(png));
    if (e != nullptr) snprintf(e->text, sizeof e->text, "%s", message);
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

// What the libpng part of a read or write found; no C++ objects with
// destructors take part in it, so libpng's longjmp on error skips none.
struct PngOutcome {
    enum Status { OK, LIBPNG, NO_MEMORY, WRONG_SIZE, NOT_GREY, FORMAT } status = OK;
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    PngError error;
};

void decodeLayerPng(FILE* fp, png_bytep* rows, PngOutcome& outcome) {
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &outcome.error, onPngError, onPngWarning);
    if (png == nullptr) {
        outcome.status = PngOutcome::NO_MEMORY;
        return;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        outcome.status = PngOutcome::LIBPNG;
        return;
    }
    png_init_io(png, fp);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);
    outcome.width = png_get_image_width(png, info);
    outcome.height = png_get_image_height(png, info);
    const int colourType = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    const bool colour = (colourType & PNG_COLOR_MASK_COLOR) != 0;
    const bool grey = outcome.width == FRAME_LINE_BYTES && outcome.height == FRAME_HEIGHT;
    const bool rgb = outcome.width == FRAME_WIDTH && outcome.height == FRAME_HEIGHT;
    if (!grey && !rgb) {
        outcome.status = PngOutcome::WRONG_SIZE;
    } else if (grey && colour) {
        outcome.status = PngOutcome::NOT_GREY;
    } else {
        if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
        if (!colour && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
        if (depth == 16) png_set_scale_16(png);
        if ((colourType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS)) {
            png_set_strip_alpha(png);
        }
        if (rgb && !colour) png_set_gray_to_rgb(png);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        if (png_get_rowbytes(png, info) != FRAME_LINE_BYTES) {
            outcome.status = PngOutcome::FORMAT;
        } else {
            png_read_image(png, rows);
            png_read_end(png, nullptr);
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
}

void encodePng(FILE* fp, uint32_t width, uint32_t height, int channels, const RowSource& rows,
               uint8_t* row, PngOutcome& outcome) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &outcome.error, onPngError, onPngWarning);
    if (png == nullptr) {
        outcome.status = PngOutcome::NO_MEMORY;
        return;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        outcome.status = PngOutcome::LIBPNG;
        return;
    }
    png_init_io(png, fp);
    png_set_IHDR(png, info, width, height, 8,
                 channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Masks are mostly large flat areas: fast settings lose little size.
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE | PNG_FILTER_UP);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; ++y) {
        rows(y, row);
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
}

std::string libpngMessage(const PngOutcome& outcome) {
    if (outcome.status == PngOutcome::NO_MEMORY) return "out of memory";
    return outcome.error.text[0] != '\0' ? outcome.error.text : "libpng failed";
}

}  // namespace

bool readLayerImage(const std::string& path, uint8_t* values, std::string& error) {
    File fp = openFile(path, "rb", error);
    if (!fp) return false;
    png_byte signature[8];
    if (fread(signature, 1, sizeof signature, fp.get()) != sizeof signature ||
        png_sig_cmp(signature, 0, sizeof signature) != 0) {
        error = path + " is not a PNG file";
        return false;
    }
    std::vector<png_bytep> rows(FRAME_HEIGHT);
    for (uint32_t y = 0; y < FRAME_HEIGHT; ++y) rows[y] = values + size_t{y} * FRAME_LINE_BYTES;
    PngOutcome outcome;
    decodeLayerPng(fp.get(), rows.data(), outcome);
    switch (outcome.status) {
        case PngOutcome::OK: return true;
        case PngOutcome::WRONG_SIZE:
            error = path + " is " + std::to_string(outcome.width) + " x " +
                    std::to_string(outcome.height) +
                    "; a layer image is 6480 x 3840 greyscale or 2160 x 3840 RGB";
            return false;
        case PngOutcome::NOT_GREY:
            error = path + ": a 6480 x 3840 layer image must be greyscale";
            return false;
        case PngOutcome::FORMAT: error = path + ": unsupported pixel format"; return false;
        default: error = path + ": " + libpngMessage(outcome); return false;
    }
}

bool readRgbImage(const std::string& path, size_t maxPixels, RgbImage& out, std::string& error) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        error = path + ": " + image.message;
        return false;
    }
    const uint64_t pixels = uint64_t{image.width} * image.height;
    if (pixels == 0 || pixels > maxPixels) {
        error = path + " is " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                " = " + std::to_string(pixels) + " pixels; at most " + std::to_string(maxPixels) +
                " fit";
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    out.width = image.width;
    out.height = image.height;
    out.rgb.assign(PNG_IMAGE_SIZE(image), 0);
    const png_color black{0, 0, 0};
    if (!png_image_finish_read(&image, &black, out.rgb.data(), 0, nullptr)) {
        error = path + ": " + image.message;
        return false;
    }
    return true;
}

bool writePng(const std::string& path, uint32_t width, uint32_t height, int channels,
              const RowSource& rows, std::string& error) {
    File fp = openFile(path, "wb", error);
    if (!fp) return false;
    std::vector<uint8_t> row(size_t{width} * static_cast<size_t>(channels));
    PngOutcome outcome;
    encodePng(fp.get(), width, height, channels, rows, row.data(), outcome);
    if (outcome.status != PngOutcome::OK) {
        error = "writing " + path + ": " + libpngMessage(outcome);
        return false;
    }
    return closeFile(fp, path, error);
}

}  // namespace pvk4k
