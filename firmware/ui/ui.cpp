#include "ui/ui.h"

#include <mutex>

#include "app/global_data.h"
#include "link/status.h"

std::atomic<uint8_t> current_window_ID{INDEX_WINDOW_HOME};
std::atomic<uint8_t> next_window_ID{INDEX_WINDOW_HOME};
std::atomic<uint8_t> change_window{0};

namespace {
int ui_print_cmd = 0;  // guarded by mutex_printerCommand
}

void setCurrentButton(int code) {
    std::lock_guard<std::mutex> lock(mutex_printerCommand);
    ui_print_cmd = code;
}

int getCurrentButton() {
    std::lock_guard<std::mutex> lock(mutex_printerCommand);
    return ui_print_cmd;
}

void clearCurrentButton() {
    setCurrentButton(rOPER_NONE);
}

// Until the windows exist, a pass is only the periodic status poll.
void scanTouchInput(uint32_t n) {
    if (n % 50 == 0) checkPrinterStatus();
}
