// The UV light windows: the light test with its mask pattern (9), the
// intensity adjustment (10) and the intensity setting dialog (11).
#include <cstdio>
#include <cstring>

#include "assets/pictures.h"
#include "display/draw.h"
#include "display/driver.h"
#include "display/text.h"
#include "link/command.h"
#include "link/status.h"
#include "platform/platform.h"
#include "print/framebuffer.h"
#include "print/print.h"
#include "ui/picture_records.h"
#include "ui/ui.h"

uint16_t ledSoftPwm = 0;
uint8_t get_lew_pwmBak = 0;
uint8_t display_white_black = 0;
uint8_t LED_diaplay_statue = 0;

namespace {

constexpr uint8_t kPwmMax = 250;

void sendIntensity(int value) {
    char line[64] = {};
    snprintf(line, sizeof line, "M106 S%d", value);
    sendGCode(line);
}

// The lit test pattern on the mask, white or black.
void maskPattern(uint8_t value) {
    fbDisplayFill(300, 300, 1860, 3540, value);
}

void lightOff() {
    fbDisplayTest(0);
    sendGCode("M220");
    LED_diaplay_statue = 0;
    file_information.light_on = 0;
}

void centred(uint16_t y, const char* text) {
    const uint16_t x = static_cast<uint16_t>(160 - 4 * static_cast<int>(strnlen(text, 40)));
    showString2(x, y, 280, 200, text, 16, 1);
}

// The confirmation to switch the light on, shared by windows 9 and 10.
void lightDialog(uint16_t x, uint16_t y, uint8_t window) {
    const int answer = dialogConfirm(x, y);
    if (answer == 3) return;
    if (answer == 1) {
        maskPattern(255);
        ILI9341_fillRec1();
        display_white_black = 1;
        sendIntensity(get_lew_pwm);
        file_information.light_on = 1;
        LED_diaplay_statue = 1;
    } else {
        sendGCode("M220");
    }
    requestWindow(window);
    dialog_operation = 0;
}

void patternToggle() {
    if (display_white_black == 1) {
        maskPattern(0);
        display_white_black = 0;
        drawHalfPic(215, 169, gImage_ledblack);
    } else {
        maskPattern(255);
        display_white_black = 1;
        drawHalfPic(215, 169, gImage_ledwhite);
    }
}

bool inPatternToggle(uint16_t x, uint16_t y) {
    return x > 215 && x < 270 && y > 169 && y < 198;
}
bool inBack(uint16_t x, uint16_t y) {
    return x > 217 && x <= 270 && y > 86 && y < 140;
}
bool inOnOff(uint16_t x, uint16_t y) {
    return x > 122 && x < 197 && y > 166 && y < 204;
}

void back(uint8_t window) {
    ILI9341_fillRec1();
    sendGCode("M220");
    fbDisplayTest(0);
    LED_diaplay_statue = 0;
    file_information.light_on = 0;
    requestWindow(window);
}

void onOff(uint8_t window) {
    if (LED_diaplay_statue != 1) {
        dialog_operation = 1;
        drawHalfPic(40, 40, gImage_ledpageturnondialog);
    } else {
        lightOff();
        requestWindow(window);
    }
}

void drawLightPage() {
    drawFullBackPic(gImage_led);
    drawHalfPic(215, 169, gImage_ledblack);
    if (isLedOff() != 0) {
        drawHalfPic(123, 76, gImage_LEDpageLEDon);
        drawHalfPic(122, 166, gImage_LEDpageturnoff);
        drawHalfPic(215, 169, display_white_black == 1 ? gImage_ledwhite : gImage_ledblack);
    }
}

}  // namespace

int isLedOff() {
    return file_information.light_on;
}

void displayLEDpaneltemperature() {
    if (current_temperature > 55) sendGCode("M220");
    if (dialog_operation == 1) return;
    char text[64] = {};
    const uint16_t saved = POINT_COLOR;
    POINT_COLOR = infpointcolor;
    if (current_window_ID == INDEX_WINDOW_LEDPWM) {
        snprintf(text, sizeof text, "CURPWM:%d", ledSoftPwm);
        showString(240, 50, text, 16);
        snprintf(text, sizeof text, "SETPWM:%d", get_lew_pwm);
        showString(240, 70, text, 16);
    }
    const int t = pravik3dprinter.led_temperature;
    snprintf(text, sizeof text, t >= 0 && t <= 9 ? "  %d" : (t >= 10 && t <= 99 ? " %d" : "%d"), t);
    showString(44, 175, text, 16);
    POINT_COLOR = saved;
}

void displayWindowLED() {
    if (dialog_operation == 1) return;
    drawLightPage();
    displayLEDpaneltemperature();
}

void scanWindowLED(uint16_t x, uint16_t y) {
    if (dialog_operation == 1 && current_window_ID == INDEX_WINDOW_LED) {
        lightDialog(x, y, INDEX_WINDOW_LED);
        return;
    }
    if (isLedOff() != 0) {
        if (inPatternToggle(x, y)) {
            patternToggle();
            return;
        }
        if (x > 280 && x < 320 && y > 0 && y <= 39 && display_white_black == 1) {
            get_lew_pwmBak = get_lew_pwm;
            requestWindow(INDEX_WINDOW_LEDPWM1);
            return;
        }
    }
    if (inBack(x, y)) {
        back(INDEX_WINDOW_SETTING);
    } else if (inOnOff(x, y)) {
        onOff(INDEX_WINDOW_LED);
    }
}

void displayWindowLEDPWM() {
    if (dialog_operation == 1) return;
    drawLightPage();
    fillColor(95, 30, 105, 80, 0xFFFF);
    fillColor(70, 50, 130, 60, 0xFFFF);
    fillColor(70, 130, 130, 140, 0xFFFF);
    displayLEDpaneltemperature();
    fillColor(270, 190, 320, 240, 0xFFFF);
    showString(280, 200, "SAVE", 16);
}

void scanWindowLEDPwm(uint16_t x, uint16_t y) {
    if (dialog_operation == 1 && current_window_ID == INDEX_WINDOW_LEDPWM) {
        lightDialog(x, y, INDEX_WINDOW_LEDPWM);
        return;
    }
    const bool on = isLedOff() != 0;
    if (on && inPatternToggle(x, y)) {
        patternToggle();
    } else if (inBack(x, y)) {
        back(INDEX_WINDOW_HOME);
    } else if (inOnOff(x, y)) {
        onOff(INDEX_WINDOW_LEDPWM);
    } else if (on && x > 70 && x < 130 && y > 30 && y < 80) {
        ledSoftPwm = ledSoftPwm > kPwmMax - 5 ? 0 : static_cast<uint16_t>(ledSoftPwm + 5);
        sendIntensity(ledSoftPwm);
    } else if (on && x > 70 && x < 130 && y > 120 && y < 160) {
        ledSoftPwm = ledSoftPwm < 5 ? kPwmMax : static_cast<uint16_t>(ledSoftPwm - 5);
        sendIntensity(ledSoftPwm);
    } else if (on && x > 280 && x < 320 && y > 200 && y <= 239) {
        ledPwmSave(ledSoftPwm);
        save_pwm_led = 1;
    }
}

void displayWindowLEDPWM1() {
    drawHalfPic(40, 40, gImage_parameter_setting);
    centred(48, "UV Intensity");
    char text[16] = {};
    snprintf(text, sizeof text, "%d", get_lew_pwm);
    centred(110, text);
}

void scanWindowLEDPwm1(uint16_t x, uint16_t y) {
    int step = 0;
    if (hit(pic_parameterbuttonbigup, x, y)) step = 50;
    if (hit(pic_parameterbuttonbigdown, x, y)) step = -50;
    if (hit(pic_parameterbuttonsmallup, x, y)) step = 5;
    if (hit(pic_parameterbuttonsmalldown, x, y)) step = -5;
    if (step != 0) {
        int v = get_lew_pwm + step;
        if (v > kPwmMax) v = kPwmMax;
        if (v < 50) v = 50;
        get_lew_pwm = static_cast<uint8_t>(v);
        requestWindow(INDEX_WINDOW_LEDPWM1);
        sendIntensity(get_lew_pwm);
    } else if (hit(pic_parameterbuttonok, x, y)) {
        ledPwmSaveVolatile(get_lew_pwm);
        requestWindow(INDEX_WINDOW_LED);
    } else if (hit(pic_parameterbuttoncancel, x, y)) {
        get_lew_pwm = get_lew_pwmBak;
        sendIntensity(get_lew_pwm);
        requestWindow(INDEX_WINDOW_LED);
    }
}
