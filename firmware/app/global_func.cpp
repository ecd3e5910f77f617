#include "app/global_func.h"

#include <pthread.h>

#include <cstdio>
#include <cstring>

#include "app/global_data.h"
#include "assets/pictures.h"
#include "display/draw.h"
#include "display/driver.h"
#include "display/text.h"
#include "link/command.h"
#include "platform/platform.h"
#include "print/framebuffer.h"
#include "print/print.h"
#include "ui/ui.h"
#include "usb/UsbController.h"
#include "usb/tf.h"

int msleep(int32_t ms) {
    return platformSleepUs(static_cast<int64_t>(ms) * 1000);
}

timeval monotonicTimeval() {
    const int64_t us = platformMonotonicUs();
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(us / 1000000);
    tv.tv_usec = static_cast<suseconds_t>(us % 1000000);
    return tv;
}

uint32_t timeElapsed(int64_t sec, int64_t usec) {
    const timeval now = monotonicTimeval();
    return static_cast<uint32_t>((now.tv_sec - sec) * 1000 + (now.tv_usec - usec) / 1000);
}

void MutexInit() {}

void* PrintTask(void*) {
    is_printing_true = 1;
    if (getMaterialTest() != 0) {
        materialTestSyncControl();
    } else {
        printSyncControl();
    }
    is_printing_true = 0;
    return nullptr;
}

int startUp() {
    drawFullBackPic(gImage_homegray);
    ILI9341_fillRec1();
    if (FB_init() != 0) {
        drawHalfPic(40, 40, gImage_driveboarderror);
        ILI9341_fillRec1();
        return 1;
    }
    send_engine_commands(highfan, static_cast<int>(strlen(highfan)));
    USB_detected = 0;
    usb_file_count = USB_COUNT_UNSCANNED;
    UsbController_Init();
    openHZK();
    return 0;
}

void main1(int, char**) {
    if (startUp() != 0) {
        for (;;) msleep(1000);  // nothing else may run without the exposure screen
    }
    uint32_t n = 0;
    for (;;) n = mainLoopPass(n);
}

uint32_t mainLoopPass(uint32_t n) {
    if (n % 50 == 0) {
        UsbController_MountMonitor();
        USB_detected = usbDetectedAndMount() ? 1 : 0;
        n = 0;
    }
    scanTouchInput(n);
    msleep(20);
    n = n + 1;
    startRequestedPrint();
    platformIdle();
    main_loop_passes.fetch_add(1, std::memory_order_relaxed);
    return n;
}

void startRequestedPrint() {
    if (creat_print_pthread.exchange(0) == 0) return;
    // The printing window reads the status on its first draw: the previous
    // job's end must not send it home before this job's thread has run.
    setPrintStatus(PRINT_PRE);
    tv1 = monotonicTimeval();
    pre_get_time = static_cast<int32_t>(tv1.tv_sec);
    total_paused_get_time = 0;
    paused_get_time = 0;
    tv2 = monotonicTimeval();
    // Never joined: detach so the thread's resources go when the job ends.
    if (platformThreadStart(&printTask_id, "print", PrintTask, nullptr) == 0) {
        pthread_detach(printTask_id);
    }
}
