// The ILI9341 display controller's command bytes and register fields, as far
// as this panel uses them: the driver sends them and the simulator's model of
// the chip decodes them.
#pragma once

#include <cstdint>

namespace ili9341 {

// Commands (the DC line low while the byte goes out).
constexpr uint8_t kSoftwareReset = 0x01;
constexpr uint8_t kSleepOut = 0x11;
constexpr uint8_t kGammaSet = 0x26;
constexpr uint8_t kDisplayOff = 0x28;
constexpr uint8_t kDisplayOn = 0x29;
constexpr uint8_t kColumnAddressSet = 0x2A;  // 4 parameters: start, end, high byte first
constexpr uint8_t kPageAddressSet = 0x2B;    // 4 parameters: start, end, high byte first
constexpr uint8_t kMemoryWrite = 0x2C;       // pixels follow from the window's start
constexpr uint8_t kMemoryAccessControl = 0x36;
constexpr uint8_t kPixelFormat = 0x3A;
constexpr uint8_t kMemoryWriteContinue = 0x3C;
constexpr uint8_t kTearScanline = 0x44;
constexpr uint8_t kFrameRateNormal = 0xB1;
constexpr uint8_t kDisplayFunction = 0xB6;
constexpr uint8_t kPowerControl1 = 0xC0;
constexpr uint8_t kPowerControl2 = 0xC1;
constexpr uint8_t kVcomControl1 = 0xC5;
constexpr uint8_t kVcomControl2 = 0xC7;
constexpr uint8_t kPowerControlA = 0xCB;
constexpr uint8_t kPowerControlB = 0xCF;
constexpr uint8_t kPositiveGamma = 0xE0;
constexpr uint8_t kNegativeGamma = 0xE1;
constexpr uint8_t kDriverTimingA = 0xE8;
constexpr uint8_t kDriverTimingB = 0xEA;
constexpr uint8_t kPowerOnSequence = 0xED;
constexpr uint8_t kEnable3Gamma = 0xF2;
constexpr uint8_t kPumpRatio = 0xF7;

// Memory access control (kMemoryAccessControl) bits.
constexpr uint8_t kMadctlRowOrder = 0x80;     // MY: rows bottom to top
constexpr uint8_t kMadctlColumnOrder = 0x40;  // MX: columns right to left
constexpr uint8_t kMadctlExchange = 0x20;     // MV: rows and columns exchanged
constexpr uint8_t kMadctlBgr = 0x08;          // BGR colour order

// Pixel format (kPixelFormat): 16 bits per pixel on both interfaces.
constexpr uint8_t kPixelFormat16Bit = 0x55;

}  // namespace ili9341
