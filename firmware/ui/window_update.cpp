// The update window: copy a firmware update from the stick, or calibrate the
// touch layer again. The window manager has no entry for it, so none of this
// is reachable from the panel; it is kept whole for the day it gets one.
#include <unistd.h>

#include <cstdio>

#include "app/global_func.h"
#include "assets/pictures.h"
#include "display/draw.h"
#include "display/driver.h"
#include "platform/platform.h"
#include "touch/lcdtp.h"
#include "ui/picture_records.h"
#include "ui/ui.h"

namespace {
uint8_t display_update_ini = 0;
uint8_t no_file_firmware_upgrade = 0;
uint8_t dialog_firmware_upgrade = 0;
uint8_t dialog_screen_calibration = 0;

void clearDialog() {
    dialog_operation = 0;
    dialog_firmware_upgrade = 0;
    dialog_screen_calibration = 0;
}
}  // namespace

int firmwareUpgrade() {
    if (access(sysPath("/opt/usb/Velmor30").c_str(), F_OK) != 0) {
        puts("Velmor30 does not exist ");
        return 0;
    }
    platformShell("cp /opt/usb/Velmor30 /opt/update/");
    platformShell("cp /opt/usb/update.ini /opt/update/");
    platformShell("sync");
    return 1;
}

int screenCalibration() {
    if (access(sysPath("/opt/Pravik3D/").c_str(), F_OK) != 0) {
        puts("access /opt/Pravik3D/ failed");
        return 0;
    }
    platformShell("rm /opt/Pravik3D/tpAdjustdata.txt");
    return 1;
}

void disRebootCalibretion() {
    drawHalfPic(40, 40, gImage_upgradepagerestartcalibration);
    puts("UPDATAPAGERESTARTCALIBRATION /n");
    ILI9341_fillRec1();
}

void displayWindowUpdata() {
    drawFullBackPic(gImage_upgradepage);
}

void scanWindowUpdata(uint16_t x, uint16_t y) {
    if (display_update_ini != 0 || no_file_firmware_upgrade != 0) {
        display_update_ini = 0;
        no_file_firmware_upgrade = 0;
        requestWindow(INDEX_WINDOW_UPDATA);
        return;
    }
    if (dialog_operation == 1) {
        const int answer = dialogConfirm(x, y);
        printf("dialog_operation at_res= %d\n", answer);
        printf("dialog_firmware_upgrade = %d\n", dialog_firmware_upgrade);
        printf("dialog_screen_calibration = %d\n", dialog_screen_calibration);
        if (answer == 3) return;
        if (dialog_firmware_upgrade == 1) {
            if (answer == 1) {
                puts("0 Reboot then continue upgrade ");
                const int done = firmwareUpgrade();
                printf("dialog_operation at_res1= %d\n", done);
                if (done == 1) {
                    puts("1 Reboot then continue upgrade ");
                    drawHalfPic(40, 40, gImage_upgradepagerestartupgrade1);
                    ILI9341_fillRec1();
                    msleep(1000);
                    platformShell("reboot");
                    puts("2 Reboot then continue upgrade ");
                    for (;;) msleep(1000);
                }
                puts("Velmor30 does not exist ");
                drawHalfPic(40, 40, gImage_upgradepagenoupgradefile);
                no_file_firmware_upgrade = 1;
            } else {
                printf("dialog_firmware_upgrade at_res= %d\n", answer);
                requestWindow(INDEX_WINDOW_UPDATA);
            }
        } else if (dialog_screen_calibration == 1) {
            if (answer == 1) {
                if (screenCalibration() == 1) {
                    touchAdjust();
                    requestWindow(INDEX_WINDOW_UPDATA);
                } else {
                    puts("try again ");
                    drawHalfPic(40, 40, gImage_upgradepageupgradefailed);
                    no_file_firmware_upgrade = 1;
                }
            } else {
                printf("dialog_screen_calibration at_res= %d\n", answer);
                requestWindow(INDEX_WINDOW_UPDATA);
            }
        }
        clearDialog();
        return;
    }
    if (hit(pic_aboutpagereturn, x, y)) {
        requestWindow(INDEX_WINDOW_SETTING);
    } else if (hit(pic_updatapagefirmware, x, y)) {
        dialog_operation = 1;
        dialog_firmware_upgrade = 1;
        puts(" dialog_firmware_upgrade ");
        drawHalfPic(40, 40, gImage_upgradepageupgradedialog);
    } else if (hit(pic_updatapagescreen, x, y)) {
        dialog_operation = 1;
        dialog_screen_calibration = 1;
        puts(" dialog_screen_calibration ");
        drawHalfPic(40, 40, gImage_upgradepagecalibrationdialog);
    } else if (hit(pic_updatapageini, x, y)) {
        display_update_ini = 1;
    }
}
