// The status parser on any bytes the motion board might send.
#include <cstddef>
#include <cstdint>

#include "link/command.h"
#include "link/status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    storeStatusReply(reinterpret_cast<const char*>(data), size);
    checkM105cmd();
    const int verdict = checkTemperature();
    if (verdict != 1 && verdict != TEMPERATURE_REFUSED) __builtin_trap();
    if (pravik3dprinter.zmin_state > 1 || pravik3dprinter.zmax_state > 1) __builtin_trap();
    if (pravik3dprinter.t_value > 0xFFFF) __builtin_trap();
    return 0;
}
