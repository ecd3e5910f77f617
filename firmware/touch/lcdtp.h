// Touch sampling on the XPT2046 and the touch calibration with its file.
#pragma once

#include <atomic>
#include <cstdint>

struct TouchPoint {
    uint16_t x, y;
};

// A position the simulator's control server may read while the main thread
// writes it.
struct TouchPosition {
    std::atomic<uint16_t> x{0}, y{0};
};

// Raw value r maps to pixel |r - ch| * 1000 / v on each axis.
struct TouchCalibration {
    uint16_t chx, chy;  // raw values at pixel column 0 and row 0
    uint16_t vx, vy;    // raw units per 1000 pixels
};

extern TouchPosition tp_pixad;   // last accepted raw position
extern TouchPosition tp_pixlcd;  // last converted position, panel pixels
extern TouchCalibration tp_dev;

// Raw conversions are accepted in this range.
constexpr uint16_t TP_RAW_MIN = 10;
constexpr uint16_t TP_RAW_MAX = 8150;

uint8_t readpen();
uint16_t XPT2046_readX();
uint16_t XPT2046_readY();
uint16_t XPT2046_readX_filter();
uint16_t XPT2046_readY_filter();
// The mean of the middle five of fifteen conversions, sorted in place.
uint16_t touchMedianFilter(uint16_t (&samples)[15]);
// Two readings of one axis agree when they differ by less than 50.
bool touchReadingsAgree(uint16_t a, uint16_t b);
uint8_t Read_ADS(uint16_t* x, uint16_t* y);
uint8_t Read_ADS2(uint16_t* x, uint16_t* y);
uint8_t readTPOnce();
uint8_t Convert_Pos();
void waitingTouchOnce();

int tpInitAdjustData();
int tpInit();
int tpGetAdjdata();
int tpSaveAdjdata();
void touchAdjust();
void drowTouchPoint(uint16_t x, uint16_t y);

// Raw samples at the four targets to a calibration. False when the two
// scale estimates of an axis disagree by more than 1500.
bool touchCalibrationFromSamples(const TouchPoint (&s)[4], TouchCalibration& out);
