// The parameter block's fields by name: reading, setting, and what the
// printer makes of them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/print/print_file.h"

namespace pvk4k {

struct Field {
    const char* name;
    float PrintParameter::*member;
    const char* unit;  // "" when the value has none
};

// The float fields in file order.
std::span<const Field> floatFields();
const Field* findField(std::string_view name);
bool isBufferField(const Field& f);

struct Assignment {
    const Field* field = nullptr;
    float value = 0;
};

// Parses NAME=VALUE for a field a user may set. On refusal returns false and
// says why in `error`.
bool parseAssignment(std::string_view text, Assignment& out, std::string& error);

// The block `create` starts from.
PrintParameter defaultParameters();

// The panel's range of a field, when the panel edits it.
struct PanelRange {
    float min;
    float max;
};
std::optional<PanelRange> panelRange(const Field& f);
// A warning for a value of `p` outside the panel's range, with what the
// printer makes of it; "" when inside.
std::string rangeWarning(const PrintParameter& p, const Field& f);

// What the printer changes when it reads the block, one line per change.
std::vector<std::string> readAdjustments(const PrintParameter& p);

// Shortest text that reads back as the same float.
std::string formatFloat(float v);

// The smallest buffer_height that, with `width`, gives a layer buffer of at
// least `bytes`.
float bufferHeightFor(float width, uint32_t bytes);

}  // namespace pvk4k
