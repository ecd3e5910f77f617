#include "print/safety_envelope.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "print/print_file.h"
#include "ui/parameter_table.h"

namespace {

bool leave(EnvelopeVerdict& v, const char* field, double value, const char* unit,
           const char* relation, double limit) {
    v.inside = false;
    snprintf(v.reason, sizeof v.reason, "print file refused: %s %.6g %s %s %.6g %s", field, value,
             unit, relation, limit, unit);
    return false;
}

bool notANumber(EnvelopeVerdict& v, const char* field, float value) {
    v.inside = false;
    formatNotFinite(v.reason, sizeof v.reason, field, value);
    return false;
}

bool timeInside(EnvelopeVerdict& v, const char* field, float ms) {
    if (!std::isfinite(ms)) return notANumber(v, field, ms);
    if (ms < 0) return leave(v, field, ms, "ms", "below", 0);
    if (ms > ENVELOPE_TIME_MAX_MS) {
        return leave(v, field, ms, "ms", "above the longest exposure or wait of",
                     ENVELOPE_TIME_MAX_MS);
    }
    return true;
}

bool distanceInside(EnvelopeVerdict& v, const char* field, float mm) {
    if (!std::isfinite(mm)) return notANumber(v, field, mm);
    if (mm < 0) return leave(v, field, mm, "mm", "below", 0);
    if (mm > ENVELOPE_Z_TRAVEL_MM) {
        return leave(v, field, mm, "mm", "above the Z travel of", ENVELOPE_Z_TRAVEL_MM);
    }
    return true;
}

bool feedInside(EnvelopeVerdict& v, const char* field, float feed) {
    if (!std::isfinite(feed)) return notANumber(v, field, feed);
    if (feed < ENVELOPE_FEED_MIN) {
        return leave(v, field, feed, "mm/min", "below the slowest feed of", ENVELOPE_FEED_MIN);
    }
    if (feed > ENVELOPE_FEED_MAX) {
        return leave(v, field, feed, "mm/min", "above the fastest feed of", ENVELOPE_FEED_MAX);
    }
    return true;
}

bool lineFits(EnvelopeVerdict& v, const char* which, bool down, float distance, float feed) {
    char line[kLineSize];
    if (formatMotionLine(line, down, distance, feed) >= 0) return true;
    v.inside = false;
    snprintf(v.reason, sizeof v.reason,
             "print file refused: the %s line does not fit %d characters", which, kLineSize - 2);
    return false;
}

}  // namespace

int formatMotionLine(char (&line)[kLineSize], bool down, float distance, float feed) {
    const int n = snprintf(line, sizeof line, down ? "G1 Z-%f F%f" : "G1 Z%f F%f",
                           static_cast<double>(distance), static_cast<double>(feed));
    // The line feed goes after it in the same buffer.
    if (n < 0 || n > kLineSize - 2) {
        line[0] = '\0';
        return -1;
    }
    return n;
}

double sentDistance(float distance) {
    char text[64];
    snprintf(text, sizeof text, "%f", static_cast<double>(distance));
    return strtod(text, nullptr);
}

EnvelopeVerdict checkPrintEnvelope(const PrintParameter& p) {
    EnvelopeVerdict v;
    if (!std::isfinite(p.ZThick)) return notANumber(v, "ZThick", p.ZThick), v;
    if (p.ZThick < ENVELOPE_LAYER_MIN_MM) {
        return leave(v, "ZThick", p.ZThick, "mm", "below the thinnest layer of",
                     ENVELOPE_LAYER_MIN_MM),
               v;
    }
    if (p.ZThick > ENVELOPE_LAYER_MAX_MM) {
        return leave(v, "ZThick", p.ZThick, "mm", "above the thickest layer of",
                     ENVELOPE_LAYER_MAX_MM),
               v;
    }
    if (p.layer_count < 0 || p.layer_count > ENVELOPE_LAYERS_MAX) {
        return leave(v, "layer_count", p.layer_count, "layers", "outside the panel's count of",
                     ENVELOPE_LAYERS_MAX),
               v;
    }
    const bool inside =
        timeInside(v, "curing_time", p.curing_time) &&
        timeInside(v, "burnin_time", p.burnin_time) &&
        timeInside(v, "stable_time", p.stable_time) &&
        timeInside(v, "b_stable_time", p.b_stable_time) &&
        distanceInside(v, "lift_distance1", p.lift_distance1) &&
        distanceInside(v, "lift_distance2", p.lift_distance2) &&
        feedInside(v, "lift_speed1", p.lift_speed1) &&
        feedInside(v, "lift_speed2", p.lift_speed2) && feedInside(v, "drop_speed", p.drop_speed) &&
        lineFits(v, "first lift", false, p.lift_distance1, p.lift_speed1) &&
        lineFits(v, "second lift", false, p.lift_distance2 + p.ZThick, p.lift_speed2) &&
        lineFits(v, "return", true, p.lift_distance1 + p.lift_distance2, p.drop_speed);
    if (!inside) return v;

    // The highest point is the lift after the last layer, from the distances
    // as the lines carry them: each layer climbs by what its lines net.
    const double up1 = sentDistance(p.lift_distance1);
    const double up2 = sentDistance(p.lift_distance2 + p.ZThick);
    const double net = up1 + up2 - sentDistance(p.lift_distance1 + p.lift_distance2);
    const double top = p.layer_count == 0 ? 0 : (p.layer_count - 1) * net + up1 + up2;
    if (top > ENVELOPE_Z_TRAVEL_MM) {
        leave(v, "highest lift (layer_count x ZThick + lifts)", top, "mm", "above the Z travel of",
              ENVELOPE_Z_TRAVEL_MM);
    }
    return v;
}

EnvelopeVerdict judgePrintParameters(const PrintParameter& stored) {
    PrintParameter asRun = stored;
    recomputeBottomLayers(asRun);
    applyReadAdjustments(asRun);
    return checkPrintEnvelope(asRun);
}
