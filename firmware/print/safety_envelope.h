// The machine's physical limits. Every value from outside that would move the
// platform or light the lamp is judged against them before it is used: a
// print file when it is read and again when its job starts, and every motion
// line the sequencer sends.
//
// Z is counted from home (the platform on the film after "G28 Z0") upwards.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/command.h"

struct PrintParameter;

// The build height of the about window's "120x68x190".
constexpr double ENVELOPE_Z_TRAVEL_MM = 190.0;
// A layer thinner than this is no layer (and lost in a six-decimal line);
// thicker than this no resin cures through.
constexpr float ENVELOPE_LAYER_MIN_MM = 0.001f;
constexpr float ENVELOPE_LAYER_MAX_MM = 0.5f;
// One exposure or one wait: the material test's longest light span (its
// start time and three half intervals up to an end time of 200 s, so at most
// three halves of 200 s) is the longest a print may ask for.
constexpr float ENVELOPE_TIME_MAX_MS = 300000.0f;
// What the board sees of an exposure beyond its time on a healthy link: the
// light comes on with one exchange, the wait runs in steps of 100 ms (the
// last one ends past the time), and the light goes off after the status
// exchange that ends it. Each exchange takes a few tens of ms; under a
// slow or silent board each may take up to the link's resend time.
constexpr float ENVELOPE_LIGHT_MARGIN_MS = 200.0f;
// Feeds of the Z axis: the parameter table's slowest, and the move window's
// jog feed, the fastest the panel itself sends.
constexpr float ENVELOPE_FEED_MIN = 10.0f;    // mm/min
constexpr float ENVELOPE_FEED_MAX = 1000.0f;  // mm/min
// The panel counts layers in 16 bits.
constexpr int32_t ENVELOPE_LAYERS_MAX = 65535;
// The raise at the end of a job, clamped to the travel that is left.
constexpr double ENVELOPE_END_RAISE_MM = 40.0;

// Where the envelope was left, as a log line naming the field, its value and
// the limit; empty while inside.
struct EnvelopeVerdict {
    bool inside = true;
    char reason[160] = "";
};

// Judges the values a job would run with: `asRun` after the drop-speed
// substitution and the raises to the panel's minimums.
EnvelopeVerdict checkPrintEnvelope(const PrintParameter& asRun);

// The printer's verdict on a parameter block as stored in a file (or as
// edited): adjusted as every read adjusts it, then judged.
EnvelopeVerdict judgePrintParameters(const PrintParameter& stored);

// A motion line of the layer cycle: "G1 Z%f F%f" up, "G1 Z-%f F%f" down. The
// length, or -1 when it does not fit a line with its line feed.
int formatMotionLine(char (&line)[kLineSize], bool down, float distance, float feed);

// The distance as the six-decimal text of a motion line gives it.
double sentDistance(float distance);
