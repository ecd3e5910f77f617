// The printing window: the job's figures, pause/resume and end, and the
// over-temperature pause and resume it asks the print thread for.
#include <cstdio>

#include "assets/pictures.h"
#include "display/draw.h"
#include "display/driver.h"
#include "display/text.h"
#include "link/status.h"
#include "print/material_test.h"
#include "print/print.h"
#include "print/print_file.h"
#include "print/print_time.h"
#include "ui/picture_records.h"
#include "ui/ui.h"

namespace {

struct Face {
    const char* text;
    const unsigned char* button;
    bool hot;  // the over-temperature warning goes with it
};

Face faceOf(uint8_t shown) {
    switch (shown) {
        case 1: return {"Paused", gImage_resume, false};
        case 2: return {"Pausing", gImage_resumegray, false};
        case 3: return {"T Paused", gImage_resume, true};
        case 4: return {"TPausing", gImage_resumegray, true};
        case 6: return {"finished", gImage_pause, false};
        default: return {"Printing.", gImage_pause, false};
    }
}

void boxText(const PicRecord& r, const char* text) {
    showString2(r.x_start, r.y_start, r.x_end, r.y_end, text, 16, 1);
}

}  // namespace

void displayWindowPrint() {
    displayPrintInformation();
}

void displayPrintInformation() {
    drawFullBackPic(gImage_print);
    if (getMaterialTest() != 0) {
        boxText(pic_inf_printfilename, materialtestfilename);
    } else {
        if (printparameter.thumb_width > 0 && printparameter.thumb_height > 0) {
            drawtThumbnail(pic_inf_printthumbnail.x_start, pic_inf_printthumbnail.y_start,
                           static_cast<uint16_t>(printparameter.thumb_width),
                           static_cast<uint16_t>(printparameter.thumb_height));
        }
        // The job's own name: the list may have been rescanned since.
        if (preview_file_identity.valid) boxText(pic_inf_printfilename, preview_file_identity.name);
    }
    POINT_COLOR = infpointcolor;

    calcCountDownTime();
    calcCountUpTime();

    char text[64] = {};
    const PicRecord& bar = pic_inf_percentfill;
    fillColor(bar.x_start, bar.y_start, bar.x_end, bar.y_end, 0x0022);
    drawRectangle(bar.x_start, bar.y_start, bar.x_end, bar.y_end, infpointcolor);
    const uint8_t progress = calcProgress();  // 0 for a job of no layers
    const uint32_t filled = (progress > 100 ? 100u : progress) * 130u / 100u;
    fillColor(bar.x_start, bar.y_start, static_cast<uint16_t>(bar.x_start + filled), bar.y_end,
              infpointcolor);
    snprintf(text, sizeof text, "%d%%", progress);
    showString(pic_inf_percent.x_start, pic_inf_percent.y_start, text, 16);

    if (file_information.print_times == 0) {
        showString(pic_inf_remaintime.x_start, pic_inf_remaintime.y_start, "--H --M", 16);
    } else {
        snprintf(text, sizeof text, "%d H %d M", Remaining_hours.load(), Remaining_minutes.load());
        boxText(pic_inf_remaintime, text);
    }
    snprintf(text, sizeof text, "%02d:%02d:%02d", cp_time_hours.load(), cp_time_minutes.load(),
             cp_time_seconds.load());
    boxText(pic_inf_counttime, text);
    snprintf(text, sizeof text, "%d/%d", getPrintedLayers(), getTotalLayers());
    boxText(pic_inf_layer, text);

    const int16_t t = pravik3dprinter.led_temperature;
    current_temperature = t;
    // A cancel already asked for must not be overwritten by the pause.
    if (t > 55 && t <= 99 && getCurrentButton() != rOPER_CANCEL) setCurrentButton(rOPER_TEMPPAUSE);
    snprintf(text, sizeof text, "%d", t);
    boxText(pic_inf_temperate, text);

    switch (getPrintStatus()) {
        case PRINT_TEMP_PAUSED: diaplay_pause_print = 3; break;
        case PRINT_PAUSED: diaplay_pause_print = 1; break;
        case PRINT_RUNNING: diaplay_pause_print = 0; break;
        case PRINT_FINISHED: diaplay_pause_print = 6; break;
        case PRINT_TEMP_PAUSING: diaplay_pause_print = 4; break;
        default: break;
    }
    const int request = getCurrentButton();
    if (request == rOPER_RESUME) diaplay_pause_print = 0;
    if (request == rOPER_PAUSE) diaplay_pause_print = 2;
    if (request == rOPER_TEMPPAUSE) diaplay_pause_print = 4;
    const Face face = faceOf(diaplay_pause_print);
    showString(pic_inf_statue.x_start, pic_inf_statue.y_start, face.text, 16);
    drawHalfPic(pic_printpagebuttonpause.x_start, pic_printpagebuttonpause.y_start, face.button);
    if (face.hot) drawHalfPic(40, 50, gImage_printhightemperror1);
    if (getCurrentButton() == rOPER_CANCEL) drawHalfPic(40, 40, gImage_printpagewaitcancel);

    const int status = getPrintStatus();
    switch (status) {
        case PRINT_TEMP_PAUSED:
            if (t > 0 && t <= 44) {
                setCurrentButton(rOPER_RESUME);
                diaplay_pause_print = 0;
            }
            drawHalfPic(40, 50, gImage_printhightemperror1);
            break;
        case PRINT_CANCELED: drawHalfPic(40, 40, gImage_printpagewaitcancel); break;
        case PRINT_FINISHED:
            showString(pic_inf_statue.x_start, pic_inf_statue.y_start, "finished", 16);
            resetElapsedTime();
            break;
        case PRINT_END: requestWindow(INDEX_WINDOW_HOME); break;
        case PRINT_DATA_ERROR: drawHalfPic(40, 40, gImage_printpagefiledataerror); break;
        case PRINT_TEMP_ERROR: drawHalfPic(40, 40, gImage_printerrortemp); break;
        default: break;
    }
    if (dialog_operation == 1) drawHalfPic(40, 40, gImage_printpagecanceldialog);
    refreshElapsedTime(status);
}

void scanWindowPrint(uint16_t x, uint16_t y) {
    if (dialog_operation == 1 && current_window_ID == INDEX_WINDOW_PRINT) {
        const int answer = dialogprintcancelConfirm(x, y);
        if (answer == 1) {
            setCurrentButton(rOPER_CANCEL);
            drawHalfPic(40, 40, gImage_printpagewaitcancel);
            ILI9341_fillRec1();
            dialog_operation = 0;
        } else if (answer == 2) {
            dialog_operation = 0;
            requestWindow(INDEX_WINDOW_PRINT);
        }
        return;
    }
    const int status = getPrintStatus();
    const bool cancelling = getCurrentButton() == rOPER_CANCEL;
    if (hit(pic_printpagebuttonpause, x, y)) {
        if (cancelling) return;
        if (status == PRINT_PAUSED || status == PRINT_TEMP_PAUSED) {
            setCurrentButton(rOPER_RESUME);
            diaplay_pause_print = 0;
            puts("operation button rOPER_RESUME");
            displayPrintInformation();
        } else if (status == PRINT_RUNNING) {
            diaplay_pause_print = 2;
            setCurrentButton(rOPER_PAUSE);
            puts("operation button rOPER_PAUSE");
            displayPrintInformation();
        }
    } else if (hit(pic_printpagebuttonend, x, y)) {
        const bool endable = status == PRINT_RUNNING || status == PRINT_PAUSED ||
                             status == PRINT_TEMP_PAUSED || status == PRINT_DATA_ERROR ||
                             status == PRINT_TEMP_ERROR;
        if (endable && !cancelling) {
            dialog_operation = 1;
            drawHalfPic(40, 40, gImage_printpagecanceldialog);
            ILI9341_fillRec1();
        }
    }
}
