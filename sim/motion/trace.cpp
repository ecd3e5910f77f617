#include "trace.h"

#include <iconv.h>

#include <algorithm>

#include "sim/sim_platform.h"

namespace sim {

Trace::~Trace() {
    if (mirror_ != nullptr) fclose(mirror_);
}

bool Trace::mirrorTo(const std::string& path) {
    FILE* f = fopen(path.c_str(), "w");
    if (f == nullptr) return false;
    std::lock_guard<std::mutex> lock(lock_);
    if (mirror_ != nullptr) fclose(mirror_);
    mirror_ = f;
    return true;
}

void Trace::add(char dir, std::string text) {
    const int64_t t = nowMs();
    std::lock_guard<std::mutex> lock(lock_);
    if (mirror_ != nullptr) {
        fprintf(mirror_, "%lld %c %s\n", static_cast<long long>(t), dir, text.c_str());
        fflush(mirror_);
    }
    lines_.push_back(TraceLine{next_++, t, dir, std::move(text)});
    while (lines_.size() > capacity_) lines_.pop_front();
}

std::vector<TraceLine> Trace::since(uint64_t since) const {
    std::lock_guard<std::mutex> lock(lock_);
    std::vector<TraceLine> out;
    for (const TraceLine& l : lines_) {
        if (l.seq >= since) out.push_back(l);
    }
    return out;
}

TraceSlice Trace::read(uint64_t since, size_t limit) const {
    std::lock_guard<std::mutex> lock(lock_);
    TraceSlice s;
    s.next = next_;
    s.held_from = lines_.empty() ? next_ : lines_.front().seq;
    const uint64_t from = std::max(since, next_ > limit ? next_ - limit : 0);
    const uint64_t first = std::max(from, s.held_from);
    if (since < first) {
        s.skipped_from = since;
        s.skipped = std::min(first, next_) - since;
    }
    for (uint64_t seq = first; seq < next_; ++seq) s.lines.push_back(lines_[seq - s.held_from]);
    return s;
}

uint64_t Trace::nextSeq() const {
    std::lock_guard<std::mutex> lock(lock_);
    return next_;
}

namespace {

// `bytes` converted from `from` to UTF-8; false when they are not that.
bool convert(const char* from, const std::string& bytes, std::string& out) {
    iconv_t cd = iconv_open("UTF-8", from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out.assign(bytes.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char* o = out.data();
    size_t outLeft = out.size();
    const bool ok = iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<size_t>(-1) && inLeft == 0;
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return ok;
}

}  // namespace

std::string logTextAsUtf8(const std::string& bytes) {
    std::string out;
    if (convert("UTF-8", bytes, out)) return bytes;
    if (convert("GB18030", bytes, out)) return out;
    return bytes;
}

}  // namespace sim
