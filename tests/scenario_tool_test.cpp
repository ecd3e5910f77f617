// printer-sim as a tool: its control server as a web page elsewhere, a
// careless script or a broken client meets it; its print hook; its stick.
#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <latch>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "print_file_builder.h"
#include "scenario_fixture.h"

namespace scenario {
namespace {

using HttpScenario = SimScenario;

TEST_F(HttpScenario, WrongMethodsAndPathsGetTheirStatusAndABody) {
    auto res = client_->Post("/api/state", "{}", "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 405);
    EXPECT_EQ(res->get_header_value("Allow"), "GET");
    EXPECT_NE(res->body.find("error"), std::string::npos) << res->body;

    res = client_->Get("/api/nothing-here");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404);
    EXPECT_NE(json::parse(res->body, nullptr, false).value("error", ""), "") << res->body;
}

// In top -H and gdb a thread's name says what it does: one listens, the
// pool's workers serve, whether or not a request reached them yet.
TEST_F(HttpScenario, TheServersThreadsAreNamedForTheirWork) {
    if (std::string(TOOL_EMULATOR) != "") GTEST_SKIP() << "the emulator's threads are its own";
    std::map<std::string, int> names;
    for (const auto& task :
         fs::directory_iterator("/proc/" + std::to_string(sim_.pid()) + "/task")) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        ++names[name];
    }
    EXPECT_EQ(names["http-listen"], 1);
    EXPECT_GE(names["http"], 64);
}

TEST_F(HttpScenario, OnlyThisMachinesPagesMayDriveTheSimulator) {
    const std::string self = "http://127.0.0.1:" + std::to_string(port_);
    const json before = get("/api/board");
    struct Case {
        const char* name;
        httplib::Headers headers;
        int status;
    };
    const Case cases[] = {
        {"another site's page", {{"Origin", "http://evil.example"}}, 403},
        {"a rebinding host name", {{"Host", "evil.example:80"}}, 403},
        {"a look-alike origin", {{"Origin", self + ".evil.example"}}, 403},
        {"the control page itself", {{"Origin", self}}, 200},
        {"a script, no origin", {}, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto res = client_->Post("/api/usb/remove", c.headers, "", "application/json");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, c.status) << res->body;
        if (c.status == 403) {
            EXPECT_EQ(get("/api/board")["usb"], before["usb"]) << "refused, so nothing changed";
        }
    }
}

TEST_F(HttpScenario, EventStreamsAreBoundedAndTheApiStaysAnswerable) {
    std::atomic<bool> done{false};
    std::latch open(4);
    std::vector<std::thread> streams;
    for (int i = 0; i < 4; ++i) {
        streams.emplace_back([&] {
            httplib::Client c("127.0.0.1", port_);
            bool counted = false;
            c.Get("/api/events", [&](const char* data, size_t n) {
                const std::string chunk(data, n);
                if (!counted && chunk.rfind("data: {", 0) == 0) {
                    counted = true;
                    open.count_down();
                }
                return !done;
            });
        });
    }
    open.wait();  // each has had its first event
    auto res = client_->Get("/api/events");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 503);
    res = client_->Get("/api/state");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(json::parse(res->body)["current_window_name"], "home");
    done = true;
    for (std::thread& t : streams) t.join();
}

// Every line of the trace and of the log reaches a reader of the event
// stream once and in order; lines an event leaves out (it carries at most
// 1000 of each) are named with where to fetch them.
TEST_F(HttpScenario, EveryLineOfALongRunReachesTheEventStream) {
    struct Seen {
        std::mutex lock;
        std::map<std::string, std::vector<json>> lines;  // per kind: trace, log
        std::map<std::string, uint64_t> next;
        std::vector<std::string> faults;
        std::condition_variable moved;  // after every event
    } seen;
    std::atomic<bool> done{false};
    std::latch first(1);
    std::thread reader([&] {
        httplib::Client c("127.0.0.1", port_);
        std::string buffer;
        bool started = false;
        c.Get("/api/events", [&](const char* data, size_t n) {
            buffer.append(data, n);
            size_t end;
            while ((end = buffer.find("\n\n")) != std::string::npos) {
                const json e = json::parse(buffer.substr(6, end - 6), nullptr, false);
                buffer.erase(0, end + 2);
                std::lock_guard<std::mutex> l(seen.lock);
                for (const char* kind : {"trace", "log"}) {
                    const json& part = e[kind];
                    std::vector<json>& into = seen.lines[kind];
                    if (part.contains("dropped")) {
                        // Fetch what the event left out, from where it says.
                        const json& d = part["dropped"];
                        if (d["held_from"] != d["from"]) seen.faults.push_back("lines were lost");
                        httplib::Client f("127.0.0.1", port_);
                        const auto res = f.Get(d["fetch"].get<std::string>());
                        const json held = res ? json::parse(res->body, nullptr, false) : json();
                        for (const json& l : held["lines"]) {
                            if (l["seq"] < d["from"].get<uint64_t>() + d["count"].get<uint64_t>())
                                into.push_back(l);
                        }
                    }
                    for (const json& l : part["lines"]) into.push_back(l);
                    seen.next[kind] = part["next"];
                }
                seen.moved.notify_all();
                if (!started) {
                    started = true;
                    first.count_down();
                }
            }
            return !done;
        });
    });
    first.wait();
    run(3000000);
    const json trace = get("/api/trace"), log = get("/api/log");
    {
        // The stream's events go on while the clock stands: the reader
        // catches up within a few of them.
        std::unique_lock<std::mutex> l(seen.lock);
        seen.moved.wait(l, [&] {
            return seen.next["trace"] >= trace["next"] && seen.next["log"] >= log["next"];
        });
    }
    done = true;
    reader.join();
    EXPECT_TRUE(seen.faults.empty());
    for (const auto& [kind, all] : {std::pair{"trace", trace}, std::pair{"log", log}}) {
        SCOPED_TRACE(kind);
        const std::vector<json>& got = seen.lines[kind];
        ASSERT_FALSE(got.empty());
        const uint64_t from = got.front()["seq"];
        ASSERT_EQ(got.size(), all["lines"].size() - from) << "lines lost or repeated";
        for (size_t i = 0; i < got.size(); ++i) {
            ASSERT_EQ(got[i], all["lines"][from + i]) << "at " << i;
        }
    }
    EXPECT_GT(trace["next"].get<uint64_t>(), 4000u) << "the run was long enough to matter";
}

// Query numbers are read strictly, like every other number of the API.
TEST_F(HttpScenario, ALineCursorIsDecimalDigits) {
    run(3000);
    for (const char* path : {"/api/trace", "/api/log"}) {
        for (const char* since : {"abc", "5x", "-1", "", "+3"}) {
            SCOPED_TRACE(std::string(path) + "?since=" + since);
            auto res = client_->Get(std::string(path) + "?since=" + since);
            ASSERT_TRUE(res);
            EXPECT_EQ(res->status, 400);
            EXPECT_NE(res->body.find("since must be"), std::string::npos) << res->body;
        }
        auto res = client_->Get(std::string(path) + "?since=2");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        EXPECT_EQ(json::parse(res->body)["lines"][0]["seq"], 2);
    }
}

// One limit for every body, whatever its content type; host names as any
// case; /api/run's fields as strictly as the others', and numbers out of
// their range or not integers refused.
TEST_F(HttpScenario, BodiesHostsRunsAndNumbersAreReadStrictly) {
    for (const char* type : {"application/json", "application/x-www-form-urlencoded"}) {
        SCOPED_TRACE(type);
        std::string body = R"({"ms":0})";
        body.resize(8192, ' ');
        auto res = client_->Post("/api/run", body, type);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200) << res->body;
        body.push_back(' ');
        res = client_->Post("/api/run", body, type);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 413) << res->body;
    }
    auto res = client_->Get("/api/state", {{"Host", "LOCALHOST:" + std::to_string(port_)}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    const uint64_t before = state()["sim_time_ms"];
    for (const char* body :
         {R"({"ms":100,"extra":1})",
          R"({"ms":100,"until":{"field":"usb_file_count","equals":0},"limit_ms":100})"}) {
        SCOPED_TRACE(body);
        EXPECT_EQ(post(body, "/api/run"), 400);
    }
    EXPECT_EQ(state()["sim_time_ms"], before) << "a refused run runs nothing";
    // Numbers outside their range, or not integers, change nothing.
    for (const char* body :
         {R"({"x":4294967396,"y":100})", R"({"x":100,"y":-4294967196})", R"({"x":1e3,"y":100})"}) {
        SCOPED_TRACE(body);
        EXPECT_EQ(post(body, "/api/touch"), 400);
    }
    EXPECT_FALSE(state()["pen_down"].get<bool>());
}

// One finger: a second touch while the first is held is refused with the
// first one's release, and the first holds until then.
TEST_F(HttpScenario, ATouchWhileAnotherIsHeldIsRefused) {
    auto res = client_->Post("/api/touch", R"({"x":10,"y":10,"ms":1000})", "application/json");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    const int64_t release = json::parse(res->body)["release_at_ms"];
    run(100);
    res = client_->Post("/api/touch", R"({"x":200,"y":100,"ms":100})", "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 409);
    EXPECT_EQ(json::parse(res->body)["release_at_ms"], release);
    run(800);
    EXPECT_TRUE(state()["pen_down"].get<bool>());
    EXPECT_EQ(state()["tp_pixlcd"], (json{{"x", 10}, {"y", 10}})) << "still the first press";
    run(200);
    EXPECT_FALSE(state()["pen_down"].get<bool>());
    // The pen takes the panel over; a touch's release then leaves it pressed.
    ASSERT_EQ(post(R"({"x":20,"y":20,"ms":300})", "/api/touch"), 200);
    ASSERT_EQ(post(R"({"down":true,"x":30,"y":30})", "/api/pen"), 200);
    run(500);
    EXPECT_TRUE(state()["pen_down"].get<bool>());
    EXPECT_EQ(post(R"({"x":40,"y":40})", "/api/touch"), 409);
    ASSERT_EQ(post(R"({"down":false})", "/api/pen"), 200);
    EXPECT_FALSE(state()["pen_down"].get<bool>());
}

class PrintHookScenario : public SimScenario {
  protected:
    void SetUp() override {
        makeStick();
        put("job.pvk4k", PrintFileBuilder::quick(3).bytes());
        SimScenario::SetUp();
        ASSERT_NO_FATAL_FAILURE(awaitState("usb_file_count", 1, 150));
    }
    httplib::Result print() {
        return client_->Post("/api/print", R"({"file":"job.pvk4k"})", "application/json");
    }
};

TEST_F(PrintHookScenario, TheHookDoesWhatTheStartButtonDoes) {
    for (int hot : {56, -10}) {  // too hot, and a failed sensor
        SCOPED_TRACE(hot);
        ASSERT_EQ(post(json{{"temperature", hot}}.dump()), 200);
        ASSERT_NO_FATAL_FAILURE(awaitState("current_temperature", hot, 150));
        auto res = print();
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400);
        EXPECT_NE(res->body.find("temperature"), std::string::npos) << res->body;
        passes(3);
        EXPECT_EQ(state()["print_status"], 0);
    }
    ASSERT_EQ(post(R"({"temperature":30})"), 200);
    ASSERT_NO_FATAL_FAILURE(awaitState("current_temperature", 30, 150));

    // Back to back: one job, and the printing window with it.
    auto first = print();
    auto second = print();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->status, 200) << first->body;
    EXPECT_EQ(second->status, 400);
    EXPECT_NE(second->body.find("job"), std::string::npos) << second->body;
    ASSERT_NO_FATAL_FAILURE(awaitWindow(INDEX_WINDOW_PRINT));
    ASSERT_NO_FATAL_FAILURE(awaitState("is_printing_true", 1, 10));
    auto during = print();
    ASSERT_TRUE(during);
    EXPECT_EQ(during->status, 400);
    awaitStatus(PRINT_END);
}

// After a job has ended, the next one shows the printing window too, on
// whichever pass of the window's once-a-second refresh it comes: with the
// file window open during a job, a preview would read the job's file.
TEST_F(PrintHookScenario, AJobAfterAnEndedOneGetsThePrintingWindow) {
    ASSERT_EQ(print()->status, 200);
    for (int offset = 0; offset < 50; ++offset) {
        SCOPED_TRACE(offset);
        awaitStatus(PRINT_END);
        // Home comes with the printing window's next refresh.
        ASSERT_NO_FATAL_FAILURE(awaitState("current_window_ID", INDEX_WINDOW_HOME, 120));
        passes(offset);
        ASSERT_EQ(print()->status, 200);
        ASSERT_NO_FATAL_FAILURE(awaitState("print_status", PRINT_RUNNING, 150));
        passes(60);
        ASSERT_EQ(state()["current_window_ID"], INDEX_WINDOW_PRINT);
    }
    awaitStatus(PRINT_END);
}

// The demo stick, as a person starts the simulator: a copy of the folder.
class StickScenario : public SimScenario {
  protected:
    void SetUp() override {
        makeStick();
        put("job.pvk4k", PrintFileBuilder::quick(3).bytes());
        args_ = {"--stick", stick_.string()};
        SimScenario::SetUp();
        ASSERT_NO_FATAL_FAILURE(awaitState("usb_file_count", 1, 150));
    }
};

using LogScenario = SimScenario;

TEST_F(LogScenario, TheLogIsUtf8AlsoForGbkNames) {
    makeStick();
    put("\xb3\xdd\xc2\xd6.pvk4k", PrintFileBuilder::quick(1).bytes());  // "gear" in GBK
    args_ = {"--stick", stick_.string()};
    ASSERT_NO_FATAL_FAILURE(restart());
    ASSERT_NO_FATAL_FAILURE(awaitState("usb_file_count", 1, 150));
    const json lines = get("/api/log")["lines"];
    bool logged = false;
    for (const json& l : lines) logged |= l["text"] == "start file_name_list[0]:齿轮.pvk4k";
    EXPECT_TRUE(logged) << lines.dump();
    // The state shows the name as the log does, and takes it back as shown.
    EXPECT_EQ(state()["file_name_list"], json::array({"齿轮.pvk4k"}));
    EXPECT_EQ(print("齿轮.pvk4k"), 200);
    auto res = client_->Get("/api/part?file=%E9%BD%BF%E8%BD%AE.pvk4k");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;
}

TEST_F(StickScenario, AWriteToTheReadOnlyStickIsAFaultAndTheFolderStaysAsItWas) {
    const json usb = get("/api/board")["usb"];
    ASSERT_TRUE(usb["mounted"].get<bool>());
    ASSERT_TRUE(usb["read_only"].get<bool>());
    const fs::path volume = usb["volume"].get<std::string>();
    EXPECT_NE(volume, stick_);
    EXPECT_EQ(state()["readonly_violations"], 0);

    // What the board's kernel would refuse: a write while mounted read-only.
    std::ofstream(volume / "pravik3d/job.pvk4k", std::ios::app) << "x";
    const uint64_t log = get("/api/log")["next"];
    EXPECT_EQ(state()["readonly_violations"], 1);
    bool logged = false;
    const json lines = get("/api/log?since=" + std::to_string(log))["lines"];
    for (const json& l : lines) {
        logged |= l["text"].get<std::string>().find("mounted read-only (pravik3d/job.pvk4k)") !=
                  std::string::npos;
    }
    EXPECT_TRUE(logged);
    EXPECT_EQ(fs::file_size(stick_ / "pravik3d/job.pvk4k"),
              PrintFileBuilder::quick(3).bytes().size())
        << "the user's folder is not the stick";
    expectedReadOnlyViolations_ = 1;
}

// The stick's copy keeps the files' times: the preview shows the file's
// date, the same as from the folder itself.
TEST_F(StickScenario, TheCopyKeepsTheFilesTimesAndThePreviewShowsThem) {
    const fs::path file = stick_ / "pravik3d/job.pvk4k";
    // 4 March 2021, 05:06:07.5 UTC: not today, to the nanosecond.
    const timespec when[2] = {{1614834367, 500000000}, {1614834367, 500000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), when, 0), 0);
    ASSERT_NO_FATAL_FAILURE(restart());
    ASSERT_NO_FATAL_FAILURE(awaitState("usb_file_count", 1, 150));
    const fs::path copy = get("/api/board")["usb"]["volume"].get<std::string>();
    ASSERT_NE(copy, stick_);
    struct stat st {};
    ASSERT_EQ(stat((copy / "pravik3d/job.pvk4k").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, when[1].tv_sec);
    EXPECT_EQ(st.st_mtim.tv_nsec, when[1].tv_nsec);
    // The date on the preview, from the copy and from the folder itself.
    auto previewDate = [&] {
        std::vector<uint8_t> date;
        openFile("job.pvk4k");
        const std::vector<uint8_t> panel = pictureRgb("/api/panel.png");
        for (int y = 104; y < 120; ++y) {
            date.insert(date.end(), panel.begin() + (y * 320 + 200) * 3,
                        panel.begin() + (y * 320 + 300) * 3);
        }
        return date;
    };
    const std::vector<uint8_t> fromCopy = previewDate();
    args_.push_back("--stick-write-back");
    ASSERT_NO_FATAL_FAILURE(restart());
    ASSERT_NO_FATAL_FAILURE(awaitState("usb_file_count", 1, 150));
    EXPECT_EQ(previewDate(), fromCopy);
}

TEST_F(StickScenario, ASwapBeforeTheOldStickIsUnmountedIsNoFault) {
    const fs::path other = makeOtherStick();
    std::ofstream(other / "pravik3d/other.pvk4k", std::ios::binary)
        << PrintFileBuilder::quick(2).bytes();
    // Both at one instant: the firmware unmounts the first stick only later.
    ASSERT_NO_FATAL_FAILURE(pullStick());
    ASSERT_NO_FATAL_FAILURE(insertStick(other));
    EXPECT_EQ(state()["readonly_violations"], 0);
    ASSERT_TRUE(runUntil("s_isMounted", 0, 5000));
    ASSERT_TRUE(runUntil("s_isMounted", 1, 5000));
    EXPECT_EQ(state()["readonly_violations"], 0);
}

}  // namespace
}  // namespace scenario
