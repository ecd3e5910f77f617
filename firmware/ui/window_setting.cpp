// Settings hub, Z move, about, information and test windows.
#include <cstdio>

#include "assets/pictures.h"
#include "display/draw.h"
#include "display/driver.h"
#include "display/text.h"
#include "link/command.h"
#include "print/print.h"
#include "print/safety_envelope.h"
#include "ui/picture_records.h"
#include "ui/ui.h"

uint8_t default_move_distance = 10;
const char PrintModelVelmor10[] = "Velmor4K";
const char BuildMaxSize[] = "120x68x190";
const char FirmwareVersion[] = "VM4KMV1.3.2";

namespace {

// One jog of the current step: relative, then back to absolute. Once the
// height is known, a jog that would leave the Z travel is not sent.
void jog(bool up) {
    const double step = default_move_distance;
    const double delta = up ? step : -step;
    if (!manualMoveInsideTravel(delta)) {
        printf("jog refused: %+g mm from Z %.3f leaves the travel of 0..%g mm\n", delta,
               printCommandedZ(), ENVELOPE_Z_TRAVEL_MM);
        return;
    }
    sendGCode("M229");
    sendCmdG91();
    char line[64] = {};
    snprintf(line, sizeof line, up ? "G0 Z%d F1000" : "G0 Z-%d F1000", default_move_distance);
    const bool acknowledged = sendGCode(line) == 0;
    printf(up ? "Z+%s\n" : "Z-%s\n", line);
    sendCmdG90();
    manualMoveDone(delta, acknowledged);
}

}  // namespace

void displayWindowSetting() {
    drawFullBackPic(gImage_setting);
}

void scanWindowSetting(uint16_t x, uint16_t y) {
    if (hit(pic_settingpagebuttonsettingpageback, x, y)) {
        requestWindow(INDEX_WINDOW_HOME);
    } else if (hit(pic_settingpagebuttonmove, x, y)) {
        requestWindow(INDEX_WINDOW_MOVE);
    } else if (hit(pic_settingpagebuttonled, x, y)) {
        requestWindow(INDEX_WINDOW_LED);
    } else if (hit(pic_settingpagebuttonmore, x, y)) {
        requestWindow(INDEX_WINDOW_ABOUT);
    }
}

void displayWindowMove() {
    drawFullBackPic(gImage_move);
    default_move_distance = 10;
}

void changeMoveDistance() {
    if (change_window == 1) return;
    const unsigned char* face = nullptr;
    switch (default_move_distance) {
        case 10:
            default_move_distance = 50;
            face = gImage_movepagedistance50;
            break;
        case 50:
            default_move_distance = 1;
            face = gImage_movepagedistance1;
            break;
        case 1:
            default_move_distance = 10;
            face = gImage_movepagedistance10;
            break;
        default: return;
    }
    drawHalfPic(pic_movepagebuttondistance.x_start, pic_movepagebuttondistance.y_start, face);
}

void scanWindoMove(uint16_t x, uint16_t y) {
    if (dialog_operation == 1 && current_window_ID == INDEX_WINDOW_MOVE) {
        const int answer = dialogConfirm(x, y);
        if (answer == 1) {
            requestWindow(INDEX_WINDOW_MOVE);
            dialog_operation = 0;
            sendGCode("M229");
            ILI9341_fillRec1();
            manualZero(sendGCode("G28 Z0") == 0);
        } else if (answer == 2) {
            requestWindow(INDEX_WINDOW_MOVE);
            dialog_operation = 0;
        }
        return;
    }
    if (hit(pic_movepagebuttonmovepagereturn, x, y)) {
        sendGCode("M229");
        default_move_distance = 10;
        requestWindow(INDEX_WINDOW_SETTING);
    } else if (hit(pic_movepagebuttondown, x, y)) {
        jog(false);
    } else if (hit(pic_movepagebuttonup, x, y)) {
        jog(true);
    } else if (hit(pic_movepagebuttonmovehome, x, y)) {
        dialog_operation = 1;
        puts("check 0000");
        drawHalfPic(40, 40, gImage_detailpageprintdialog);
    } else if (hit(pic_movepagebuttonstopmove, x, y)) {
        sendGCode("M228");
        manualZero(sendGCode("G92 Z0") == 0);
    } else if (hit(pic_movepagebuttondistance, x, y)) {
        changeMoveDistance();
    }
}

void displayPrintModel() {
    showString(175, 73, PrintModelVelmor10, 16);
}

void displayBuildableSize() {
    showString(175, 110, BuildMaxSize, 16);
}

void displayVersion() {
    showString(175, 146, FirmwareVersion, 16);
}

void displayWindowAbout() {
    drawFullBackPic(gImage_about);
    POINT_COLOR = infpointcolor;
    displayVersion();
    displayBuildableSize();
    displayPrintModel();
}

void scanWindowAbout(uint16_t x, uint16_t y) {
    if (hit(pic_aboutpagereturn, x, y)) {
        requestWindow(INDEX_WINDOW_SETTING);
    } else if (hit(pic_aboutpagemoreinf, x, y)) {
        requestWindow(INDEX_WINDOW_UPDATA);  // no entry: stays pending
    }
}

void displayWindowMore() {
    drawFullBackPic(gImage_information);
}

void scanWindowMore(uint16_t x, uint16_t y) {
    if (hit(pic_morepagereturn, x, y)) requestWindow(INDEX_WINDOW_ABOUT);
}

void displayWindowTset() {}

void scanWindowTest(uint16_t x, uint16_t y) {
    if (x > 260 && x <= 314 && y > 180 && y <= 234) requestWindow(INDEX_WINDOW_HOME);
}
