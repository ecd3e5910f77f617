// The resin vat under the mask: what the UV light cures, from what the
// machine did alone: the board's light spans, intensity and Z, and the
// mask's content during each span. Doses add up while the platform stays at
// one Z; when it moves on, the exposure cures by the working curve of
// photopolymers, Cd = Dp ln(E / Ec) from the film, and what reaches the part
// (or the platform) joins it as a layer. Light outside a job is stray.
//
// The vat (vat/) is the light's path: the mask screen (mask.h) and this
// vat under it. It keeps its part in the geometry library's cells and sees
// only what the board model and the mask tell it, nothing of the firmware.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "geometry/part.h"

namespace sim {

struct Resin {
    double dp_mm = 0.12;           // depth of penetration
    double ec_mj_cm2 = 8.0;        // critical energy
    double irradiance_mw_cm2 = 3;  // at the film, at full intensity
};

// What the vat says of the part and of the light it saw.
struct VatSummary {
    Resin resin;
    bool job = false;                  // a job is running
    double home_gap_mm = 0;            // platform to film at Z 0
    int exposures = 0;                 // layers exposed in this job
    int layers_cured = 0;              // of those, with cells joined to the part
    std::vector<int> unbonded_layers;  // layers that left cured cells on the film
    double unbonded_area_mm2 = 0;
    double platform_contact_mm2 = 0;  // cured straight onto the platform
    int lit_moves = 0;                // moves started while the light was on
    uint64_t stray_light_ms = 0;      // light outside a job
    double stray_max_dose_mj_cm2 = 0;
    double stray_cured_area_mm2 = 0;  // film area stray light would have cured
    size_t part_bytes = 0;
    double volume_mm3 = 0;
    geometry::Box bounds;
};

// The last exposure at a place: dose and cure depth.
struct CellExposure {
    int layer = 0;  // 1-based, 0 before the first
    // The cell's mean over the exposure, as its dose took it (0..255): the
    // dose over what a fully lit cell got.
    double cell_mean = 0;
    double dose_mj_cm2 = 0;
    double cure_depth_mm = 0;
    bool bonded = false;
};

class ResinVat {
  public:
    explicit ResinVat(Resin resin = {});
    ResinVat(const ResinVat&) = delete;
    ResinVat& operator=(const ResinVat&) = delete;
    ~ResinVat();

    void setResin(const Resin& resin);

    // Maps "<root>/dev/fb0" for reading; without it the mask is dark.
    void attachMask(const std::string& root);

    // A job starts: the part is emptied.
    void jobStarted();
    // The job's layer thickness, once known: at Z 0 its platform stands
    // that far above the film (the first call of a job holds).
    void setJobLayer(double mm);
    // The job has ended: its last exposure cures.
    void jobEnded();

    // The firmware has completed a write to the mask.
    void maskWritten(int64_t now_us);
    // The board's light, at Z `z`: on with `intensity` (0..255), or off.
    void light(bool on, int intensity, double z, int64_t now_us);
    // The board starts a move of the platform.
    void moveStarted(int64_t now_us);

    VatSummary summary() const;
    geometry::Part part() const;
    // The latest exposure at mask pixel (x, y).
    CellExposure exposureAt(int x, int y) const;

  private:
    void addDose(int64_t now_us);  // lock held
    void cure();                   // lock held
    void readMask();               // lock held

    mutable std::mutex lock_;
    Resin resin_;
    const uint8_t* mask_ = nullptr;
    std::vector<uint16_t> sums_;  // of the mask's cells
    bool maskStale_ = true;

    bool job_ = false;
    double homeGap_ = 0.05;
    bool homeGapSet_ = false;
    bool lightOn_ = false;
    int intensity_ = 0;
    int64_t since_us_ = 0;

    // The exposure building up at one Z.
    bool open_ = false;
    double openZ_ = 0;
    std::vector<float> dose_;
    double fullDose_ = 0;  // what a fully lit cell got in it

    // The part and, per cell, how far below the platform it reaches.
    geometry::Part part_;
    std::vector<float> reach_;
    double lastBottom_ = 0;
    int exposures_ = 0;
    int litMoves_ = 0;

    std::vector<float> lastDose_, lastDepth_;
    double lastFullDose_ = 0;
    std::vector<uint8_t> lastBonded_;
    // The last cure's cured cells: flags kept all clear between cures, and
    // their list.
    std::vector<uint8_t> cured_;
    std::vector<int> curedCells_;

    uint64_t strayUs_ = 0;
    std::vector<float> stray_;
};

}  // namespace sim
