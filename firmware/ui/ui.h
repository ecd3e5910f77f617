// Window manager: window identifiers, the current-button slot, touch dispatch.
#pragma once

#include <atomic>
#include <cstdint>

enum : uint8_t {
    INDEX_WINDOW_HOME = 0,
    INDEX_WINDOW_FILE = 1,
    INDEX_WINDOW_DETAIL = 2,
    INDEX_WINDOW_DETAILMORE = 3,
    INDEX_WINDOW_PARAMETEREDIT = 4,
    INDEX_WINDOW_PARAMETERSAVE = 5,
    INDEX_WINDOW_PRINT = 6,
    INDEX_WINDOW_SETTING = 7,
    INDEX_WINDOW_MOVE = 8,
    INDEX_WINDOW_LED = 9,
    INDEX_WINDOW_LEDPWM = 10,
    INDEX_WINDOW_LEDPWM1 = 11,
    INDEX_WINDOW_ABOUT = 12,
    INDEX_WINDOW_MORE = 13,
    INDEX_WINDOW_UPDATA = 14,
    INDEX_WINDOW_TEST = 15,
};

// Requests the print thread reads from the current-button slot.
enum {
    rOPER_RESUME = 4,
    rOPER_PAUSE = 5,
    rOPER_TEMPPAUSE = 6,
    rOPER_CANCEL = 8,
    rOPER_NONE = 10,
};

// Window state lives on the main thread; atomics so the simulator's control
// server can read it.
extern std::atomic<uint8_t> current_window_ID;
extern std::atomic<uint8_t> next_window_ID;
extern std::atomic<uint8_t> change_window;

// The file browser's page and highlighted row; the selected file is entry
// page_index * 5 + file_index_num of the list.
extern uint8_t page_index;
extern uint8_t file_index_num;

void setCurrentButton(int code);
int getCurrentButton();
void clearCurrentButton();

// One pass of the user interface, with the main loop's pass counter (0..49).
void scanTouchInput(uint32_t n);
