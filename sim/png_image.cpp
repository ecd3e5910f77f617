#include "png_image.h"

#include <png.h>

namespace sim {
namespace {
void appendBytes(png_structp png, png_bytep data, png_size_t len) {
    auto* out = static_cast<std::string*>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char*>(data), len);
}
void noFlush(png_structp) {}
}  // namespace

std::string encodePng(const uint8_t* rgb, int width, int height) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return "";
    png_infop info = png_create_info_struct(png);
    std::string out;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
        return "";
    }
    png_set_write_fn(png, &out, appendBytes, noFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 3);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        png_write_row(png, const_cast<png_bytep>(rgb + static_cast<size_t>(y) * width * 3));
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::vector<uint8_t> rgb565ToRgb(const std::vector<uint16_t>& pixels) {
    std::vector<uint8_t> rgb(pixels.size() * 3);
    for (size_t i = 0; i < pixels.size(); ++i) {
        const uint16_t v = pixels[i];
        const int r = v >> 11, g = (v >> 5) & 0x3F, b = v & 0x1F;
        rgb[3 * i] = static_cast<uint8_t>(r << 3 | r >> 2);
        rgb[3 * i + 1] = static_cast<uint8_t>(g << 2 | g >> 4);
        rgb[3 * i + 2] = static_cast<uint8_t>(b << 3 | b >> 2);
    }
    return rgb;
}

}  // namespace sim
