// The panel's board lines, the SPI bus, and the ILI9341 driver with its
// shadow frame.
#pragma once

#include <cstdint>

// Screen geometry and the shadow frame: 320 x 240 RGB565, high byte first.
constexpr int LCD_WIDTH = 320;
constexpr int LCD_HEIGHT = 240;
constexpr int LCD_FRAME_BYTES = LCD_WIDTH * LCD_HEIGHT * 2;
extern uint8_t buf[LCD_FRAME_BYTES];

// Port-controller registers (byte offsets in the block at 0x01C20800).
constexpr uint32_t GPIO_BASE = 0x01C20800;
constexpr uint32_t PA_CFG0 = 0x00;
constexpr uint32_t PA_CFG2 = 0x08;
constexpr uint32_t PA_DAT = 0x10;
constexpr uint32_t PA_PULL0 = 0x1C;
constexpr uint32_t PA_PULL1 = 0x20;
constexpr uint32_t PC_CFG0 = 0x48;
constexpr uint32_t PC_DAT = 0x58;
constexpr uint32_t PC_PULL0 = 0x64;
// Data-register bits of the five lines.
constexpr uint32_t PIN_CS1 = 2;   // PA2, display select, active low
constexpr uint32_t PIN_DC = 18;   // PA18, high = data
constexpr uint32_t PIN_RES = 21;  // PA21, display reset, active low
constexpr uint32_t PIN_PEN = 4;   // PC4, 0 while pressed
constexpr uint32_t PIN_CS2 = 7;   // PC7, touch select, active low

// Where the register block lies in a mapping of two pages of size `page`.
struct GpioWindow {
    uint32_t start;   // physical start of the mapping (page aligned)
    uint32_t offset;  // the block's offset inside it
};
constexpr GpioWindow gpioWindow(uint32_t page) {
    return GpioWindow{GPIO_BASE - GPIO_BASE % page, GPIO_BASE % page};
}

// Line operations: one read-modify-write of a port data register each.
void SET_DC_Data();
void SET_DC_Cmd();
void SET_RES_High();
void SET_RES_Low();
void SET_CS1_High();
void SET_CS1_Low();
void SET_CS2_High();
void SET_CS2_Low();
void SELECT_LCD();
void SELECT_Touch();
void SELECT_NONE();
void RESET_LCD();
uint8_t CHECK_PEN_DOWN();

extern int fd_spi;
int32_t GPIO_init();
void SPI_init();
int SPI_SET_LCD();
int SPI_SET_Touch();
int SPI_SET_LCD1();

// One byte to the display controller, as a command or as a parameter.
void LCD_ILI9341_CMD(uint8_t cmd);
void LCD_ILI9341_Parameter(uint8_t parameter);
void ili9341_writecommand8(uint8_t cmd);
void ili9341_writedata8(uint8_t data);

int ILI9341_init();
int ILI9341_fillRec1();
int ILI9341_fillRec(uint16_t x0, uint16_t y0, uint16_t x1, uint16_t y1, uint16_t color);

// Panel start-up: lines, bus, controller, touch calibration.
void ILI_INIT();
