// Drawing into the shadow frame: pictures, thumbnails, fills, points, lines,
// rectangles, circles. Nothing reaches the panel until the frame is pushed,
// except lcdClear. Everything is clipped to the frame.
#pragma once

#include <cstdint>

extern uint16_t POINT_COLOR;  // text foreground and lcdDrawPoint
extern uint16_t BACK_COLOR;   // text background in opaque mode
extern uint16_t COLOR_POINT;  // circles
extern uint16_t COLOR_BACK;

extern const uint16_t fillbackcolor;  // 0xF79E
extern const uint16_t infpointcolor;  // 0xFC04, the windows' text colour
extern const uint16_t infbackcolor;   // 0x2946, the windows' text background

// A screen element: size and the rectangle a touch must lie strictly inside.
struct PicRecord {
    uint16_t width, height, x_start, x_end, y_start, y_end;
};

// Width and height from a picture's header.
uint16_t pictureWidth(const unsigned char* picture);
uint16_t pictureHeight(const unsigned char* picture);

void drawFullBackPic(const unsigned char* picture);
void drawHalfPic(uint16_t x, uint16_t y, const unsigned char* picture);
// Copies w x h pixels (RGB565, high byte first) into the rectangle at (x, y).
void drawPixels(uint16_t x, uint16_t y, uint16_t w, uint16_t h, const uint8_t* pixels);
// The preview thumbnail (w x h pixels of the preview buffer) at (x, y).
void drawtThumbnail(uint16_t x, uint16_t y, uint16_t w, uint16_t h);
void fillColor(uint16_t x0, uint16_t y0, uint16_t x1, uint16_t y1, uint16_t color);
void fastDrawPoint(uint16_t x, uint16_t y, uint16_t color);
void lcdDrawPoint(uint16_t x, uint16_t y);
void drawLineColor(uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2, uint16_t color);
void drawRectangle(uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2, uint16_t color);
void lcdDrawCircle(uint16_t x0, uint16_t y0, uint8_t r);
void lcdClear(uint16_t color);
uint32_t LCD_Pow(uint8_t m, uint8_t n);
