// A campaign's session: a stick or two of generated print files and a
// sequence of actions with the firmware time after each, all of it from one
// 64-bit seed, and as JSON for a replay.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

namespace campaign {

using nlohmann::json;

// A print file as the generator describes it; the bytes follow from it
// (stick_files.h).
struct FilePlan {
    std::string name;  // UTF-8; written as GBK when `gbk`
    bool gbk = false;
    std::string shape;  // block, overhang, hole, islands, wall, gaps, steps
    int layers = 1;
    int x = 100, y = 200, w = 20, h = 20;             // the shape's box, in cells of 8 x 8 pixels
    json params = json::object();                     // parameter block fields by name
    std::vector<std::pair<uint32_t, uint8_t>> spoil;  // bytes set, at offsets (mod the size)
};

struct StickSpec {
    bool folder = true;  // holds the print folder
    std::vector<FilePlan> files;
};

// One thing done to the machine, and how much firmware time runs after it.
struct Action {
    std::string kind;
    json args = json::object();
    int64_t then_ms = 0;
};

struct Session {
    uint64_t seed = 0;
    bool writeBack = false;          // the sticks are the folders themselves
    std::vector<std::string> kinds;  // the action kinds this seed switched on
    std::vector<StickSpec> sticks;   // the first is inserted at start
    std::vector<Action> actions;

    int64_t firmwareMs() const;
    json toJson() const;
};

// "" and the session, or why `j` is not one.
std::string sessionFromJson(const json& j, Session& out);

// The session a seed makes; the same seed, the same session.
Session generateSession(uint64_t seed);

// Every kind of action a session may hold.
const std::vector<std::string>& actionKinds();

}  // namespace campaign
