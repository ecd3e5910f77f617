// printer-sim as a tool: its control server as a web page elsewhere, a
// careless script or a broken client meets it; its print hook; its stick.
#include <atomic>
#include <latch>
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

TEST_F(HttpScenario, OversizedBodiesAndNumbersAreRefused) {
    const std::string huge(2 << 20, ' ');
    auto res = client_->Post("/api/board", huge, "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 413);

    for (const char* body :
         {R"({"x":4294967396,"y":100})", R"({"x":100,"y":-4294967196})", R"({"x":1e3,"y":100})"}) {
        SCOPED_TRACE(body);
        res = client_->Post("/api/touch", body, "application/json");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400) << res->body;
    }
    EXPECT_FALSE(state()["pen_down"].get<bool>());
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
