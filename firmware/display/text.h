// Text and fonts.
#pragma once

// Maps the GBK 16 x 16 font file.
void openHZK();
