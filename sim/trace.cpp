#include "trace.h"

#include "sim_platform.h"

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

uint64_t Trace::nextSeq() const {
    std::lock_guard<std::mutex> lock(lock_);
    return next_;
}

}  // namespace sim
