// Home and the file browser.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "app/global_data.h"
#include "app/global_func.h"
#include "assets/pictures.h"
#include "display/draw.h"
#include "display/driver.h"
#include "display/text.h"
#include "link/command.h"
#include "platform/platform.h"
#include "print/material_test.h"
#include "print/print.h"
#include "print/print_file.h"
#include "ui/picture_records.h"
#include "ui/ui.h"
#include "usb/tf.h"

uint8_t page_index = 0;
uint8_t page_index_max = 5;
uint8_t currentlistfilenum = 0;
uint8_t file_index_num = 0;
uint8_t pre_file_index_num = 255;
uint8_t choose_file_first = 0;
uint8_t choose_printfile = 0;
uint8_t file_name_error = 0;
uint8_t usb_device_out = 0;
uint8_t enter_detial = 0;

namespace {

// Files the list can show: a stick with more than the list holds shows the
// names it holds, never repeats of the last slot.
uint16_t listedFiles() {
    const uint16_t count = usb_file_count;
    if (count == USB_COUNT_NO_FOLDER) return 0;
    return count > FILE_NAME_SLOTS ? FILE_NAME_SLOTS : count;
}

const PicRecord* const kRows[5] = {&pic_filepagebuttonchoosefile1, &pic_filepagebuttonchoosefile2,
                                   &pic_filepagebuttonchoosefile3, &pic_filepagebuttonchoosefile4,
                                   &pic_filepagebuttonchoosefile5};

struct SpecialName {
    const char* text;
    uint8_t code;
};
constexpr SpecialName kSpecialNames[] = {
    {"Velmor4KzaxisprobeK55T3R7Q19W8.pvk4k", 10},
    {"Velmor4KlamptrialQ4R8T115.pvk4k", 15},
    {"Velmor4Kprintmaterialtestfile.pvk4k", 20},
    {"Velmor4KGlowSetTrial7.pvk4k", 25},
};

}  // namespace

void displayWindowHome() {
    dialog_operation = 0;
    drawFullBackPic(usbDetectedAndMount() != 0 ? gImage_home : gImage_homegray);
}

void scanWindowHome(uint16_t x, uint16_t y) {
    if (hit(pic_homepagebuttonfile, x, y)) {
        requestWindow(USB_detected == 1 ? INDEX_WINDOW_FILE : INDEX_WINDOW_HOME);
    } else if (hit(pic_homepagebuttonsetting, x, y)) {
        requestWindow(INDEX_WINDOW_SETTING);
    }
}

void displayWindowFile() {
    skipLoadParameter = 0;
    drawFullBackPic(gImage_file);
    USB_detected = usbDetectedAndMount() != 0 ? 1 : 0;
    usb_device_out = 1;
    if (USB_detected == 1) {
        if (usb_file_count == USB_COUNT_NO_FOLDER) {
            drawHalfPic(40, 40, gImage_filepagenofolder);
        } else if (usb_file_count == 0) {
            drawHalfPic(40, 40, gImage_filepagenofile);
        } else {
            usb_device_out = 0;
            displayFileList();
            displayFilePageNumber();
        }
    } else {
        drawHalfPic(40, 40, gImage_filepagenousb);
        page_index = 0;
        choose_file_first = 0;
    }
}

void displayFileList() {
    drawFullBackPic(gImage_file);
    const uint16_t count = listedFiles();
    if (count == 0) return;
    currentlistfilenum = static_cast<uint8_t>(count % 5);
    page_index_max = static_cast<uint8_t>(count / 5 + (count % 5 != 0 ? 1 : 0));
    // A page beyond the list (after the stick changed) starts over.
    if (page_index >= page_index_max) page_index = 0;
    const int rows = page_index == count / 5 ? currentlistfilenum : 5;
    // The colour stays as the last row left it: the windows after the list
    // draw in the current colour.
    for (int j = 0; j < rows; ++j) {
        const char* name = getFileName(static_cast<uint16_t>(page_index * 5 + j));
        POINT_COLOR = (j == file_index_num && choose_printfile == 1) ? infpointcolor : 0xFFFF;
        const uint16_t top = static_cast<uint16_t>(61 + 33 * j);
        lcdShowString(34, top, 240, static_cast<uint16_t>(top + 17), name, 16, 1);
    }
}

void displayFilePageNumber() {
    if (usb_file_count == 0) return;
    char text[64] = {};
    snprintf(text, sizeof text, "%d/%d", page_index + 1, page_index_max);
    // The number is drawn transparent: clear its box so a new one never
    // lands on the old.
    fillColor(113, 219, 159, 235, infbackcolor);
    POINT_COLOR = infpointcolor;
    showString(115, 221, text, 12);
}

void scanWindowFile(uint16_t x, uint16_t y) {
    if (file_name_error == 1) {
        file_name_error = 0;
        requestWindow(INDEX_WINDOW_FILE);
    } else if (usb_device_out == 1) {
        requestWindow(INDEX_WINDOW_HOME);
    } else if (hit(pic_filepagebuttonreturn, x, y)) {
        requestWindow(INDEX_WINDOW_HOME);
    } else if (hit(pic_filepagebuttonprepage, x, y)) {
        if (page_index_max > 1) {
            page_index = page_index == 0 ? static_cast<uint8_t>(page_index_max - 1)
                                         : static_cast<uint8_t>(page_index - 1);
            choose_printfile = 0;
            displayFileList();
            displayFilePageNumber();
        }
    } else if (hit(pic_filepagebuttonnextpage, x, y)) {
        if (page_index_max > 1) {
            page_index =
                page_index + 1 >= page_index_max ? 0 : static_cast<uint8_t>(page_index + 1);
            choose_printfile = 0;
            displayFileList();
            displayFilePageNumber();
        }
    } else if (hit(pic_filepagebuttonstart, x, y)) {
        page_index = 0;
        displayFilePageNumber();
    } else {
        for (uint8_t row = 0; row < 5; ++row) {
            if (!hit(*kRows[row], x, y)) continue;
            ChoseFile(row);
            printf("choose file (%d)\n", row);
            break;
        }
    }
}

void ChoseFile(uint8_t row) {
    if (page_index * 5 + row >= listedFiles()) return;
    choose_printfile = 1;
    choose_file_first = row == pre_file_index_num ? static_cast<uint8_t>(choose_file_first + 1) : 0;
    puts("choose file");
    if (choose_file_first != 1) {
        file_index_num = row;
        pre_file_index_num = row;
        displayFileList();
        displayFilePageNumber();
        return;
    }
    choose_file_first = 0;
    pre_file_index_num = 255;
    choose_printfile = 0;
    const uint8_t code = checkFileNameData(row);
    printf("at_res = %d\n", code);
    switch (code) {
        case 10: moveTest1();
        case 15: ledTest1();
        case 20:
            file_name_error = 0;
            requestWindow(INDEX_WINDOW_PRINT);
            creat_print_pthread = 1;
            break;
        case 25:
            file_name_error = 0;
            puts("next_window_ID = INDEX_WINDOW_LEDPWM;");
            ledSoftPwm = ledPwmGet();
            requestWindow(INDEX_WINDOW_LEDPWM);
            break;
        case 5:
            drawHalfPic(40, 40, gImage_filepageopenerror);
            file_name_error = 1;
            break;
        default:
            file_name_error = 0;
            enter_detial = 1;
            requestWindow(INDEX_WINDOW_DETAIL);
            break;
    }
}

uint8_t checkFileNameData(uint8_t row) {
    resetMaterialTest();
    const char* name = getFileName(static_cast<uint16_t>(page_index * 5 + row));
    for (const SpecialName& s : kSpecialNames) {
        if (strstr(name, s.text) == nullptr) continue;
        if (s.code == 10 || s.code == 15) {
            puts("move test1");
            printf("%s\n", name);
            puts(s.text);
        }
        if (s.code == 20) setMaterialTest();
        return s.code;
    }
    if (chdir(sysPath(pravikPath).c_str()) != 0) perror("chdir");
    printf("filename:%s", name);
    FILE* fp = fopen(name, "rb");
    uint8_t code = 1;
    if (fp != nullptr) {
        fclose(fp);
    } else {
        puts("fopen filename failed");
        code = 5;
    }
    if (chdir(sysPath(Velmor30Path).c_str()) != 0) perror("chdir");
    return code;
}

void moveTest1() {
    sendGCode("G28 Z0");
    for (;;) {
        sendGCode("M227");
        sendGCode("G1 Z160 F60");
        sendGCode("M227");
        sendGCode("G1 Z0 F60");
    }
}

void ledTest1() {
    sendGCode("M220");
    for (;;) {
        sendGCode("M219");
        drawFullBackPic(gImage_led);
        drawHalfPic(123, 76, gImage_LEDpageLEDon);
        drawHalfPic(122, 166, gImage_LEDpageturnoff);
        ILI9341_fillRec1();
        puts("M219");
        msleep(2000);
        sendGCode("M220");
        drawFullBackPic(gImage_led);
        ILI9341_fillRec1();
        puts("M220");
        msleep(2000);
    }
}
