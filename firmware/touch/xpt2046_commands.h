// The XPT2046 touch controller's control byte, as far as this panel uses it:
// the driver builds it from these fields and the simulator's model of the
// chip decodes it.
#pragma once

#include <cstdint>

namespace xpt2046 {

constexpr uint8_t kStart = 0x80;  // S: a control byte starts with a 1
constexpr int kChannelShift = 4;  // A2..A0
constexpr uint8_t kChannelMask = 0x07;
constexpr uint8_t kChannelYPosition = 0x01;
constexpr uint8_t kChannelXPosition = 0x05;
constexpr uint8_t kMode8Bit = 0x08;       // MODE: 1 for 8-bit, 0 for 12-bit conversions
constexpr uint8_t kSingleEnded = 0x04;    // SER/DFR: 1 single-ended, 0 differential
constexpr uint8_t kPowerDownMask = 0x03;  // PD1..PD0: 0 powers down between conversions

// A 12-bit differential conversion of `channel`, powered down after it.
constexpr uint8_t control(uint8_t channel) {
    return static_cast<uint8_t>(kStart | (channel & kChannelMask) << kChannelShift);
}

constexpr uint8_t channelOf(uint8_t control) {
    return static_cast<uint8_t>(control >> kChannelShift & kChannelMask);
}

// The 12-bit result comes in the two bytes read after the control byte, one
// busy clock first: D11..D5 in the first, D4..D0 and three zeros in the second.
constexpr uint16_t resultOf(uint8_t first, uint8_t second) {
    return static_cast<uint16_t>(first << 5 | second >> 3);
}

static_assert(control(kChannelYPosition) == 0x90 && control(kChannelXPosition) == 0xD0);

}  // namespace xpt2046
