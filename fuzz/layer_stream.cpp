// Layer records read from a stream as the print thread reads them, into a
// layer buffer of the capacity a file asked for: counts of 0, above the
// buffer or above a frame are refused before a byte of code is read; a record
// cut short by the end of the stream or a read error is not decoded; what is
// decoded matches a value-by-value reference, and pixels a layer does not
// cover keep the previous layer's.
//
// Input: two bytes of buffer capacity, one byte for the size of each read
// the stream gives, two bytes for where the stream fails (0: it does not),
// then the stream.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "firmware/print/framebuffer.h"
#include "firmware/print/layer_code.h"
#include "firmware/print/print_file.h"
#include "layer_reference.h"

namespace {

// Layers covering more are not decoded (a 24.9 MB write each); the walker
// target checks their codes.
constexpr size_t kCompared = 1 << 16;

struct Stream {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    size_t chunk;   // bytes per read at most
    size_t failAt;  // a read reaching this offset fails; size + 1: never
};

ssize_t readStream(void* cookie, char* buf, size_t want) {
    Stream& s = *static_cast<Stream*>(cookie);
    if (s.at >= s.failAt) return -1;
    size_t n = want < s.chunk ? want : s.chunk;
    if (n > s.size - s.at) n = s.size - s.at;
    if (s.at + n > s.failAt) n = s.failAt - s.at;
    memcpy(buf, s.data + s.at, n);
    s.at += n;
    return static_cast<ssize_t>(n);
}

struct Expected {
    int result;
    uint64_t values = 0;  // what the decoded runs cover
};

// What Read2KDisplayData must answer for the record at `at`, moving `at` as
// far as it reads.
Expected expected(const Stream& s, size_t& at, uint32_t capacity, std::vector<uint8_t>& want) {
    const size_t readable = s.failAt < s.size ? s.failAt : s.size;
    if (readable - at < 4) {
        at = readable;
        return {LAYER_COUNT_UNREADABLE};
    }
    uint32_t n;
    memcpy(&n, s.data + at, 4);
    at += 4;
    if (n == 0 || n > LAYER_CODE_MAX || n > capacity) return {LAYER_BAD_COUNT};
    if (readable - at < n) {
        at = readable;
        return {LAYER_COUNT_UNREADABLE};
    }
    const LayerCodeCheck ref = fuzz_model::referenceDecode(s.data + at, n, want);
    at += n;
    return {ref.result, ref.values};
}

// The records as the reader meets them, at most 64: true while there is
// another to read.
template <class Each>
void forEachRecord(const Stream& s, uint32_t capacity, std::vector<uint8_t>& want, Each&& each) {
    size_t at = 0;
    for (int record = 0; record < 64; ++record) {
        const size_t before = at;
        const Expected e = expected(s, at, capacity, want);
        if (!each(e) || e.result == LAYER_COUNT_UNREADABLE || at == before) return;
    }
}

uint8_t* frame() {
    static uint8_t* f = static_cast<uint8_t*>(calloc(FRAME_BYTES, 1));
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (freopen("/dev/null", "w", stdout) == nullptr) abort();  // the reader's log lines
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const uint32_t capacity = 1 + ((uint32_t{data[0]} << 8 | data[1]) & 0x1FFF);
    const size_t chunk = 1 + data[2];
    const size_t fail = uint32_t{data[3]} << 8 | data[4];
    Stream s{data + 5, size - 5, 0, chunk, fail == 0 ? size : fail - 1};

    // Every layer the reader will decode must stay within the compared values.
    bool small = true;
    std::vector<uint8_t> scratch;
    forEachRecord(s, capacity, scratch, [&](const Expected& e) {
        small = small && e.values <= kCompared;
        return small;
    });
    if (!small) return 0;

    // The buffer exactly as large as asked, so a read past it is caught.
    display_2K_data = static_cast<uint8_t*>(malloc(capacity));
    display_2K_capacity = capacity;
    p_fb = frame();
    memset(p_fb, 0, kCompared + 3);
    std::vector<uint8_t> want(kCompared + 3, 0);

    cookie_io_functions_t io{readStream, nullptr, nullptr, nullptr};
    FILE* fp = fopencookie(&s, "rb", io);
    if (fp == nullptr) abort();
    // The stream hands the reader what stdio asks for, no more, so its reads
    // are the sizes chosen above.
    setvbuf(fp, nullptr, _IONBF, 0);

    forEachRecord(s, capacity, want, [&](const Expected& e) {
        const int got = Read2KDisplayData(fp);
        if (got != e.result) __builtin_trap();
        if (got == LAYER_DONE && memcmp(p_fb, want.data(), want.size()) != 0) __builtin_trap();
        // After a refusal the frame holds whatever was written before it.
        if (got == LAYER_RUN_TOO_LONG) memcpy(want.data(), p_fb, want.size());
        return true;
    });
    fclose(fp);
    p_fb = nullptr;
    free(display_2K_data);
    display_2K_data = nullptr;
    display_2K_capacity = 0;
    return 0;
}
