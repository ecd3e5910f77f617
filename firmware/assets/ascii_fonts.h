// The compiled-in ASCII fonts: ' ' to '~', 16 bytes a glyph (slot = code - 32),
// one byte a row from the top, bit 0 the leftmost pixel.
#pragma once

constexpr int ASCII_FONT_BYTES = 95 * 16;

extern const unsigned char a18sc2_1206[ASCII_FONT_BYTES];   // 6 x 12, rows 12..15 zero
extern const unsigned char a18sc2_16081[ASCII_FONT_BYTES];  // 8 x 16
extern const unsigned char a18sc2_2412[ASCII_FONT_BYTES];   // empty, no size selects it
