// The simulated board's panel module: the port-controller register block and
// the SPI bus, which routes each transfer by chip select to the display or
// the touch controller model.
//
// The panel module (panel/): these lines and the bus, and beside them the
// two chip models (ili9341_model, xpt2046_model), which decode the bytes by
// the firmware's own command names. It uses nothing else of the simulator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ili9341_model.h"
#include "xpt2046_model.h"

namespace sim {

Ili9341Model& panelChip();
Xpt2046Model& touchChip();

// One SPI transfer as the bus saw it.
struct SpiTransfer {
    char chip;  // 'L' display, 'T' touch, '-' none selected, '!' both selected
    bool write;
    bool dc;  // the DC line during the transfer
    size_t size;
    uint8_t first;  // the first byte written (commands and parameters are single bytes)
    uint8_t mode;
    uint32_t speed;
};

// Transfers since the last clear (the newest 4096 are kept).
std::vector<SpiTransfer> spiTransfers();
void clearSpiTransfers();
// Transfers that failed because no chip or both chips were selected, since
// start (a driver fault: the firmware never does it).
uint64_t spiSelectFaults();

// The pen line follows the touch model; call after press or release.
void updatePenLine();

// Reads a register of the simulated block (for tests).
uint32_t gpioRegister(uint32_t offset);

}  // namespace sim
