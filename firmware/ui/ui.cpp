#include "ui/ui.h"

#include <cstdio>
#include <mutex>

#include "app/global_data.h"
#include "display/driver.h"
#include "link/command.h"
#include "link/status.h"
#include "touch/lcdtp.h"
#include "ui/picture_records.h"

std::atomic<uint8_t> current_window_ID{INDEX_WINDOW_HOME};
std::atomic<uint8_t> next_window_ID{INDEX_WINDOW_HOME};
std::atomic<uint8_t> change_window{0};
uint8_t press_flag = 1;
uint8_t dialog_operation = 0;
uint8_t save_pwm_led = 1;
uint8_t get_lew_pwm = 0;

namespace {

int ui_print_cmd = 0;  // guarded by mutex_printerCommand

struct Window {
    void (*draw)();
    void (*touch)(uint16_t, uint16_t);
};

// Indexed by window ID; 14 has no entry.
constexpr Window kWindows[] = {
    {displayWindowHome, scanWindowHome},
    {displayWindowFile, scanWindowFile},
    {displayWindowDetail, scanWindowDetail},
    {displayWindowDetailmore, scanWindowDetailmore},
    {displayWindowParameterEdit, scanWindowParameterEdit},
    {displayWindowParameterSave, scanWindowParameterSave},
    {displayWindowPrint, scanWindowPrint},
    {displayWindowSetting, scanWindowSetting},
    {displayWindowMove, scanWindoMove},
    {displayWindowLED, scanWindowLED},
    {displayWindowLEDPWM, scanWindowLEDPwm},
    {displayWindowLEDPWM1, scanWindowLEDPwm1},
    {displayWindowAbout, scanWindowAbout},
    {displayWindowMore, scanWindowMore},
    {nullptr, nullptr},
    {displayWindowTset, scanWindowTest},
};

const Window* windowOf(uint8_t id) {
    if (id >= sizeof kWindows / sizeof *kWindows || kWindows[id].draw == nullptr) return nullptr;
    return &kWindows[id];
}

}  // namespace

void setCurrentButton(int code) {
    std::lock_guard<PlatformMutex> lock(mutex_printerCommand);
    ui_print_cmd = code;
}

int getCurrentButton() {
    std::lock_guard<PlatformMutex> lock(mutex_printerCommand);
    return ui_print_cmd;
}

void clearCurrentButton() {
    setCurrentButton(rOPER_NONE);
}

void takeCurrentButton(int code) {
    std::lock_guard<PlatformMutex> lock(mutex_printerCommand);
    if (ui_print_cmd == code) ui_print_cmd = rOPER_NONE;
}

void requestWindow(uint8_t id) {
    next_window_ID = id;
    change_window = 1;
}

int dialogConfirm(uint16_t x, uint16_t y) {
    if (hit(pic_ledpagedialogyes, x, y)) return 1;
    if (hit(pic_ledpagedialogno, x, y)) return 2;
    return 3;
}

int dialogprintcancelConfirm(uint16_t x, uint16_t y) {
    if (hit(pic_buttonprintcancelyes, x, y)) return 1;
    if (hit(pic_buttonprintcancelno, x, y)) return 2;
    return 3;
}

void actWindowChange() {
    if (change_window == 0) return;
    const uint8_t id = next_window_ID;
    if (const Window* w = windowOf(id)) {
        w->draw();
        current_window_ID = id;
        change_window = 0;
    }
    // A request without an entry stays pending: the frame is pushed, the
    // window on screen keeps its touches.
    ILI9341_fillRec1();
}

void actDispalyInfo() {
    switch (current_window_ID) {
        case INDEX_WINDOW_PRINT: displayPrintInformation(); break;
        case INDEX_WINDOW_HOME: displayWindowHome(); break;
        case INDEX_WINDOW_FILE:
            if (file_name_error == 1) return;
            displayWindowFile();
            break;
        case INDEX_WINDOW_DETAIL:
        case INDEX_WINDOW_DETAILMORE:
        case INDEX_WINDOW_PARAMETEREDIT:
        case INDEX_WINDOW_PARAMETERSAVE:
            // The file's windows follow its stick: pulled or swapped, they
            // become the preview's open-error picture.
            if (previewStickChanged() && (USB_detected != 1 || usb_device_out != 1)) {
                previewStickGone();
            } else if (current_window_ID != INDEX_WINDOW_DETAILMORE) {
                return;
            }
            break;
        case INDEX_WINDOW_LED: displayWindowLED(); break;
        case INDEX_WINDOW_LEDPWM: displayWindowLEDPWM(); break;
        case INDEX_WINDOW_SETTING:
        case INDEX_WINDOW_ABOUT:
        case INDEX_WINDOW_MORE: break;
        default: return;
    }
    ILI9341_fillRec1();
}

void scanTouchInput(uint32_t n) {
    actWindowChange();

    if (readpen() == 0 && press_flag == 1) {
        press_flag = 0;
        if (Convert_Pos() != 0) {
            const uint8_t id = current_window_ID;
            if (const Window* w = windowOf(id)) {
                w->touch(static_cast<uint16_t>(tp_pixlcd.x), static_cast<uint16_t>(tp_pixlcd.y));
            }
            if (id != INDEX_WINDOW_HOME) ILI9341_fillRec1();
        }
    }
    if (readpen() == 1) press_flag = 1;

    if (save_pwm_led == 1) {
        get_lew_pwm = ledPwmGet();
        save_pwm_led = 0;
        char line[64] = {};
        snprintf(line, sizeof line, "M108 S%d", get_lew_pwm);
        sendGCode(line);
    }

    if (n % 50 == 0) {
        checkPrinterStatus();
        if (change_window == 1) return;
        actDispalyInfo();
    }
}
