#include "link/status.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/command.h"
#include "ui/ui.h"

PrinterStatus pravik3dprinter;
std::atomic<int16_t> current_temperature{0};

namespace {
// Finds `marker` at or after `from`; on success `from` moves just past it and
// `value` is the decimal number that follows.
bool nextValue(const char*& from, const char* marker, long& value) {
    const char* at = strstr(from, marker);
    if (at == nullptr) {
        puts("M105String don't contain max");
        return false;
    }
    from = at + strlen(marker);
    value = strtol(from, nullptr, 10);
    return true;
}
}  // namespace

void checkPrinterStatus() {
    if (current_window_ID != INDEX_WINDOW_PRINT) sendGCode(checkprinter);
    checkM105cmd();
}

void checkM105cmd() {
    char raw[kReplySize];
    copyStatusReply(raw);
    char text[kReplySize + 1];
    memcpy(text, raw, kReplySize);
    text[kReplySize] = '\0';

    const char* p = text;
    long v = 0;
    if (!nextValue(p, "ok ", v)) return;
    pravik3dprinter.ok_value = static_cast<uint16_t>(v);
    if (!nextValue(p, "mv/", v)) return;
    pravik3dprinter.mv_value = static_cast<uint16_t>(v);
    if (!nextValue(p, "rpm/", v)) return;
    pravik3dprinter.rpm_value = static_cast<uint16_t>(v);
    if (!nextValue(p, "rpm/", v)) return;
    // A number that no 16-bit sensor gives is a failed reading, not its low
    // bits: those could read as a cold panel.
    const int16_t t =
        v >= INT16_MIN && v <= INT16_MAX ? static_cast<int16_t>(v) : TEMPERATURE_SENSOR_FAILED;
    pravik3dprinter.led_temperature = t;
    current_temperature = t;
    if (!nextValue(p, "T/", v)) return;
    pravik3dprinter.t_value = static_cast<uint32_t>(v) & 0xFFFFu;
    if (!nextValue(p, "Zmin", v)) return;
    pravik3dprinter.zmin_state = v != 0 ? 1 : 0;
    if (!nextValue(p, "Zmax", v)) return;
    pravik3dprinter.zmax_state = v != 0 ? 1 : 0;
}

int checkTemperature() {
    const int16_t t = current_temperature;
    return (t > 55 || temperatureSensorFailed(t)) ? TEMPERATURE_REFUSED : 1;
}
