#include "ui/ui.h"

#include <mutex>

#include "app/global_data.h"
#include "link/status.h"
#include "touch/lcdtp.h"

std::atomic<uint8_t> current_window_ID{INDEX_WINDOW_HOME};
std::atomic<uint8_t> next_window_ID{INDEX_WINDOW_HOME};
std::atomic<uint8_t> change_window{0};
uint8_t page_index = 0;
uint8_t file_index_num = 0;

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

namespace {
uint8_t press_flag = 1;  // the pen was seen up since the last press
}

// Until the windows exist, a pass converts each new press (no window takes
// it yet) and runs the periodic status poll.
void scanTouchInput(uint32_t n) {
    if (readpen() == 0 && press_flag == 1) {
        press_flag = 0;
        Convert_Pos();
    }
    if (readpen() == 1) press_flag = 1;
    if (n % 50 == 0) checkPrinterStatus();
}
