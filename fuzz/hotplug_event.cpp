// The hot-plug monitor's handling of any event message.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "usb/UsbController.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char message[4096] = {};
    memcpy(message, data, size < sizeof message - 1 ? size : sizeof message - 1);
    UsbController_HandleEvent(message);
    if (isUsbConnected > 1 || s_ishotplug > 1) __builtin_trap();
    return 0;
}
