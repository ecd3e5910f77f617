// The panel controller and its shadow frame.
#pragma once

// Board lines, SPI bus, panel start-up and touch calibration.
void ILI_INIT();

// Pushes the whole shadow frame to the panel.
void ILI9341_fillRec1();
