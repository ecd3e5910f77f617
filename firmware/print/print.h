// The print job: status, the exposure screen, the sequencer.
#pragma once

#include <atomic>
#include <cstdint>

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

extern std::atomic<uint8_t> is_printing_true;  // 1 while the print thread runs

void setPrintStatus(int status);
int getPrintStatus();

// Opens and maps the exposure screen. 0 on success.
int FB_init();

// Non-zero when the selected file is the material test.
int getMaterialTest();

// The two kinds of job the print thread runs.
int printSyncControl();
int materialTestSyncControl();
