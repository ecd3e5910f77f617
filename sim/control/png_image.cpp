#include "png_image.h"

#include <png.h>

namespace sim {

std::string encodePng(const uint8_t* rgb, int width, int height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    if (!png_image_write_get_memory_size(image, size, 0, rgb, 0, nullptr)) return "";
    std::string out(size, '\0');
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, rgb, 0, nullptr)) return "";
    out.resize(size);
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
