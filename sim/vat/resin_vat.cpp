#include "resin_vat.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "firmware/platform/platform.h"
#include "firmware/print/safety_envelope.h"

namespace sim {
namespace {

// Exposures closer than this in Z are one exposure.
constexpr double kSameZMm = 0.0005;
// A part beyond this stops growing (some 8,000 layers of a full mask).
constexpr size_t kPartBytesMax = size_t{128} << 20;

}  // namespace

ResinVat::ResinVat(Resin resin)
    : resin_(resin),
      sums_(geometry::kCells, 0),
      dose_(geometry::kCells, 0),
      reach_(geometry::kCells, 0),
      lastDose_(geometry::kCells, 0),
      lastDepth_(geometry::kCells, 0),
      lastBonded_(geometry::kCells, 0),
      cured_(geometry::kCells, 0),
      stray_(geometry::kCells, 0) {}

ResinVat::~ResinVat() {
    if (mask_ != nullptr) munmap(const_cast<uint8_t*>(mask_), FRAME_BYTES);
}

void ResinVat::setResin(const Resin& resin) {
    std::lock_guard<std::mutex> lock(lock_);
    resin_ = resin;
}

void ResinVat::attachMask(const std::string& root) {
    std::lock_guard<std::mutex> lock(lock_);
    const int fd = open((root + "/dev/fb0").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(FRAME_BYTES)) {
        void* map = mmap(nullptr, FRAME_BYTES, PROT_READ, MAP_SHARED, fd, 0);
        if (map != MAP_FAILED) mask_ = static_cast<const uint8_t*>(map);
    }
    close(fd);
    maskStale_ = true;
}

void ResinVat::readMask() {
    if (mask_ != nullptr) {
        geometry::cellSums(mask_, sums_.data());
    } else {
        std::fill(sums_.begin(), sums_.end(), 0);
    }
    maskStale_ = false;
}

void ResinVat::addDose(int64_t now_us) {
    if (lightOn_ && intensity_ > 0 && now_us > since_us_) {
        const double seconds = static_cast<double>(now_us - since_us_) / 1e6;
        // A cell's dose: its mean / 255 x intensity / 255 x irradiance x time,
        // the mean its sum / kCellValues.
        const double full = std::min(intensity_, 255) / 255.0 * resin_.irradiance_mw_cm2 * seconds;
        const auto k = static_cast<float>(full / (255.0 * geometry::kCellValues));
        std::vector<float>& into = job_ ? dose_ : stray_;
        for (int i = 0; i < geometry::kCells; ++i) into[i] += static_cast<float>(sums_[i]) * k;
        if (job_) fullDose_ += full;
        if (!job_) strayUs_ += static_cast<uint64_t>(now_us - since_us_);
    }
    since_us_ = now_us;
}

void ResinVat::cure() {
    if (!open_) return;
    open_ = false;
    const double film = openZ_ + homeGap_;  // the film, below the platform
    // Only the cells that took more than the critical energy cure: most of a
    // layer is dark, so they are listed and the rest is left as it was.
    std::vector<uint8_t>& bonded = lastBonded_;
    std::fill(bonded.begin(), bonded.end(), 0);
    std::fill(lastDepth_.begin(), lastDepth_.end(), 0.0f);
    // The exposure's dose becomes the last one; the next starts from nothing.
    lastDose_.swap(dose_);
    std::fill(dose_.begin(), dose_.end(), 0.0f);
    curedCells_.clear();
    std::vector<int> reached;
    for (int i = 0; i < geometry::kCells; ++i) {
        const double e = lastDose_[i];
        if (!(e > resin_.ec_mj_cm2)) continue;
        const double depth = resin_.dp_mm * std::log(e / resin_.ec_mj_cm2);
        lastDepth_[i] = static_cast<float>(depth);
        if (depth <= 0) continue;
        cured_[i] = 1;
        curedCells_.push_back(i);
        // Up to what hangs above (the platform where nothing does).
        if (depth >= film - reach_[i] - 1e-9) {
            bonded[i] = 1;
            reached.push_back(i);
        }
    }
    // Cured cells beside a bonded one hold on to it within the layer.
    for (size_t k = 0; k < reached.size(); ++k) {
        const int i = reached[k];
        const int x = i % geometry::kCellsX, y = i / geometry::kCellsX;
        const int next[4] = {x > 0 ? i - 1 : -1, x + 1 < geometry::kCellsX ? i + 1 : -1,
                             y > 0 ? i - geometry::kCellsX : -1,
                             y + 1 < geometry::kCellsY ? i + geometry::kCellsX : -1};
        for (int n : next) {
            if (n < 0 || !cured_[n] || bonded[n]) continue;
            bonded[n] = 1;
            reached.push_back(n);
        }
    }
    geometry::PartLayer layer;
    layer.top_mm = lastBottom_;
    layer.bottom_mm = std::max(film, lastBottom_);
    lastBottom_ = layer.bottom_mm;
    layer.cured = !curedCells_.empty();
    layer.unbonded = static_cast<uint32_t>(curedCells_.size() - reached.size());
    for (int i : reached) reach_[i] = std::max(reach_[i], static_cast<float>(film));
    for (int i : curedCells_) cured_[i] = 0;
    lastFullDose_ = fullDose_;
    fullDose_ = 0;
    if (part_.bytes() < kPartBytesMax) layer.cells = geometry::CellSet::of(bonded.data());
    part_.add(std::move(layer));
    ++exposures_;
}

void ResinVat::jobStarted() {
    std::lock_guard<std::mutex> lock(lock_);
    const int64_t now = platformMonotonicUs();
    addDose(now);
    job_ = true;
    homeGapSet_ = false;
    part_.clear();
    std::fill(reach_.begin(), reach_.end(), 0.0f);
    std::fill(dose_.begin(), dose_.end(), 0.0f);
    fullDose_ = lastFullDose_ = 0;
    std::fill(lastDose_.begin(), lastDose_.end(), 0.0f);
    std::fill(lastDepth_.begin(), lastDepth_.end(), 0.0f);
    std::fill(lastBonded_.begin(), lastBonded_.end(), 0);
    lastBottom_ = 0;
    exposures_ = 0;
    litMoves_ = 0;
    open_ = lightOn_;
}

void ResinVat::setJobLayer(double mm) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!job_ || homeGapSet_) return;
    homeGapSet_ = true;
    homeGap_ = std::isfinite(mm)
                   ? std::clamp<double>(mm, ENVELOPE_LAYER_MIN_MM, ENVELOPE_LAYER_MAX_MM)
                   : 0.05;
}

void ResinVat::jobEnded() {
    std::lock_guard<std::mutex> lock(lock_);
    addDose(platformMonotonicUs());
    cure();
    job_ = false;
}

void ResinVat::maskWritten(int64_t now_us) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!lightOn_) {
        maskStale_ = true;  // read when the light comes on
        return;
    }
    addDose(now_us);
    readMask();
}

void ResinVat::light(bool on, int intensity, double z, int64_t now_us) {
    std::lock_guard<std::mutex> lock(lock_);
    addDose(now_us);
    if (on && job_ && (!open_ || std::fabs(z - openZ_) > kSameZMm)) {
        cure();
        open_ = true;
        openZ_ = z;
    }
    lightOn_ = on;
    intensity_ = std::clamp(intensity, 0, 255);
    // What the light shines through from now on; a later write is read then.
    if (on && maskStale_) readMask();
}

void ResinVat::moveStarted(int64_t now_us) {
    std::lock_guard<std::mutex> lock(lock_);
    if (lightOn_) {
        ++litMoves_;  // the exposure stays where it began
        return;
    }
    addDose(now_us);
    cure();
}

VatSummary ResinVat::summary() const {
    std::lock_guard<std::mutex> lock(lock_);
    VatSummary s;
    s.resin = resin_;
    s.job = job_;
    s.home_gap_mm = homeGap_;
    s.exposures = exposures_;
    const std::vector<geometry::PartLayer>& layers = part_.layers();
    for (size_t i = 0; i < layers.size(); ++i) {
        if (!layers[i].cells.empty()) ++s.layers_cured;
        if (layers[i].unbonded > 0) {
            s.unbonded_layers.push_back(static_cast<int>(i) + 1);
            s.unbonded_area_mm2 += layers[i].unbonded * geometry::kCellAreaMm2;
        }
    }
    if (!layers.empty()) {
        // The first layer's cells, and any later one's, that hang from the
        // platform itself.
        for (const geometry::PartLayer& l : layers) {
            if (l.top_mm > 1e-9) break;
            s.platform_contact_mm2 += l.cells.count() * geometry::kCellAreaMm2;
        }
    }
    s.lit_moves = litMoves_;
    s.stray_light_ms = strayUs_ / 1000;
    for (int i = 0; i < geometry::kCells; ++i) {
        s.stray_max_dose_mj_cm2 = std::max(s.stray_max_dose_mj_cm2, static_cast<double>(stray_[i]));
        if (stray_[i] > resin_.ec_mj_cm2) s.stray_cured_area_mm2 += geometry::kCellAreaMm2;
    }
    s.part_bytes = part_.bytes();
    s.volume_mm3 = part_.volumeMm3();
    s.bounds = part_.bounds();
    return s;
}

geometry::Part ResinVat::part() const {
    std::lock_guard<std::mutex> lock(lock_);
    return part_;
}

CellExposure ResinVat::exposureAt(int x, int y) const {
    std::lock_guard<std::mutex> lock(lock_);
    CellExposure e;
    x = std::clamp(x, 0, static_cast<int>(FRAME_WIDTH) - 1) / geometry::kCellPixels;
    y = std::clamp(y, 0, static_cast<int>(FRAME_HEIGHT) - 1) / geometry::kCellPixels;
    const int i = y * geometry::kCellsX + x;
    e.layer = exposures_;
    e.dose_mj_cm2 = lastDose_[i];
    e.cell_mean = lastFullDose_ > 0 ? lastDose_[i] / lastFullDose_ * 255 : 0;
    e.cure_depth_mm = lastDepth_[i];
    e.bonded = lastBonded_[i] != 0;
    return e;
}

}  // namespace sim
