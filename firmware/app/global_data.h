// Process-wide state shared between the main loop, the hot-plug thread and the
// print thread. Flags polled across threads are atomics: each is written whole
// by one side and only its latest value matters.
#pragma once

#include <pthread.h>
#include <sys/time.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/platform.h"

extern PlatformMutex mutex_printerStatus;   // the print status
extern PlatformMutex mutex_printerCommand;  // the current-button slot
extern PlatformMutex mutex_currentPage;     // created with the others, never locked
extern PlatformMutex mutex_serialPort;      // one whole exchange with the motion board
extern PlatformMutex mutex_usbPort;         // the read of the stick-mounted state

extern std::atomic<uint8_t> creat_print_pthread;  // a window asks for a print thread
extern pthread_t printTask_id;                    // the most recent print thread

// Print-time bookkeeping, in seconds of the monotonic clock.
extern std::atomic<int32_t> pre_get_time;
extern std::atomic<int32_t> total_paused_get_time;
extern std::atomic<int32_t> paused_get_time;
extern timeval tv1;  // taken when the print thread starts
extern timeval tv2;  // taken then, refreshed by the printing window

extern std::atomic<uint8_t> USB_detected;     // 1 while a stick is mounted
extern std::atomic<uint16_t> usb_file_count;  // 0xFFFE not scanned, 0xFFFF no folder

constexpr uint16_t USB_COUNT_UNSCANNED = 0xFFFE;
constexpr uint16_t USB_COUNT_NO_FOLDER = 0xFFFF;

// The settings folder on the board's own storage; the working directory
// whenever no print file is being read.
extern const char Velmor30Path[];

// Passes of the main loop since start-up (for inspection).
extern std::atomic<uint32_t> main_loop_passes;
