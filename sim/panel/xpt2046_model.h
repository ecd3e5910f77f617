// Model of the XPT2046 touch controller and the pen line: a touch at a panel
// pixel becomes raw conversions through the simulated panel's physical
// calibration, with optional noise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <random>

namespace sim {

// Raw value = origin + pixel * per1000 / 1000, per axis (per1000 may be
// negative: the raw value falls as the pixel grows).
struct TouchPhysics {
    double x_origin = 3900, x_per1000 = -11900;
    double y_origin = 3700, y_per1000 = -14500;
};

class Xpt2046Model {
  public:
    void setPhysics(const TouchPhysics& physics);
    TouchPhysics physics() const;
    void setNoise(int amplitude);

    void press(int x, int y);
    void release();
    bool pressed() const;

    // Bus side: control bytes in, conversion bytes out.
    void write(const uint8_t* bytes, size_t n);
    void read(uint8_t* bytes, size_t n);
    uint64_t conversions() const;

  private:
    uint16_t convert(bool xAxis);  // lock held

    mutable std::mutex lock_;
    TouchPhysics physics_;
    int noise_ = 0;
    std::minstd_rand rng_{12345};
    bool pressed_ = false;
    int x_ = 0, y_ = 0;
    uint8_t out_[2] = {};
    int outIndex_ = 2;
    uint64_t conversions_ = 0;
};

}  // namespace sim
