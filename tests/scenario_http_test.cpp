// The control server as a web page elsewhere, a careless script or a
// broken client meets it.
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

    for (const char* body : {R"({"x":4294967396,"y":100})", R"({"x":100,"y":-4294967196})",
                             R"({"x":1e3,"y":100})"}) {
        SCOPED_TRACE(body);
        res = client_->Post("/api/touch", body, "application/json");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400) << res->body;
    }
    EXPECT_FALSE(state()["pen_down"].get<bool>());
}

}  // namespace
}  // namespace scenario
