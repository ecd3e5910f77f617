#include "params.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "firmware/print/layer_code.h"
#include "firmware/ui/parameter_table.h"

namespace pvk4k {
namespace {

constexpr Field kFields[] = {
    {"buffer_width", &PrintParameter::buffer_width, ""},
    {"buffer_height", &PrintParameter::buffer_height, ""},
    {"ZThick", &PrintParameter::ZThick, "mm"},
    {"curing_time", &PrintParameter::curing_time, "ms"},
    {"burnin_time", &PrintParameter::burnin_time, "ms"},
    {"bottom_layers", &PrintParameter::bottom_layers, "layers"},
    {"stable_time", &PrintParameter::stable_time, "ms"},
    {"b_stable_time", &PrintParameter::b_stable_time, "ms"},
    {"burnin_range", &PrintParameter::burnin_range, "mm"},
    {"lift_distance1", &PrintParameter::lift_distance1, "mm"},
    {"lift_distance2", &PrintParameter::lift_distance2, "mm"},
    {"lift_speed2", &PrintParameter::lift_speed2, "mm/min"},
    {"drop_speed", &PrintParameter::drop_speed, "mm/min"},
    {"lift_speed1", &PrintParameter::lift_speed1, "mm/min"},
};

// The panel table binds to a block; a private one keeps its pointers valid.
PrintParameter panelScratch;

const ParameterEntry* panelRow(const Field& f) {
    bindParameterAll(panelScratch);
    for (const ParameterEntry& e : ParameterAll) {
        if (e.value == &(panelScratch.*f.member)) return &e;
    }
    return nullptr;
}

std::string knownNames() {
    std::string names;
    for (const Field& f : kFields) {
        if (f.member == &PrintParameter::bottom_layers) continue;
        if (!names.empty()) names += ", ";
        names += f.name;
    }
    return names;
}

}  // namespace

std::span<const Field> floatFields() {
    return kFields;
}

const Field* findField(std::string_view name) {
    for (const Field& f : kFields) {
        if (name == f.name) return &f;
    }
    return nullptr;
}

bool isBufferField(const Field& f) {
    return f.member == &PrintParameter::buffer_width || f.member == &PrintParameter::buffer_height;
}

bool parseAssignment(std::string_view text, Assignment& out, std::string& error) {
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
        error = "expected NAME=VALUE, got '" + std::string(text) + "'";
        return false;
    }
    const std::string_view name = text.substr(0, eq);
    const std::string_view value = text.substr(eq + 1);
    if (name == "layer_count" || name == "thumb_width" || name == "thumb_height") {
        error = std::string(name) +
                " is structural: it follows the file's layer records and thumbnail and cannot "
                "be set";
        return false;
    }
    if (name == "bottom_layers") {
        error = "bottom_layers is always burnin_range / ZThick; set those instead";
        return false;
    }
    const Field* f = findField(name);
    if (f == nullptr) {
        error = "unknown parameter '" + std::string(name) + "' (known: " + knownNames() + ")";
        return false;
    }
    float v = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
    if (value.empty() || ec != std::errc() || end != value.data() + value.size()) {
        error = std::string(name) + ": '" + std::string(value) + "' is not a number";
        return false;
    }
    if (!std::isfinite(v)) {
        error = std::string(name) + ": " + formatFloat(v) + " is not a finite number";
        return false;
    }
    if (f->member == &PrintParameter::ZThick && !(v > 0)) {
        error = "ZThick must be greater than 0";
        return false;
    }
    out.field = f;
    out.value = v;
    return true;
}

PrintParameter defaultParameters() {
    PrintParameter p{};
    p.buffer_width = FRAME_WIDTH;
    p.buffer_height = FRAME_HEIGHT;
    p.ZThick = 0.05f;
    p.curing_time = 8000;
    p.burnin_time = 30000;
    p.stable_time = 1000;
    p.b_stable_time = 1000;
    p.burnin_range = 0.25f;
    p.lift_distance1 = 5;
    p.lift_speed1 = 60;
    p.lift_distance2 = 2;
    p.lift_speed2 = 120;
    p.drop_speed = 150;
    recomputeBottomLayers(p);
    return p;
}

std::optional<PanelRange> panelRange(const Field& f) {
    const ParameterEntry* row = panelRow(f);
    if (row == nullptr) return std::nullopt;
    return PanelRange{row->min, row->max};
}

std::string rangeWarning(const PrintParameter& p, const Field& f) {
    const float value = p.*f.member;
    const auto range = panelRange(f);
    if (!range || (value >= range->min && value <= range->max)) return "";
    std::string text = std::string(f.name) + " " + formatFloat(value) + " is outside the panel's " +
                       formatFloat(range->min) + ".." + formatFloat(range->max);
    panelScratch = p;
    bindParameterAll(panelScratch);
    const float read = panelScratch.*f.member;
    if (read != value) text += "; the printer reads it as " + formatFloat(read);
    return text;
}

std::vector<std::string> readAdjustments(const PrintParameter& p) {
    panelScratch = p;
    bindParameterAll(panelScratch);
    std::vector<std::string> changes;
    for (const Field& f : kFields) {
        const float before = p.*f.member;
        const float after = panelScratch.*f.member;
        if (before == after || (std::isnan(before) && std::isnan(after))) continue;
        changes.push_back(std::string(f.name) + " " + formatFloat(before) + " -> " +
                          formatFloat(after));
    }
    return changes;
}

std::string formatFloat(float v) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, v);
    return ec == std::errc() ? std::string(text, end) : std::string("?");
}

float bufferHeightFor(float width, uint32_t bytes) {
    if (!(width > 0)) return 0;
    float height = std::ceil(static_cast<float>(bytes) / (2 * width));
    PrintParameter p{};
    p.buffer_width = width;
    // Float products round; step until the printer's own figure suffices.
    for (;;) {
        p.buffer_height = height;
        if (layerBufferCapacity(p) >= bytes) return height;
        height = std::max(height + 1, std::nextafter(height, INFINITY));
    }
}

}  // namespace pvk4k
