#include "display/draw.h"

// Stand-ins until drawing is built.
void drawFullBackPic(const unsigned char*) {}
void drawHalfPic(uint16_t, uint16_t, const unsigned char*) {}
