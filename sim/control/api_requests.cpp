#include "api_requests.h"

#include <algorithm>
#include <initializer_list>

namespace sim::api {
namespace {

using nlohmann::json;

json parseObject(const std::string& body, std::string& error) {
    json j = json::parse(body, nullptr, false);
    if (!j.is_object()) error = "body must be a JSON object";
    return j;
}

// A body's fields must all be known: a misspelt one would otherwise be
// ignored without a word.
std::string unknownField(const json& j, std::initializer_list<const char*> known) {
    for (const auto& item : j.items()) {
        const std::string& key = item.key();
        if (std::none_of(known.begin(), known.end(), [&](const char* k) { return key == k; })) {
            return "unknown field " + key;
        }
    }
    return "";
}

// An integer field within lo..hi, judged at full width before narrowing.
bool integer(const json& v, int64_t lo, int64_t hi, int64_t& out) {
    if (!v.is_number_integer()) return false;
    if (v.is_number_unsigned()) {
        if (v.get<uint64_t>() > static_cast<uint64_t>(hi)) return false;
        out = static_cast<int64_t>(v.get<uint64_t>());
        return out >= lo;
    }
    out = v.get<int64_t>();
    return out >= lo && out <= hi;
}

std::string panelPoint(const json& body, int& x, int& y) {
    int64_t px = 0, py = 0;
    if (!body.contains("x") || !body.contains("y") || !integer(body["x"], 0, kPanelWidth - 1, px) ||
        !integer(body["y"], 0, kPanelHeight - 1, py)) {
        return "x must be an integer 0..319 and y 0..239";
    }
    x = static_cast<int>(px);
    y = static_cast<int>(py);
    return "";
}

}  // namespace

std::string parseTouch(const std::string& body, Touch& out) {
    std::string error;
    const json j = parseObject(body, error);
    if (!error.empty()) return error;
    if (error = unknownField(j, {"x", "y", "ms"}); !error.empty()) return error;
    Touch t;
    if (error = panelPoint(j, t.x, t.y); !error.empty()) return error;
    if (j.contains("ms")) {
        int64_t ms = 0;
        if (!integer(j["ms"], 1, kTouchMsMax, ms)) return "ms must be an integer from 1 to 60000";
        t.ms = static_cast<int>(ms);
    }
    out = t;
    return "";
}

std::string parsePen(const std::string& body, Pen& out) {
    std::string error;
    const json j = parseObject(body, error);
    if (!error.empty()) return error;
    if (error = unknownField(j, {"down", "x", "y"}); !error.empty()) return error;
    if (!j.contains("down") || !j["down"].is_boolean()) return "down must be true or false";
    Pen p;
    p.down = j["down"].get<bool>();
    if (p.down) {
        if (error = panelPoint(j, p.x, p.y); !error.empty()) return error;
    }
    out = p;
    return "";
}

std::string parseBoardChange(const std::string& body, BoardChange& out) {
    std::string error;
    const json j = parseObject(body, error);
    if (!error.empty()) return error;
    BoardChange c;
    for (const auto& [key, value] : j.items()) {
        int64_t n = 0;
        if (key == "temperature") {
            if (!integer(value, -32768, 32767, n))
                return "temperature must be an integer of 16 bits";
            c.temperature = static_cast<int>(n);
        } else if (key == "silent" || key == "noisy" || key == "sensor_failure") {
            if (!value.is_boolean()) return key + " must be true or false";
            (key == "silent"  ? c.silent
             : key == "noisy" ? c.noisy
                              : c.sensorFailure) = value.get<bool>();
        } else if (key == "slow_ms") {
            if (!integer(value, 0, kSlowMsMax, n))
                return "slow_ms must be an integer from 0 to 600000";
            c.slowMs = static_cast<int>(n);
        } else if (key == "return_short_um") {
            if (!integer(value, 0, kReturnShortUmMax, n))
                return "return_short_um must be an integer from 0 to 1000";
            c.returnShortUm = static_cast<int>(n);
        } else {
            return "unknown field " + key;
        }
    }
    out = c;
    return "";
}

std::string parseInsert(const std::string& body, Insert& out) {
    Insert ins;
    if (!body.empty()) {
        std::string error;
        const json j = parseObject(body, error);
        if (!error.empty()) return error;
        if (error = unknownField(j, {"dir", "unmountable"}); !error.empty()) return error;
        if (j.contains("dir")) {
            if (!j["dir"].is_string()) return "dir must be a string";
            ins.dir = j["dir"].get<std::string>();
            if (ins.dir->empty() || (*ins.dir)[0] != '/') return "dir must be an absolute path";
            if (ins.dir->find('\0') != std::string::npos) return "dir holds a NUL byte";
        }
        if (j.contains("unmountable")) {
            if (!j["unmountable"].is_boolean()) return "unmountable must be true or false";
            ins.unmountable = j["unmountable"].get<bool>();
        }
    }
    out = ins;
    return "";
}

std::string parseRun(const std::string& body, Run& out) {
    std::string error;
    const json j = parseObject(body, error);
    if (!error.empty()) return error;
    Run r;
    if (error = unknownField(j, {"ms", "until", "limit_ms"}); !error.empty()) return error;
    if (j.contains("ms") && (j.contains("until") || j.contains("limit_ms"))) {
        return "give either {\"ms\":N} or {\"until\":...,\"limit_ms\":N}, not both";
    }
    if (j.contains("until")) {
        const json& u = j["until"];
        if (!u.is_object() || !u.contains("field") || !u["field"].is_string() ||
            !u.contains("equals") || !unknownField(u, {"field", "equals"}).empty()) {
            return "until must be {\"field\":NAME,\"equals\":VALUE}";
        }
        if (!j.contains("limit_ms") || !integer(j["limit_ms"], 0, kRunMsMax, r.ms)) {
            return "limit_ms must be an integer from 0 to 604800000";
        }
        r.field = u["field"].get<std::string>();
        if (r.field.empty()) return "until needs a field name";
        r.equals = u["equals"];
    } else if (!j.contains("ms") || !integer(j["ms"], 0, kRunMsMax, r.ms)) {
        return "give {\"ms\":N} or {\"until\":...,\"limit_ms\":N}, N from 0 to 604800000";
    }
    out = std::move(r);
    return "";
}

std::string parseClock(const std::string& body, ClockChange& out) {
    std::string error;
    const json j = parseObject(body, error);
    if (!error.empty()) return error;
    ClockChange c;
    for (const auto& [key, value] : j.items()) {
        if (key == "speed") {
            if (value == "max") {
                c.speed = 0;
            } else if (value.is_number() && value.get<double>() >= kSpeedMin &&
                       value.get<double>() <= kSpeedMax) {
                c.speed = value.get<double>();
            } else {
                return "speed must be a number from 0.01 to 1000000 or \"max\"";
            }
        } else if (key == "paused") {
            if (!value.is_boolean()) return "paused must be true or false";
            c.paused = value.get<bool>();
        } else {
            return "unknown field " + key;
        }
    }
    out = c;
    return "";
}

std::string parsePrint(const std::string& body, std::string& file) {
    std::string error;
    const json j = parseObject(body, error);
    if (error.empty()) error = unknownField(j, {"file"});
    if (!error.empty() || !j.contains("file") || !j["file"].is_string() ||
        j["file"].get<std::string>().empty()) {
        return error.empty() ? "give {\"file\":NAME} of a listed file" : error;
    }
    file = j["file"].get<std::string>();
    return "";
}

std::string parsePrintRequest(const std::string& body, std::string& request) {
    std::string error;
    const json j = parseObject(body, error);
    if (!error.empty()) return error;
    if (error = unknownField(j, {"request"}); !error.empty()) return error;
    static const char* const kRequests[] = {"pause", "resume", "temppause", "cancel"};
    if (j.contains("request") && j["request"].is_string()) {
        for (const char* r : kRequests) {
            if (j["request"] == r) {
                request = r;
                return "";
            }
        }
    }
    return "request must be pause, resume, temppause or cancel";
}

namespace {

// Decimal digits only, within lo..hi: no sign, no space, nothing after.
bool decimal(const std::string& text, uint64_t lo, uint64_t hi, uint64_t& out) {
    if (text.empty() || text.size() > 19) return false;
    uint64_t n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (n < lo || n > hi) return false;
    out = n;
    return true;
}

bool decimal(const std::string& text, int lo, int hi, int& out) {
    uint64_t n = 0;
    if (!decimal(text, static_cast<uint64_t>(lo), static_cast<uint64_t>(hi), n)) return false;
    out = static_cast<int>(n);
    return true;
}

}  // namespace

std::string parseMaskPixel(const std::string& x, const std::string& y, int& px, int& py) {
    int nx = 0, ny = 0;
    if (!decimal(x, 0, kMaskWidth - 1, nx) || !decimal(y, 0, kMaskHeight - 1, ny)) {
        return "x must be a pixel 0..2159 and y 0..3839";
    }
    px = nx;
    py = ny;
    return "";
}

std::string parsePartFile(const std::string& name) {
    if (name.empty() || name.size() > 255 || name == "." || name == ".." ||
        name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
        return "file must be the name of a file in the stick's print folder";
    }
    return "";
}

std::string parseScale(const std::string& text, int& out) {
    if (!decimal(text, 1, 64, out)) return "scale must be 1..64";
    return "";
}

std::string parseSince(const std::string& text, uint64_t& out) {
    if (!decimal(text, 0, kSinceMax, out)) {
        return "since must be a line number: decimal digits, 0 to " + std::to_string(kSinceMax);
    }
    return "";
}

}  // namespace sim::api
