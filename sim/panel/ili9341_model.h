// Model of the ILI9341 display controller as far as the firmware drives it:
// it decodes the command, parameter and pixel stream into its own memory.
// What the control page shows is what the chip got.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "firmware/display/ili9341_commands.h"

namespace sim {

class Ili9341Model {
  public:
    static constexpr int kWidth = 320;  // as mounted: landscape
    static constexpr int kHeight = 240;

    // Bytes of one transfer; `data` is the DC line (true: parameter or pixel).
    void write(bool data, const uint8_t* bytes, size_t n);
    void reset();

    // The screen as it looks, row-major RGB565 (kWidth x kHeight).
    std::vector<uint16_t> screen() const;
    bool displayOn() const;
    uint64_t pixelsWritten() const;
    uint8_t madctl() const;

  private:
    void command(uint8_t cmd);
    void parameter(uint8_t value);
    void pixel(uint16_t value);
    size_t pixelRows(const uint8_t* bytes, size_t i, size_t n);
    int maxColumn() const { return exchanged() ? kWidth - 1 : kHeight - 1; }
    int maxPage() const { return exchanged() ? kHeight - 1 : kWidth - 1; }
    bool exchanged() const { return (madctl_ & ili9341::kMadctlExchange) != 0; }

    mutable std::mutex lock_;
    // Native memory: 240 columns x 320 rows, the glass in portrait, kept
    // column by column: the firmware writes along native columns.
    static constexpr int cell(int nx, int ny) { return nx * kWidth + ny; }
    uint16_t memory_[kWidth * kHeight] = {};
    uint8_t cmd_ = 0;
    int paramIndex_ = 0;
    uint8_t params_[4] = {};
    uint8_t madctl_ = 0;
    uint16_t sc_ = 0, ec_ = kHeight - 1, sp_ = 0, ep_ = kWidth - 1;
    int col_ = 0, page_ = 0;
    bool writing_ = false;
    bool highByte_ = true;
    uint8_t hi_ = 0;
    bool displayOn_ = false;
    uint64_t pixels_ = 0;
};

}  // namespace sim
