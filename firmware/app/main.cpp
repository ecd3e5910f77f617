// Process entry of the firmware.
#include <cstdio>

#include "app/global_func.h"
#include "display/driver.h"
#include "link/serial.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    platformStart(argc, argv);
    ILI_INIT();
    MutexInit();
    puts("Serial_init");
    SerialCtrlInit();
    main1(argc, argv);
}
