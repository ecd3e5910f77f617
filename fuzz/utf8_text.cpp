// Any bytes as text: through lcdShowString (UTF-8, converted first) and
// through its drawing step directly (raw GBK bytes, which the converter never
// produces), with a small font mapping that most glyphs lie beyond. Nothing
// may be read outside the string or the mapping (AddressSanitizer), and
// nothing drawn outside the frame or the text's own box.
//
// The first four bytes choose the place, the limits, the size and the mode.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "firmware/display/driver.h"
#include "firmware/display/text.h"

namespace {

constexpr uint8_t kUntouched = 0xA5;

// Glyphs for the lead bytes 0x81 and 0x82 and part of 0x83, at the very end
// of their allocation so a read past the mapped length is caught.
std::vector<unsigned char>& fontArea() {
    static std::vector<unsigned char> area = [] {
        std::vector<unsigned char> a(32 * 400);
        for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<unsigned char>(i * 131 >> 2);
        return a;
    }();
    return area;
}

bool untouched(const uint8_t* from, int pixels) {
    static const std::vector<uint8_t> clean(2 * LCD_WIDTH, kUntouched);
    return memcmp(from, clean.data(), 2 * static_cast<size_t>(pixels)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const int x = data[0] + (data[3] & 0x40 ? 200 : 0);
    const int y = data[1];
    const int xr = data[2] * 2;
    const int yb = 240 - (data[3] & 0x0F) * 8 + (data[3] & 0x80 ? 40 : 0);
    static constexpr uint8_t kSizes[4] = {16, 12, 24, 0};
    const uint8_t textSize = kSizes[data[3] >> 4 & 3];
    const uint8_t mode = data[0] & 3;

    // The text in a heap block of exactly its length plus the terminator.
    const size_t len = size - 4;
    std::unique_ptr<char[]> text(new char[len + 1]);
    memcpy(text.get(), data + 4, len);
    text[len] = 0;

    std::vector<unsigned char>& area = fontArea();
    const size_t mapped = (data[2] % 3 == 0) ? 0 : 32 * (data[1] % 400) + data[2] % 32;
    gbk16mem = mapped == 0 ? nullptr : area.data() + area.size() - mapped;
    gbk16_stat.st_size = static_cast<off_t>(mapped);

    for (int pass = 0; pass < 2; ++pass) {
        memset(buf, kUntouched, sizeof buf);
        if (pass == 0) {
            lcdShowString(static_cast<uint16_t>(x), static_cast<uint16_t>(y),
                          static_cast<uint16_t>(xr), static_cast<uint16_t>(yb), text.get(),
                          textSize, mode);
            if (memchr(utf82gbk, 0, sizeof utf82gbk) == nullptr) __builtin_trap();
        } else {
            showGbkString(static_cast<uint16_t>(x), static_cast<uint16_t>(y),
                          static_cast<uint16_t>(xr), static_cast<uint16_t>(yb), text.get(),
                          textSize, mode);
        }
        // Glyphs start at or before xr - size/2 and are at most `size` wide.
        const int left = std::clamp(x, 0, LCD_WIDTH), top = std::clamp(y, 0, LCD_HEIGHT);
        const int right = std::clamp(xr + textSize / 2, left, LCD_WIDTH);
        const int bottom = std::clamp(y + textSize, top, LCD_HEIGHT);
        for (int py = 0; py < LCD_HEIGHT; ++py) {
            const uint8_t* row = buf + 2 * py * LCD_WIDTH;
            if (py < top || py >= bottom) {
                if (!untouched(row, LCD_WIDTH)) __builtin_trap();
            } else if (!untouched(row, left) || !untouched(row + 2 * right, LCD_WIDTH - right)) {
                __builtin_trap();
            }
        }
    }
    gbk16mem = nullptr;
    gbk16_stat.st_size = 0;
    return 0;
}
