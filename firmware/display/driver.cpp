#include "display/driver.h"

#include <linux/spi/spidev.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <cstring>

#include "app/global_func.h"
#include "platform/platform.h"
#include "touch/lcdtp.h"

uint8_t buf[LCD_FRAME_BYTES];
int fd_spi = -1;

namespace {
uint32_t data;   // scratch word of the line writes and the byte writers
uint8_t mode;    // SPI mode last requested
uint32_t speed;  // SPI clock last requested, Hz

void setLine(uint32_t reg, uint32_t pin, bool high) {
    data = platformGpioRead(reg);
    if (high) {
        data |= 1u << pin;
    } else {
        data &= ~(1u << pin);
    }
    platformGpioWrite(reg, data);
}

// A 3-bit function field of a configure register: output sets bit 0 and
// clears bits 1 and 2, input clears all three; the field's fourth bit stays.
void setFunction(uint32_t reg, uint32_t shift, bool output) {
    uint32_t v = platformGpioRead(reg);
    v &= ~(7u << shift);
    if (output) v |= 1u << shift;
    platformGpioWrite(reg, v);
}

void setPull(uint32_t reg, uint32_t shift, bool pullUp) {
    uint32_t v = platformGpioRead(reg);
    v &= ~(3u << shift);
    if (pullUp) v |= 1u << shift;
    platformGpioWrite(reg, v);
}

int spiSetting(uint8_t wantMode, uint32_t wantSpeed, const char* modeMsg, const char* speedMsg) {
    mode = wantMode;
    if (platformSpiIoctl(fd_spi, SPI_IOC_WR_MODE, &mode) < 0) {
        perror(modeMsg);
        return -1;
    }
    platformSpiIoctl(fd_spi, SPI_IOC_RD_MODE, &mode);
    speed = wantSpeed;
    if (platformSpiIoctl(fd_spi, SPI_IOC_WR_MAX_SPEED_HZ, &speed) < 0) {
        perror(speedMsg);
        return -1;
    }
    platformSpiIoctl(fd_spi, SPI_IOC_RD_MAX_SPEED_HZ, &speed);
    return 0;
}

void writeByte(uint8_t byte) {
    SET_CS1_Low();
    data = static_cast<uint32_t>(platformSpiWrite(fd_spi, &byte, 1));
    SET_CS1_High();
    platformSleepUs(1);
}

// Sends the first `len` bytes of the shadow frame in transfers of 4096.
void sendFrame(uint32_t len) {
    constexpr uint32_t kChunk = 4096;
    uint32_t at = 0;
    for (; at + kChunk <= len; at += kChunk) platformSpiWrite(fd_spi, buf + at, kChunk);
    if (len > at) platformSpiWrite(fd_spi, buf + at, len - at);
}

void windowBytes(uint8_t cmd, uint16_t from, uint16_t to) {
    SET_DC_Cmd();
    platformSpiWrite(fd_spi, &cmd, 1);
    SET_DC_Data();
    const uint8_t p[4] = {static_cast<uint8_t>(from >> 8), static_cast<uint8_t>(from),
                          static_cast<uint8_t>(to >> 8), static_cast<uint8_t>(to)};
    for (uint8_t b : p) platformSpiWrite(fd_spi, &b, 1);
}

void commandByte(uint8_t cmd) {
    SET_DC_Cmd();
    platformSpiWrite(fd_spi, &cmd, 1);
}

// The controller's start-up sequence: command, parameter count, parameters.
struct InitStep {
    uint8_t cmd;
    uint8_t count;
    uint8_t params[15];
};
constexpr InitStep kInitSequence[] = {
    {0xCF, 3, {0x00, 0xC1, 0x30}},
    {0xED, 4, {0x64, 0x03, 0x12, 0x81}},
    {0xE8, 3, {0x85, 0x00, 0x79}},
    {0xCB, 5, {0x39, 0x2C, 0x00, 0x34, 0x02}},
    {0xF7, 1, {0x20}},
    {0xEA, 2, {0x00, 0x00}},
    {0xC0, 1, {0x1D}},
    {0xC1, 1, {0x12}},
    {0xC5, 2, {0x33, 0x3F}},
    {0xC7, 1, {0x92}},
    {0x3A, 1, {0x55}},  // 16 bits per pixel
    {0x36, 1, {0x28}},  // row/column exchange, BGR order
    {0xB1, 2, {0x00, 0x12}},
    {0xB6, 2, {0x0A, 0xE2}},
    {0x44, 1, {0x02}},
    {0xF2, 1, {0x00}},
    {0x26, 1, {0x01}},
    {0xE0,
     15,
     {0x0F, 0x22, 0x1C, 0x1B, 0x08, 0x0F, 0x48, 0xB8, 0x34, 0x05, 0x0C, 0x09, 0x0F, 0x07, 0x00}},
    {0xE1,
     15,
     {0x00, 0x23, 0x24, 0x07, 0x10, 0x07, 0x38, 0x47, 0x4B, 0x0A, 0x13, 0x06, 0x30, 0x38, 0x0F}},
};
}  // namespace

void SET_DC_Data() {
    setLine(PA_DAT, PIN_DC, true);
    platformSleepUs(1);
}
void SET_DC_Cmd() {
    setLine(PA_DAT, PIN_DC, false);
    platformSleepUs(1);
}
void SET_RES_High() {
    setLine(PA_DAT, PIN_RES, true);
}
void SET_RES_Low() {
    setLine(PA_DAT, PIN_RES, false);
}
void SET_CS1_High() {
    setLine(PA_DAT, PIN_CS1, true);
}
void SET_CS1_Low() {
    setLine(PA_DAT, PIN_CS1, false);
}
void SET_CS2_High() {
    setLine(PC_DAT, PIN_CS2, true);
}
void SET_CS2_Low() {
    setLine(PC_DAT, PIN_CS2, false);
}

// The other chip is always released before the wanted one is selected.
void SELECT_LCD() {
    SET_CS2_High();
    SET_CS1_Low();
}
void SELECT_Touch() {
    SET_CS1_High();
    SET_CS2_Low();
}
void SELECT_NONE() {
    SET_CS1_High();
    SET_CS2_High();
}

void RESET_LCD() {
    SET_RES_High();
    msleep(1);
    SET_RES_Low();
    msleep(1000);
    SET_RES_High();
}

uint8_t CHECK_PEN_DOWN() {
    data = platformGpioRead(PC_DAT);
    return (data & (1u << PIN_PEN)) == 0 ? 1 : 0;
}

int32_t GPIO_init() {
    if (!platformGpioMap()) return -1;
    setFunction(PC_CFG0, 16, false);  // PC4 = PEN, input with pull-up
    setPull(PC_PULL0, 8, true);
    setFunction(PA_CFG2, 8, true);  // PA18 = DC
    setPull(PA_PULL1, 4, false);
    setFunction(PA_CFG2, 20, true);  // PA21 = RES, pull-up
    setPull(PA_PULL1, 10, true);
    setFunction(PA_CFG0, 8, true);  // PA2 = CS1
    setPull(PA_PULL0, 4, false);
    setFunction(PC_CFG0, 28, true);  // PC7 = CS2
    setPull(PC_PULL0, 14, false);
    SELECT_NONE();
    return 0;
}

void SPI_init() {
    fd_spi = platformSpiOpen("/dev/spidev0.0");
    printf("fd_spi: %8.8x\n", static_cast<unsigned>(fd_spi));
    printf("test 1: %8.8x\n", static_cast<unsigned>(fd_spi));
    uint8_t bits = 0;
    platformSpiIoctl(fd_spi, SPI_IOC_RD_BITS_PER_WORD, &bits);
    printf("spiBPW: %d\n", bits);
    bits = 8;
    if (platformSpiIoctl(fd_spi, SPI_IOC_WR_BITS_PER_WORD, &bits) < 0) {
        perror("Unable to set spiBPW");
        return;
    }
    platformSpiIoctl(fd_spi, SPI_IOC_RD_BITS_PER_WORD, &bits);
    printf("spiBPW: %d\n", bits);
    SPI_SET_Touch();
}

int SPI_SET_LCD() {
    return spiSetting(SPI_MODE_3, 20000000, "Unable to set mode mode3\n",
                      "Unable to set speed speed50000000\n");
}
int SPI_SET_LCD1() {
    return spiSetting(SPI_MODE_3, 5000000, "Unable to set mode mode3\n",
                      "Unable to set speed speed50000000\n");
}
int SPI_SET_Touch() {
    return spiSetting(SPI_MODE_0, 1000000, "Unable to set mode0\n", "Unable to set speed");
}

void LCD_ILI9341_CMD(uint8_t cmd) {
    SET_DC_Cmd();
    writeByte(cmd);
}
void LCD_ILI9341_Parameter(uint8_t parameter) {
    SET_DC_Data();
    writeByte(parameter);
}
void ili9341_writecommand8(uint8_t cmd) {
    LCD_ILI9341_CMD(cmd);
}
void ili9341_writedata8(uint8_t d) {
    LCD_ILI9341_Parameter(d);
}

int ILI9341_init() {
    SET_RES_High();
    SELECT_LCD();
    SPI_SET_LCD();
    for (const InitStep& step : kInitSequence) {
        LCD_ILI9341_CMD(step.cmd);
        for (int i = 0; i < step.count; ++i) LCD_ILI9341_Parameter(step.params[i]);
    }
    LCD_ILI9341_CMD(0x11);  // sleep out
    msleep(1);
    LCD_ILI9341_CMD(0x29);  // display on
    SPI_SET_Touch();
    return 0;
}

int ILI9341_fillRec1() {
    ILI9341_init();
    SELECT_LCD();
    SPI_SET_LCD();
    commandByte(0x29);
    SELECT_NONE();

    SELECT_LCD();
    SPI_SET_LCD();
    commandByte(0x29);
    windowBytes(0x2A, 0, LCD_WIDTH);
    windowBytes(0x2B, 0, LCD_HEIGHT);
    commandByte(0x29);
    commandByte(0x2C);
    SET_DC_Data();
    sendFrame(LCD_FRAME_BYTES);
    SELECT_NONE();
    SPI_SET_Touch();
    return 0;
}

int ILI9341_fillRec(uint16_t x0, uint16_t y0, uint16_t x1, uint16_t y1, uint16_t color) {
    SELECT_LCD();
    SPI_SET_LCD();
    commandByte(0x29);
    SELECT_NONE();
    SPI_SET_Touch();

    SELECT_LCD();
    SPI_SET_LCD();
    windowBytes(0x2A, x0, x1);
    windowBytes(0x2B, y0, y1);
    commandByte(0x29);
    commandByte(0x2C);
    SET_DC_Data();
    // The pixels go through the start of the shadow frame; a rectangle
    // larger than the screen is cut to it.
    uint32_t n = (x1 > x0 ? x1 - x0 : 0u) * (y1 > y0 ? y1 - y0 : 0u);
    if (n > LCD_WIDTH * LCD_HEIGHT) n = LCD_WIDTH * LCD_HEIGHT;
    for (uint32_t i = 0; i < n; ++i) {
        buf[2 * i] = static_cast<uint8_t>(color >> 8);
        buf[2 * i + 1] = static_cast<uint8_t>(color);
    }
    sendFrame(2 * n);
    SELECT_NONE();
    SPI_SET_Touch();
    return 0;
}

void ILI_INIT() {
    GPIO_init();
    SPI_init();
    ILI9341_init();
    tpInitAdjustData();
}
