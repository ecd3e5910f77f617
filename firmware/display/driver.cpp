#include "display/driver.h"

#include <linux/spi/spidev.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <cstring>

#include "app/global_func.h"
#include "display/ili9341_commands.h"
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

// How the bytes of a command go out. The controller takes both; the two are
// kept because the bytes and line changes on the bus are what every panel
// has always seen.
enum class Pacing {
    // Start-up: every byte in a chip-select pulse of its own with a 1 us wait
    // after it, the DC line set before each byte.
    PulsedBytes,
    // Drawing: the caller holds the chip selected; the bytes go back to back,
    // the DC line set once for the command and once for its parameters.
    HeldSelect,
};

void pulsedByte(uint8_t byte) {
    SET_CS1_Low();
    data = static_cast<uint32_t>(platformSpiWrite(fd_spi, &byte, 1));
    SET_CS1_High();
    platformSleepUs(1);
}

// The one command path: `cmd`, then `count` parameters, one byte a transfer.
void sendCommand(uint8_t cmd, const uint8_t* params, int count, Pacing pacing) {
    SET_DC_Cmd();
    if (pacing == Pacing::PulsedBytes) {
        pulsedByte(cmd);
        for (int i = 0; i < count; ++i) {
            SET_DC_Data();
            pulsedByte(params[i]);
        }
        return;
    }
    platformSpiWrite(fd_spi, &cmd, 1);
    if (count == 0) return;
    SET_DC_Data();
    for (int i = 0; i < count; ++i) platformSpiWrite(fd_spi, &params[i], 1);
}

// Sends the first `len` bytes of the shadow frame in transfers of 4096.
void sendFrame(uint32_t len) {
    constexpr uint32_t kChunk = 4096;
    uint32_t at = 0;
    for (; at + kChunk <= len; at += kChunk) platformSpiWrite(fd_spi, buf + at, kChunk);
    if (len > at) platformSpiWrite(fd_spi, buf + at, len - at);
}

void windowBytes(uint8_t cmd, uint16_t from, uint16_t to) {
    const uint8_t p[4] = {static_cast<uint8_t>(from >> 8), static_cast<uint8_t>(from),
                          static_cast<uint8_t>(to >> 8), static_cast<uint8_t>(to)};
    sendCommand(cmd, p, 4, Pacing::HeldSelect);
}

void commandByte(uint8_t cmd) {
    sendCommand(cmd, nullptr, 0, Pacing::HeldSelect);
}

// The controller's start-up sequence: command, parameter count, parameters.
struct InitStep {
    uint8_t cmd;
    uint8_t count;
    uint8_t params[15];
};
using namespace ili9341;
constexpr InitStep kInitSequence[] = {
    {kPowerControlB, 3, {0x00, 0xC1, 0x30}},
    {kPowerOnSequence, 4, {0x64, 0x03, 0x12, 0x81}},
    {kDriverTimingA, 3, {0x85, 0x00, 0x79}},
    {kPowerControlA, 5, {0x39, 0x2C, 0x00, 0x34, 0x02}},
    {kPumpRatio, 1, {0x20}},
    {kDriverTimingB, 2, {0x00, 0x00}},
    {kPowerControl1, 1, {0x1D}},
    {kPowerControl2, 1, {0x12}},
    {kVcomControl1, 2, {0x33, 0x3F}},
    {kVcomControl2, 1, {0x92}},
    {kPixelFormat, 1, {kPixelFormat16Bit}},
    {kMemoryAccessControl, 1, {kMadctlExchange | kMadctlBgr}},
    {kFrameRateNormal, 2, {0x00, 0x12}},
    {kDisplayFunction, 2, {0x0A, 0xE2}},
    {kTearScanline, 1, {0x02}},
    {kEnable3Gamma, 1, {0x00}},
    {kGammaSet, 1, {0x01}},
    {kPositiveGamma,
     15,
     {0x0F, 0x22, 0x1C, 0x1B, 0x08, 0x0F, 0x48, 0xB8, 0x34, 0x05, 0x0C, 0x09, 0x0F, 0x07, 0x00}},
    {kNegativeGamma,
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
    // The log lines read as they always have on the board ("test 1:" too),
    // so logs of old and new firmware compare.
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

// The speed messages name a clock of 50 MHz that none of these uses; they
// read as they always have on the board.
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
    sendCommand(cmd, nullptr, 0, Pacing::PulsedBytes);
}
void LCD_ILI9341_Parameter(uint8_t parameter) {
    SET_DC_Data();
    pulsedByte(parameter);
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
        sendCommand(step.cmd, step.params, step.count, Pacing::PulsedBytes);
    }
    LCD_ILI9341_CMD(ili9341::kSleepOut);
    msleep(1);
    LCD_ILI9341_CMD(ili9341::kDisplayOn);
    SPI_SET_Touch();
    return 0;
}

// Pushes the whole shadow frame. Before every push it sends the controller's
// whole start-up sequence again, as this firmware always has: a panel that
// lost its settings (a glitch on its reset line) comes back with the next
// push, for some 80 slow bytes against the frame's 153,600.
int ILI9341_fillRec1() {
    using namespace ili9341;
    ILI9341_init();
    SELECT_LCD();
    SPI_SET_LCD();
    commandByte(kDisplayOn);
    SELECT_NONE();

    SELECT_LCD();
    SPI_SET_LCD();
    commandByte(kDisplayOn);
    windowBytes(kColumnAddressSet, 0, LCD_WIDTH);
    windowBytes(kPageAddressSet, 0, LCD_HEIGHT);
    commandByte(kDisplayOn);
    commandByte(kMemoryWrite);
    SET_DC_Data();
    sendFrame(LCD_FRAME_BYTES);
    SELECT_NONE();
    SPI_SET_Touch();
    return 0;
}

int ILI9341_fillRec(uint16_t x0, uint16_t y0, uint16_t x1, uint16_t y1, uint16_t color) {
    using namespace ili9341;
    SELECT_LCD();
    SPI_SET_LCD();
    commandByte(kDisplayOn);
    SELECT_NONE();
    SPI_SET_Touch();

    SELECT_LCD();
    SPI_SET_LCD();
    windowBytes(kColumnAddressSet, x0, x1);
    windowBytes(kPageAddressSet, y0, y1);
    commandByte(kDisplayOn);
    commandByte(kMemoryWrite);
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
