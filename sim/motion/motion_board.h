// Model of the motion board at the other end of the serial line: it answers
// every line with "ok", keeps the Z axis, the UV light and the fan, and
// acknowledges "M227" only once the moves queued before it have taken their
// time at their feed rate.
//
// The motion board (motion/): this model, the pseudo-terminal it sits on
// (pty) and the records of lines with their firmware time (trace: the
// G-code trace, and the firmware's log). It waits on the clock and tells the
// resin vat of the light and the moves; it uses nothing else.
#pragma once

#include <pthread.h>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "firmware/print/safety_envelope.h"
#include "sim/vat/resin_vat.h"
#include "trace.h"

namespace sim {

struct BoardFaults {
    bool silent = false;          // reads lines, never answers
    bool noisy = false;           // answers with bytes that hold no "ok"
    int slow_ms = 0;              // every answer this much later
    bool sensor_failure = false;  // reports -10 as the LED-panel temperature
    double return_short_mm = 0;   // every downward move stops this much short
};

// What the firmware was doing when the light came on, as the set-up tells
// the board (the model itself knows nothing of the firmware).
struct LightContext {
    bool job = false;  // a print thread was alive
    int window = -1;   // the window shown
    bool material_test = false;
};

// One span of the light as the board saw it.
struct LightSpan {
    uint64_t seq = 0;     // running number, never reused
    int64_t on_us = 0;    // firmware µs
    int64_t off_us = -1;  // -1 while it is on
    int intensity = 0;
    double z = 0;        // where the platform was when it came on
    uint32_t moves = 0;  // moves started while it was on
    LightContext context;
};

struct BoardSnapshot {
    double z = 0;         // where the platform is now, mm
    double z_target = 0;  // where it is when the queued moves are done
    bool absolute = true;
    bool homed = false;
    bool moving = false;
    bool light = false;
    int intensity = 0;         // PWM value of the light while on
    int stored_intensity = 0;  // value handed over by "M108"
    int fan = 0;
    int temperature = 0;           // the LED panel's real temperature
    int reported_temperature = 0;  // what "M105" says
    uint64_t lines_received = 0;
    uint64_t light_on_ms = 0;  // light-on time so far, firmware ms
    // What the board was asked to do since it started: the lowest and the
    // highest Z a move ended at, the longest the light was on at once.
    double z_lowest = 0;
    double z_highest = 0;
    uint64_t longest_light_ms = 0;
    // The same since the height became known to the board (its first
    // homing or zero set): before, only the end switches know.
    bool z_known = false;
    double z_known_lowest = 0;
    double z_known_highest = 0;
    uint64_t light_spans = 0;  // spans so far
    BoardFaults faults;
};

// What the board says to one line, and when (firmware microseconds).
struct BoardReply {
    std::string text;  // empty: say nothing
    int64_t at_us = 0;
};

class MotionBoard {
  public:
    static constexpr double kHomingFeed = 300.0;           // mm/min
    static constexpr double kZMax = ENVELOPE_Z_TRAVEL_MM;  // the Zmax switch

    // The vat, when given, sees the light and the moves.
    explicit MotionBoard(Trace* trace = nullptr, ResinVat* vat = nullptr);
    ~MotionBoard();
    MotionBoard(const MotionBoard&) = delete;
    MotionBoard& operator=(const MotionBoard&) = delete;

    // Serves the line on `fd` (the pty master) in a thread of its own, a
    // party of the virtual clock.
    void start(int fd);
    void stop();

    // The answer to one received line (without its line end).
    BoardReply handleLine(const std::string& line);

    BoardSnapshot snapshot() const;
    void setTemperature(int celsius);
    void setFaults(const BoardFaults& faults);

    // Asked when the light comes on; it must not call back into the board.
    void setLightContext(std::function<LightContext()> context);
    // The light's spans from `since` on (the last kLightSpansKept are held).
    std::vector<LightSpan> lightSpans(uint64_t since) const;
    static constexpr size_t kLightSpansKept = 10000;

  private:
    struct Segment {
        int64_t start_us, end_us;
        double z0, z1;
    };

    void serve(int fd);
    bool waitUntil(int64_t at_us) const;         // false when stopped meanwhile
    double zAt(int64_t now_us) const;            // lock held
    void lightSwitch(bool on, int64_t now_us);   // lock held
    void moveTo(double target, int64_t dur_us);  // lock held
    void heightKnown(double z);                  // lock held
    std::string statusReply() const;             // lock held

    Trace* trace_;
    ResinVat* vat_;
    mutable std::mutex lock_;
    std::deque<Segment> segments_;
    int64_t queueEnd_us_ = 0;
    double zEnd_ = 0;
    double feed_ = 300;
    bool absolute_ = true;
    bool homed_ = false;
    bool light_ = false;
    int64_t lightSince_us_ = 0;
    uint64_t lightTotal_us_ = 0;
    uint64_t lightLongest_us_ = 0;
    double zLowest_ = 0;
    double zHighest_ = 0;
    bool zKnown_ = false;
    double zKnownLowest_ = 0;
    double zKnownHighest_ = 0;
    std::function<LightContext()> lightContext_;
    std::deque<LightSpan> spans_;
    uint64_t nextSpan_ = 0;
    int intensity_ = 0;
    int storedIntensity_ = 0;
    int fan_ = 0;
    int temperature_ = 25;
    uint64_t lines_ = 0;
    BoardFaults faults_;

    std::atomic<bool> stop_{false};
    int wake_[2] = {-1, -1};
    int fd_ = -1;
    bool running_ = false;
    pthread_t thread_{};
};

}  // namespace sim
