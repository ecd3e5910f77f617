// campaign: seeded sessions of the whole machine in printer-sim, each judged
// by the invariants at every step; a failure is shrunk to a short session
// and written with the command that replays it.
#include <sched.h>
#include <CLI/CLI.hpp>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>

#include "run.h"
#include "session.h"
#include "shrink.h"

namespace {

using campaign::json;
namespace fs = std::filesystem;

struct Seeds {
    uint64_t first = 1, last = 0;
};

// A whole number and nothing else; from_chars refuses signs, spaces and overflow.
bool parseWhole(std::string_view text, uint64_t& out) {
    const char* last = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), last, out);
    return !text.empty() && ec == std::errc() && ptr == last;
}

bool parseRange(const std::string& text, Seeds& out) {
    const size_t dash = text.find('-');
    const std::string_view all(text);
    const std::string_view a = all.substr(0, dash);
    const std::string_view b = dash == std::string::npos ? a : all.substr(dash + 1);
    return parseWhole(a, out.first) && parseWhole(b, out.last) && out.first <= out.last;
}

bool parseShard(const std::string& text, uint64_t& i, uint64_t& n) {
    const size_t slash = text.find('/');
    if (slash == std::string::npos) return false;
    const std::string_view all(text);
    return parseWhole(all.substr(0, slash), i) && parseWhole(all.substr(slash + 1), n) && n >= 1 &&
           i >= 1 && i <= n;
}

std::string hex(uint64_t v) {
    char t[17];
    snprintf(t, sizeof t, "%016llx", static_cast<unsigned long long>(v));
    return t;
}

json reportLine(const campaign::Session& s, const campaign::Outcome& o) {
    size_t files = 0;
    for (const auto& st : s.sticks) files += st.files.size();
    json j{{"seed", s.seed},
           {"commit", VELMOR_COMMIT},
           {"outcome", o.held ? "held" : "broken"},
           {"invariant", o.held ? json() : json(o.broken.invariant)},
           {"at_ms", o.held ? json() : json(static_cast<int64_t>(o.broken.at_ms))},
           {"action", o.held ? json() : json(o.action)},
           {"detail", o.held ? json() : json(o.broken.detail)},
           {"actions", s.actions.size()},
           {"files", files},
           {"firmware_ms", o.firmwareMs},
           {"jobs", o.jobs},
           {"jobs_to_the_end", o.jobsToTheEnd},
           {"parts_compared", o.partsCompared},
           {"light_spans", o.lightSpans},
           {"trace_hash", hex(o.traceHash)},
           {"real_s", std::round(o.realSeconds * 100) / 100}};
    return j;
}

struct Options {
    std::string seeds;
    int jobs = 1;
    std::string shard;
    std::string report;
    std::string show;
    std::string replay;
    bool noShrink = false;
    bool untilBroken = false;
    int shrinkBudget = 150;
    std::string failures = "campaign-failures";
    campaign::RunOptions run;
};

// Runs a session and, when it breaks, its shrunk form; what to print.
std::string judged(const campaign::Session& s, const campaign::Outcome& o, const Options& opt) {
    if (o.held) return "";
    std::string text = "seed " + std::to_string(s.seed) + ": " + o.broken.invariant + " at " +
                       std::to_string(static_cast<int64_t>(o.broken.at_ms)) + " ms (action " +
                       std::to_string(o.action) + " of " + std::to_string(s.actions.size()) +
                       "): " + o.broken.detail + "\n";
    campaign::Session shortest = s;
    if (!opt.noShrink) {
        const std::string invariant = o.broken.invariant;
        shortest = campaign::shrinkSession(
            s,
            [&](const campaign::Session& trial) {
                const campaign::Outcome t = campaign::runSession(trial, opt.run);
                return !t.held && t.broken.invariant == invariant;
            },
            opt.shrinkBudget);
    }
    std::error_code ec;
    fs::create_directories(opt.failures, ec);
    const fs::path file = fs::path(opt.failures) / ("seed-" + std::to_string(s.seed) + ".json");
    json kept = shortest.toJson();
    kept["invariant"] = o.broken.invariant;
    std::ofstream(file) << kept.dump(2) << "\n";
    text += "  " + std::string(opt.noShrink ? "kept" : "shrunk to") + " " +
            std::to_string(shortest.actions.size()) + " actions: campaign --replay " +
            file.string() + "\n";
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    CLI::App app{"Seeded sessions of the whole machine in printer-sim, judged by its invariants.",
                 "campaign"};
    app.add_option("--seeds", opt.seeds, "Seeds to run: N or FIRST-LAST");
    app.add_option("--jobs", opt.jobs, "Sessions at once, each its own printer-sim (default 1)")
        ->check(CLI::Range(1, 256));
    app.add_option("--shard", opt.shard, "Run only the I-th of N slices of the seeds: I/N");
    app.add_option("--report", opt.report, "Write one JSON line per seed to this file");
    app.add_option("--show", opt.show, "Print the session a seed makes, as JSON");
    app.add_option("--replay", opt.replay, "Run the session in this JSON file");
    app.add_flag("--no-shrink", opt.noShrink, "Keep a failing session as it is");
    app.add_flag("--until-broken", opt.untilBroken,
                 "Stop at the lowest seed that breaks: seeds above it are not run or reported");
    app.add_option("--shrink-runs", opt.shrinkBudget, "Runs a shrink may take (default 150)")
        ->check(CLI::Range(0, 100000));
    app.add_option("--failures", opt.failures,
                   "Folder for the failing sessions (default campaign-failures)");
    app.add_option("--printer-sim", opt.run.printerSim,
                   "printer-sim to run (default: the one beside campaign)");
    app.add_option("--work", opt.run.workDir,
                   "Folder for the sessions' scratch folders (default $TMPDIR)");
    app.add_flag("--keep", opt.run.keep,
                 "Leave each session's scratch folder, with its trace and log");
    app.add_flag("--verbose", opt.run.verbose, "Each action and the state after it");
    app.footer(
        "Exit status: 0 every session held, 1 an invariant broke, 2 usage.\n"
        "Examples:\n"
        "  campaign --seeds 1-500 --jobs 2 --report report.jsonl\n"
        "  campaign --seeds 1-10000 --shard 3/8     # the third of eight slices\n"
        "  campaign --seeds 1-300 --until-broken    # the lowest seed that breaks, if any\n"
        "  campaign --show 17\n"
        "  campaign --replay campaign-failures/seed-17.json");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    const int given = !opt.seeds.empty() + !opt.show.empty() + !opt.replay.empty();
    if (given != 1) {
        std::cerr << "campaign: give one of --seeds, --show, --replay (see --help)\n";
        return 2;
    }
    if (!opt.show.empty()) {
        Seeds s;
        if (!parseRange(opt.show, s) || s.first != s.last) {
            std::cerr << "campaign: --show takes one seed\n";
            return 2;
        }
        std::cout << campaign::generateSession(s.first).toJson().dump(2) << "\n";
        return 0;
    }
    std::vector<campaign::Session> sessions;
    if (!opt.replay.empty()) {
        std::ifstream in(opt.replay);
        const json j = json::parse(in, nullptr, false);
        campaign::Session s;
        if (const std::string error = campaign::sessionFromJson(j, s); !in || !error.empty()) {
            std::cerr << "campaign: " << opt.replay << ": "
                      << (error.empty() ? "cannot read it" : error) << "\n";
            return 2;
        }
        sessions.push_back(std::move(s));
    } else {
        Seeds range;
        if (!parseRange(opt.seeds, range)) {
            std::cerr << "campaign: --seeds takes N or FIRST-LAST\n";
            return 2;
        }
        uint64_t shard = 1, shards = 1;
        if (!opt.shard.empty() && !parseShard(opt.shard, shard, shards)) {
            std::cerr << "campaign: --shard takes I/N, 1 <= I <= N\n";
            return 2;
        }
        // The I-th of N slices of the range, as even as they come.
        const uint64_t count = range.last - range.first + 1;
        const uint64_t from = range.first + count * (shard - 1) / shards;
        const uint64_t to = range.first + count * shard / shards;
        for (uint64_t seed = from; seed < to; ++seed)
            sessions.push_back(campaign::generateSession(seed));
    }

    std::ofstream report;
    if (!opt.report.empty()) {
        report.open(opt.report, std::ios::trunc);
        if (!report) {
            std::cerr << "campaign: cannot write " << opt.report << "\n";
            return 2;
        }
    }
    // Sessions run side by side; their lines come out in order.
    const auto started = std::chrono::steady_clock::now();
    std::mutex lock;
    std::map<size_t, std::pair<json, std::string>> done;
    size_t written = 0, broken = 0, reported = 0;
    std::atomic<size_t> next{0};
    // With --until-broken, the lowest session that broke so far: sessions
    // above it are not started, and those already running are dropped, so
    // the outcome is the same however the sessions were spread.
    std::atomic<size_t> stopAt{sessions.size()};
    const auto beyondStop = [&](size_t i) { return opt.untilBroken && i > stopAt.load(); };
    auto flush = [&] {
        for (auto it = done.find(written); it != done.end(); it = done.find(written)) {
            // Every session below this one has ended: whether one of them
            // broke is known for good.
            if (!beyondStop(written)) {
                if (report.is_open()) report << it->second.first.dump() << "\n" << std::flush;
                std::cout << it->second.second << std::flush;
                ++reported;
                broken += it->second.first["outcome"] == "broken" ? 1 : 0;
            }
            done.erase(it);
            ++written;
        }
    };
    // Each worker's printer-sim on a CPU of its own, where there are enough.
    std::vector<int> cpus;
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        for (int c = 0; c < CPU_SETSIZE; ++c) {
            if (CPU_ISSET(c, &allowed)) cpus.push_back(c);
        }
    }
    std::vector<std::thread> workers;
    for (int w = 0; w < std::min<int>(opt.jobs, static_cast<int>(sessions.size())); ++w) {
        campaign::RunOptions run = opt.run;
        if (opt.jobs > 1 && static_cast<size_t>(opt.jobs) <= cpus.size()) run.cpu = cpus[w];
        workers.emplace_back([&, run] {
            for (size_t i; (i = next++) < sessions.size() && !beyondStop(i);) {
                const campaign::Outcome o = campaign::runSession(sessions[i], run);
                if (!o.held && opt.untilBroken) {
                    for (size_t at = stopAt.load();
                         i < at && !stopAt.compare_exchange_weak(at, i);) {
                    }
                }
                const std::string text = beyondStop(i) ? "" : judged(sessions[i], o, opt);
                std::lock_guard<std::mutex> l(lock);
                done[i] = {reportLine(sessions[i], o), text};
                flush();
            }
        });
    }
    for (std::thread& t : workers) t.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    fprintf(stderr, "campaign: %zu sessions, %zu held, %zu broke (%.1f s)\n", reported,
            reported - broken, broken, seconds);
    return broken == 0 ? 0 : 1;
}
