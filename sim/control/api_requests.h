// What the control API's request bodies ask for, read and checked before
// anything reaches the machine. Each parser returns "" or what is wrong.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace sim::api {

constexpr int kPanelWidth = 320, kPanelHeight = 240;
constexpr int kMaskWidth = 2160, kMaskHeight = 3840;
constexpr int kTouchMsMax = 60000;
constexpr int kSlowMsMax = 600000;
constexpr int kReturnShortUmMax = 1000;
constexpr int64_t kRunMsMax = 7LL * 24 * 3600 * 1000;  // a week of firmware time
constexpr double kSpeedMin = 0.01, kSpeedMax = 1e6;
constexpr uint64_t kSinceMax = INT64_MAX;

struct Touch {
    int x = 0, y = 0;
    int ms = 100;  // held for this much firmware time
};
std::string parseTouch(const std::string& body, Touch& out);

struct Pen {
    bool down = false;
    int x = 0, y = 0;  // where, when down
};
std::string parsePen(const std::string& body, Pen& out);

struct BoardChange {
    std::optional<int> temperature;
    std::optional<bool> silent, noisy, sensorFailure;
    std::optional<int> slowMs;
    std::optional<int> returnShortUm;
};
std::string parseBoardChange(const std::string& body, BoardChange& out);

struct Insert {
    std::optional<std::string> dir;  // absolute; none for the folder inserted last
    bool unmountable = false;
};
std::string parseInsert(const std::string& body, Insert& out);

struct Run {
    int64_t ms = 0;  // how long, or at most how long when `field` is set
    std::string field;
    nlohmann::json equals;
};
std::string parseRun(const std::string& body, Run& out);

struct ClockChange {
    std::optional<double> speed;  // 0 for as fast as the work allows
    std::optional<bool> paused;
};
std::string parseClock(const std::string& body, ClockChange& out);

// POST /api/print: the name of a listed file.
std::string parsePrint(const std::string& body, std::string& file);

// POST /api/print/request: pause, resume, temppause or cancel.
std::string parsePrintRequest(const std::string& body, std::string& request);

// The x and y of /api/part/exposure: a pixel of the mask.
std::string parseMaskPixel(const std::string& x, const std::string& y, int& px, int& py);

// The `file` of /api/part: a plain name in the stick's print folder.
std::string parsePartFile(const std::string& name);

// The `scale` of /api/mask.png.
std::string parseScale(const std::string& text, int& out);

// The `since` of /api/trace and /api/log: a line number.
std::string parseSince(const std::string& text, uint64_t& out);

}  // namespace sim::api
