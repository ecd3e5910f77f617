#include "touch/lcdtp.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/global_data.h"
#include "app/global_func.h"
#include "display/draw.h"
#include "display/driver.h"
#include "display/text.h"
#include "platform/platform.h"
#include "touch/xpt2046_commands.h"

TouchPosition tp_pixad;
TouchPosition tp_pixlcd;
TouchCalibration tp_dev{};

namespace {
uint8_t touchflag = 1;  // the pen was up since the last calibration sample

constexpr char kCalibrationFile[] = "tpAdjustdata.txt";
// "Cannot open file" in GBK, as the log has always shown it.
constexpr char kCannotOpen[] = "\xB2\xBB\xC4\xDC\xB4\xF2\xBF\xAA\xCE\xC4\xBC\xFE";

constexpr TouchPoint kTargets[4] = {{50, 50}, {269, 50}, {50, 189}, {269, 189}};

// One conversion: the control byte, then the two result bytes, each in a
// transfer of its own with the chip held selected. The 2 us waits give the
// converter its acquisition and conversion time between the transfers. The
// Y reading selects the chip a second time; that does nothing but is what the
// lines have always done.
uint16_t conversion(uint8_t control, bool ySelect) {
    SELECT_Touch();
    if (ySelect) SET_CS2_Low();
    platformSleepUs(2);
    platformSpiWrite(fd_spi, &control, 1);
    uint8_t b1 = 0, b2 = 0;
    platformSleepUs(2);
    platformSpiRead(fd_spi, &b1, 1);
    platformSleepUs(2);
    platformSpiRead(fd_spi, &b2, 1);
    SELECT_NONE();
    return xpt2046::resultOf(b1, b2);
}

uint16_t filtered(bool yAxis) {
    uint16_t samples[15];
    for (uint16_t& s : samples) s = yAxis ? XPT2046_readY() : XPT2046_readX();
    return touchMedianFilter(samples);
}

bool plausible(uint16_t v) {
    return v >= TP_RAW_MIN && v <= TP_RAW_MAX;
}

// One axis of the evaluation: the scale along a pair of targets 220 (x) or
// 140 (y) pixels apart, and the raw value at the edge 50 pixels from `near`.
// `plusOne` is the rounding the top and bottom pairs use when values grow.
void pairEstimate(int near, int far, int span, bool plusOne, double& scale, double& edge) {
    if (far > near) {
        scale = static_cast<double>((far - near + (plusOne ? 1 : -1)) * 1000 / span);
        edge = near - scale * 50 / 1000;
    } else {
        scale = static_cast<double>((near - far - 1) * 1000 / span);
        edge = near + scale * 50 / 1000;
    }
}

uint16_t toU16(double v) {
    return static_cast<uint16_t>(std::clamp(v, 0.0, 65535.0));
}

void showTarget(int n) {
    lcdClear(0xFFFF);
    drowTouchPoint(kTargets[n].x, kTargets[n].y);
    ILI9341_fillRec1();
}

// Writes the file next to its final name, then renames it over the old one,
// so a power cut never leaves a cut-short calibration.
bool writeCalibrationFile(const std::string& dir) {
    const std::string path = dir + "/" + kCalibrationFile;
    const std::string temp = path + ".tmp";
    FILE* f = fopen(temp.c_str(), "wb");
    if (f == nullptr) {
        puts(kCannotOpen);
        return false;
    }
    puts("write adjust data");
    const int values[5] = {10, tp_dev.vx, tp_dev.vy, tp_dev.chx, tp_dev.chy};
    bool ok = true;
    for (int v : values) {
        char line[25] = {};
        snprintf(line, sizeof line, "%d\r\n", v);
        ok = ok && fputs(line, f) >= 0;
        printf("string%s\n", line);
    }
    ok = fflush(f) == 0 && ok;
    ok = fsync(fileno(f)) == 0 && ok;
    ok = fclose(f) == 0 && ok;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        puts(kCannotOpen);
        return false;
    }
    return true;
}
}  // namespace

uint8_t readpen() {
    return CHECK_PEN_DOWN() ? 0 : 1;
}

// The glass is mounted turned: the panel's X runs along the chip's Y plate
// and its Y along the X plate.
uint16_t XPT2046_readX() {
    return conversion(xpt2046::control(xpt2046::kChannelYPosition), false);
}
uint16_t XPT2046_readY() {
    return conversion(xpt2046::control(xpt2046::kChannelXPosition), true);
}
uint16_t XPT2046_readX_filter() {
    return filtered(false);
}
uint16_t XPT2046_readY_filter() {
    return filtered(true);
}

uint16_t touchMedianFilter(uint16_t (&samples)[15]) {
    std::sort(std::begin(samples), std::end(samples));
    uint32_t sum = 0;
    for (int i = 5; i < 10; ++i) sum += samples[i];
    return static_cast<uint16_t>(sum / 5);
}

bool touchReadingsAgree(uint16_t a, uint16_t b) {
    return a > b - 50 && b > a - 50;
}

uint8_t Read_ADS(uint16_t* x, uint16_t* y) {
    const uint16_t xv = XPT2046_readX_filter();
    const uint16_t yv = XPT2046_readY_filter();
    if (!plausible(xv) || !plausible(yv)) return 0;
    *x = xv;
    *y = yv;
    return 1;
}

uint8_t Read_ADS2(uint16_t* x, uint16_t* y) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        uint16_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
        if (Read_ADS(&x1, &y1) && Read_ADS(&x2, &y2) && touchReadingsAgree(x1, x2) &&
            touchReadingsAgree(y1, y2)) {
            *x = static_cast<uint16_t>((x1 + x2) / 2);
            *y = static_cast<uint16_t>((y1 + y2) / 2);
            return 1;
        }
        platformSleepUs(1);
    }
    return 0;
}

uint8_t readTPOnce() {
    uint16_t x = 0, y = 0;
    if (!Read_ADS2(&x, &y)) return 0;
    tp_pixad.x = x;
    tp_pixad.y = y;
    return 1;
}

uint8_t Convert_Pos() {
    if (!readTPOnce()) return 0;
    // A calibration without scale converts nothing rather than divide by zero.
    if (tp_dev.vx == 0 || tp_dev.vy == 0) return 0;
    const uint32_t rx = tp_pixad.x, ry = tp_pixad.y;
    const uint32_t dx = rx > tp_dev.chx ? rx - tp_dev.chx : tp_dev.chx - rx;
    const uint32_t dy = ry > tp_dev.chy ? ry - tp_dev.chy : tp_dev.chy - ry;
    tp_pixlcd.x = static_cast<uint16_t>(dx * 1000 / tp_dev.vx);
    tp_pixlcd.y = static_cast<uint16_t>(dy * 1000 / tp_dev.vy);
    return 1;
}

void waitingTouchOnce() {
    while (readpen() != 0) msleep(10);
}

int tpInitAdjustData() {
    return tpInit();
}

int tpInit() {
    if (tpGetAdjdata()) return 0;
    touchAdjust();
    tpGetAdjdata();
    return 1;
}

int tpGetAdjdata() {
    const std::string dir = sysPath(Velmor30Path);
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return 0;
    printf("res = %d\n", chdir(dir.c_str()));
    char cwd[64] = {};
    printf("temp = %s\n", getcwd(cwd, sizeof cwd) != nullptr ? cwd : "");
    FILE* f = fopen(kCalibrationFile, "r");
    if (f == nullptr) {
        printf("%s%s\n", kCannotOpen, kCalibrationFile);
        closedir(d);
        return 0;
    }
    // Nothing is taken unless the whole file is good: check number 10 and
    // four values, with non-zero scales.
    long values[5] = {};
    char line[26];
    int lines = 0;
    for (; lines < 5; ++lines) {
        if (fgets(line, lines == 0 ? 10 : 25, f) == nullptr) break;
        // strtol saturates where atoi would wrap, so a huge number stays huge.
        values[lines] = strtol(line, nullptr, 10);
        if (lines == 0) {
            printf("check_num=%d\n", static_cast<int>(values[0]));
            if (values[0] != 10) break;
        }
        // A line longer than its room is read on to its end.
        while (strchr(line, '\n') == nullptr && fgets(line, sizeof line, f) != nullptr) {
        }
    }
    fclose(f);
    closedir(d);
    if (lines < 5 || values[1] <= 0 || values[2] <= 0 || values[1] > 0xFFFF || values[2] > 0xFFFF ||
        values[3] < 0 || values[3] > 0xFFFF || values[4] < 0 || values[4] > 0xFFFF) {
        return 0;
    }
    tp_dev.vx = static_cast<uint16_t>(values[1]);
    tp_dev.vy = static_cast<uint16_t>(values[2]);
    tp_dev.chx = static_cast<uint16_t>(values[3]);
    tp_dev.chy = static_cast<uint16_t>(values[4]);
    printf("tp_dev.vx=%d\ntp_dev.vy=%d\ntp_dev.chx=%d\ntp_dev.chy=%d\n", tp_dev.vx, tp_dev.vy,
           tp_dev.chx, tp_dev.chy);
    return 1;
}

int tpSaveAdjdata() {
    platformShell("mount -o remount,rw /dev/mmcblk0p2 /opt");
    const std::string dir = sysPath(Velmor30Path);
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return 0;
    const bool ok = writeCalibrationFile(dir);
    closedir(d);
    if (ok) platformShell("sync");
    // "r0", not "ro": the settings partition stays writable for later saves.
    platformShell("mount -o remount,r0 /dev/mmcblk0p2 /opt");
    return ok ? 1 : 0;
}

void drowTouchPoint(uint16_t x, uint16_t y) {
    drawLineColor(x - 12, y, x + 13, y, 0xF800);
    drawLineColor(x, y - 12, x, y + 13, 0xF800);
    lcdDrawPoint(x + 1, y + 1);
    lcdDrawPoint(x - 1, y + 1);
    lcdDrawPoint(x + 1, y - 1);
    lcdDrawPoint(x - 1, y - 1);
    lcdDrawCircle(x, y, 6);
}

bool touchCalibrationFromSamples(const TouchPoint (&s)[4], TouchCalibration& out) {
    double vx1, vx2, vy1, vy2, c0x, c1x, c0y, c1y;
    pairEstimate(s[0].x, s[1].x, 220, true, vx1, c0x);
    pairEstimate(s[0].y, s[2].y, 140, false, vy1, c0y);
    pairEstimate(s[2].x, s[3].x, 220, true, vx2, c1x);
    pairEstimate(s[1].y, s[3].y, 140, false, vy2, c1y);
    if (std::fabs(vx1 - vx2) > 1500 || std::fabs(vy1 - vy2) > 1500) return false;
    // Targets that did not move the raw values give no usable scale.
    if (vx1 + vx2 < 2 || vy1 + vy2 < 2) return false;
    out.vx = toU16((vx1 + vx2) / 2);
    out.vy = toU16((vy1 + vy2) / 2);
    out.chx = static_cast<uint16_t>((toU16(c0x) + toU16(c1x)) / 2);
    out.chy = static_cast<uint16_t>((toU16(c0y) + toU16(c1y)) / 2);
    return true;
}

void touchAdjust() {
    POINT_COLOR = 0x001F;
    BACK_COLOR = 0xFFFF;
    lcdClear(0xFFFF);
    POINT_COLOR = 0xF800;
    lcdClear(0xFFFF);
    drowTouchPoint(kTargets[0].x, kTargets[0].y);
    ILI9341_fillRec1();
    TouchPoint samples[4] = {};
    int n = 0;
    for (;;) {
        if (readpen() == 0 && touchflag == 1) {
            touchflag = 0;
            if (readTPOnce()) {
                samples[n] = TouchPoint{tp_pixad.x, tp_pixad.y};
                printf("tp_pixad.x=%d\ntp_pixad.y=%d\n", samples[n].x, samples[n].y);
                printf("p[%d].x=%d\np[%d].y=%d\ncnt=%d\n", n, samples[n].x, n, samples[n].y, n);
                ++n;
            }
            if (n >= 1 && n <= 3) showTarget(n);
            if (n == 4) {
                lcdClear(0xFFFF);
                TouchCalibration result{};
                if (touchCalibrationFromSamples(samples, result)) {
                    tp_dev = result;
                    break;
                }
                n = 0;
                showTarget(0);
            }
        } else if (readpen() == 1) {
            touchflag = 1;
        }
        msleep(10);  // the pen is a person's finger: no need to spin
    }
    lcdClear(0xFFFF);
    showString(0, 50, "VX:", 16);
    showString(0, 70, "Vy:", 16);
    showString(0, 90, "CHX:", 16);
    showString(0, 110, "CHY:", 16);
    showNum(40, 50, tp_dev.vx, 5, 16);
    showNum(40, 70, tp_dev.vy, 5, 16);
    showNum(40, 90, tp_dev.chx, 5, 16);
    showNum(40, 110, tp_dev.chy, 5, 16);
    showString2(30, 140, 320, 170, "Adjust OK!  Touch Anywhere To Continue", 16, 1);
    ILI9341_fillRec1();
    // The final touch must be a new one: wait for the pen to come up first.
    while (readpen() == 0) msleep(10);
    waitingTouchOnce();
    msleep(1000);
    tpSaveAdjdata();
    tpGetAdjdata();
}
