// The hot-plug monitor's handling of any series of event messages, held
// against a model: the action is the text before the first '@' (or all of
// it); "add" connects and "remove" disconnects, each only when it changes
// the state, and only a change raises the hot-plug flag and counts.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "firmware/usb/UsbController.h"
#include "text_model.h"

namespace {

struct Model {
    int connected = 0;
    int hotplug = 0;
    uint32_t changes = 0;
};

void apply(const std::string& message, Model& m) {
    const std::string action = message.substr(0, message.find('@'));
    if (action == "add" && m.connected != 1) {
        m.connected = 1;
        m.hotplug = 1;
        ++m.changes;
    } else if (action == "remove" && m.connected == 1) {
        m.connected = 0;
        m.hotplug = 1;
        ++m.changes;
    }
}

}  // namespace

// Messages separated by NUL bytes, as one recv() each; the monitor's buffer
// holds 4095 bytes of one.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Model model{isUsbConnected, s_ishotplug, usb_stick_changes};
    fuzz_model::forEachPart(data, size, [&](const char* text, size_t length) {
        char buf[4096] = {};
        const size_t n = length < sizeof buf - 1 ? length : sizeof buf - 1;
        memcpy(buf, text, n);
        UsbController_HandleEvent(buf);
        apply(std::string(buf, n), model);
        if (isUsbConnected != model.connected || s_ishotplug != model.hotplug ||
            usb_stick_changes != model.changes) {
            __builtin_trap();
        }
        // The mount monitor takes the flag; a later change must raise it again.
        s_ishotplug = 0;
        model.hotplug = 0;
    });
    return 0;
}
