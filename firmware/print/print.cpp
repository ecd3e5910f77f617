#include "print/print.h"

#include <cstdio>
#include <mutex>

#include "app/global_data.h"
#include "app/global_func.h"
#include "link/command.h"
#include "link/status.h"
#include "print/print_file.h"
#include "ui/ui.h"
#include "usb/tf.h"

std::atomic<uint8_t> is_printing_true{0};
std::atomic<uint8_t> diaplay_pause_print{0};
FileInformation file_information;

namespace {
int print_current_statue = 0;  // guarded by mutex_printerStatus

// A motion line: "G1 Z%f F%f", or with a minus sign for the way down.
void motionLine(const char* format, float distance, float speed) {
    char line[kLineSize];
    snprintf(line, sizeof line, format, static_cast<double>(distance), static_cast<double>(speed));
    printLine(line);
}
}  // namespace

void setPrintStatus(int status) {
    std::lock_guard<std::mutex> lock(mutex_printerStatus);
    print_current_statue = status;
    file_information.status_copy = status;
}

int getPrintStatus() {
    std::lock_guard<std::mutex> lock(mutex_printerStatus);
    file_information.status_copy = print_current_statue;
    return print_current_statue;
}

void printLine(const char* line) {
    send_engine_commands(line, 0);
}

void initPrintPara() {
    file_information.elapsed_time = 0;
    file_information.button_copy = rOPER_NONE;
    file_information.current_layer = 0;
    file_information.light_on = 0;
    file_information.progress = 0;
    diaplay_pause_print = 0;
}

int checkPrintCancel() {
    return getCurrentButton() == rOPER_CANCEL ? 1 : 0;
}

int checkPrintStatue() {
    const int request = getCurrentButton();
    file_information.button_copy = request;
    switch (request) {
        case rOPER_PAUSE:
            setPrintStatus(PRINT_PAUSING);
            printLine(printSts);
            clearCurrentButton();
            setPrintStatus(PRINT_PAUSED);
            break;
        case rOPER_TEMPPAUSE:
            setPrintStatus(PRINT_TEMP_PAUSING);
            printLine(printSts);
            clearCurrentButton();
            setPrintStatus(PRINT_TEMP_PAUSED);
            break;
        case rOPER_RESUME:
            setPrintStatus(PRINT_RUNNING);
            clearCurrentButton();
            break;
        case rOPER_CANCEL: return 0;
        default: break;
    }
    printLine(checkprinter);
    if (getPrintStatus() == PRINT_RUNNING) return 0;
    msleep(10);
    return 1;
}

int printTemperatureError() {
    const int16_t t = current_temperature;
    return (t > 100 || t == TEMPERATURE_SENSOR_FAILED) ? 1 : 0;
}

int printingCheckUsbStatus() {
    return usbDetectedAndMount();
}

int printWait(uint32_t ms) {
    const timeval start = monotonicTimeval();
    const uint32_t whole = ms / 100 * 100;
    int result = 0;
    for (uint32_t steps = 1; timeElapsed(start.tv_sec, start.tv_usec) < whole; ++steps) {
        msleep(100);
        if (steps % 10 == 0) printLine(checkprinter);
        if (printTemperatureError()) {
            printLine(printSts);
            printLine(printLedOff);
            result = 1;
            break;
        }
    }
    msleep(static_cast<int32_t>(ms % 100));
    return result;
}

void printErrorWait(int status) {
    file_information.light_on = 0;
    setPrintStatus(status);
    while (getCurrentButton() != rOPER_CANCEL) msleep(20);
}

void actPrintPrepare() {
    for (const char* line :
         {printSts, printLedOff, printPreStep1, printPreStep2, printPreStep3, printSts}) {
        printLine(line);
    }
}

void actPrintMotorMoveUp() {
    printLine(printSts);
    printLine(printLedOff);
    motionLine("G1 Z%f F%f", printparameter.lift_distance1, printparameter.lift_speed1);
    motionLine("G1 Z%f F%f", printparameter.lift_distance2 + printparameter.ZThick,
               printparameter.lift_speed2);
}

void actPrintMotorMoveDown() {
    printLine(printSts);
    printLine(printLedOff);
    motionLine("G1 Z-%f F%f", printparameter.lift_distance1 + printparameter.lift_distance2,
               printparameter.drop_speed);
}

bool endExposure() {
    printLine(printSts);
    printLine(printLedOff);
    if (printTemperatureError()) return printErrorWait(PRINT_TEMP_ERROR), false;
    file_information.light_on = 0;
    return true;
}

bool liftAndReturn() {
    actPrintMotorMoveUp();
    while (checkPrintStatue() == 1) msleep(10);
    if (checkPrintCancel()) return false;
    actPrintMotorMoveDown();
    return true;
}

int endUnstartedJob(int result) {
    printErrorWait(PRINT_DATA_ERROR);
    clearCurrentButton();
    setPrintStatus(PRINT_CANCELED);
    setPrintStatus(PRINT_END);
    return result;
}

void windUpJob() {
    if (getCurrentButton() == rOPER_CANCEL) {
        clearCurrentButton();
        setPrintStatus(PRINT_CANCELED);
    } else {
        setPrintStatus(PRINT_FINISHED);
    }
    printEndCommand();
    printLine(printSts);
    clearCurrentButton();
    setPrintStatus(PRINT_END);
}

void printEndCommand() {
    if (printfp != nullptr) fclose(printfp);
    printfp = nullptr;
    printLine(printLedOff);
    printLine(printPreStep2);
    printLine(printEndStep1);
}

namespace {

// One layer of a normal print; false when the job has to leave the loop.
bool printLayer() {
    const PrintParameter& p = printparameter;
    printLine(printSts);
    printLine(printLedOff);
    if (printTemperatureError()) return printErrorWait(PRINT_TEMP_ERROR), false;
    if (displayPicData2K(printfp) != 1) return printErrorWait(PRINT_DATA_ERROR), false;
    if (printingCheckUsbStatus() != 1) return printErrorWait(PRINT_DATA_ERROR), false;
    file_information.current_layer = static_cast<uint16_t>(file_information.current_layer + 1);
    const bool bottom = static_cast<float>(file_information.current_layer) <= p.bottom_layers;
    printWait(floatToU32(bottom ? p.b_stable_time : p.stable_time));
    printLine(printSts);
    printLine(printLedOn);
    file_information.light_on = 1;
    if (printWait(floatToU32(bottom ? p.burnin_time : p.curing_time)) == 1) {
        return printErrorWait(PRINT_TEMP_ERROR), false;
    }
    return endExposure() && liftAndReturn();
}

}  // namespace

int printSyncControl() {
    setPrintStatus(PRINT_PRE);
    initPrintPara();
    printf("1 setPrintStatus(PRINT_PRE) %d\n", getPrintStatus());
    const int check = printFileHeaderCheck();
    if (check != PRINT_FILE_OK) return endUnstartedJob(check);

    setPrintStatus(PRINT_RUNNING);
    actPrintPrepare();
    printLine(printSts);
    printLine(highfan);
    printf("current layer = %d total_layer = %d\n", file_information.current_layer.load(),
           file_information.total_layer.load());
    while (file_information.current_layer < file_information.total_layer && printLayer()) {
    }

    puts("end print");
    fbDisplayTest(0);
    windUpJob();
    releaseLayerBuffer();
    return 1;
}
