// Independent models of the C library's text reading that the firmware's
// parsers rely on, for the fuzz targets to hold them against.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace fuzz_model {

// Calls `each(text, length)` for every part of the input between NUL bytes
// (at least once, for an empty input too).
template <class Each>
void forEachPart(const uint8_t* data, size_t size, Each&& each) {
    const char* bytes = reinterpret_cast<const char*>(data);
    size_t at = 0;
    do {
        const void* nul = memchr(bytes + at, '\0', size - at);
        const size_t end =
            nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - bytes) : size;
        each(bytes + at, end - at);
        at = end + 1;
    } while (at < size);
}

inline bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// strtol(s, nullptr, 10): optional white space and sign, then digits,
// saturating at the bounds of `long`; 0 when there are no digits.
inline long decimal(const char* s) {
    while (isSpace(*s)) ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = *s++ == '-';
    long v = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        const int d = *s - '0';
        if (!negative && v > (LONG_MAX - d) / 10) return LONG_MAX;
        if (negative && v < (LONG_MIN + d) / 10) return LONG_MIN;
        v = negative ? v * 10 - d : v * 10 + d;
    }
    return v;
}

// Reads lines of a text the way a reader with a `max`-character line
// buffer does that throws away the rest of a longer line.
class Lines {
  public:
    explicit Lines(std::string text) : text_(std::move(text)) {}
    // False at the end of the text.
    bool next(size_t max, std::string& line) {
        if (at_ >= text_.size()) return false;
        const size_t nl = text_.find('\n', at_);
        const size_t whole = nl == std::string::npos ? text_.size() - at_ : nl + 1 - at_;
        line = text_.substr(at_, whole < max ? whole : max);
        at_ += whole;
        return true;
    }

  private:
    std::string text_;
    size_t at_ = 0;
};

}  // namespace fuzz_model
