// The motion board's status reply to "M105" and the temperature limits.
#pragma once

#include <atomic>
#include <cstdint>

// Parsed from the last status reply. Fields are atomics because the
// simulator's control server inspects them from its own thread.
struct PrinterStatus {
    std::atomic<int16_t> led_temperature{0};
    std::atomic<uint16_t> ok_value{0};
    std::atomic<uint16_t> mv_value{0};
    std::atomic<uint16_t> rpm_value{0};
    std::atomic<uint8_t> zmin_state{0};
    std::atomic<uint8_t> zmax_state{0};
    std::atomic<uint32_t> t_value{0};
};

extern PrinterStatus pravik3dprinter;

// The LED-panel temperature every check reads; 0 until the first reply.
extern std::atomic<int16_t> current_temperature;

constexpr int16_t TEMPERATURE_SENSOR_FAILED = -10;
// The board's failure value, or colder than any working printer reads: an
// open or shorted sensor, under which an overheating panel would go unseen.
constexpr bool temperatureSensorFailed(int16_t t) {
    return t <= TEMPERATURE_SENSOR_FAILED;
}
constexpr int TEMPERATURE_REFUSED = 8;

// One poll: "M105" unless the printing window is shown, then the parse.
void checkPrinterStatus();

// Parses the kept reply into pravik3dprinter and current_temperature.
void checkM105cmd();

// 8 when a print must not start (above 55, or the failed sensor), else 1.
int checkTemperature();
