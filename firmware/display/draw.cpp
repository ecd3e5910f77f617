#include "display/draw.h"

#include <algorithm>
#include <cstring>

#include "display/driver.h"
#include "print/print_file.h"

uint16_t POINT_COLOR = 0xF800;
uint16_t BACK_COLOR = 0xFFFF;
uint16_t COLOR_POINT = 0xF800;
uint16_t COLOR_BACK = 0xFFFF;

const uint16_t fillbackcolor = 0xF79E;
const uint16_t infpointcolor = 0xFC04;
const uint16_t infbackcolor = 0x2946;

namespace {
constexpr int kHeader = 8;

// A point given in signed coordinates, drawn only inside the frame.
void plot(int x, int y, uint16_t color) {
    if (x < 0 || y < 0 || x >= LCD_WIDTH || y >= LCD_HEIGHT) return;
    uint8_t* p = buf + 2 * (y * LCD_WIDTH + x);
    p[0] = static_cast<uint8_t>(color >> 8);
    p[1] = static_cast<uint8_t>(color);
}
}  // namespace

uint16_t pictureWidth(const unsigned char* picture) {
    return static_cast<uint16_t>(picture[2] << 8 | picture[3]);
}

uint16_t pictureHeight(const unsigned char* picture) {
    return static_cast<uint16_t>(picture[4] << 8 | picture[5]);
}

void drawFullBackPic(const unsigned char* picture) {
    if (pictureWidth(picture) != LCD_WIDTH || pictureHeight(picture) != LCD_HEIGHT) return;
    memcpy(buf, picture + kHeader, LCD_FRAME_BYTES);
}

void drawHalfPic(uint16_t x, uint16_t y, const unsigned char* picture) {
    drawPixels(x, y, pictureWidth(picture), pictureHeight(picture), picture + kHeader);
}

void drawtThumbnail(uint16_t x, uint16_t y, uint16_t w, uint16_t h) {
    // The reader accepts at most the buffer's worth; never read past it.
    if (uint32_t(w) * h * 2 > PREVIEW_THUMB_BYTES) return;
    drawPixels(x, y, w, h, preview_file_information.pic);
}

void drawPixels(uint16_t x, uint16_t y, uint16_t w, uint16_t h, const uint8_t* pixels) {
    if (x >= LCD_WIDTH || y >= LCD_HEIGHT) return;
    // Rows keep the source's stride; what falls off the frame is cut.
    const int cols = std::min<int>(w, LCD_WIDTH - x);
    const int rows = std::min<int>(h, LCD_HEIGHT - y);
    for (int r = 0; r < rows; ++r) {
        memcpy(buf + 2 * ((y + r) * LCD_WIDTH + x), pixels + 2 * r * w,
               2 * static_cast<size_t>(cols));
    }
}

void fillColor(uint16_t x0, uint16_t y0, uint16_t x1, uint16_t y1, uint16_t color) {
    const int xe = std::min<int>(x1, LCD_WIDTH);
    const int ye = std::min<int>(y1, LCD_HEIGHT);
    for (int y = y0; y < ye; ++y) {
        for (int x = x0; x < xe; ++x) plot(x, y, color);
    }
}

void fastDrawPoint(uint16_t x, uint16_t y, uint16_t color) {
    plot(x, y, color);
}

void lcdDrawPoint(uint16_t x, uint16_t y) {
    plot(x, y, POINT_COLOR);
}

void drawLineColor(uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2, uint16_t color) {
    int dx = x2 - x1, dy = y2 - y1;
    const int sx = dx > 0 ? 1 : dx < 0 ? -1 : 0;
    const int sy = dy > 0 ? 1 : dy < 0 ? -1 : 0;
    dx = dx < 0 ? -dx : dx;
    dy = dy < 0 ? -dy : dy;
    const int d = std::max(dx, dy);
    int ex = 0, ey = 0, x = x1, y = y1;
    // d + 2 passes: the start point twice, the end point exactly once.
    for (int i = 0; i < d + 2; ++i) {
        plot(x, y, color);
        ex += dx;
        ey += dy;
        if (ex > d) ex -= d, x += sx;
        if (ey > d) ey -= d, y += sy;
    }
}

void drawRectangle(uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2, uint16_t color) {
    drawLineColor(x1, y1, x2, y1, color);
    drawLineColor(x1, y1, x1, y2, color);
    drawLineColor(x1, y2, x2, y2, color);
    drawLineColor(x2, y1, x2, y2, color);
}

void lcdDrawCircle(uint16_t x0, uint16_t y0, uint8_t r) {
    int a = 0, b = r, di = 3 - 2 * r;
    while (a <= b) {
        plot(x0 + a, y0 - b, COLOR_POINT);
        plot(x0 + b, y0 - a, COLOR_POINT);
        plot(x0 + b, y0 + a, COLOR_POINT);
        plot(x0 + a, y0 + b, COLOR_POINT);
        plot(x0 - a, y0 + b, COLOR_POINT);
        plot(x0 - b, y0 + a, COLOR_POINT);
        plot(x0 - a, y0 - b, COLOR_POINT);
        plot(x0 - b, y0 - a, COLOR_POINT);
        ++a;
        if (di < 0) {
            di += 4 * a + 6;
        } else {
            di += 10 + 4 * (a - b);
            --b;
        }
    }
}

void lcdClear(uint16_t color) {
    ILI9341_fillRec(0, 0, LCD_WIDTH, LCD_HEIGHT, color);
}

uint32_t LCD_Pow(uint8_t m, uint8_t n) {
    uint32_t result = 1;
    while (n--) result *= m;
    return result;
}
