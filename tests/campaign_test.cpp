// The campaign itself: a seed makes one session, byte for byte; a session
// reads back from its JSON; the invariants judge what they say; two runs of
// a seed and the shards of a range give the same report lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "firmware/print/print.h"
#include "firmware/ui/ui.h"
#include "tools/campaign/invariants.h"
#include "tools/campaign/session.h"
#include "tools/campaign/stick_files.h"

namespace {

using campaign::json;
namespace fs = std::filesystem;

TEST(CampaignSession, ASeedMakesOneSessionAndItReadsBack) {
    for (uint64_t seed : {1ULL, 2ULL, 77ULL, 123456789ULL, ~0ULL}) {
        SCOPED_TRACE(seed);
        const campaign::Session s = campaign::generateSession(seed);
        EXPECT_EQ(s.toJson(), campaign::generateSession(seed).toJson());
        EXPECT_FALSE(s.actions.empty());
        EXPECT_LE(s.firmwareMs(), 1200000);
        campaign::Session back;
        ASSERT_EQ(campaign::sessionFromJson(s.toJson(), back), "");
        EXPECT_EQ(back.toJson(), s.toJson());
        for (const auto& stick : s.sticks) {
            for (const auto& f : stick.files)
                EXPECT_EQ(campaign::fileBytes(f), campaign::fileBytes(f));
        }
    }
    EXPECT_NE(campaign::generateSession(1).toJson(), campaign::generateSession(2).toJson());
    campaign::Session s;
    EXPECT_NE(campaign::sessionFromJson(json::parse(R"({"sticks":[]})"), s), "");
    EXPECT_NE(
        campaign::sessionFromJson(json::parse(R"({"sticks":[{"files":[{"name":"../x"}]}]})"), s),
        "");
}

TEST(CampaignInvariants, TheLightIsJudgedWhereItIsOnAndHowLong) {
    campaign::FaultTimes link;
    const std::vector<campaign::Reading> cool{{0, 25}};
    auto span = [](double on, double off, bool job, int window, int moves = 0) {
        return json{{"on_ms", on},      {"off_ms", off},  {"job", job},
                    {"window", window}, {"moves", moves}, {"material_test", false}};
    };
    EXPECT_FALSE(campaign::judgeLightSpan(span(0, 6100, true, 6), 7000, link, cool));
    EXPECT_FALSE(
        campaign::judgeLightSpan(span(0, 400000, false, 9), 400000, link, cool));  // UV window
    EXPECT_EQ(campaign::judgeLightSpan(span(0, 10, false, 0), 20, link, cool)->invariant,
              "light-in-its-place");
    EXPECT_EQ(campaign::judgeLightSpan(span(0, 6000, true, 6, 1), 7000, link, cool)->invariant,
              "no-move-while-lit");
    EXPECT_EQ(campaign::judgeLightSpan(span(0, 300300, true, 6), 300400, link, cool)->invariant,
              "light-within-limit");
    link.on(100);  // a slow link may hold the light on
    EXPECT_FALSE(campaign::judgeLightSpan(span(0, 300300, true, 6), 300400, link, cool));
    // Hot while lit: off within the bound of the reading, also when the
    // reading came before the light (the settle wait lights it anyway).
    campaign::FaultTimes healthy;
    const std::vector<campaign::Reading> hot{{0, 25}, {2000, 101}};
    EXPECT_FALSE(campaign::judgeLightSpan(span(1000, 3000, true, 6), 4000, healthy, hot));
    EXPECT_EQ(campaign::judgeLightSpan(span(1000, 3400, true, 6), 4000, healthy, hot)->invariant,
              "light-off-when-hot");
    EXPECT_EQ(campaign::judgeLightSpan(span(2500, 4000, true, 6), 4000, healthy, hot)->invariant,
              "light-off-when-hot");
    EXPECT_EQ(*campaign::readingOf("ok 3300mv/1500rpm/1480rpm/-10T/0 Zmin1 Zmax0"), -10);
    EXPECT_FALSE(campaign::readingOf("ok"));
}

// The firmware reads a touch to within 2 px of where it was made: a tap is
// judged only where every reading of it lands on the same button.
TEST(CampaignInvariants, ATapIsJudgedOnlyWhereEveryReadingOfItHitsTheButton) {
    // The about window's return button holds 139..180 x 183..224.
    EXPECT_EQ(campaign::windowAfterTap(INDEX_WINDOW_ABOUT, 160, 203, false), INDEX_WINDOW_SETTING);
    EXPECT_EQ(campaign::windowAfterTap(INDEX_WINDOW_ABOUT, 141, 185, false), INDEX_WINDOW_SETTING);
    for (const auto& [x, y] :
         {std::pair{139, 189}, {140, 200}, {180, 200}, {160, 183}, {160, 224}, {137, 200}}) {
        SCOPED_TRACE(testing::Message() << x << ", " << y);
        EXPECT_EQ(campaign::windowAfterTap(INDEX_WINDOW_ABOUT, x, y, false), -1);
    }
}

TEST(CampaignInvariants, AFileChangesOnlyByASaveOfThePreviewedFile) {
    std::string file = campaign::fileBytes(campaign::generateSession(5).sticks[0].files[0]);
    std::map<std::string, std::string> expected{{"a.pvk4k", file}, {"b.pvk4k", file}};
    auto actual = expected;
    EXPECT_FALSE(campaign::judgeFiles(expected, actual, false, false, "", 0, "stick"));
    actual["a.pvk4k"][200] ^= 1;  // a layer's byte
    EXPECT_TRUE(campaign::judgeFiles(expected, actual, true, true, "a.pvk4k", 0, "stick"));
    actual = expected;
    actual["a.pvk4k"][60] ^= 1;  // stable_time, inside the block
    EXPECT_TRUE(campaign::judgeFiles(expected, actual, false, true, "a.pvk4k", 0, "stick"));
    EXPECT_TRUE(campaign::judgeFiles(expected, actual, true, true, "b.pvk4k", 0, "stick"));
    EXPECT_TRUE(campaign::judgeFiles(expected, actual, true, false, "a.pvk4k", 0, "stick"));
    EXPECT_FALSE(campaign::judgeFiles(expected, actual, true, true, "a.pvk4k", 0, "stick"));
    EXPECT_EQ(expected["a.pvk4k"], actual["a.pvk4k"]) << "the save is what the file is now";
    actual.erase("b.pvk4k");
    EXPECT_TRUE(campaign::judgeFiles(expected, actual, true, true, "a.pvk4k", 0, "stick"));
}

TEST(CampaignInvariants, AFileBeyondTheLimitsIsToldFromItsBytes) {
    auto with = [](json params, int layers = 3) {
        campaign::FilePlan f;
        f.name = "a.pvk4k";
        f.layers = layers;
        f.params = std::move(params);
        return campaign::beyondLimits(campaign::fileBytes(f));
    };
    EXPECT_EQ(with(json::object()), "");
    EXPECT_EQ(with({{"curing_time", 300000}, {"lift_distance1", 150}}), "");
    EXPECT_EQ(with({{"stable_time", -1}, {"drop_speed", 5}}), "") << "the read raises them";
    EXPECT_EQ(with({{"burnin_time", 300500}}).rfind("burnin_time", 0), 0u);
    EXPECT_EQ(with({{"b_stable_time", 1e9}}).rfind("b_stable_time", 0), 0u);
    EXPECT_EQ(with({{"ZThick", 0.6}}).rfind("ZThick", 0), 0u);
    EXPECT_EQ(with({{"lift_speed2", 3e38}}).rfind("lift_speed2", 0), 0u);
    // Each lift inside the travel, the two together and the layers beyond.
    EXPECT_EQ(with({{"lift_distance1", 120}, {"lift_distance2", 69}}, 10), "");
    EXPECT_EQ(with({{"lift_distance1", 120}, {"lift_distance2", 71}}, 1).rfind("highest lift", 0),
              0u);
    EXPECT_EQ(with({{"ZThick", 0.5}, {"lift_distance1", 150}, {"lift_distance2", 1}}, 78), "");
    EXPECT_EQ(with({{"ZThick", 0.5}, {"lift_distance1", 150}, {"lift_distance2", 1}}, 80)
                  .rfind("highest lift", 0),
              0u);
    EXPECT_EQ(campaign::beyondLimits("not a print file"), "");
}

TEST(CampaignInvariants, AJobBeyondTheLimitsNeverRunsAndARequestNeedsAJob) {
    const json alive{{"start_ms", 1000}, {"end_ms", nullptr}, {"file", "a.pvk4k"}, {"layers", 0}};
    const json ended{{"start_ms", 1000}, {"end_ms", 5000}, {"file", "a.pvk4k"}, {"layers", 0}};
    const int refused = PRINT_DATA_ERROR, running = PRINT_RUNNING;
    EXPECT_FALSE(campaign::judgeRefusedJob(alive, "ZThick 0.6", refused, {500, 6000}, 4000));
    EXPECT_FALSE(campaign::judgeRefusedJob(ended, "ZThick 0.6", refused, {500, 6000}, 9000));
    EXPECT_EQ(campaign::judgeRefusedJob(alive, "ZThick 0.6", running, {}, 4000)->invariant,
              "beyond-limits-refused");
    EXPECT_EQ(campaign::judgeRefusedJob(ended, "ZThick 0.6", refused, {4000}, 9000)->invariant,
              "beyond-limits-refused");
    json exposed = ended;
    exposed["layers"] = 1;
    EXPECT_TRUE(campaign::judgeRefusedJob(exposed, "ZThick 0.6", refused, {}, 9000));

    EXPECT_FALSE(campaign::judgeRequestAnswer("cancel", 400, false, 0));
    EXPECT_FALSE(campaign::judgeRequestAnswer("cancel", 200, true, 0));
    EXPECT_EQ(campaign::judgeRequestAnswer("pause", 200, false, 0)->invariant, "request-needs-job");
}

// The generator reaches what the invariants above need: files beyond the
// limits by their bottom layers' times and by their height, and a save
// answered right after its stick was pulled or swapped.
TEST(CampaignSession, SeedsMakeFilesBeyondTheLimitsAndSavesAcrossAStickChange) {
    std::set<std::string> beyond;
    int savesAcross = 0, sameNames = 0;
    for (uint64_t seed = 1; seed <= 300; ++seed) {
        const campaign::Session s = campaign::generateSession(seed);
        for (const auto& stick : s.sticks) {
            for (const auto& f : stick.files) {
                const std::string why = campaign::beyondLimits(campaign::fileBytes(f));
                beyond.insert(why.substr(0, why.find(' ')));
            }
        }
        if (s.sticks.size() > 1) {
            for (const auto& f : s.sticks[1].files) {
                for (const auto& g : s.sticks[0].files) sameNames += f.name == g.name ? 1 : 0;
            }
        }
        for (size_t i = 1; i < s.actions.size(); ++i) {
            const auto& a = s.actions[i - 1];
            savesAcross += s.actions[i].args.value("button", "") == "save: answer" &&
                           (a.kind == "swap" || a.kind == "insert") && a.then_ms < 1000;
        }
    }
    for (const char* field : {"burnin_time", "b_stable_time", "curing_time", "highest"}) {
        EXPECT_EQ(beyond.count(field), 1u) << field;
    }
    EXPECT_GT(savesAcross, 0);
    EXPECT_GT(sameNames, 0);
}

// The campaign as a program: the same seeds give the same lines, however
// they are split.
std::vector<json> reportOf(const std::string& args, const fs::path& dir) {
    const fs::path report = dir / "report.jsonl";
    const std::string command = std::string(CAMPAIGN_PATH) + " " + args + " --report " +
                                report.string() + " --failures " + (dir / "failures").string() +
                                " > /dev/null 2>&1";
    EXPECT_EQ(system(command.c_str()), 0) << command;
    std::vector<json> lines;
    std::ifstream in(report);
    for (std::string line; std::getline(in, line);) {
        json j = json::parse(line);
        j.erase("real_s");
        lines.push_back(j);
    }
    return lines;
}

TEST(CampaignProgram, RunsRepeatAndShardsAddUp) {
    const fs::path dir = fs::temp_directory_path() / ("campaign-test-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::vector<json> whole = reportOf("--seeds 11-14 --jobs 2", dir);
    ASSERT_EQ(whole.size(), 4u);
    EXPECT_EQ(reportOf("--seeds 11-14", dir), whole);
    std::vector<json> shards = reportOf("--seeds 11-14 --shard 1/2", dir);
    for (const json& l : reportOf("--seeds 11-14 --shard 2/2", dir)) shards.push_back(l);
    EXPECT_EQ(shards, whole);
    fs::remove_all(dir);
}

// With --until-broken the lowest seed that breaks is the last one reported,
// however many run at once: here every one breaks (no printer-sim starts).
TEST(CampaignProgram, UntilBrokenStopsAtTheLowestSeedThatBreaks) {
    const fs::path dir = fs::temp_directory_path() / ("campaign-until-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path report = dir / "report.jsonl";
    const std::string command =
        std::string(CAMPAIGN_PATH) +
        " --seeds 11-16 --jobs 2 --until-broken --no-shrink --printer-sim /bin/false --report " +
        report.string() + " --failures " + (dir / "failures").string() + " > /dev/null 2>&1";
    const int status = system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::vector<json> lines;
    std::ifstream in(report);
    for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["seed"], 11);
    EXPECT_EQ(lines[0]["outcome"], "broken");
    fs::remove_all(dir);
}

}  // namespace
