// The settings, move, light, about, information and test windows in their
// least form: each draws its page and leads back.
#include "assets/pictures.h"
#include "display/draw.h"
#include "ui/ui.h"

uint16_t ledSoftPwm = 0;

void displayWindowSetting() {
    drawFullBackPic(gImage_setting);
}

void scanWindowSetting(uint16_t, uint16_t) {
    requestWindow(INDEX_WINDOW_HOME);
}

void displayWindowMove() {
    drawFullBackPic(gImage_move);
}

void scanWindoMove(uint16_t, uint16_t) {
    requestWindow(INDEX_WINDOW_SETTING);
}

void displayWindowLED() {
    drawFullBackPic(gImage_led);
}

void scanWindowLED(uint16_t, uint16_t) {
    requestWindow(INDEX_WINDOW_SETTING);
}

void displayWindowLEDPWM() {
    drawFullBackPic(gImage_led);
}

void scanWindowLEDPwm(uint16_t, uint16_t) {
    requestWindow(INDEX_WINDOW_HOME);
}

void displayWindowLEDPWM1() {
    drawFullBackPic(gImage_led);
}

void scanWindowLEDPwm1(uint16_t, uint16_t) {
    requestWindow(INDEX_WINDOW_LEDPWM);
}

void displayWindowAbout() {
    drawFullBackPic(gImage_about);
}

void scanWindowAbout(uint16_t x, uint16_t y) {
    // The corner asks for the update window, which has no entry.
    if (x > 270 && x < 320 && y > 0 && y < 50) {
        requestWindow(INDEX_WINDOW_UPDATA);
    } else {
        requestWindow(INDEX_WINDOW_SETTING);
    }
}

void displayWindowMore() {
    drawFullBackPic(gImage_information);
}

void scanWindowMore(uint16_t, uint16_t) {
    requestWindow(INDEX_WINDOW_SETTING);
}

void displayWindowTset() {}

void scanWindowTest(uint16_t, uint16_t) {
    requestWindow(INDEX_WINDOW_SETTING);
}
