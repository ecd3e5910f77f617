#include "board_io.h"

#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <deque>
#include <mutex>

#include "firmware/display/driver.h"
#include "firmware/platform/platform.h"

namespace sim {
namespace {

constexpr uint32_t kBlockWords = 0x100;
std::atomic<uint32_t> g_gpio[kBlockWords];
// As on the board: until the block is mapped, registers read all ones and
// writes go nowhere.
std::atomic<bool> g_gpioMapped{false};

struct SpiBus {
    std::mutex lock;
    int fd = -1;
    uint8_t mode = 0;
    uint8_t bits = 8;
    uint32_t speed = 500000;
    std::deque<SpiTransfer> log;
    uint64_t selectFaults = 0;  // transfers with no chip or both chips selected
} g_bus;

char selectedChip() {
    if (!g_gpioMapped) return '-';  // the lines are not driven yet
    const bool lcd = (g_gpio[PA_DAT / 4].load() & (1u << PIN_CS1)) == 0;
    const bool touch = (g_gpio[PC_DAT / 4].load() & (1u << PIN_CS2)) == 0;
    if (lcd && touch) return '!';
    return lcd ? 'L' : touch ? 'T' : '-';
}

// Records the transfer; false when no chip or both chips are selected: real
// silicon then takes nothing (or both fight over the data line), so the bus
// fails the transfer and counts it as a fault of the driver.
bool record(char chip, bool write, size_t size, uint8_t first) {
    const bool dc = (g_gpio[PA_DAT / 4].load() & (1u << PIN_DC)) != 0;
    std::lock_guard<std::mutex> lock(g_bus.lock);
    g_bus.log.push_back(SpiTransfer{chip, write, dc, size, first, g_bus.mode, g_bus.speed});
    if (g_bus.log.size() > 4096) g_bus.log.pop_front();
    if (chip == 'L' || chip == 'T') return true;
    ++g_bus.selectFaults;
    return false;
}

bool isBus(int fd) {
    std::lock_guard<std::mutex> lock(g_bus.lock);
    return fd >= 0 && fd == g_bus.fd;
}

}  // namespace

Ili9341Model& panelChip() {
    static Ili9341Model chip;
    return chip;
}

Xpt2046Model& touchChip() {
    static Xpt2046Model chip;
    return chip;
}

std::vector<SpiTransfer> spiTransfers() {
    std::lock_guard<std::mutex> lock(g_bus.lock);
    return {g_bus.log.begin(), g_bus.log.end()};
}

void clearSpiTransfers() {
    std::lock_guard<std::mutex> lock(g_bus.lock);
    g_bus.log.clear();
}

uint64_t spiSelectFaults() {
    std::lock_guard<std::mutex> lock(g_bus.lock);
    return g_bus.selectFaults;
}

void updatePenLine() {
    // PEN reads 0 while pressed. Only the model writes this input bit.
    const uint32_t bit = 1u << PIN_PEN;
    if (touchChip().pressed()) {
        g_gpio[PC_DAT / 4].fetch_and(~bit);
    } else {
        g_gpio[PC_DAT / 4].fetch_or(bit);
    }
}

uint32_t gpioRegister(uint32_t offset) {
    return g_gpio[(offset / 4) % kBlockWords].load();
}

}  // namespace sim

bool platformGpioMap() {
    sim::updatePenLine();
    sim::g_gpioMapped = true;
    return true;
}

uint32_t platformGpioRead(uint32_t offset) {
    if (!sim::g_gpioMapped) return 0xFFFFFFFFu;
    return sim::g_gpio[(offset / 4) % sim::kBlockWords].load();
}

void platformGpioWrite(uint32_t offset, uint32_t value) {
    if (!sim::g_gpioMapped) return;
    std::atomic<uint32_t>& reg = sim::g_gpio[(offset / 4) % sim::kBlockWords];
    if (offset != PC_DAT) {
        reg.store(value);
        return;
    }
    // An input pin of a data register does not take written values.
    const uint32_t pen = 1u << PIN_PEN;
    uint32_t old = reg.load();
    while (!reg.compare_exchange_weak(old, (value & ~pen) | (old & pen))) {
    }
}

int platformSpiOpen(const char*) {
    const int fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    std::lock_guard<std::mutex> lock(sim::g_bus.lock);
    sim::g_bus.fd = fd;
    return fd;
}

int platformSpiIoctl(int fd, unsigned long request, void* arg) {
    if (!sim::isBus(fd) || arg == nullptr) {
        errno = EBADF;
        return -1;
    }
    std::lock_guard<std::mutex> lock(sim::g_bus.lock);
    switch (request) {
        case SPI_IOC_WR_MODE: sim::g_bus.mode = *static_cast<uint8_t*>(arg); return 0;
        case SPI_IOC_RD_MODE: *static_cast<uint8_t*>(arg) = sim::g_bus.mode; return 0;
        case SPI_IOC_WR_BITS_PER_WORD: sim::g_bus.bits = *static_cast<uint8_t*>(arg); return 0;
        case SPI_IOC_RD_BITS_PER_WORD: *static_cast<uint8_t*>(arg) = sim::g_bus.bits; return 0;
        case SPI_IOC_WR_MAX_SPEED_HZ: sim::g_bus.speed = *static_cast<uint32_t*>(arg); return 0;
        case SPI_IOC_RD_MAX_SPEED_HZ: *static_cast<uint32_t*>(arg) = sim::g_bus.speed; return 0;
        default: errno = EINVAL; return -1;
    }
}

long platformSpiWrite(int fd, const void* data, unsigned long len) {
    if (!sim::isBus(fd)) {
        errno = EBADF;
        return -1;
    }
    const char chip = sim::selectedChip();
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (!sim::record(chip, true, len, len > 0 ? bytes[0] : 0)) {
        errno = EIO;
        return -1;
    }
    if (chip == 'L') {
        const bool dc = (sim::g_gpio[PA_DAT / 4].load() & (1u << PIN_DC)) != 0;
        sim::panelChip().write(dc, bytes, len);
    } else if (chip == 'T') {
        sim::touchChip().write(bytes, len);
    }
    return static_cast<long>(len);
}

long platformSpiRead(int fd, void* data, unsigned long len) {
    if (!sim::isBus(fd)) {
        errno = EBADF;
        return -1;
    }
    const char chip = sim::selectedChip();
    if (!sim::record(chip, false, len, 0)) {
        errno = EIO;
        return -1;
    }
    auto* bytes = static_cast<uint8_t*>(data);
    if (chip == 'T') {
        sim::touchChip().read(bytes, len);
    } else {
        for (unsigned long i = 0; i < len; ++i) bytes[i] = 0;  // the display sends nothing
    }
    return static_cast<long>(len);
}
