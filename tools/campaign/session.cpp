#include "session.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "firmware/ui/picture_records.h"

namespace campaign {
namespace {

// Draws from one seed: std::mt19937_64's output is the same everywhere; the
// library's distributions are not, so the draws are made here.
class Rng {
  public:
    explicit Rng(uint64_t seed) : g_(seed) {}
    uint64_t below(uint64_t n) { return n == 0 ? 0 : g_() % n; }
    int range(int lo, int hi) { return lo + static_cast<int>(below(uint64_t(hi - lo) + 1)); }
    double unit() { return static_cast<double>(g_() >> 11) * 0x1.0p-53; }
    double real(double lo, double hi) { return lo + (hi - lo) * unit(); }
    bool chance(double p) { return unit() < p; }
    template <class T>
    const T& pick(const std::vector<T>& v) {
        return v[below(v.size())];
    }

  private:
    std::mt19937_64 g_;
};

const std::vector<std::string>& groups() {
    static const std::vector<std::string> g{"tap",         "touch", "hold",    "stick", "fault",
                                            "temperature", "print", "request", "edit",  "wait"};
    return g;
}

// A value rounded to what a slicer writes.
double round3(double v) {
    return std::round(v * 1000) / 1000;
}

// How far beyond a limit: from a hair to as far again, each order of
// magnitude as likely, so that a check loosened by any amount lets some
// file through.
double beyondBy(Rng& r, double limit) {
    static const std::vector<double> kScales{1e-3, 3e-3, 1e-2, 3e-2, 0.1, 0.3, 1};
    return limit * r.pick(kScales) * r.real(1, 3);
}

// The parameter block; `tall` is set when the file's height (its layers
// times ZThick and the lifts) is to pass the Z travel.
json params(Rng& r, bool& tall) {
    tall = false;
    json p;
    p["ZThick"] = round3(r.pick(std::vector<double>{0.02, 0.03, 0.05, 0.05, 0.05, 0.1}));
    p["curing_time"] = r.range(2, 16) * 500;
    p["burnin_time"] = r.range(4, 30) * 500;
    p["burnin_range"] = round3(r.real(0.02, 0.2));
    p["stable_time"] = r.range(1, 10) * 100;
    p["b_stable_time"] = r.range(1, 20) * 100;
    p["lift_distance1"] = round3(r.real(0.5, 5));
    p["lift_speed1"] = r.range(6, 40) * 15;
    p["lift_distance2"] = round3(r.real(0.5, 3));
    p["lift_speed2"] = r.range(6, 40) * 15;
    p["drop_speed"] = r.range(6, 40) * 15;
    p["buffer_width"] = 1440;
    p["buffer_height"] = 2560;
    const double u = r.unit();
    if (u < 0.08) {
        // At the machine's limits: inside them, just.
        switch (r.below(6)) {
            case 0: p["ZThick"] = 0.5; break;
            case 1: p["ZThick"] = 0.001; break;
            case 2: p["curing_time"] = 300000; break;
            case 3: p["lift_speed1"] = 10; break;
            case 4: p["drop_speed"] = 1000; break;
            default: p["lift_distance1"] = 150; break;
        }
    } else if (u < 0.18) {
        // Beyond them: the printer must refuse the file (the last two the
        // read raises inside: a drop speed under the slowest feed, a
        // negative wait).
        switch (r.below(10)) {
            case 0: p["ZThick"] = 0.6; break;
            case 1: p["curing_time"] = 1e9; break;
            case 2: p["lift_distance1"] = 1000; break;
            case 3: p["lift_speed2"] = 3e38; break;
            case 4:
            case 5: {  // a wait or an exposure, of the bottom layers too
                static const std::vector<std::string> kTimes{"curing_time", "burnin_time",
                                                             "stable_time", "b_stable_time"};
                p[r.pick(kTimes)] = std::round(300000 + beyondBy(r, 300000));
                break;
            }
            case 6: {  // two lifts each inside the travel, together beyond it
                const double lift1 = r.range(100, 185);
                p["lift_distance1"] = lift1;
                p["lift_distance2"] =
                    std::min(190.0, round3(190 - lift1 + 0.001 + beyondBy(r, 100)));
                break;
            }
            case 7:  // layers that climb past the travel
                p["ZThick"] = 0.5;
                p["lift_distance1"] = 150;
                tall = true;
                break;
            case 8: p["drop_speed"] = 5; break;
            default: p["stable_time"] = -1; break;
        }
    }
    return p;
}

bool longWait(const json& p) {
    for (const char* k : {"curing_time", "burnin_time", "stable_time", "b_stable_time"}) {
        if (p[k].get<double>() >= 300000) return true;
    }
    return false;
}

FilePlan file(Rng& r, int n) {
    FilePlan f;
    const double u = r.unit();
    if (u < 0.1) {
        f.name = "PART" + std::to_string(n) + ".PVK4K";
    } else if (u < 0.2) {
        f.name = "齿轮" + std::to_string(n) + ".pvk4k";
        f.gbk = true;
    } else if (u < 0.25) {
        f.name =
            std::string(static_cast<size_t>(r.range(60, 140)), 'l') + std::to_string(n) + ".pvk4k";
    } else {
        f.name = "part" + std::to_string(n) + ".pvk4k";
    }
    static const std::vector<std::string> kShapes{"block", "overhang", "hole", "islands",
                                                  "wall",  "gaps",     "steps"};
    f.shape = r.pick(kShapes);
    const double l = r.unit();
    f.layers = l < 0.7 ? r.range(1, 12) : l < 0.92 ? r.range(13, 60) : r.range(61, 300);
    f.w = r.range(2, 60);
    f.h = r.range(2, 60);
    f.x = r.range(0, 270 - f.w);
    f.y = r.range(0, 480 - f.h);
    bool tall = false;
    f.params = params(r, tall);
    if (longWait(f.params)) f.layers = std::min(f.layers, 2);
    if (tall) {
        // Past the travel by the last layer's lifts.
        const double top = 190 + beyondBy(r, 30);
        const double lifts = 150 + f.params["lift_distance2"].get<double>();
        f.layers = static_cast<int>(std::ceil((top - lifts) / 0.5));
    }
    if (r.chance(0.1)) {
        for (int i = r.range(1, 3); i > 0; --i) {
            f.spoil.emplace_back(static_cast<uint32_t>(r.below(r.chance(0.5) ? 180 : 1u << 24)),
                                 static_cast<uint8_t>(r.below(256)));
        }
    }
    return f;
}

// A quick press at the middle of a button.
Action tap(const PicRecord& b, const char* name, int64_t then_ms) {
    return Action{
        "tap",
        {{"x", (b.x_start + b.x_end) / 2}, {"y", (b.y_start + b.y_end) / 2}, {"button", name}},
        then_ms};
}
Action tapAt(int x, int y, const char* name, int64_t then_ms) {
    return Action{"tap", {{"x", x}, {"y", y}, {"button", name}}, then_ms};
}

// Presses a person makes in a row to get somewhere.
void tapSequence(Rng& r, std::vector<Action>& out, const std::vector<StickSpec>& sticks) {
    auto gap = [&] { return static_cast<int64_t>(r.range(4, 12) * 100); };
    const PicRecord* rows[] = {&pic_filepagebuttonchoosefile1, &pic_filepagebuttonchoosefile2,
                               &pic_filepagebuttonchoosefile3, &pic_filepagebuttonchoosefile4,
                               &pic_filepagebuttonchoosefile5};
    switch (r.below(7)) {
        case 6: {
            // An edit saved across a stick change: the preview, an edit,
            // the save's question; then the stick pulled or swapped (for one
            // that may hold a file of the same name) and the answer given
            // before the main loop's next look at the stick, about a second.
            out.push_back(tap(pic_homepagebuttonfile, "home: files", gap()));
            const size_t files = sticks[0].files.size();
            const PicRecord& row = *rows[r.below(std::clamp<size_t>(files, 1, 5))];
            out.push_back(tap(row, "file: row", gap()));
            out.push_back(tap(row, "file: row", gap()));
            out.push_back(tapAt(300, 20, "preview: more", gap()));
            out.push_back(tapAt(75, 78, "more: curing time", gap()));
            out.push_back(tap(pic_parameterbuttonbigup, "edit: up", gap()));
            out.push_back(tap(pic_parameterbuttonok, "edit: ok", gap()));
            out.push_back(tapAt(257, 225, "more: option", gap()));
            const int other = static_cast<int>(r.below(sticks.size()));
            if (r.chance(0.5)) {
                out.push_back(Action{"swap", {{"stick", other}}, r.range(1, 6) * 100});
            } else {
                out.push_back(Action{"pull", json::object(), r.range(1, 3) * 100});
                out.push_back(Action{"insert", {{"stick", other}}, r.range(1, 3) * 100});
            }
            out.push_back(tap(pic_parametersaveyes, "save: answer", gap()));
            break;
        }
        case 0: {  // a file's preview, perhaps started
            out.push_back(tap(pic_homepagebuttonfile, "home: files", gap()));
            const PicRecord& row = *rows[r.below(5)];
            out.push_back(tap(row, "file: row", gap()));
            out.push_back(tap(row, "file: row", gap()));
            if (r.chance(0.6)) {
                out.push_back(tap(pic_previewpagebuttonstart, "preview: start", gap()));
                out.push_back(tap(pic_ledpagedialogyes, "dialog: yes", r.range(5, 60) * 1000));
            }
            break;
        }
        case 1: {  // an edit of the curing time, saved or not
            out.push_back(tapAt(300, 20, "preview: more", gap()));
            out.push_back(tapAt(75, 78, "more: curing time", gap()));
            for (int i = r.range(0, 4); i > 0; --i) {
                out.push_back(
                    tap(r.chance(0.5) ? pic_parameterbuttonsmallup : pic_parameterbuttonbigup,
                        "edit: up", gap()));
            }
            out.push_back(tap(pic_parameterbuttonok, "edit: ok", gap()));
            out.push_back(
                tapAt(r.pick(std::vector<int>{60, 160, 257}), 225, "more: option", gap()));
            out.push_back(tap(r.chance(0.7) ? pic_parametersaveyes : pic_parametersaveno,
                              "save: answer", gap()));
            break;
        }
        case 2:  // the settings and the move window
            out.push_back(tap(pic_homepagebuttonsetting, "home: settings", gap()));
            out.push_back(tap(pic_settingpagebuttonmove, "settings: move", gap()));
            for (int i = r.range(1, 5); i > 0; --i) {
                static const std::vector<const PicRecord*> kMove{
                    &pic_movepagebuttondown, &pic_movepagebuttonup, &pic_movepagebuttonmovehome,
                    &pic_movepagebuttondistance, &pic_movepagebuttonstopmove};
                out.push_back(tap(*r.pick(kMove), "move: button", r.range(4, 40) * 100));
            }
            out.push_back(tap(pic_movepagebuttonmovepagereturn, "move: return", gap()));
            break;
        case 3:  // the UV light window
            out.push_back(tap(pic_homepagebuttonsetting, "home: settings", gap()));
            out.push_back(tap(pic_settingpagebuttonled, "settings: UV light", gap()));
            for (int i = r.range(1, 4); i > 0; --i) {
                out.push_back(tapAt(r.range(20, 300), r.range(20, 230), "UV: somewhere",
                                    r.range(4, 50) * 100));
            }
            break;
        case 4:  // the printing window's buttons
            out.push_back(tap(r.chance(0.5) ? pic_printpagebuttonpause : pic_printpagebuttonend,
                              "printing: button", gap()));
            out.push_back(tap(r.chance(0.7) ? pic_buttonprintcancelyes : pic_buttonprintcancelno,
                              "printing: answer", r.range(4, 100) * 100));
            break;
        default: {  // any button at all
            const PicRecordEntry& e = pic_record_catalogue[r.below(pic_record_catalogue_count)];
            out.push_back(tap(*e.record, e.name, gap()));
            break;
        }
    }
}

void faultAction(Rng& r, std::vector<Action>& out) {
    json f;
    switch (r.below(5)) {
        case 0: f["silent"] = true; break;
        case 1: f["noisy"] = true; break;
        case 2: f["slow_ms"] = r.range(1, 30) * 100; break;
        case 3: f["sensor_failure"] = true; break;
        default: f["return_short_um"] = r.range(1, 50); break;
    }
    out.push_back(Action{"fault", f, r.range(1, 60) * 1000});
    if (r.chance(0.8)) out.push_back(Action{"clear", json::object(), r.range(1, 30) * 1000});
}

void temperatureAction(Rng& r, std::vector<Action>& out) {
    if (r.chance(0.5)) {
        static const std::vector<int> kSteps{25, 40, 55, 56, 70, 99, 100, 101, 120, -10, -11};
        out.push_back(Action{"temperature", {{"celsius", r.pick(kSteps)}}, r.range(1, 60) * 1000});
        return;
    }
    // A ramp up and back.
    const int from = r.range(20, 50), to = r.range(56, 130), steps = r.range(3, 8);
    for (int i = 1; i <= steps; ++i) {
        out.push_back(Action{
            "temperature", {{"celsius", from + (to - from) * i / steps}}, r.range(5, 30) * 100});
    }
    out.push_back(Action{"temperature", {{"celsius", from}}, r.range(1, 20) * 1000});
}

}  // namespace

const std::vector<std::string>& actionKinds() {
    return groups();
}

Session generateSession(uint64_t seed) {
    Rng r(seed);
    Session s;
    s.seed = seed;
    s.writeBack = r.chance(0.5);
    // Swarm: a random part of the kinds, each at its own rate.
    std::vector<double> weight;
    for (const std::string& k : groups()) {
        const bool on = k == "tap" || k == "wait" || r.chance(0.5);
        weight.push_back(on ? r.real(0.2, 1.0) : 0);
        if (on) s.kinds.push_back(k);
    }
    const int sticks = r.chance(0.3) ? 2 : 1;
    int n = 0;
    for (int i = 0; i < sticks; ++i) {
        StickSpec stick;
        stick.folder = i == 0 || r.chance(0.8);
        for (int k = r.range(1, 5); k > 0; --k) stick.files.push_back(file(r, ++n));
        // A file of the same name as one on the first stick, other bytes.
        if (i > 0 && r.chance(0.5)) {
            const FilePlan& same = r.pick(s.sticks[0].files);
            stick.files[0].name = same.name;
            stick.files[0].gbk = same.gbk;
        }
        s.sticks.push_back(std::move(stick));
    }
    const int64_t budget = r.range(120, 900) * 1000;
    double total = 0;
    for (double w : weight) total += w;
    while (s.firmwareMs() < budget && s.actions.size() < 80) {
        double at = r.unit() * total;
        size_t g = 0;
        while (g + 1 < weight.size() && at >= weight[g]) at -= weight[g++];
        const std::string& kind = groups()[g];
        std::vector<Action>& out = s.actions;
        if (kind == "tap") {
            tapSequence(r, out, s.sticks);
        } else if (kind == "touch") {
            out.push_back(
                Action{"touch",
                       {{"x", r.range(0, 319)}, {"y", r.range(0, 239)}, {"ms", r.range(1, 300)}},
                       r.range(1, 30) * 100});
        } else if (kind == "hold") {
            out.push_back(Action{
                "hold",
                {{"x", r.range(0, 319)}, {"y", r.range(0, 239)}, {"ms", r.range(10, 80) * 100}},
                r.range(80, 200) * 100});
        } else if (kind == "stick") {
            const int other = static_cast<int>(r.below(s.sticks.size()));
            switch (r.below(3)) {
                case 0:
                    out.push_back(Action{"pull", json::object(), r.range(1, 50) * 100});
                    out.push_back(Action{"insert", {{"stick", other}}, r.range(10, 50) * 100});
                    break;
                case 1:
                    out.push_back(Action{"swap", {{"stick", other}}, r.range(10, 50) * 100});
                    break;
                default:
                    out.push_back(Action{"pull", json::object(), r.range(1, 100) * 100});
                    break;
            }
        } else if (kind == "fault") {
            faultAction(r, out);
        } else if (kind == "temperature") {
            temperatureAction(r, out);
        } else if (kind == "print") {
            const StickSpec& stick = s.sticks[r.below(s.sticks.size())];
            const std::string name = stick.files.empty() ? "none.pvk4k" : r.pick(stick.files).name;
            out.push_back(Action{"print", {{"file", name}}, r.range(5, 120) * 1000});
        } else if (kind == "request") {
            static const std::vector<std::string> kRequests{"pause", "resume", "temppause",
                                                            "cancel"};
            out.push_back(
                Action{"request", {{"request", r.pick(kRequests)}}, r.range(1, 60) * 1000});
        } else if (kind == "edit") {
            if (!s.writeBack) continue;  // an edit changes the folder itself
            const int stick = static_cast<int>(r.below(s.sticks.size()));
            const auto& files = s.sticks[static_cast<size_t>(stick)].files;
            if (files.empty()) continue;
            out.push_back(Action{"pull", json::object(), r.range(1, 20) * 100});
            out.push_back(Action{"edit",
                                 {{"stick", stick},
                                  {"file", static_cast<int>(r.below(files.size()))},
                                  {"offset", r.below(r.chance(0.5) ? 180 : 100000)},
                                  {"byte", r.below(256)}},
                                 r.range(1, 20) * 100});
            out.push_back(Action{"insert", {{"stick", stick}}, r.range(10, 50) * 100});
        } else {
            out.push_back(Action{"wait", json::object(), r.range(5, 120) * 1000});
        }
    }
    return s;
}

int64_t Session::firmwareMs() const {
    int64_t t = 0;
    for (const Action& a : actions) t += a.then_ms;
    return t;
}

json Session::toJson() const {
    json j;
    j["seed"] = seed;
    j["write_back"] = writeBack;
    j["kinds"] = kinds;
    j["sticks"] = json::array();
    for (const StickSpec& st : sticks) {
        json files = json::array();
        for (const FilePlan& f : st.files) {
            json spoil = json::array();
            for (const auto& [at, byte] : f.spoil) spoil.push_back({at, byte});
            files.push_back({{"name", f.name},
                             {"gbk", f.gbk},
                             {"shape", f.shape},
                             {"layers", f.layers},
                             {"box", {f.x, f.y, f.w, f.h}},
                             {"params", f.params},
                             {"spoil", spoil}});
        }
        j["sticks"].push_back({{"folder", st.folder}, {"files", files}});
    }
    j["actions"] = json::array();
    for (const Action& a : actions) {
        j["actions"].push_back({{"do", a.kind}, {"args", a.args}, {"then_ms", a.then_ms}});
    }
    return j;
}

std::string sessionFromJson(const json& j, Session& out) {
    try {
        Session s;
        s.seed = j.value("seed", uint64_t{0});
        s.writeBack = j.value("write_back", false);
        s.kinds = j.value("kinds", std::vector<std::string>{});
        for (const json& st : j.at("sticks")) {
            StickSpec stick;
            stick.folder = st.value("folder", true);
            for (const json& f : st.at("files")) {
                FilePlan plan;
                plan.name = f.at("name").get<std::string>();
                plan.gbk = f.value("gbk", false);
                plan.shape = f.at("shape").get<std::string>();
                plan.layers = std::clamp(f.at("layers").get<int>(), 0, 65535);
                const json& box = f.at("box");
                plan.x = std::clamp(box.at(0).get<int>(), 0, 269);
                plan.y = std::clamp(box.at(1).get<int>(), 0, 479);
                plan.w = std::clamp(box.at(2).get<int>(), 1, 270);
                plan.h = std::clamp(box.at(3).get<int>(), 1, 480);
                plan.params = f.value("params", json::object());
                for (const json& p : f.value("spoil", json::array())) {
                    plan.spoil.emplace_back(p.at(0).get<uint32_t>(), p.at(1).get<uint8_t>());
                }
                if (plan.name.empty() || plan.name.find('/') != std::string::npos) {
                    return "a file name must be a plain name";
                }
                stick.files.push_back(std::move(plan));
            }
            s.sticks.push_back(std::move(stick));
        }
        if (s.sticks.empty()) return "a session needs a stick";
        for (const json& a : j.at("actions")) {
            Action act;
            act.kind = a.at("do").get<std::string>();
            act.args = a.value("args", json::object());
            act.then_ms =
                std::clamp<int64_t>(a.value("then_ms", int64_t{0}), 0, 7LL * 24 * 3600 * 1000);
            s.actions.push_back(std::move(act));
        }
        out = std::move(s);
        return "";
    } catch (const json::exception& e) {
        return std::string("not a session: ") + e.what();
    }
}

}  // namespace campaign
