#include "motion_board.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "firmware/platform/platform.h"
#include "sim/clock/virtual_clock.h"
#include "sim/sim_platform.h"

namespace sim {
namespace {

// A parsed line: its command word ("G1", "M105") and its letter parameters.
struct Words {
    std::string command;
    bool has[26] = {};
    double value[26] = {};

    bool get(char letter, double& out) const {
        const int i = letter - 'A';
        if (!has[i]) return false;
        out = value[i];
        return true;
    }
};

Words parseWords(const std::string& line) {
    Words w;
    std::istringstream in(line);
    std::string token;
    in >> w.command;
    for (char& c : w.command) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    while (in >> token) {
        const char letter = static_cast<char>(toupper(static_cast<unsigned char>(token[0])));
        if (letter < 'A' || letter > 'Z') continue;
        char* end = nullptr;
        const double v = strtod(token.c_str() + 1, &end);
        if (end == token.c_str() + 1 || !std::isfinite(v)) continue;
        w.has[letter - 'A'] = true;
        w.value[letter - 'A'] = v;
    }
    return w;
}

int64_t moveUs(double distance, double feed) {
    if (feed <= 0) return 0;
    return static_cast<int64_t>(std::fabs(distance) / feed * 60e6);
}

// Noise that holds no "ok" anywhere, long enough to fill a reply buffer.
std::string noise() {
    std::string s;
    while (s.size() < 300) s += "echo:busy processing\n";
    return s;
}

}  // namespace

MotionBoard::MotionBoard(Trace* trace, ResinVat* vat) : trace_(trace), vat_(vat) {}

MotionBoard::~MotionBoard() {
    stop();
}

void MotionBoard::start(int fd) {
    stop();
    if (pipe(wake_) != 0) wake_[0] = wake_[1] = -1;
    stop_ = false;
    fd_ = fd;
    running_ = clock().startParty(
                   &thread_, "motion-board",
                   [](void* self) -> void* {
                       static_cast<MotionBoard*>(self)->serve(static_cast<MotionBoard*>(self)->fd_);
                       return nullptr;
                   },
                   this) == 0;
}

void MotionBoard::stop() {
    if (!running_) return;
    stop_ = true;
    if (wake_[1] >= 0) {
        const char c = 0;
        (void)!write(wake_[1], &c, 1);
    }
    clock().poke();
    clock().join(thread_);
    running_ = false;
    for (int& p : wake_) {
        if (p >= 0) close(p);
        p = -1;
    }
}

// Until firmware time `at_us`, or a stop (false).
bool MotionBoard::waitUntil(int64_t at_us) const {
    if (stop_) return false;
    const int r = clock().waitReadable(&wake_[0], 1, at_us, true);
    return r == -1 && !stop_;
}

void MotionBoard::serve(int fd) {
    std::string pending;
    char chunk[512];
    while (!stop_) {
        const int fds[2] = {fd, wake_[0]};
        // The firmware writes the line through the platform, which tells the clock.
        const int ready = clock().waitReadable(fds, 2, kForever, true);
        if (stop_ || ready != 0) break;
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) {
            platformSleepUs(10000);
            continue;
        }
        pending.append(chunk, static_cast<size_t>(n));
        size_t eol;
        while ((eol = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, eol);
            pending.erase(0, eol + 1);
            line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
            if (line.empty()) continue;
            if (trace_ != nullptr) trace_->add('>', line);
            const BoardReply reply = handleLine(line);
            if (reply.text.empty()) continue;
            if (!waitUntil(reply.at_us)) return;
            (void)!write(fd, reply.text.data(), reply.text.size());
            clock().written();
            if (trace_ != nullptr) {
                std::string shown = reply.text;
                while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) {
                    shown.pop_back();
                }
                trace_->add('<', shown);
            }
        }
        // A line that never ends is not a line: keep the buffer bounded.
        if (pending.size() > 4096) pending.clear();
    }
}

double MotionBoard::zAt(int64_t now_us) const {
    for (const Segment& s : segments_) {
        if (now_us < s.start_us) return s.z0;
        if (now_us < s.end_us) {
            const double f = static_cast<double>(now_us - s.start_us) /
                             static_cast<double>(s.end_us - s.start_us);
            return s.z0 + (s.z1 - s.z0) * f;
        }
    }
    return zEnd_;
}

void MotionBoard::lightSwitch(bool on, int64_t now_us) {
    if (light_ && !on) {
        const auto span = static_cast<uint64_t>(now_us - lightSince_us_);
        lightTotal_us_ += span;
        lightLongest_us_ = std::max(lightLongest_us_, span);
    }
    if (light_ && !on && !spans_.empty()) spans_.back().off_us = now_us;
    if (!light_ && on) {
        lightSince_us_ = now_us;
        LightSpan span;
        span.seq = nextSpan_++;
        span.on_us = now_us;
        span.intensity = intensity_;
        span.z = zAt(now_us);
        if (lightContext_) span.context = lightContext_();
        spans_.push_back(span);
        while (spans_.size() > kLightSpansKept) spans_.pop_front();
    }
    light_ = on;
    if (vat_ != nullptr) vat_->light(on, intensity_, zAt(now_us), now_us);
}

void MotionBoard::heightKnown(double z) {
    if (!zKnown_) zKnownLowest_ = zKnownHighest_ = z;
    zKnown_ = true;
    zKnownLowest_ = std::min(zKnownLowest_, z);
    zKnownHighest_ = std::max(zKnownHighest_, z);
}

void MotionBoard::moveTo(double target, int64_t dur_us) {
    if (vat_ != nullptr && target != zEnd_) vat_->moveStarted(platformMonotonicUs());
    if (light_ && target != zEnd_ && !spans_.empty()) ++spans_.back().moves;
    if (zKnown_) heightKnown(target);
    segments_.push_back({queueEnd_us_, queueEnd_us_ + dur_us, zEnd_, target});
    queueEnd_us_ += dur_us;
    zEnd_ = target;
    zLowest_ = std::min(zLowest_, target);
    zHighest_ = std::max(zHighest_, target);
}

std::string MotionBoard::statusReply() const {
    const int reported = faults_.sensor_failure ? -10 : temperature_;
    const int rpm = fan_ > 0 ? 1500 : 0;
    const double z = zAt(platformMonotonicUs());
    char text[128];
    snprintf(text, sizeof text, "ok 3300mv/%drpm/%drpm/%dT/0 Zmin%d Zmax%d\n", rpm,
             rpm > 0 ? rpm - 20 : 0, reported, z <= 0.0005 ? 1 : 0, z >= kZMax ? 1 : 0);
    return text;
}

BoardReply MotionBoard::handleLine(const std::string& line) {
    const Words w = parseWords(line);
    std::lock_guard<std::mutex> lock(lock_);
    const int64_t now = platformMonotonicUs();
    ++lines_;
    while (!segments_.empty() && segments_.front().end_us <= now) segments_.pop_front();
    queueEnd_us_ = std::max(queueEnd_us_, now);

    BoardReply reply{"ok\n", now};
    double v = 0;
    const std::string& c = w.command;
    if (c == "G0" || c == "G1") {
        if (w.get('F', v) && v > 0) feed_ = v;
        if (w.get('Z', v)) {
            double target = absolute_ ? v : zEnd_ + v;
            if (target < zEnd_) target = std::min(zEnd_, target + faults_.return_short_mm);
            moveTo(target, moveUs(target - zEnd_, feed_));
        }
    } else if (c == "G28") {
        moveTo(0.0, moveUs(zEnd_, kHomingFeed));
        homed_ = true;
        heightKnown(0.0);
        reply.at_us = queueEnd_us_;
    } else if (c == "G92") {
        // Applies once the queue has drained; nothing is sent meanwhile.
        segments_.clear();
        zEnd_ = w.get('Z', v) ? v : 0.0;
        heightKnown(zEnd_);
        reply.at_us = queueEnd_us_;
    } else if (c == "G90") {
        absolute_ = true;
    } else if (c == "G91") {
        absolute_ = false;
    } else if (c == "M105") {
        reply.text = statusReply();
    } else if (c == "M219") {
        intensity_ = storedIntensity_;
        lightSwitch(true, now);
    } else if (c == "M220") {
        lightSwitch(false, now);
    } else if (c == "M106") {
        if (w.get('S', v)) intensity_ = static_cast<int>(v);
        lightSwitch(true, now);
    } else if (c == "M108") {
        if (w.get('S', v)) storedIntensity_ = static_cast<int>(v);
    } else if (c == "M107") {
        fan_ = w.get('S', v) ? static_cast<int>(v) : 0;
    } else if (c == "M227") {
        reply.at_us = queueEnd_us_;
    }

    if (faults_.silent) return BoardReply{};
    if (faults_.noisy) reply.text = noise();
    reply.at_us += static_cast<int64_t>(faults_.slow_ms) * 1000;
    return reply;
}

BoardSnapshot MotionBoard::snapshot() const {
    std::lock_guard<std::mutex> lock(lock_);
    const int64_t now = platformMonotonicUs();
    BoardSnapshot s;
    s.z = zAt(now);
    s.z_target = zEnd_;
    s.absolute = absolute_;
    s.homed = homed_;
    s.moving = now < queueEnd_us_;
    s.light = light_;
    s.intensity = intensity_;
    s.stored_intensity = storedIntensity_;
    s.fan = fan_;
    s.temperature = temperature_;
    s.reported_temperature = faults_.sensor_failure ? -10 : temperature_;
    s.lines_received = lines_;
    const uint64_t lit = light_ ? static_cast<uint64_t>(now - lightSince_us_) : 0;
    s.light_on_ms = (lightTotal_us_ + lit) / 1000;
    s.longest_light_ms = std::max(lightLongest_us_, lit) / 1000;
    s.z_lowest = zLowest_;
    s.z_highest = zHighest_;
    s.z_known = zKnown_;
    s.z_known_lowest = zKnownLowest_;
    s.z_known_highest = zKnownHighest_;
    s.light_spans = nextSpan_;
    s.faults = faults_;
    return s;
}

void MotionBoard::setLightContext(std::function<LightContext()> context) {
    std::lock_guard<std::mutex> lock(lock_);
    lightContext_ = std::move(context);
}

std::vector<LightSpan> MotionBoard::lightSpans(uint64_t since) const {
    std::lock_guard<std::mutex> lock(lock_);
    std::vector<LightSpan> out;
    for (const LightSpan& s : spans_) {
        if (s.seq >= since) out.push_back(s);
    }
    return out;
}

void MotionBoard::setTemperature(int celsius) {
    std::lock_guard<std::mutex> lock(lock_);
    temperature_ = celsius;
}

void MotionBoard::setFaults(const BoardFaults& faults) {
    std::lock_guard<std::mutex> lock(lock_);
    faults_ = faults;
}

}  // namespace sim
