// The status parser on any bytes the motion board might send, held against a
// model of the reply's grammar written from scratch: the markers in order,
// each followed by a decimal number as strtol reads it (saturating at the
// bounds of `long`). A marker that is missing ends the parse and leaves the
// fields after it as the previous reply set them.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "firmware/link/command.h"
#include "firmware/link/status.h"
#include "text_model.h"

namespace {

struct Model {
    uint16_t ok = 0, mv = 0, rpm = 0;
    int16_t temperature = 0;
    uint32_t t = 0;
    uint8_t zmin = 0, zmax = 0;
};

// The first `marker` in `text` at or after `from`, by plain comparison.
const char* find(const char* from, const char* marker) {
    const size_t m = strlen(marker);
    for (const char* at = from; *at != '\0'; ++at) {
        size_t i = 0;
        while (i < m && at[i] == marker[i]) ++i;
        if (i == m) return at;
    }
    return nullptr;
}

void apply(const char* text, Model& m) {
    static const char* const kMarkers[] = {"ok ", "mv/", "rpm/", "rpm/", "T/", "Zmin", "Zmax"};
    const char* p = text;
    for (int field = 0; field < 7; ++field) {
        const char* at = find(p, kMarkers[field]);
        if (at == nullptr) return;
        p = at + strlen(kMarkers[field]);
        const long v = fuzz_model::decimal(p);
        switch (field) {
            case 0: m.ok = static_cast<uint16_t>(static_cast<unsigned long>(v) & 0xFFFF); break;
            case 1: m.mv = static_cast<uint16_t>(static_cast<unsigned long>(v) & 0xFFFF); break;
            case 2: m.rpm = static_cast<uint16_t>(static_cast<unsigned long>(v) & 0xFFFF); break;
            case 3:
                m.temperature = v < -32768 || v > 32767 ? int16_t{-10} : static_cast<int16_t>(v);
                break;
            case 4: m.t = static_cast<uint32_t>(static_cast<unsigned long>(v) & 0xFFFF); break;
            case 5: m.zmin = v != 0; break;
            case 6: m.zmax = v != 0; break;
        }
    }
}

}  // namespace

// Several replies in one input, separated by NUL bytes, so that the fields a
// short reply leaves alone are checked too.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Model model;
    fuzz_model::forEachPart(data, size, [&](const char* reply, size_t length) {
        storeStatusReply(reply, length);
        checkM105cmd();

        // The parser sees at most one reply buffer of it.
        char text[kReplySize + 1] = {};
        memcpy(text, reply, length < size_t{kReplySize} ? length : size_t{kReplySize});
        apply(text, model);

        const PrinterStatus& s = pravik3dprinter;
        if (s.ok_value != model.ok || s.mv_value != model.mv || s.rpm_value != model.rpm ||
            s.led_temperature != model.temperature || current_temperature != model.temperature ||
            s.t_value != model.t || s.zmin_state != model.zmin || s.zmax_state != model.zmax) {
            __builtin_trap();
        }
        const bool refused = model.temperature > 55 || model.temperature <= -10;
        if (checkTemperature() != (refused ? TEMPERATURE_REFUSED : 1)) __builtin_trap();
    });
    return 0;
}
