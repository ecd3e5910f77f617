// The print job: status, requests, the job record and the sequencer that
// runs in the print thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "print/framebuffer.h"

enum {
    PRINT_PRE = 1,
    PRINT_RUNNING = 2,
    PRINT_TEMP_PAUSED = 3,
    PRINT_TEMP_PAUSING = 4,
    PRINT_PAUSED = 5,
    PRINT_PAUSING = 6,
    PRINT_CANCELED = 9,
    PRINT_FINISHED = 10,
    PRINT_END = 11,
    PRINT_DATA_ERROR = 12,
    PRINT_TEMP_ERROR = 13,
};

extern std::atomic<uint8_t> is_printing_true;     // 1 while the print thread runs
extern std::atomic<uint8_t> diaplay_pause_print;  // the printing window's pause face

// The running job's record: written by the print thread, read by the printing
// window without a lock, so each field is an atomic.
struct FileInformation {
    std::atomic<uint8_t> light_on{0};
    std::atomic<uint8_t> progress{0};  // percent
    std::atomic<uint16_t> current_layer{0};
    std::atomic<uint16_t> total_layer{0};
    std::atomic<uint32_t> elapsed_time{0};  // s, pauses left out
    std::atomic<uint32_t> print_times{0};   // estimated total, ms
    std::atomic<int> status_copy{0};
    std::atomic<int> button_copy{0};
};
extern FileInformation file_information;

void setPrintStatus(int status);
int getPrintStatus();

// Non-zero when the selected job is the material test.
void setMaterialTest();
void resetMaterialTest();
int getMaterialTest();

// The two kinds of job the print thread runs.
int printSyncControl();
int materialTestSyncControl();

// Pieces of a job, shared by both kinds.
void initPrintPara();
int checkPrintCancel();
// One pass of the checkpoint after a layer's lift: 1 to stay, 0 to go on.
int checkPrintStatue();
// Waits `ms` in 100 ms steps watching the temperature: 1 when it stopped
// early for a temperature error, else 0.
int printWait(uint32_t ms);
int printTemperatureError();
int printingCheckUsbStatus();
// Sets `status` and waits for the cancel request; the light is already off.
void printErrorWait(int status);
void actPrintPrepare();
// The lift and the return of the layer cycle; false when a line would leave
// the envelope or did not go out (nothing further is sent).
bool actPrintMotorMoveUp();
bool actPrintMotorMoveDown();
void printEndCommand();
// One motion line, sent only when it keeps the commanded Z inside the
// envelope from a homed axis at an envelope feed.
bool printMove(bool down, float distance, float feed);
// The lifts of the layer cycle come from printparameter, or from `motion`
// while it is given (the material test's own, when no print file gave any).
struct PrintParameter;
void useJobMotion(const PrintParameter* motion);
// What the running job moves by (its thread only).
const PrintParameter& jobMotionParameters();
// The Z the job has commanded from home, -1 before it homed.
double printCommandedZ();
// The move window's jogs, on the same count: a jog of `delta` mm stays
// inside the Z travel (always true while no home or zero is known); a jog
// sent, acknowledged or not (then the height is unknown again); the Z axis
// homed or zeroed by hand.
bool manualMoveInsideTravel(double delta);
void manualMoveDone(double delta, bool acknowledged);
void manualZero(bool acknowledged);
// Ends a layer loop with the error wait for `status`; always false.
bool stopJob(int status);
// The light off after an exposure and the temperature checked; false (after
// the error wait) when the job has to stop.
bool endExposure();
// The lift, the checkpoint, and back down unless cancelled; false on cancel.
bool liftAndReturn();
// A job that never moved anything: its data error waits for the user's
// cancel, which takes the printing window home. Returns `result`.
int endUnstartedJob(int result);
// The end of a job: cancelled or finished, the end lines, PRINT_END.
void windUpJob();
// Sends one line and waits for its acknowledgement.
void printLine(const char* line);
