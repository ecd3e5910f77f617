// Drawing into the shadow frame.
#pragma once

#include <cstdint>

void drawFullBackPic(const unsigned char* picture);
void drawHalfPic(uint16_t x, uint16_t y, const unsigned char* picture);
