// What the control server reads from requests and hands out, without the
// server: the lines a reader gets from its cursor on, and the request
// readers' refusals.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "sim/control/api_requests.h"
#include "sim/control/line_feed.h"
#include "sim/motion/trace.h"

namespace {

using nlohmann::json;

std::vector<uint64_t> seqs(const json& read) {
    std::vector<uint64_t> out;
    for (const json& l : read["lines"]) out.push_back(l["seq"]);
    return out;
}

// A reader holds between taking the lines and saying where to go on while
// the firmware adds lines: none of them may be lost to it.
TEST(LineFeed, LinesAddedWhileAReaderHoldsReachItsNextRead) {
    sim::Trace trace;
    for (int i = 0; i < 5; ++i) trace.add('>', "G1 Z" + std::to_string(i));
    bool once = true;
    sim::setLinesReadHook([&] {
        if (!once) return;
        once = false;
        trace.add('<', "ok");
        trace.add('>', "M105");
    });
    const json first = sim::linesSince(trace, 0, true, 1000, "/api/trace");
    sim::setLinesReadHook(nullptr);
    const json second = sim::linesSince(trace, first["next"], true, 1000, "/api/trace");
    std::vector<uint64_t> got = seqs(first);
    for (uint64_t s : seqs(second)) got.push_back(s);
    EXPECT_EQ(got, (std::vector<uint64_t>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_FALSE(first.contains("dropped"));
}

// Lines past a read's limit, or no longer held, are named, with where the
// ones still held come from.
TEST(LineFeed, LinesLeftOutAreSaidPlainly) {
    sim::Trace trace(10);
    for (int i = 0; i < 25; ++i) trace.add(' ', "line " + std::to_string(i));
    // Held: 15..24. A reader at 12 with a limit of 4 gets 21..24.
    const json read = sim::linesSince(trace, 12, false, 4, "/api/log");
    EXPECT_EQ(seqs(read), (std::vector<uint64_t>{21, 22, 23, 24}));
    EXPECT_EQ(read["next"], 25);
    EXPECT_EQ(
        read["dropped"],
        (json{{"from", 12}, {"count", 9}, {"held_from", 15}, {"fetch", "/api/log?since=15"}}));
    // Within what is held and the limit, nothing is left out.
    const json all = sim::linesSince(trace, 15, false, SIZE_MAX, "/api/log");
    EXPECT_EQ(seqs(all).size(), 10u);
    EXPECT_FALSE(all.contains("dropped"));
    // A cursor at or past the end gets nothing and stays where the lines end.
    const json none = sim::linesSince(trace, 40, false, SIZE_MAX, "/api/log");
    EXPECT_TRUE(none["lines"].empty());
    EXPECT_EQ(none["next"], 25);
}

TEST(ApiRequests, ALineNumberIsDecimalDigitsOnly) {
    uint64_t n = 99;
    EXPECT_EQ(sim::api::parseSince("0", n), "");
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(sim::api::parseSince("9223372036854775807", n), "");
    for (const char* bad : {"", "abc", "5x", "-1", "+5", " 5", "5 ", "0x10", "1e3",
                            "9223372036854775808", "99999999999999999999"}) {
        SCOPED_TRACE(bad);
        n = 7;
        EXPECT_NE(sim::api::parseSince(bad, n), "");
        EXPECT_EQ(n, 7u);
    }
    int scale = 0;
    EXPECT_NE(sim::api::parseScale(" 8", scale), "");
    EXPECT_NE(sim::api::parseScale("+8", scale), "");
    EXPECT_EQ(sim::api::parseScale("8", scale), "");
}

// Every body is read alike: an unknown field, or two ways of saying how
// long to run, is refused rather than ignored.
TEST(ApiRequests, UnknownFieldsAndConflictingOnesAreRefused) {
    sim::api::Run run;
    EXPECT_EQ(sim::api::parseRun(R"({"ms":100})", run), "");
    EXPECT_EQ(run.ms, 100);
    EXPECT_NE(sim::api::parseRun(R"({"ms":100,"extra":1})", run), "");
    EXPECT_NE(
        sim::api::parseRun(R"({"ms":100,"until":{"field":"x","equals":1},"limit_ms":5})", run), "");
    EXPECT_NE(
        sim::api::parseRun(R"({"until":{"field":"x","equals":1,"nope":2},"limit_ms":5})", run), "");
    sim::api::Touch touch;
    EXPECT_NE(sim::api::parseTouch(R"({"x":1,"y":2,"hold":5})", touch), "");
    sim::api::Pen pen;
    EXPECT_NE(sim::api::parsePen(R"({"down":false,"x":1,"y":1,"z":0})", pen), "");
    sim::api::Insert insert;
    EXPECT_NE(sim::api::parseInsert(R"({"folder":"/tmp"})", insert), "");
    std::string text;
    EXPECT_NE(sim::api::parsePrint(R"({"file":"a.pvk4k","now":true})", text), "");
    EXPECT_NE(sim::api::parsePrint(R"({"file":""})", text), "");
    EXPECT_EQ(sim::api::parsePrint(R"({"file":"a.pvk4k"})", text), "");
    EXPECT_EQ(text, "a.pvk4k");
    EXPECT_NE(sim::api::parsePrintRequest(R"({"request":"pause","why":1})", text), "");
    EXPECT_NE(sim::api::parsePrintRequest(R"({"request":"stop"})", text), "");
    EXPECT_EQ(sim::api::parsePrintRequest(R"({"request":"temppause"})", text), "");
    EXPECT_EQ(text, "temppause");
}

}  // namespace
