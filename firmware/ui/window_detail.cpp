// The preview of a print file, its parameter list, the edit window and the
// apply/save/discard confirmation.
#include <cstdio>
#include <cstring>

#include "app/global_data.h"
#include "assets/pictures.h"
#include "display/draw.h"
#include "display/text.h"
#include "link/status.h"
#include "print/print.h"
#include "print/print_file.h"
#include "ui/parameter_table.h"
#include "ui/picture_records.h"
#include "ui/ui.h"
#include "usb/UsbController.h"

uint8_t file_page_open_error = 0;
uint8_t temperature_error_disable_print = 0;
uint8_t parameterChanged = 0;
uint8_t parameterEditOption = 255;
uint8_t parameterSaveOption = 255;
float parameterEdited = 0;

namespace {

// The stick count when the preview was last read.
uint32_t previewStick = 0;

// Changed when the values differ in their first decimal.
bool rowChanged(const ParameterEntry& e) {
    return static_cast<int>(*e.value * 10) != static_cast<int>(e.reference * 10);
}

bool rowsBound() {
    for (const ParameterEntry& e : ParameterAll) {
        if (e.value == nullptr) return false;
    }
    return true;
}

void text16(uint16_t x, uint16_t y, const char* s, uint8_t mode) {
    showString2(x, y, 320, 240, s, 16, mode);
}

// The parameter list's bands: row of the left column for band i is 2 i, of
// the right 2 i + 1.
int parameterRowAt(uint16_t x, uint16_t y) {
    static constexpr uint16_t kBandTop[5] = {68, 96, 124, 152, 180};
    int column = -1;
    if (x > 0 && x <= 149) column = 0;
    if (x > 160 && x < 320) column = 1;
    if (column < 0) return -1;
    for (int band = 0; band < 5; ++band) {
        if (y > kBandTop[band] && y <= kBandTop[band] + 19) return band * 2 + column;
    }
    return -1;
}

}  // namespace

void displayWindowDetail() {
    if (USB_detected == 1 && enter_detial == 1) {
        usb_device_out = 0;
        previewStick = usb_stick_changes;
        drawFullBackPic(gImage_detail);
        if (prePrintDataInf() != 0) {
            preFilePrintInf();
        } else {
            drawHalfPic(40, 40, gImage_filepageopenerror);
            file_page_open_error = 1;
        }
    } else {
        previewStickGone();
    }
}

bool previewStickChanged() {
    return USB_detected != 1 || usb_stick_changes != previewStick;
}

void previewStickGone() {
    usb_device_out = 1;
    enter_detial = 0;
    drawHalfPic(40, 40, gImage_filepageopenerror);
}

void preFilePrintInf() {
    char text[64] = {};
    snprintf(text, sizeof text, "%0.1f M", open_file_inf.size / 1000000.0);
    showString2(200, 66, 300, 82, text, 16, 1);
    char date[13] = {};
    memcpy(date, open_file_inf.mtime + 4, 12);
    showString2(200, 104, 300, 120, date, 16, 1);
    const uint32_t minutes = file_information.print_times / 60000;
    snprintf(text, sizeof text, "%d H %d M", static_cast<int>(minutes / 60),
             static_cast<int>(minutes % 60));
    showString2(200, 142, 300, 158, text, 16, 1);
}

void scanWindowDetail(uint16_t x, uint16_t y) {
    if (usb_device_out == 1) {
        requestWindow(INDEX_WINDOW_HOME);
    } else if (file_page_open_error == 1) {
        file_page_open_error = 0;
        requestWindow(INDEX_WINDOW_FILE);
    } else if (temperature_error_disable_print == 1) {
        temperature_error_disable_print = 0;
        requestWindow(INDEX_WINDOW_DETAIL);
    } else if (dialog_operation == 1 && current_window_ID == INDEX_WINDOW_DETAIL) {
        const int answer = dialogConfirm(x, y);
        if (answer == 1) {
            if (checkTemperature() == 1) {
                requestWindow(INDEX_WINDOW_PRINT);
                creat_print_pthread = 1;
            } else {
                drawHalfPic(40, 40, gImage_filepageopenerror);
                drawHalfPic(40, 40, gImage_detailpagetemperror);
                temperature_error_disable_print = 1;
            }
            dialog_operation = 0;
        } else if (answer == 2) {
            requestWindow(INDEX_WINDOW_DETAIL);
            dialog_operation = 0;
        }
    } else if (hit(pic_previewpagebuttonstart, x, y)) {
        drawHalfPic(40, 40, gImage_detailpageprintdialog);
        dialog_operation = 1;
    } else if (hit(pic_previewpagebuttonback, x, y)) {
        requestWindow(INDEX_WINDOW_FILE);
    } else if (hit(pic_previewpagebuttonmore, x, y)) {
        requestWindow(INDEX_WINDOW_DETAILMORE);
    }
}

void displayWindowDetailmore() {
    parameterChanged = 0;
    uint8_t mode[PARAMETER_COUNT] = {};
    const bool bound = rowsBound();
    for (int i = 0; i < PARAMETER_COUNT; ++i) {
        const bool changed = bound && rowChanged(ParameterAll[i]);
        if (changed) parameterChanged = 1;
        mode[i] = changed ? 1 : 2;
    }
    drawFullBackPic(parameterChanged == 1 ? gImage_detail_more_with_change
                                          : gImage_detail_more_without_change);
    char text[64] = {};
    snprintf(text, sizeof text, "%d", static_cast<int>(printparameter.layer_count));
    text16(80, 42, text, 2);
    snprintf(text, sizeof text, "%.0f", static_cast<double>(printparameter.ZThick * 1000));
    text16(225, 42, text, 2);
    if (!bound) return;
    static constexpr uint16_t kAt[PARAMETER_COUNT][2] = {
        {80, 68},   {250, 68}, {80, 96},   {250, 96}, {90, 124},
        {232, 124}, {90, 152}, {232, 152}, {90, 180}, {232, 180}};
    for (int i = 0; i < PARAMETER_COUNT; ++i) {
        const ParameterEntry& e = ParameterAll[i];
        memset(text, 0, sizeof text);
        snprintf(text, sizeof text, e.kind == 1 ? "%.1f" : "%.0f", static_cast<double>(*e.value));
        text16(kAt[i][0], kAt[i][1], text, mode[i]);
    }
}

void scanWindowDetailmore(uint16_t x, uint16_t y) {
    if (usb_device_out == 1) {
        requestWindow(INDEX_WINDOW_HOME);
        return;
    }
    parameterSaveOption = 255;
    if (parameterChanged == 1) {
        if (y > 212 && y <= 239) {
            if (x > 29 && x <= 93) parameterSaveOption = 0;
            if (x > 127 && x <= 191) parameterSaveOption = 1;
            if (x > 225 && x < 290) parameterSaveOption = 2;
        }
    } else if (x > 270 && x < 320 && y > 0 && y <= 49) {
        skipLoadParameter = 1;
        requestWindow(INDEX_WINDOW_DETAIL);
        return;
    }
    if (parameterSaveOption != 255) {
        requestWindow(INDEX_WINDOW_PARAMETERSAVE);
        return;
    }
    parameterEditOption = 255;
    const int row = parameterRowAt(x, y);
    if (row < 0 || !rowsBound()) return;
    parameterEditOption = static_cast<uint8_t>(row);
    parameterEdited = *ParameterAll[row].value;
    requestWindow(INDEX_WINDOW_PARAMETEREDIT);
}

void displayWindowParameterEdit() {
    drawHalfPic(40, 40, gImage_parameter_setting);
    if (parameterEditOption >= PARAMETER_COUNT) return;
    const ParameterEntry& e = ParameterAll[parameterEditOption];
    const auto centred = [](const char* s) {
        return static_cast<uint16_t>(160 - 4 * static_cast<int>(strnlen(s, 40)));
    };
    showString2(centred(e.label), 48, 280, 200, e.label, 16, 1);
    char text[64] = {};
    snprintf(text, sizeof text, e.kind == 1 ? "%.1f" : "%.0f",
             static_cast<double>(parameterEdited));
    showString2(centred(text), 110, 280, 200, text, 16, 1);
}

void scanWindowParameterEdit(uint16_t x, uint16_t y) {
    if (usb_device_out == 1) {
        requestWindow(INDEX_WINDOW_HOME);
        return;
    }
    if (parameterEditOption >= PARAMETER_COUNT) return;
    const ParameterEntry& e = ParameterAll[parameterEditOption];
    float step = 0;
    if (hit(pic_parameterbuttonbigup, x, y)) step = e.big_step;
    if (hit(pic_parameterbuttonbigdown, x, y)) step = -e.big_step;
    if (hit(pic_parameterbuttonsmallup, x, y)) step = e.small_step;
    if (hit(pic_parameterbuttonsmalldown, x, y)) step = -e.small_step;
    if (step != 0) {
        parameterEdited += step;
        if (step > 0 && parameterEdited > e.max) parameterEdited = e.max;
        if (step < 0 && parameterEdited < e.min) parameterEdited = e.min;
        requestWindow(INDEX_WINDOW_PARAMETEREDIT);
    } else if (hit(pic_parameterbuttonok, x, y)) {
        if (e.value != nullptr) *e.value = parameterEdited;
        requestWindow(INDEX_WINDOW_DETAILMORE);
    } else if (hit(pic_parameterbuttoncancel, x, y)) {
        requestWindow(INDEX_WINDOW_DETAILMORE);
    }
}

void displayWindowParameterSave() {
    switch (parameterSaveOption) {
        case 1: drawHalfPic(40, 40, gImage_parameter_apply); break;
        case 2: drawHalfPic(40, 40, gImage_parameter_save); break;
        case 0: drawHalfPic(40, 40, gImage_parameter_discard); break;
        default: break;
    }
}

void scanWindowParameterSave(uint16_t x, uint16_t y) {
    if (usb_device_out == 1) {
        requestWindow(INDEX_WINDOW_HOME);
        return;
    }
    if (hit(pic_parametersaveyes, x, y)) {
        if (rowsBound()) {
            if (parameterSaveOption == 1 || parameterSaveOption == 2) {
                for (ParameterEntry& e : ParameterAll) e.reference = *e.value;
                if (parameterSaveOption == 2) writePrintparameterToFile();
            } else if (parameterSaveOption == 0) {
                for (ParameterEntry& e : ParameterAll) *e.value = e.reference;
            }
        }
        requestWindow(INDEX_WINDOW_DETAILMORE);
    } else if (hit(pic_parametersaveno, x, y)) {
        requestWindow(INDEX_WINDOW_DETAILMORE);
    }
}
