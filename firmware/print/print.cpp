#include "print/print.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "app/global_data.h"
#include "app/global_func.h"
#include "link/command.h"
#include "link/status.h"
#include "print/print_file.h"
#include "print/safety_envelope.h"
#include "ui/ui.h"
#include "usb/tf.h"

std::atomic<uint8_t> is_printing_true{0};
std::atomic<uint8_t> diaplay_pause_print{0};
FileInformation file_information;

namespace {
int print_current_statue = 0;  // guarded by mutex_printerStatus

// The second line of the envelope: the Z commanded, counted from home (or
// from a zero set by hand) by the motion lines actually acknowledged. The
// job and the move window write it, never at once.
std::atomic<bool> zHomed{false};
std::atomic<double> commandedZ{0};
// Where the layer cycle takes its lifts from.
const PrintParameter* jobMotion = &printparameter;
// Six-decimal lines round each move by at most half a micrometre.
constexpr double kZSlackMm = 1e-5;

bool refuseMove(const char* line, const char* why) {
    printf("motion line refused (%s): %s\n", why, line);
    return false;
}

}  // namespace

bool printMove(bool down, float distance, float feed) {
    char line[kLineSize];
    if (formatMotionLine(line, down, distance, feed) < 0) {
        return refuseMove("G1", "does not fit a line");
    }
    if (!zHomed) return refuseMove(line, "the Z axis is not homed");
    if (!(distance >= 0) || !(feed >= ENVELOPE_FEED_MIN && feed <= ENVELOPE_FEED_MAX)) {
        return refuseMove(line, "outside the envelope");
    }
    const double target = commandedZ + (down ? -sentDistance(distance) : sentDistance(distance));
    if (target < -kZSlackMm || target > ENVELOPE_Z_TRAVEL_MM + kZSlackMm) {
        return refuseMove(line, "outside the Z travel");
    }
    if (send_engine_commands(line, 0) != 0) return refuseMove(line, "not sent");
    commandedZ = target;
    return true;
}

void useJobMotion(const PrintParameter* motion) {
    jobMotion = motion != nullptr ? motion : &printparameter;
}

const PrintParameter& jobMotionParameters() {
    return *jobMotion;
}

bool manualMoveInsideTravel(double delta) {
    if (!zHomed) return true;  // where it is, only the axis's end switches know
    const double target = commandedZ + delta;
    return target >= -kZSlackMm && target <= ENVELOPE_Z_TRAVEL_MM + kZSlackMm;
}

void manualMoveDone(double delta, bool acknowledged) {
    if (!acknowledged) {
        zHomed = false;  // it may or may not have moved
    } else if (zHomed) {
        commandedZ += delta;
    }
}

void manualZero(bool acknowledged) {
    commandedZ = 0;
    zHomed = acknowledged;
}

double printCommandedZ() {
    return zHomed ? commandedZ.load() : -1;
}

void setPrintStatus(int status) {
    std::lock_guard<PlatformMutex> lock(mutex_printerStatus);
    print_current_statue = status;
    file_information.status_copy = status;
}

int getPrintStatus() {
    std::lock_guard<PlatformMutex> lock(mutex_printerStatus);
    file_information.status_copy = print_current_statue;
    return print_current_statue;
}

// The status polls and the light and fan lines: their failure is logged by
// the exchange and not acted on, as the job has always run. The lines that
// must not be lost, the motions, go through printMove.
void printLine(const char* line) {
    send_engine_commands(line, 0);
}

bool stopJob(int status) {
    printErrorWait(status);
    return false;
}

void initPrintPara() {
    file_information.elapsed_time = 0;
    file_information.button_copy = rOPER_NONE;
    file_information.current_layer = 0;
    file_information.light_on = 0;
    file_information.progress = 0;
    diaplay_pause_print = 0;
    zHomed = false;  // every job homes before it moves
}

int checkPrintCancel() {
    return getCurrentButton() == rOPER_CANCEL ? 1 : 0;
}

int checkPrintStatue() {
    const int request = getCurrentButton();
    file_information.button_copy = request;
    switch (request) {
        // The exchange may take as long as the moves before it: a request
        // made meanwhile (a cancel) is not cleared with the pause's own.
        case rOPER_PAUSE:
            setPrintStatus(PRINT_PAUSING);
            printLine(printSts);
            takeCurrentButton(rOPER_PAUSE);
            setPrintStatus(PRINT_PAUSED);
            break;
        case rOPER_TEMPPAUSE:
            setPrintStatus(PRINT_TEMP_PAUSING);
            printLine(printSts);
            takeCurrentButton(rOPER_TEMPPAUSE);
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
    return (t > 100 || temperatureSensorFailed(t)) ? 1 : 0;
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
    for (const char* line : {printSts, printLedOff, printPreStep1, printPreStep2}) printLine(line);
    if (send_engine_commands(printPreStep3, 0) == 0) {
        zHomed = true;
        commandedZ = 0;
    }
    printLine(printSts);
}

bool actPrintMotorMoveUp() {
    const PrintParameter& p = *jobMotion;
    printLine(printSts);
    printLine(printLedOff);
    return printMove(false, p.lift_distance1, p.lift_speed1) &&
           printMove(false, p.lift_distance2 + p.ZThick, p.lift_speed2);
}

bool actPrintMotorMoveDown() {
    const PrintParameter& p = *jobMotion;
    printLine(printSts);
    printLine(printLedOff);
    return printMove(true, p.lift_distance1 + p.lift_distance2, p.drop_speed);
}

bool endExposure() {
    printLine(printSts);
    printLine(printLedOff);
    if (printTemperatureError()) return stopJob(PRINT_TEMP_ERROR);
    file_information.light_on = 0;
    return true;
}

bool liftAndReturn() {
    // A lift refused leaves the platform where it is: no return move follows.
    if (!actPrintMotorMoveUp()) return stopJob(PRINT_DATA_ERROR);
    while (checkPrintStatue() == 1) msleep(10);
    if (checkPrintCancel()) return false;
    if (!actPrintMotorMoveDown()) return stopJob(PRINT_DATA_ERROR);
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
    // The raise is clamped to the travel left, so stopping can never itself
    // leave the envelope (nor be refused and stop again).
    if (!zHomed) return;
    const double room = ENVELOPE_Z_TRAVEL_MM - commandedZ;
    if (room >= ENVELOPE_END_RAISE_MM) {
        if (send_engine_commands(printEndStep1, 0) == 0) commandedZ += ENVELOPE_END_RAISE_MM;
    } else if (room >= 0.000001) {
        char line[kLineSize];
        const double rest = std::floor(room * 1e6) / 1e6;
        snprintf(line, sizeof line, "G0 Z%f F300", rest);
        if (send_engine_commands(line, 0) == 0) commandedZ += rest;
    }
}

namespace {

// One layer of a normal print; false when the job has to leave the loop.
bool printLayer() {
    const PrintParameter& p = printparameter;
    printLine(printSts);
    printLine(printLedOff);
    if (printTemperatureError()) return stopJob(PRINT_TEMP_ERROR);
    if (displayPicData2K(printfp) != 1) return stopJob(PRINT_DATA_ERROR);
    if (printingCheckUsbStatus() != 1) return stopJob(PRINT_DATA_ERROR);
    file_information.current_layer = static_cast<uint16_t>(file_information.current_layer + 1);
    const bool bottom = static_cast<float>(file_information.current_layer) <= p.bottom_layers;
    // A temperature stop in the settle wait is not acted on: the light comes
    // on, and the exposure's wait, which checks every 100 ms, or the end of
    // the exposure stops the job.
    printWait(floatToU32(bottom ? p.b_stable_time : p.stable_time));
    printLine(printSts);
    printLine(printLedOn);
    file_information.light_on = 1;
    if (printWait(floatToU32(bottom ? p.burnin_time : p.curing_time)) == 1) {
        return stopJob(PRINT_TEMP_ERROR);
    }
    return endExposure() && liftAndReturn();
}

}  // namespace

int printSyncControl() {
    setPrintStatus(PRINT_PRE);
    initPrintPara();
    useJobMotion(nullptr);
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
