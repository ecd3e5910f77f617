#include "assets/pictures.h"

// Headers only (0 x 0 pixels) until the artwork is drawn.
const unsigned char gImage_homegray[8] = {0x10, 0x10, 0, 0, 0, 0, 0x01, 0x1B};
const unsigned char gImage_driveboarderror[8] = {0x10, 0x10, 0, 0, 0, 0, 0x01, 0x1B};
