#include "ili9341_model.h"

#include "firmware/display/ili9341_commands.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

namespace sim {

using namespace ili9341;

void Ili9341Model::write(bool data, const uint8_t* bytes, size_t n) {
    std::lock_guard<std::mutex> lock(lock_);
    if (data && writing_) {  // pixel data, two bytes each: the bulk of all traffic
        size_t i = 0;
        if (!highByte_ && n > 0) {
            pixel(static_cast<uint16_t>(hi_ << 8 | bytes[i++]));
            highByte_ = true;
        }
        i = pixelRows(bytes, i, n);
        if (i < n) {
            hi_ = bytes[i];
            highByte_ = false;
        }
        return;
    }
    for (size_t i = 0; i < n; ++i) {
        if (!data) {
            command(bytes[i]);
        } else if (writing_) {
            if (highByte_) {
                hi_ = bytes[i];
            } else {
                pixel(static_cast<uint16_t>(hi_ << 8 | bytes[i]));
            }
            highByte_ = !highByte_;
        } else {
            parameter(bytes[i]);
        }
    }
}

void Ili9341Model::reset() {
    std::lock_guard<std::mutex> lock(lock_);
    madctl_ = 0;
    sc_ = 0, ec_ = kHeight - 1, sp_ = 0, ep_ = kWidth - 1;
    writing_ = false;
    displayOn_ = false;
}

void Ili9341Model::command(uint8_t cmd) {
    cmd_ = cmd;
    paramIndex_ = 0;
    writing_ = false;
    switch (cmd) {
        case kSoftwareReset:
            madctl_ = 0;
            sc_ = 0, ec_ = kHeight - 1, sp_ = 0, ep_ = kWidth - 1;
            displayOn_ = false;
            break;
        case kDisplayOff: displayOn_ = false; break;
        case kDisplayOn: displayOn_ = true; break;
        case kMemoryWrite:  // from the window's start
            col_ = sc_;
            page_ = sp_;
            writing_ = true;
            highByte_ = true;
            break;
        case kMemoryWriteContinue:
            writing_ = true;
            highByte_ = true;
            break;
        default: break;
    }
}

void Ili9341Model::parameter(uint8_t value) {
    if (paramIndex_ < 4) params_[paramIndex_] = value;
    ++paramIndex_;
    if (cmd_ == kMemoryAccessControl && paramIndex_ == 1) madctl_ = value;
    if ((cmd_ == kColumnAddressSet || cmd_ == kPageAddressSet) && paramIndex_ == 4) {
        const int start = params_[0] << 8 | params_[1];
        int end = params_[2] << 8 | params_[3];
        const int max = cmd_ == kColumnAddressSet ? maxColumn() : maxPage();
        // An end past the glass is held at its last line; a window that
        // starts past it or runs backwards is ignored.
        if (end > max) end = max;
        if (start > end) return;
        if (cmd_ == kColumnAddressSet) {
            sc_ = static_cast<uint16_t>(start), ec_ = static_cast<uint16_t>(end);
        } else {
            sp_ = static_cast<uint16_t>(start), ep_ = static_cast<uint16_t>(end);
        }
    }
}

namespace {

// `count` big-endian pixels from `bytes` to consecutive cells, sixteen at a
// time in a loop of fixed length, which the compiler turns into vector code.
void storeRun(uint16_t* at, const uint8_t* bytes, size_t count) {
    size_t k = 0;
    for (; count - k >= 16; k += 16) {
        // Through locals, which alias nothing, so the swap needs no checks.
        uint8_t from[32];
        uint16_t to[16];
        std::memcpy(from, bytes + 2 * k, sizeof from);
        for (size_t j = 0; j < 16; ++j) {
            to[j] = static_cast<uint16_t>(from[2 * j] << 8 | from[2 * j + 1]);
        }
        std::memcpy(at + k, to, sizeof to);
    }
    for (; k < count; ++k) at[k] = static_cast<uint16_t>(bytes[2 * k] << 8 | bytes[2 * k + 1]);
}

}  // namespace

// Whole pairs of bytes from `i` on, a stretch of the current page at a
// time: along a page the native address moves by a fixed step, so a
// stretch that lies on the glass is stored without asking pixel() for each
// (a full frame is 76,800 of them, pushed every second of a print; with the
// rows and columns exchanged, as the firmware sets it, the step is one
// cell). The index after the last whole pair.
size_t Ili9341Model::pixelRows(const uint8_t* bytes, size_t i, size_t n) {
    while (i + 1 < n) {
        const size_t pairs = (n - i) / 2;
        const size_t along =
            col_ > ec_ ? 1 : std::min<size_t>(pairs, static_cast<size_t>(ec_ - col_ + 1));
        const auto native = [this](int col) {
            int nx = col, ny = page_;
            if (madctl_ & kMadctlExchange) nx = page_, ny = col;
            if (madctl_ & kMadctlColumnOrder) nx = kHeight - 1 - nx;
            if (madctl_ & kMadctlRowOrder) ny = kWidth - 1 - ny;
            return std::pair{nx, ny};
        };
        const auto [x0, y0] = native(col_);
        const auto [x1, y1] = native(col_ + static_cast<int>(along) - 1);
        const bool onGlass = std::min(x0, x1) >= 0 && std::max(x0, x1) < kHeight &&
                             std::min(y0, y1) >= 0 && std::max(y0, y1) < kWidth;
        if (along < 2 || !onGlass) {
            pixel(static_cast<uint16_t>(bytes[i] << 8 | bytes[i + 1]));
            i += 2;
            continue;
        }
        const std::ptrdiff_t step =
            ((x1 - x0) * kWidth + (y1 - y0)) / static_cast<std::ptrdiff_t>(along - 1);
        uint16_t* at = memory_ + cell(x0, y0);
        if (step == 1) {
            storeRun(at, bytes + i, along);
            i += 2 * along;
        } else {
            for (size_t k = 0; k < along; ++k, i += 2, at += step) {
                *at = static_cast<uint16_t>(bytes[i] << 8 | bytes[i + 1]);
            }
        }
        pixels_ += along;
        col_ += static_cast<int>(along);
        if (col_ > ec_) {
            col_ = sc_;
            if (++page_ > ep_) page_ = sp_;
        }
    }
    return i;
}

void Ili9341Model::pixel(uint16_t value) {
    // Logical (column, page) to the native portrait memory.
    int nx = col_, ny = page_;
    if (madctl_ & kMadctlExchange) nx = page_, ny = col_;
    if (madctl_ & kMadctlColumnOrder) nx = kHeight - 1 - nx;
    if (madctl_ & kMadctlRowOrder) ny = kWidth - 1 - ny;
    if (nx >= 0 && nx < kHeight && ny >= 0 && ny < kWidth) memory_[cell(nx, ny)] = value;
    ++pixels_;
    if (++col_ > ec_) {
        col_ = sc_;
        if (++page_ > ep_) page_ = sp_;
    }
}

std::vector<uint16_t> Ili9341Model::screen() const {
    std::lock_guard<std::mutex> lock(lock_);
    std::vector<uint16_t> out(kWidth * kHeight);
    const bool bgr = (madctl_ & kMadctlBgr) != 0;
    // The glass is mounted turned: screen (x, y) is native column y, row x.
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            uint16_t v = memory_[cell(y, x)];
            // The glass is BGR; without the BGR bit red and blue swap places.
            if (!bgr) v = static_cast<uint16_t>((v & 0x07E0) | (v >> 11) | ((v & 0x1F) << 11));
            out[y * kWidth + x] = v;
        }
    }
    return out;
}

bool Ili9341Model::displayOn() const {
    std::lock_guard<std::mutex> lock(lock_);
    return displayOn_;
}

uint64_t Ili9341Model::pixelsWritten() const {
    std::lock_guard<std::mutex> lock(lock_);
    return pixels_;
}

uint8_t Ili9341Model::madctl() const {
    std::lock_guard<std::mutex> lock(lock_);
    return madctl_;
}

}  // namespace sim
