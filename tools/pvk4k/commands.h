// The commands of pvk4k. Each writes its findings to `out`, warnings and
// errors to `err`, and returns the process's exit status.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "geometry/layer_walk.h"

struct PrintParameter;

namespace pvk4k {

enum : int {
    EXIT_CLEAN = 0,
    EXIT_PROBLEMS = 1,  // the file would not print, or not cleanly
    EXIT_ERROR = 2,     // bad arguments, unreadable input, failed output
};

struct Console {
    std::ostream& out;
    std::ostream& err;
    bool progress = false;  // show progress of long work on `err`

    void warn(const std::string& text) const;
    void note(const std::string& text) const;
    // Prints the error and returns EXIT_ERROR.
    int fail(const std::string& text) const;
    // "label n/total" over the previous progress line.
    void step(const char* label, uint64_t n, uint64_t total) const;
    void endSteps() const;
};

// A layer walk's warnings and progress on the console.
geometry::WalkReport walkReport(const Console& con);

int infoCommand(const std::string& file, bool json, const Console& con);

int checkCommand(const std::string& file, const Console& con);

struct RenderOptions {
    std::string file;
    uint32_t layer = 0;      // 1-based; 0 with `thumbnail`
    bool thumbnail = false;  // the preview picture instead of a layer
    std::string png;         // output PNG, or ""
    std::string raw;         // output frame bytes, or ""
};
int renderCommand(const RenderOptions& options, const Console& con);

// The layer walk (geometry/layer_walk.h) on the console: decodes layers
// 1..last (kAllLayers: all) of a file onto one frame, as the printer shows
// them, handing the frame to `each` after every layer; `block` gets the
// parameter block. EXIT_CLEAN when every layer decoded.
using geometry::kAllLayers;
using geometry::LayerVisitor;
int decodeLayers(const std::string& file, uint32_t last, const LayerVisitor& each,
                 const Console& con, PrintParameter* block = nullptr);

// The mask after layers 1..layer (FRAME_BYTES). EXIT_CLEAN when every layer
// up to it decoded.
int renderFrame(const std::string& file, uint32_t layer, std::vector<uint8_t>& frame,
                const Console& con);

struct CreateOptions {
    std::string output;
    std::vector<std::string> params;  // NAME=VALUE
    std::string thumbnail;            // PNG, or "" to draw one from the layers
    std::vector<std::string> layers;  // PNG per layer, first layer first
    bool force = false;               // write it even if the printer will refuse it
};
int createCommand(const CreateOptions& options, const Console& con);

struct ModelOptions {
    std::string file;
    bool json = false;
    std::string stl;  // the part as binary STL, or ""
};
int modelCommand(const ModelOptions& options, const Console& con);

// The printer's own firmware run on a file in printer-sim, headless, from
// the preview to the end of the job: what the printer will do with it.
struct SimulateOptions {
    std::string file;
    bool json = false;
    double resinDp = 0.12, resinEc = 8, irradiance = 3;  // as printer-sim's options
};
int simulateCommand(const SimulateOptions& options, const Console& con);

struct SetOptions {
    std::string file;
    std::vector<std::string> assignments;  // NAME=VALUE
    bool force = false;                    // write it even if the printer will refuse it
};
int setCommand(const SetOptions& options, const Console& con);

}  // namespace pvk4k
