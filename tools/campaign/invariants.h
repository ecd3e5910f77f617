// The campaign's invariants, each named, judged on what printer-sim records:
// the board's light spans and Z, the G-code trace, the jobs, the firmware's
// state, the sticks' files. Each says when it must hold; where the machine's
// described design breaks a naive form, the narrowing is stated with it
// (and listed in the README as a known hazard).
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace campaign {

using nlohmann::json;

struct Broken {
    std::string invariant;
    std::string detail;
    double at_ms = 0;  // firmware time it was seen at
};

// The figures the invariants are judged against.
constexpr double kLightLimitMs = 300000;  // the longest exposure a file may ask for
constexpr double kLightMarginMs = 200;    // what the board may see beyond it on a healthy link
// From a reading above 100 °C or of a failed sensor to the light off during
// a job: the firmware takes a reply's temperature on the main loop's status
// poll, every 50 passes (about 1 s), then the exposure's 100 ms check sees
// it, and the exchanges that end the exposure follow.
constexpr double kHotLightOffMs = 1300;
constexpr double kWindowWithinMs = 1000;  // a tap on a button that leads on, to the window
constexpr double kZTravelMm = 190;
constexpr int kStartHotC = 55;
// The rest of the machine's limits a print file's values are held to.
constexpr double kLayerMinMm = 0.001, kLayerMaxMm = 0.5;
constexpr double kFeedMin = 10, kFeedMax = 1000;  // mm/min
constexpr int kLayersMax = 65535;

// Intervals of firmware time during which a fault of the link (silent,
// noisy, slow) was on.
class FaultTimes {
  public:
    void on(double at_ms);
    void off(double at_ms);
    bool anyDuring(double from_ms, double to_ms) const;
    bool ever() const { return !spans_.empty(); }

  private:
    std::vector<std::pair<double, double>> spans_;  // [from, to); to = +inf while on
};

// A temperature reading the firmware got from the board: a status reply.
struct Reading {
    double t_ms = 0;
    int celsius = 0;
};
// The reading in a status reply's text ("ok 3300mv/1500rpm/1480rpm/25T/0 ..."), if it is one.
std::optional<int> readingOf(const std::string& reply);
inline bool hot(int celsius) {
    return celsius > 100 || celsius <= -10;
}

// The light: spans in their place, no move while lit, none beyond the
// limit; in a job, off soon after a hot reading.
std::optional<Broken> judgeLightSpan(const json& span, double now_ms, const FaultTimes& link,
                                     const std::vector<Reading>& readings);

// A job starts only on a reading of 55 °C or below from a working sensor.
std::optional<Broken> judgeJobStart(const json& job);

// The first value of a print file (its bytes) beyond the machine's limits
// as a job would run it (after the raises every read makes), with the
// field's name; "" when every value is inside or too near a limit to tell
// from the rounding of the motion lines.
std::string beyondLimits(const std::string& file);

// A job from a file beyond the limits must be refused before it runs: it
// neither reaches the running state nor lights the light. `lightOns` are the
// starts of the job's light spans seen so far.
std::optional<Broken> judgeRefusedJob(const json& job, const std::string& beyond, int printStatus,
                                      const std::vector<double>& lightOns, double now_ms);

// The print hook takes a request only while a job is alive to take it.
std::optional<Broken> judgeRequestAnswer(const std::string& request, int status, bool jobAlive,
                                         double now_ms);

// The Z the board was sent stays inside the travel once the height is known;
// judged while no link fault has been on (a line resent after 10 s without
// an answer is acted on again, so a relative move can repeat).
std::optional<Broken> judgeZ(const json& board, const FaultTimes& link, double now_ms);

// Nothing the panel's bus or the read-only stick should never see.
std::optional<Broken> judgeCounters(const json& state, double now_ms);

// How far from a tap the firmware's reading of it may land, in pixels each
// way: the calibration's arithmetic rounds.
constexpr int kTouchReadPx = 2;

// Where a tap on a button that leads to another window must get, from the
// window it was made on: -1 when it leads nowhere for sure, or when a
// reading of it may miss the button (it lies within kTouchReadPx of an edge).
int windowAfterTap(int window, int x, int y, bool usbDetected);

// The stick's files against what they should be: a change is only the
// previewed file's parameter block, by a confirmed save (the log shows the
// remount bracket) on the stick it was previewed from, and what it wrote
// the printer still takes. `expected` follows the saves.
std::optional<Broken> judgeFiles(std::map<std::string, std::string>& expected,
                                 const std::map<std::string, std::string>& actual, bool saved,
                                 bool previewHere, const std::string& previewName, double now_ms,
                                 const std::string& where);

}  // namespace campaign
