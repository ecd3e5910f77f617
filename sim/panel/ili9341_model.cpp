#include "ili9341_model.h"

#include "firmware/display/ili9341_commands.h"

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
        for (; i + 1 < n; i += 2) pixel(static_cast<uint16_t>(bytes[i] << 8 | bytes[i + 1]));
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

void Ili9341Model::pixel(uint16_t value) {
    // Logical (column, page) to the native portrait memory.
    int nx = col_, ny = page_;
    if (madctl_ & kMadctlExchange) nx = page_, ny = col_;
    if (madctl_ & kMadctlColumnOrder) nx = kHeight - 1 - nx;
    if (madctl_ & kMadctlRowOrder) ny = kWidth - 1 - ny;
    if (nx >= 0 && nx < kHeight && ny >= 0 && ny < kWidth) memory_[ny * kHeight + nx] = value;
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
            uint16_t v = memory_[x * kHeight + y];
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
