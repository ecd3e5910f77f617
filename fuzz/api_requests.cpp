// The control API's request bodies on any bytes: a parser either refuses the
// body or yields values inside the machine's ranges, and what it yields,
// written back as a body, reads the same again.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sim/control/api_requests.h"

namespace {

using nlohmann::json;
using namespace sim::api;

void require(bool ok) {
    if (!ok) abort();
}

void touch(const std::string& body) {
    Touch t;
    if (!parseTouch(body, t).empty()) return;
    require(t.x >= 0 && t.x < kPanelWidth && t.y >= 0 && t.y < kPanelHeight);
    require(t.ms >= 1 && t.ms <= kTouchMsMax);
    Touch again;
    require(parseTouch(json{{"x", t.x}, {"y", t.y}, {"ms", t.ms}}.dump(), again).empty());
    require(again.x == t.x && again.y == t.y && again.ms == t.ms);
}

void pen(const std::string& body) {
    Pen p;
    if (!parsePen(body, p).empty()) return;
    if (p.down) require(p.x >= 0 && p.x < kPanelWidth && p.y >= 0 && p.y < kPanelHeight);
}

void board(const std::string& body) {
    BoardChange c;
    if (!parseBoardChange(body, c).empty()) return;
    if (c.temperature) require(*c.temperature >= -32768 && *c.temperature <= 32767);
    if (c.slowMs) require(*c.slowMs >= 0 && *c.slowMs <= kSlowMsMax);
    if (c.returnShortUm) require(*c.returnShortUm >= 0 && *c.returnShortUm <= kReturnShortUmMax);
    json back = json::object();
    if (c.temperature) back["temperature"] = *c.temperature;
    if (c.slowMs) back["slow_ms"] = *c.slowMs;
    if (c.returnShortUm) back["return_short_um"] = *c.returnShortUm;
    if (c.silent) back["silent"] = *c.silent;
    BoardChange again;
    require(parseBoardChange(back.dump(), again).empty());
    require(again.temperature == c.temperature && again.slowMs == c.slowMs &&
            again.silent == c.silent && again.returnShortUm == c.returnShortUm);
}

void insert(const std::string& body) {
    Insert i;
    if (!parseInsert(body, i).empty()) return;
    if (i.dir) {
        require(!i.dir->empty() && (*i.dir)[0] == '/');
        require(i.dir->find('\0') == std::string::npos);
    }
}

void run(const std::string& body) {
    Run r;
    if (!parseRun(body, r).empty()) return;
    require(r.ms >= 0 && r.ms <= kRunMsMax);
    const json j = json::parse(body, nullptr, false);
    const bool until = j.contains("until");
    require(until == !r.field.empty());
    // Either a time or a condition with its limit, and nothing else.
    require(until ? !j.contains("ms") && j.contains("limit_ms") : j.size() == 1);
}

void clock(const std::string& body) {
    ClockChange c;
    if (!parseClock(body, c).empty()) return;
    if (c.speed) {
        require(std::isfinite(*c.speed));
        require(*c.speed == 0 || (*c.speed >= kSpeedMin && *c.speed <= kSpeedMax));
    }
}

// Digits only, the value they spell.
bool spells(const std::string& text, uint64_t n) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos &&
           text.substr(text.find_first_not_of('0') == std::string::npos
                           ? text.size() - 1
                           : text.find_first_not_of('0')) == std::to_string(n);
}

void scale(const std::string& text) {
    int s = 0;
    if (!parseScale(text, s).empty()) return;
    require(s >= 1 && s <= 64);
    require(spells(text, static_cast<uint64_t>(s)));
}

void since(const std::string& text) {
    uint64_t n = 0;
    if (!parseSince(text, n).empty()) return;
    require(n <= kSinceMax);
    require(spells(text, n));
}

// Known fields only; what is taken reads the same again.
void print(const std::string& body) {
    std::string file;
    if (parsePrint(body, file).empty()) {
        require(!file.empty());
        const json j = json::parse(body, nullptr, false);
        require(j.size() == 1 && j["file"] == file);
    }
    std::string request;
    if (parsePrintRequest(body, request).empty()) {
        require(request == "pause" || request == "resume" || request == "temppause" ||
                request == "cancel");
        require(json::parse(body, nullptr, false).size() == 1);
    }
}

// x and y split at the first comma: a pixel of the mask, digits only.
void pixel(const std::string& text) {
    const size_t comma = text.find(',');
    const std::string x = text.substr(0, comma);
    const std::string y = comma == std::string::npos ? "" : text.substr(comma + 1);
    int px = -1, py = -1;
    if (!parseMaskPixel(x, y, px, py).empty()) return;
    require(px >= 0 && px < kMaskWidth && py >= 0 && py < kMaskHeight);
    require(x.find_first_not_of("0123456789") == std::string::npos && !x.empty());
    require(std::stoi(x) == px && std::stoi(y) == py);
}

// A name that reaches the file system names one entry of the print folder.
void partFile(const std::string& name) {
    if (!parsePartFile(name).empty()) return;
    require(!name.empty() && name.size() <= 255 && name != "." && name != "..");
    require(name.find('/') == std::string::npos && name.find('\0') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 11) {
        case 0: touch(body); break;
        case 1: pen(body); break;
        case 2: board(body); break;
        case 3: insert(body); break;
        case 4: run(body); break;
        case 5: clock(body); break;
        case 6: pixel(body); break;
        case 7: partFile(body); break;
        case 8: since(body); break;
        case 9: print(body); break;
        default: scale(body); break;
    }
    return 0;
}
