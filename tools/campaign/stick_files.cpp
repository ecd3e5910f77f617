#include "stick_files.h"

#include <iconv.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "firmware/print/print_file.h"
#include "geometry/mask_code.h"

namespace campaign {
namespace {

namespace fs = std::filesystem;

struct CellRect {
    int x, y, w, h;
};

// The shape's cells in layer i of n.
std::vector<CellRect> shapeLayer(const FilePlan& f, int i, int n) {
    const CellRect box{f.x, f.y, f.w, f.h};
    if (f.shape == "overhang") {
        if (i >= n / 2) return {box};
        return {{f.x + f.w / 4, f.y + f.h / 4, std::max(1, f.w / 2), std::max(1, f.h / 2)}};
    }
    if (f.shape == "hole") {
        const int hw = std::max(1, f.w / 3), hh = std::max(1, f.h / 3);
        const int hx = f.x + (f.w - hw) / 2, hy = f.y + (f.h - hh) / 2;
        return {{f.x, f.y, f.w, hy - f.y},
                {f.x, hy + hh, f.w, f.y + f.h - hy - hh},
                {f.x, hy, hx - f.x, hh},
                {hx + hw, hy, f.x + f.w - hx - hw, hh}};
    }
    if (f.shape == "islands") {
        if (i % 2 == 0) return {box};
        return {box, {f.x + f.w + 2, f.y, 3, 3}};  // hangs over nothing
    }
    if (f.shape == "wall") return {{f.x, f.y, 1, f.h}, {f.x, f.y, f.w, 1}};
    if (f.shape == "gaps") {
        if (i % 3 == 2) return {};
        return {box};
    }
    if (f.shape == "steps") {
        const int in = (std::min(f.w, f.h) / 2) * i / std::max(n, 1);
        return {{f.x + in, f.y + in, std::max(1, f.w - 2 * in), std::max(1, f.h - 2 * in)}};
    }
    return {box};
}

std::vector<uint8_t> layerCode(const FilePlan& f, int i) {
    std::vector<geometry::PixelRect> lit;
    for (const CellRect& c : shapeLayer(f, i, f.layers)) {
        if (c.w <= 0 || c.h <= 0) continue;
        lit.push_back({static_cast<uint32_t>(c.x * 8), static_cast<uint32_t>(c.y * 8),
                       static_cast<uint32_t>((c.x + c.w) * 8),
                       static_cast<uint32_t>((c.y + c.h) * 8)});
    }
    return geometry::codeOfRects(lit);
}

}  // namespace

std::string fileBytes(const FilePlan& f) {
    PrintParameter p{};
    p.buffer_width = 1440;
    p.buffer_height = 2560;
    p.ZThick = 0.05f;
    p.curing_time = 6000;
    p.burnin_time = 10000;
    p.stable_time = 500;
    p.b_stable_time = 1000;
    p.burnin_range = 0.1f;
    p.lift_distance1 = 2;
    p.lift_distance2 = 1;
    p.lift_speed2 = 300;
    p.drop_speed = 300;
    p.lift_speed1 = 120;
    for (const PrintFloatField& field : kPrintFloats) {
        const auto it = f.params.find(field.name);
        if (it != f.params.end() && it->is_number()) p.*field.member = it->get<float>();
    }
    p.bottom_layers = p.burnin_range / p.ZThick;
    p.layer_count = f.layers;
    std::string out(PRINT_FILE_MAGIC, PRINT_FILE_MAGIC_SIZE);
    out.append(reinterpret_cast<const char*>(&p), sizeof p);
    for (int i = 0; i < f.layers; ++i) {
        const std::vector<uint8_t> code = layerCode(f, i);
        const uint32_t n = static_cast<uint32_t>(code.size());
        const uint8_t count[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                                  static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 24)};
        out.append(reinterpret_cast<const char*>(count), 4);
        out.append(code.begin(), code.end());
    }
    for (const auto& [at, byte] : f.spoil) out[at % out.size()] = static_cast<char>(byte);
    return out;
}

std::string diskName(const FilePlan& f) {
    if (!f.gbk) return f.name;
    iconv_t cd = iconv_open("GB18030", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return f.name;
    std::string out(f.name.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(f.name.data());
    size_t inLeft = f.name.size(), outLeft = out.size();
    char* o = out.data();
    const bool ok = iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    if (!ok) return f.name;
    out.resize(out.size() - outLeft);
    return out;
}

std::string writeStick(const StickSpec& stick, const std::string& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return "cannot make " + dir;
    if (!stick.folder) return "";
    const fs::path folder = fs::path(dir) / "pravik3d";
    fs::create_directories(folder, ec);
    for (const FilePlan& f : stick.files) {
        const std::string name = diskName(f);
        if (name.size() > 250) continue;  // beyond what a file system takes
        std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
        out << fileBytes(f);
        if (!out) return "cannot write " + name;
    }
    return "";
}

}  // namespace campaign
