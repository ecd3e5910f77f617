// A record of lines with their firmware time: the G-code trace and the
// firmware's log. Bounded in memory; optionally mirrored to a file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

struct TraceLine {
    uint64_t seq;  // running number, never reused
    int64_t t_ms;  // firmware milliseconds since the simulation started
    char dir;      // '>' sent by the firmware, '<' a reply, ' ' a log line
    std::string text;
};

class Trace {
  public:
    explicit Trace(size_t capacity = 100000) : capacity_(capacity) {}
    ~Trace();

    // Mirrors every following line to `path` ("ms > text"). False if it cannot be opened.
    bool mirrorTo(const std::string& path);

    void add(char dir, std::string text);
    // Lines with seq >= since (the oldest are dropped past the capacity).
    std::vector<TraceLine> since(uint64_t since) const;
    uint64_t nextSeq() const;

  private:
    size_t capacity_;
    mutable std::mutex lock_;
    std::deque<TraceLine> lines_;
    uint64_t next_ = 0;
    FILE* mirror_ = nullptr;
};

// A line of the firmware's output as UTF-8: as it is when it is UTF-8,
// else read as GB18030 (the panel's texts are GBK), else as it is.
std::string logTextAsUtf8(const std::string& bytes);

}  // namespace sim
