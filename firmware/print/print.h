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

// Opens and maps the exposure screen. 0 on success.
int FB_init();

// Non-zero when the selected file is the material test.
int getMaterialTest();

// The two kinds of job the print thread runs.
int printSyncControl();
int materialTestSyncControl();
