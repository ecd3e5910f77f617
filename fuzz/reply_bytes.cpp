// The reply buffer of one exchange fed any bytes in any chunking, as the
// serial reads would deliver them: it never overflows, and it reports "ok"
// exactly when the bytes since the last kept byte hold one.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "firmware/link/command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char reply[kReplySize + 1] = {};
    int count = 0;
    std::string seen;  // what the buffer should hold, modelled independently
    size_t at = 0;
    while (at < size) {
        // The first byte of each chunk chooses its length.
        size_t want = data[at++] % 64 + 1;
        const size_t space = static_cast<size_t>(kReplySize - count);
        if (want > space) want = space;
        if (want > size - at) want = size - at;
        if (want == 0) break;
        memcpy(reply + count, data + at, want);
        seen.append(reinterpret_cast<const char*>(data + at), want);
        at += want;
        const bool ok = replyTakeBytes(reply, count, static_cast<int>(want));
        if (count < 0 || count > kReplySize || reply[count] != '\0') __builtin_trap();
        if (ok != (seen.find("ok") != std::string::npos)) __builtin_trap();
        if (ok) return 0;
        if (seen.size() >= static_cast<size_t>(kReplySize)) seen.erase(0, seen.size() - 1);
        if (seen.size() != static_cast<size_t>(count) ||
            memcmp(reply, seen.data(), seen.size()) != 0) {
            __builtin_trap();
        }
    }
    return 0;
}
