// What the control server reads from requests and hands out, without the
// server: the lines a reader gets from its cursor on.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "line_feed.h"
#include "trace.h"

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
    const json first = sim::linesSince(trace, 0, true, 1000);
    sim::setLinesReadHook(nullptr);
    const json second = sim::linesSince(trace, first["next"], true, 1000);
    std::vector<uint64_t> got = seqs(first);
    for (uint64_t s : seqs(second)) got.push_back(s);
    EXPECT_EQ(got, (std::vector<uint64_t>{0, 1, 2, 3, 4, 5, 6}));
}

}  // namespace
