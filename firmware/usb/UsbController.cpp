#include "usb/UsbController.h"

// Stand-ins until the hot-plug monitor is built: no stick is ever seen.
int UsbController_Init() {
    return -1;
}
void UsbController_MountMonitor() {}
