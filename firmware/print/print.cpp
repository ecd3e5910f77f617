#include "print/print.h"

#include <cstdio>
#include <mutex>

#include "app/global_data.h"

std::atomic<uint8_t> is_printing_true{0};
FileInformation file_information;

namespace {
int print_current_statue = 0;  // guarded by mutex_printerStatus
}

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

// Stand-ins until the exposure screen and the sequencer are built: the
// screen is there, and a job starts and winds up at once.
int FB_init() {
    return 0;
}

int getMaterialTest() {
    return 0;
}

int printSyncControl() {
    setPrintStatus(PRINT_PRE);
    puts("print job: sequencer not built yet");
    setPrintStatus(PRINT_END);
    return 1;
}

int materialTestSyncControl() {
    return printSyncControl();
}
