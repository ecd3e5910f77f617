#include "run.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "firmware/print/print.h"
#include "firmware/print/print_file.h"
#include "firmware/ui/parameter_table.h"
#include "firmware/ui/ui.h"
#include "geometry/file_model.h"
#include "geometry/stl_check.h"
#include "stick_files.h"
#include "tools/runner/printer.h"

namespace campaign {
namespace {

namespace fs = std::filesystem;

// In one piece: the stick's print files are megabytes, read twice a session.
std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return std::move(out).str();
}

std::map<std::string, std::string> folderFiles(const fs::path& dir) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        if (e.is_regular_file(ec)) out[e.path().filename().string()] = readFile(e.path());
    }
    return out;
}

// What a sanitizer or a crash left in printer-sim's standard error.
std::string sanitizerReport(const fs::path& stderrFile) {
    const std::string text = readFile(stderrFile);
    for (const char* mark : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                             "runtime error:", "WARNING: ThreadSanitizer"}) {
        const size_t at = text.find(mark);
        if (at == std::string::npos) continue;
        const size_t from = text.rfind('\n', at);
        const size_t to = text.find('\n', at);
        return text.substr(from == std::string::npos ? 0 : from + 1,
                           to == std::string::npos ? std::string::npos : to - from - 1);
    }
    return "";
}

// Whether every layer of `file` bonds to the one before (or the platform)
// at the exposures it asks for: each cell joins, through its layer, a cell
// under the one above, and every exposure cures deeper than a layer with
// room to spare. The vat's default resin; `intensity` as the board stores it.
bool bondsEveryLayer(const std::string& file, int intensity) {
    const std::string bytes = readFile(file);
    if (bytes.size() < PRINT_HEADER_SIZE) return false;
    PrintParameter p;
    std::memcpy(&p, bytes.data() + PRINT_FILE_MAGIC_SIZE, sizeof p);
    // The preview counts the bottom layers before the panel's minimums
    // raise burnin_range: the job exposes by that count.
    const float bottom = p.burnin_range / p.ZThick;
    applyReadAdjustments(p);
    geometry::FileModel model;
    if (!geometry::buildFileModel(file, model).empty() || model.layers.empty()) return false;
    const auto depth = [&](float ms) {
        const double e = intensity / 255.0 * 3.0 * ms / 1000.0;
        return e > 8 ? 0.12 * std::log(e / 8) : 0;
    };
    const double layer = p.ZThick;
    for (size_t k = 0; k < model.layers.size(); ++k) {
        const double cd =
            depth(static_cast<float>(k + 1) <= bottom ? p.burnin_time : p.curing_time);
        if (cd < 1.3 * layer) return false;
        const geometry::CellSet& cells = model.layers[k].solid;
        if (cells.empty()) return false;
        if (k == 0) continue;
        // Flood from the cells that have the layer above over them.
        const geometry::CellSet& above = model.layers[k - 1].solid;
        std::vector<uint8_t> held(geometry::kCells, 0);
        std::vector<int> todo;
        for (int y = cells.y0(); y < cells.y1(); ++y) {
            for (int x = cells.x0(); x < cells.x1(); ++x) {
                if (cells.has(x, y) && above.has(x, y)) {
                    held[y * geometry::kCellsX + x] = 1;
                    todo.push_back(y * geometry::kCellsX + x);
                }
            }
        }
        while (!todo.empty()) {
            const int i = todo.back();
            todo.pop_back();
            const int x = i % geometry::kCellsX, y = i / geometry::kCellsX;
            const int next[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
            for (const auto& [nx, ny] : next) {
                if (!cells.has(nx, ny) || held[ny * geometry::kCellsX + nx]) continue;
                held[ny * geometry::kCellsX + nx] = 1;
                todo.push_back(ny * geometry::kCellsX + nx);
            }
        }
        if (static_cast<uint64_t>(std::count(held.begin(), held.end(), 1)) != cells.count())
            return false;
    }
    return true;
}

// The longest a job of `plan` may take to end once cancelled: its longest
// wait and exposure, its lifts and returns at their feeds, the homing.
double cancelBoundMs(const FilePlan* plan) {
    if (plan == nullptr) return 1800000;
    const auto num = [&](const char* k, double d) {
        const auto it = plan->params.find(k);
        return it != plan->params.end() && it->is_number() ? it->get<double>() : d;
    };
    const double waits =
        std::min(300000.0, std::max({num("curing_time", 6000), num("burnin_time", 10000),
                                     num("stable_time", 500), num("b_stable_time", 1000)}));
    const auto feed = [&](const char* k, double d) { return std::clamp(num(k, d), 10.0, 1000.0); };
    const double up = std::min(
        190.0, std::fabs(num("lift_distance1", 2)) + std::fabs(num("lift_distance2", 1)) + 1);
    const double moves = up / feed("lift_speed1", 120) + up / feed("lift_speed2", 300) +
                         up / feed("drop_speed", 300) + 190.0 / 300;
    return 2 * waits + moves * 60000 + 60000;
}

uint64_t fnv(uint64_t h, const std::string& s) {
    for (const unsigned char c : s) h = (h ^ c) * 1099511628211ULL;
    return h;
}

class SessionRun {
  public:
    SessionRun(const Session& s, const RunOptions& o) : s_(s), o_(o) {}

    Outcome run() {
        const auto started = std::chrono::steady_clock::now();
        out_.traceHash = 1469598103934665603ULL;
        setUp();
        if (out_.held) {
            for (size_t i = 0; i < s_.actions.size() && out_.held; ++i) {
                action_ = static_cast<int>(i);
                apply(s_.actions[i]);
                if (out_.held) observe(s_.actions[i]);
            }
            action_ = -1;
            if (out_.held) settle();
        }
        finish();
        out_.realSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        return out_;
    }

  private:
    void breaks(const Broken& b) {
        if (!out_.held) return;
        out_.held = false;
        out_.broken = b;
        out_.action = action_;
    }
    void breaks(const std::optional<Broken>& b) {
        if (b) breaks(*b);
    }
    // printer-sim stopped answering: a crash, a sanitizer's report, a hang.
    bool answering() {
        if (printer_.ok()) return true;
        printer_.stop();
        const std::string report = sanitizerReport(stderr_);
        if (!report.empty()) {
            breaks(Broken{"sanitizer-clean", report, now_});
        } else {
            breaks(Broken{
                "printer-sim-runs",
                printer_.failure() + (printer_.endSignal() != 0
                                          ? " (signal " + std::to_string(printer_.endSignal()) + ")"
                                          : ""),
                now_});
        }
        return false;
    }

    fs::path stickDir(size_t i) const { return work_ / ("stick" + std::to_string(i)); }

    void setUp() {
        std::error_code ec;
        fs::path base = o_.workDir.empty() ? fs::temp_directory_path() : fs::path(o_.workDir);
        std::string templ = (base / "campaign-XXXXXX").string();
        if (mkdtemp(templ.data()) == nullptr) {
            breaks(
                Broken{"printer-sim-runs", "cannot make a scratch folder in " + base.string(), 0});
            return;
        }
        work_ = templ;
        fs::create_directories(work_ / "tmp", ec);
        stderr_ = work_ / "stderr.txt";
        for (size_t i = 0; i < s_.sticks.size(); ++i) {
            if (const std::string e = writeStick(s_.sticks[i], stickDir(i).string()); !e.empty()) {
                breaks(Broken{"printer-sim-runs", e, 0});
                return;
            }
            initial_.push_back(folderFiles(stickDir(i) / "pravik3d"));
        }
        expected_ = initial_;
        runner::PrinterOptions po;
        po.printerSim = o_.printerSim;
        po.tmpDir = (work_ / "tmp").string();
        po.stderrPath = stderr_.string();
        po.timeoutSeconds = 300;
        po.args = {"--stick", stickDir(0).string()};
        if (s_.writeBack) po.args.push_back("--stick-write-back");
        if (o_.cpu >= 0) po.args.insert(po.args.end(), {"--cpu", std::to_string(o_.cpu)});
        std::string error;
        if (!printer_.start(po, error)) {
            answering();
            return;
        }
        inserted_ = 0;
        state_ = printer_.get("/api/state");
        answering();
    }

    const FilePlan* planNamed(const std::string& utf8) const {
        for (const StickSpec& st : s_.sticks) {
            for (const FilePlan& f : st.files) {
                if (f.name == utf8) return &f;
            }
        }
        return nullptr;
    }

    void apply(const Action& a) {
        const json& g = a.args;
        const std::string& k = a.kind;
        pendingWindow_ = -1;
        if (k == "tap" || k == "touch" || k == "hold") {
            const int x = std::clamp(g.value("x", 0), 0, 319),
                      y = std::clamp(g.value("y", 0), 0, 239);
            // A tap is held long enough for a main-loop pass to see it: with
            // no stick in, the loop probes the device nodes for 200 ms every
            // 50 passes, and a shorter press falls into that.
            const int ms = k == "tap" ? kTapMs : std::clamp(g.value("ms", 100), 1, 60000);
            const int window = state_.value("current_window_ID", -1);
            if (window == INDEX_WINDOW_DETAILMORE || window == INDEX_WINDOW_PARAMETEREDIT ||
                window == INDEX_WINDOW_PARAMETERSAVE) {
                edited_ = true;  // a job may run on values no file holds
            }
            // A press that follows the last one by less than a tap's length
            // may fall with the release between them into the probe above:
            // the firmware then sees one press, acted on once.
            const bool apart = now_ - penUpAt_ >= kTapMs;
            if (printer_.post("/api/touch", json{{"x", x}, {"y", y}, {"ms", ms}}) == 200) {
                penUpAt_ = now_ + ms;
                if (k == "tap" && apart) {
                    pendingWindow_ =
                        windowAfterTap(window, x, y, state_.value("USB_detected", 0) == 1);
                }
            }
        } else if (k == "pull") {
            printer_.post("/api/usb/remove", json());
            inserted_ = -1;
            stickEventAt_ = now_;
        } else if (k == "insert" || k == "swap") {
            const size_t i = std::min<size_t>(g.value("stick", 0), s_.sticks.size() - 1);
            if (k == "swap") printer_.post("/api/usb/remove", json());
            if (printer_.post("/api/usb/insert", json{{"dir", stickDir(i).string()}}) == 200) {
                inserted_ = static_cast<int>(i);
            } else if (k == "swap") {
                inserted_ = -1;
            }
            stickEventAt_ = now_;
        } else if (k == "fault") {
            json f = g;
            printer_.post("/api/board", f);
            boardFault_.on(now_);
            if (g.contains("silent") || g.contains("noisy") || g.contains("slow_ms"))
                link_.on(now_);
        } else if (k == "clear") {
            clearFaults();
        } else if (k == "temperature") {
            const int c = std::clamp(g.value("celsius", 25), -32768, 32767);
            printer_.post("/api/board", json{{"temperature", c}});
            if (c > 55 || c <= -10) boardFault_.on(now_);
        } else if (k == "print") {
            printer_.post("/api/print", json{{"file", g.value("file", std::string())}});
        } else if (k == "request") {
            // Time stands still between two runs: whether a job is alive is
            // what the last look at the jobs saw.
            const std::string request = g.value("request", std::string("pause"));
            const int status = printer_.post("/api/print/request", json{{"request", request}});
            if (printer_.ok()) breaks(judgeRequestAnswer(request, status, jobAlive_, now_));
        } else if (k == "edit") {
            const size_t i = std::min<size_t>(g.value("stick", 0), s_.sticks.size() - 1);
            // A person edits a stick that is out of the printer, once the
            // firmware has let go of its mount (the folder is the volume).
            if (inserted_ != static_cast<int>(i) && s_.writeBack &&
                printer_.get("/api/board")["usb"].value("volume", std::string()) ==
                    stickDir(i).string() &&
                printer_.get("/api/state").value("s_isMounted", 0) != 0) {
                printer_.runUntil("s_isMounted", 0, 3000);
                state_ = printer_.get("/api/state");
                now_ = state_.value("sim_time_ms", now_);
            }
            if (inserted_ != static_cast<int>(i) && s_.writeBack &&
                state_.value("s_isMounted", 0) == 0) {
                const auto& files = s_.sticks[i].files;
                const size_t f =
                    std::min<size_t>(g.value("file", 0), files.empty() ? 0 : files.size() - 1);
                if (!files.empty()) {
                    const std::string name = diskName(files[f]);
                    auto it = expected_[i].find(name);
                    if (it != expected_[i].end() && !it->second.empty()) {
                        it->second[g.value("offset", uint64_t{0}) % it->second.size()] =
                            static_cast<char>(g.value("byte", 0));
                        std::ofstream(stickDir(i) / "pravik3d" / name,
                                      std::ios::binary | std::ios::trunc)
                            << it->second;
                        initial_[i][name] = it->second;
                    }
                }
            }
        }
        answering();
    }

    void clearFaults() {
        printer_.post("/api/board", json{{"silent", false},
                                         {"noisy", false},
                                         {"slow_ms", 0},
                                         {"sensor_failure", false},
                                         {"return_short_um", 0},
                                         {"temperature", 25}});
        boardFault_.off(now_);
        link_.off(now_);
    }

    void observe(const Action& a) {
        const uint64_t passesBefore = state_.value("main_loop_passes", uint64_t{0});
        const double before = now_;
        state_ = printer_.run(a.then_ms);
        if (!answering()) return;
        now_ = state_["sim_time_ms"].get<double>();
        out_.firmwareMs = static_cast<int64_t>(now_);
        if (o_.verbose) {
            fprintf(
                stderr, "%9.0f ms  %-12s %-50s window %s, status %s, pen %s, stick %d\n", now_,
                a.kind.c_str(), a.args.dump().substr(0, 50).c_str(),
                state_["current_window_name"].dump().c_str(),
                (state_["print_status_name"].dump() + " next " + state_["next_window_ID"].dump() +
                 " change " + state_["change_window"].dump() + " tp " + state_["tp_pixlcd"].dump())
                    .c_str(),
                state_["pen_down"].dump().c_str(), inserted_);
        }
        // The main loop may wait on the link for an answer (a homing takes
        // its time): it must pass again within a minute on a healthy link.
        if (state_["main_loop_passes"].get<uint64_t>() > passesBefore) lastPassAt_ = now_;
        if (now_ - lastPassAt_ > kLoopStallMs && !link_.anyDuring(lastPassAt_, now_)) {
            return breaks(Broken{
                "firmware-runs",
                "the main loop made no pass from " + std::to_string(lastPassAt_) + " ms on", now_});
        }
        // A link fault holds the main loop in an exchange for up to the
        // resend time after it is lifted. A stick pulled or inserted is
        // seen (and mounted, its list read) on the loop's next stick step:
        // a tap meanwhile may be missed or find the file button grey.
        // A tap is judged once, on its own step: a later one starts later,
        // past the faults that excuse it.
        const int pending = std::exchange(pendingWindow_, -1);
        if (pending >= 0 && a.then_ms >= kWindowWithinMs &&
            !link_.anyDuring(before - kResendMs, now_) && stickEventAt_ < before - kStickSettleMs &&
            state_["current_window_ID"] != pending && state_["is_printing_true"] == 0) {
            return breaks(Broken{"window-reached",
                                 "a tap on " + a.args.value("button", std::string("a button")) +
                                     " left the panel on window " +
                                     state_["current_window_ID"].dump() + ", not " +
                                     std::to_string(pending),
                                 before + kWindowWithinMs});
        }
        breaks(judgeCounters(state_, now_));
        readTrace();
        readLight();
        readJobs();
        const json board = printer_.get("/api/board");
        if (!answering()) return;
        breaks(judgeZ(board, link_, now_));
        checkFiles(board);
    }

    void readTrace() {
        const json t = printer_.get("/api/trace?since=" + std::to_string(traceNext_));
        if (!answering()) return;
        for (const json& l : t["lines"]) {
            const std::string text = l["text"];
            out_.traceHash = fnv(out_.traceHash, std::to_string(l["t"].get<int64_t>()) +
                                                     l["dir"].get<std::string>() + text + "\n");
            if (l["dir"] == "rx") {
                if (const auto c = readingOf(text)) readings_.push_back({l["t"].get<double>(), *c});
            }
        }
        traceNext_ = t["next"];
        const json log = printer_.get("/api/log?since=" + std::to_string(logNext_));
        if (!answering()) return;
        saved_ = false;
        for (const json& l : log["lines"]) {
            if (l["text"] == "[os] mount -o remount,rw /opt/usb") saved_ = true;
        }
        logNext_ = log["next"];
    }

    void readLight() {
        const json l = printer_.get("/api/board/light?since=" + std::to_string(lightNext_));
        if (!answering()) return;
        uint64_t next = l["next"];
        for (const json& span : l["spans"]) {
            if (!span["off_ms"].is_null()) ++out_.lightSpans;
            if (span["job"] == true) jobLightOns_[span["seq"]] = span["on_ms"];
            breaks(judgeLightSpan(span, now_, link_, readings_));
            if (span["off_ms"].is_null())
                next = std::min<uint64_t>(next, span["seq"]);  // judged again
        }
        lightNext_ = next;
    }

    void readJobs() {
        const json jobs = printer_.get("/api/jobs")["jobs"];
        if (!answering()) return;
        jobAlive_ = !jobs.empty() && jobs.back()["end_ms"].is_null();
        for (const json& j : jobs) {
            const size_t n = j["n"];
            if (n >= jobsSeen_) {
                ++out_.jobs;
                breaks(judgeJobStart(j));
                jobsSeen_ = n + 1;
                jobIntensity_ = printer_.get("/api/board").value("stored_intensity", 250);
                beyond_ = j["material_test"] == true ? "" : fileBeyondLimits(j["file"]);
            }
            if (!beyond_.empty() && n + 1 == jobsSeen_) {
                std::vector<double> ons;
                for (const auto& [seq, on] : jobLightOns_) ons.push_back(on);
                breaks(judgeRefusedJob(j, beyond_, state_.value("print_status", 0), ons, now_));
            }
            if (!j["end_ms"].is_null() && n >= jobsEnded_) {
                jobsEnded_ = n + 1;
                judgeEndedJob(j);
            }
        }
    }

    // What is beyond the limits in the file a job was started from, as the
    // sticks hold it now: "" unless it is so on every stick with a file of
    // that name (a job may start from a mount the firmware has not yet let
    // go of after a swap).
    std::string fileBeyondLimits(const std::string& name) const {
        std::string beyond;
        for (size_t i = 0; i < s_.sticks.size(); ++i) {
            for (const FilePlan& f : s_.sticks[i].files) {
                if (f.name != name) continue;
                const auto it = expected_[i].find(diskName(f));
                if (it == expected_[i].end()) continue;
                const std::string why = beyondLimits(it->second);
                if (why.empty()) return "";
                beyond = why;
            }
        }
        return beyond;
    }

    // What a job that has ended left on the platform.
    void judgeEndedJob(const json& job) {
        const json part = printer_.get("/api/part");
        if (!answering()) return;
        if (part["volume_mm3"].get<double>() > 0) {
            const geometry::Mesh mesh = geometry::readStl(printer_.getBytes("/api/part.stl"));
            if (!answering()) return;
            const double v = part["volume_mm3"];
            if (!mesh.closed || std::fabs(mesh.volume - v) > std::max(0.01, v * 1e-3)) {
                return breaks(Broken{"part-closed",
                                     "the part's surface is " +
                                         std::string(mesh.closed ? "" : "not ") + "closed, of " +
                                         std::to_string(mesh.volume) + " mm3 against " +
                                         std::to_string(v),
                                     now_});
            }
        }
        // A job that ran to its end with nothing in its way, from a file whose
        // exposures bond every layer, made the part its file describes.
        const double from = job["start_ms"], to = job["end_ms"];
        if (job["layers"] == job["total"]) ++out_.jobsToTheEnd;
        if (job["layers"] != job["total"] || job["total"].get<int>() < 1 ||
            boardFault_.anyDuring(from, to) || stickEventAt_ >= from || inserted_ < 0 || edited_) {
            return;
        }
        const std::string name = job["file"];
        const FilePlan* plan = nullptr;
        for (const FilePlan& f : s_.sticks[static_cast<size_t>(inserted_)].files) {
            if (f.name == name) plan = &f;
        }
        if (plan == nullptr) return;
        const fs::path onStick =
            stickDir(static_cast<size_t>(inserted_)) / "pravik3d" / diskName(*plan);
        if (!bondsEveryLayer(onStick.string(), jobIntensity_)) return;
        const json c = printer_.get("/api/part?file=" + runner::queryValue(name));
        if (!answering()) return;
        ++out_.partsCompared;
        if (c.value("equal", false) != true) {
            breaks(Broken{"part-equals-file",
                          name + ": " + c.value("first_difference", json()).dump(), to});
        }
    }

    void checkFiles(const json& board) {
        const json usb = board["usb"];
        const bool here = state_["preview"]["valid"] == true &&
                          state_["preview"]["stick"] == state_["usb_stick_changes"];
        const std::string previewName = state_["preview"]["name"];
        for (size_t i = 0; i < s_.sticks.size() && out_.held; ++i) {
            std::string previewDisk;
            for (const FilePlan& f : s_.sticks[i].files) {
                if (f.name == previewName) previewDisk = diskName(f);
            }
            const bool inHere = here && inserted_ == static_cast<int>(i);
            if (s_.writeBack) {
                breaks(judgeFiles(expected_[i], folderFiles(stickDir(i) / "pravik3d"), saved_,
                                  inHere, previewDisk, now_, "stick " + std::to_string(i)));
                continue;
            }
            // A copy: the folder itself never changes, the copy as a stick does.
            breaks(judgeFiles(initial_[i], folderFiles(stickDir(i) / "pravik3d"), false, false, "",
                              now_, "the folder of stick " + std::to_string(i)));
            if (inserted_ == static_cast<int>(i) &&
                usb.value("dir", std::string()) == stickDir(i).string()) {
                volumes_[i] = usb.value("volume", std::string());
            }
            if (volumes_.count(i) != 0) {
                breaks(judgeFiles(expected_[i], folderFiles(fs::path(volumes_[i]) / "pravik3d"),
                                  saved_, inHere, previewDisk, now_,
                                  "the copy of stick " + std::to_string(i)));
            }
        }
    }

    // Once the faults are lifted a job ends within its bound when cancelled.
    void settle() {
        clearFaults();
        Action quiet{"wait", json::object(), 2000};
        observe(quiet);
        if (!out_.held) return;
        const json jobs = printer_.get("/api/jobs")["jobs"];
        if (!answering() || jobs.empty() || !jobs.back()["end_ms"].is_null()) return;
        const FilePlan* plan = planNamed(jobs.back()["file"]);
        const double bound = cancelBoundMs(plan);
        printer_.post("/api/print/request", json{{"request", "cancel"}});
        const double from = now_;
        const bool ended =
            printer_.runUntil("print_status", PRINT_END, static_cast<int64_t>(bound));
        if (!answering()) return;
        state_ = printer_.get("/api/state");
        now_ = state_.value("sim_time_ms", now_);
        if (!ended) {
            breaks(Broken{"job-ends",
                          "a job cancelled with its faults lifted did not end in " +
                              std::to_string(static_cast<int64_t>(bound)) + " ms",
                          from + bound});
            return;
        }
        observe(quiet);
    }

    void finish() {
        if (o_.keep && printer_.ok()) {
            // What a person looks at first: the trace and the log.
            for (const char* what : {"trace", "log"}) {
                std::ofstream out(work_ / (std::string(what) + ".txt"));
                const json lines = printer_.get(std::string("/api/") + what)["lines"];
                for (const json& l : lines) {
                    out << l["t"].get<int64_t>() << ' ' << l.value("dir", std::string(" ")) << ' '
                        << l["text"].get<std::string>() << '\n';
                }
            }
        }
        if (printer_.ok()) {
            const int status = printer_.stop();
            const std::string report = sanitizerReport(stderr_);
            if (!report.empty()) {
                breaks(Broken{"sanitizer-clean", report, now_});
            } else if (status != 0) {
                breaks(Broken{"printer-sim-runs",
                              "printer-sim exited with status " + std::to_string(status), now_});
            }
        }
        std::error_code ec;
        if (!o_.keep && !work_.empty()) fs::remove_all(work_, ec);
    }

    const Session& s_;
    const RunOptions& o_;
    Outcome out_;
    int action_ = -1;
    fs::path work_, stderr_;
    runner::Printer printer_;
    json state_;
    double now_ = 0;
    int inserted_ = -1;
    double stickEventAt_ = -1;
    int pendingWindow_ = -1;
    FaultTimes link_, boardFault_;
    std::vector<Reading> readings_;
    uint64_t traceNext_ = 0, logNext_ = 0, lightNext_ = 0;
    size_t jobsSeen_ = 0, jobsEnded_ = 0;
    int jobIntensity_ = 250;
    bool saved_ = false;
    bool jobAlive_ = false;
    std::string beyond_;                      // of the latest job's file
    std::map<uint64_t, double> jobLightOns_;  // a job's light spans by their number
    bool edited_ = false;
    double lastPassAt_ = 0;
    static constexpr double kLoopStallMs = 60000;
    static constexpr int kTapMs = 300;
    double penUpAt_ = -1e9;  // firmware time the last press ended
    static constexpr double kResendMs = 12000;
    static constexpr double kStickSettleMs = 3000;
    std::vector<std::map<std::string, std::string>> initial_, expected_;
    std::map<size_t, std::string> volumes_;
};

}  // namespace

Outcome runSession(const Session& session, const RunOptions& options) {
    return SessionRun(session, options).run();
}

}  // namespace campaign
