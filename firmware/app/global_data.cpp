#include "app/global_data.h"

PlatformMutex mutex_printerStatus;
PlatformMutex mutex_printerCommand;
PlatformMutex mutex_currentPage;
PlatformMutex mutex_serialPort;
PlatformMutex mutex_usbPort;

std::atomic<uint8_t> creat_print_pthread{0};
pthread_t printTask_id{};

std::atomic<int32_t> pre_get_time{0};
std::atomic<int32_t> total_paused_get_time{0};
std::atomic<int32_t> paused_get_time{0};
timeval tv1{};
timeval tv2{};

std::atomic<uint8_t> USB_detected{0};
std::atomic<uint16_t> usb_file_count{USB_COUNT_UNSCANNED};

const char Velmor30Path[] = "/opt/Pravik3D";

std::atomic<uint32_t> main_loop_passes{0};
