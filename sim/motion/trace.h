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

// What one read of a trace gives: its lines, where the next read starts,
// and the lines it leaves out.
struct TraceSlice {
    std::vector<TraceLine> lines;
    uint64_t next = 0;  // the seq after the last line there is
    // Lines [skipped_from, skipped_from + skipped) are not in `lines`: past
    // the limit of the read, or no longer held (those before held_from).
    uint64_t skipped_from = 0, skipped = 0;
    uint64_t held_from = 0;  // the oldest line still held
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
    // The lines from `since` on, the last `limit` of them, and where the
    // next read starts: all of it at one instant, so that no line added
    // meanwhile is skipped.
    TraceSlice read(uint64_t since, size_t limit = SIZE_MAX) const;
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
