// Print files for tests and seeds: a header with the worked example's
// parameters, a thumbnail and layer records, as raw bytes.
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "firmware/print/print_file.h"
#include "geometry/mask_code.h"

struct PrintFileBuilder {
    PrintParameter p{};
    std::vector<uint8_t> thumb;
    std::vector<std::vector<uint8_t>> layers;

    PrintFileBuilder() {
        p.buffer_width = 1440;
        p.buffer_height = 2560;
        p.ZThick = 0.05f;
        p.curing_time = 8000;
        p.burnin_time = 30000;
        p.bottom_layers = 77;  // stale on purpose: every read recomputes it
        p.stable_time = 1000;
        p.b_stable_time = 2000;
        p.burnin_range = 0.25f;
        p.lift_distance1 = 5;
        p.lift_distance2 = 2;
        p.lift_speed2 = 120;
        p.drop_speed = 150;
        p.lift_speed1 = 60;
        p.layer_count = 100;
        memset(p.reserved0, 0xA5, sizeof p.reserved0);
        memset(p.reserved2, 0x5A, sizeof p.reserved2);
    }
    // The code of runs of (level, length), each in the fewest digits.
    static std::vector<uint8_t> code(std::initializer_list<std::pair<uint8_t, uint32_t>> runs) {
        std::vector<uint8_t> out;
        for (const auto& [level, length] : runs) {
            int digits = 1;
            while (digits < 8 && (length >> (4 * digits)) != 0) ++digits;
            for (int d = digits - 1; d >= 0; --d) {
                out.push_back(static_cast<uint8_t>(level << 4 | ((length >> (4 * d)) & 0x0F)));
            }
        }
        return out;
    }
    // A layer lighting `lit` values at level 15 from the start, dark after.
    PrintFileBuilder& layer(uint32_t lit) {
        layers.push_back(code({{15, lit}, {0, 24883200 - lit}}));
        return *this;
    }
    // A layer lighting rectangles of mask pixels, x0 <= x < x1, y0 <= y < y1.
    using Rect = geometry::PixelRect;
    PrintFileBuilder& rects(std::initializer_list<Rect> lit) {
        layers.push_back(geometry::codeOfRects(lit));
        return *this;
    }
    // Eight layers of what a surface must close around: two blocks bonded
    // side by side, a hollow in one of them (closed by the layers around
    // it), then a layer reaching out past both (an overhang), a layer that
    // shrinks, and a one-cell post. Exposed long enough for every layer to
    // bond.
    static PrintFileBuilder features() {
        PrintFileBuilder f = quick(0);
        f.p.curing_time = 6000;
        f.p.burnin_time = 10000;
        for (int i = 0; i < 3; ++i) {
            f.rects({{400, 800, 560, 960}, {560, 800, 720, 960}});
        }
        for (int i = 0; i < 2; ++i) {
            f.rects({{400, 800, 560, 848},
                     {400, 848, 448, 912},
                     {512, 848, 560, 912},
                     {400, 912, 560, 960},
                     {560, 800, 720, 960}});
        }
        f.rects({{320, 760, 800, 1000}});
        f.rects({{480, 840, 640, 920}});
        f.rects({{560, 872, 568, 880}});
        f.p.layer_count = static_cast<int32_t>(f.layers.size());
        return f;
    }
    // A quick job for the simulator: short waits, 1 mm lifts at 300 mm/min,
    // two bottom layers, layer i lighting i lines.
    static PrintFileBuilder quick(int layers) {
        PrintFileBuilder f;
        f.p.ZThick = 0.05f;
        f.p.burnin_range = 0.1f;
        f.p.stable_time = 300;
        f.p.b_stable_time = 600;
        f.p.curing_time = 1000;
        f.p.burnin_time = 2000;
        f.p.lift_distance1 = 1;
        f.p.lift_speed1 = 300;
        f.p.lift_distance2 = 1;
        f.p.lift_speed2 = 300;
        f.p.drop_speed = 300;
        f.p.layer_count = layers;
        for (int i = 0; i < layers; ++i) f.layer(6480 * static_cast<uint32_t>(i + 1));
        return f;
    }
    PrintFileBuilder& thumbnail(int w, int h) {
        p.thumb_width = w;
        p.thumb_height = h;
        thumb.assign(static_cast<size_t>(w) * h * 2, 0);
        for (size_t i = 0; i < thumb.size(); ++i) thumb[i] = static_cast<uint8_t>(i * 7);
        return *this;
    }
    std::string bytes() const {
        std::string out(PRINT_FILE_MAGIC, PRINT_FILE_MAGIC_SIZE);
        out.append(reinterpret_cast<const char*>(&p), sizeof p);
        out.append(thumb.begin(), thumb.end());
        for (const auto& layer : layers) {
            const uint32_t n = static_cast<uint32_t>(layer.size());
            out.append(reinterpret_cast<const char*>(&n), 4);
            out.append(layer.begin(), layer.end());
        }
        return out;
    }
};
