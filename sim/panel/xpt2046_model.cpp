#include "xpt2046_model.h"

#include <algorithm>
#include <cmath>

#include "firmware/touch/xpt2046_commands.h"

namespace sim {

void Xpt2046Model::setPhysics(const TouchPhysics& physics) {
    std::lock_guard<std::mutex> lock(lock_);
    physics_ = physics;
}

TouchPhysics Xpt2046Model::physics() const {
    std::lock_guard<std::mutex> lock(lock_);
    return physics_;
}

void Xpt2046Model::setNoise(int amplitude) {
    std::lock_guard<std::mutex> lock(lock_);
    noise_ = std::max(0, amplitude);
}

void Xpt2046Model::press(int x, int y) {
    std::lock_guard<std::mutex> lock(lock_);
    pressed_ = true;
    x_ = x, y_ = y;
}

void Xpt2046Model::release() {
    std::lock_guard<std::mutex> lock(lock_);
    pressed_ = false;
}

bool Xpt2046Model::pressed() const {
    std::lock_guard<std::mutex> lock(lock_);
    return pressed_;
}

uint16_t Xpt2046Model::convert(bool xAxis) {
    ++conversions_;
    // Without contact the plates float: readings near zero.
    if (!pressed_) return static_cast<uint16_t>(rng_() % 8);
    double v = xAxis ? physics_.x_origin + x_ * physics_.x_per1000 / 1000.0
                     : physics_.y_origin + y_ * physics_.y_per1000 / 1000.0;
    if (noise_ > 0) v += static_cast<double>(static_cast<int>(rng_() % (2 * noise_ + 1)) - noise_);
    return static_cast<uint16_t>(std::clamp(std::lround(v), 0L, 4095L));
}

void Xpt2046Model::write(const uint8_t* bytes, size_t n) {
    std::lock_guard<std::mutex> lock(lock_);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = bytes[i];
        if ((b & xpt2046::kStart) == 0) continue;  // no start bit: clocks only
        const uint8_t channel = xpt2046::channelOf(b);
        if (channel != xpt2046::kChannelYPosition && channel != xpt2046::kChannelXPosition) {
            out_[0] = out_[1] = 0;
        } else {
            // The panel's X is along the chip's Y plate (the glass is turned).
            // 12 bits after one busy clock: D11..D5, then D4..D0 and three zeros.
            const uint16_t v = convert(channel == xpt2046::kChannelYPosition);
            out_[0] = static_cast<uint8_t>(v >> 5);
            out_[1] = static_cast<uint8_t>((v << 3) & 0xF8);
        }
        outIndex_ = 0;
    }
}

void Xpt2046Model::read(uint8_t* bytes, size_t n) {
    std::lock_guard<std::mutex> lock(lock_);
    for (size_t i = 0; i < n; ++i) bytes[i] = outIndex_ < 2 ? out_[outIndex_++] : 0;
}

uint64_t Xpt2046Model::conversions() const {
    std::lock_guard<std::mutex> lock(lock_);
    return conversions_;
}

}  // namespace sim
