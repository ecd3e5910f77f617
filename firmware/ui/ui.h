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

// Main-loop state of the windows.
extern uint8_t press_flag;        // the pen was seen up since the last press
extern uint8_t dialog_operation;  // a yes/no dialog is over the current window
extern uint8_t save_pwm_led;      // hand the stored intensity to the board
extern uint8_t get_lew_pwm;       // the stored UV intensity
extern uint16_t ledSoftPwm;       // the intensity window's working value

// The file browser; the selected file is entry page_index * 5 + file_index_num.
extern uint8_t page_index;
extern uint8_t page_index_max;
extern uint8_t currentlistfilenum;
extern uint8_t file_index_num;
extern uint8_t pre_file_index_num;
extern uint8_t choose_file_first;
extern uint8_t choose_printfile;
extern uint8_t file_name_error;
extern uint8_t usb_device_out;
extern uint8_t enter_detial;

// The preview and the parameter windows.
extern uint8_t file_page_open_error;
extern uint8_t temperature_error_disable_print;
extern uint8_t parameterChanged;
extern uint8_t parameterEditOption;
extern uint8_t parameterSaveOption;
extern float parameterEdited;

void setCurrentButton(int code);
int getCurrentButton();
void clearCurrentButton();
// Clears the slot when it still holds `code`: a request made meanwhile
// stays for the print thread to see.
void takeCurrentButton(int code);

// One pass of the user interface, with the main loop's pass counter (0..49).
void scanTouchInput(uint32_t n);
// Draws a pending window request.
void actWindowChange();
// The periodic redraw of the windows with live figures.
void actDispalyInfo();
// The common yes/no dialog and the printing window's cancel dialog:
// 1 yes, 2 no, 3 elsewhere.
int dialogConfirm(uint16_t x, uint16_t y);
int dialogprintcancelConfirm(uint16_t x, uint16_t y);
// Asks for window `id` on the next pass.
void requestWindow(uint8_t id);

// The windows: a draw operation and a touch handler each.
void displayWindowHome();
void scanWindowHome(uint16_t x, uint16_t y);
void displayWindowFile();
void scanWindowFile(uint16_t x, uint16_t y);
void displayFileList();
void displayFilePageNumber();
void ChoseFile(uint8_t row);
uint8_t checkFileNameData(uint8_t row);
[[noreturn]] void moveTest1();
[[noreturn]] void ledTest1();

void displayWindowDetail();
// The stick of the preview was pulled or swapped since it was drawn.
bool previewStickChanged();
// The preview and the parameter windows after that: the open-error picture,
// and the next touch goes home.
void previewStickGone();
void preFilePrintInf();
void scanWindowDetail(uint16_t x, uint16_t y);
void displayWindowDetailmore();
void scanWindowDetailmore(uint16_t x, uint16_t y);
void displayWindowParameterEdit();
void scanWindowParameterEdit(uint16_t x, uint16_t y);
void displayWindowParameterSave();
void scanWindowParameterSave(uint16_t x, uint16_t y);

void displayWindowPrint();
void scanWindowPrint(uint16_t x, uint16_t y);
void displayPrintInformation();
void displayWindowSetting();
void scanWindowSetting(uint16_t x, uint16_t y);
void displayWindowMove();
void scanWindoMove(uint16_t x, uint16_t y);
void displayWindowLED();
void scanWindowLED(uint16_t x, uint16_t y);
void displayWindowLEDPWM();
void scanWindowLEDPwm(uint16_t x, uint16_t y);
void displayWindowLEDPWM1();
void scanWindowLEDPwm1(uint16_t x, uint16_t y);
void displayWindowAbout();
void scanWindowAbout(uint16_t x, uint16_t y);
void displayWindowMore();
void scanWindowMore(uint16_t x, uint16_t y);
void displayWindowTset();
void scanWindowTest(uint16_t x, uint16_t y);

// The UV light windows' state.
extern uint8_t get_lew_pwmBak;
extern uint8_t display_white_black;  // 1: the white test pattern is on the mask
extern uint8_t LED_diaplay_statue;   // 1: the light was switched on here
int isLedOff();                      // the light-on flag: non-zero while lit
void displayLEDpaneltemperature();

// Z move and about.
extern uint8_t default_move_distance;
extern const char PrintModelVelmor10[];
extern const char BuildMaxSize[];
extern const char FirmwareVersion[];
void changeMoveDistance();
void displayPrintModel();
void displayBuildableSize();
void displayVersion();

// The update window's operations; the manager has no entry for window 14.
void displayWindowUpdata();
void scanWindowUpdata(uint16_t x, uint16_t y);
int firmwareUpgrade();
int screenCalibration();
void disRebootCalibretion();

// The stored UV intensity (the volatile setting first, then the persistent
// file, else 250) and its persistent save.
uint8_t ledPwmGet();
void ledPwmSave(int value);
// The setting the intensity dialog stores until power-off.
void ledPwmSaveVolatile(int value);
