#include "mask.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "firmware/platform/platform.h"
#include "firmware/print/layer_code.h"

namespace sim {

bool makeMaskFile(const std::string& root, std::string& error) {
    const std::string path = root + "/dev/fb0";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot create " + path;
        return false;
    }
    struct stat st {};
    bool ok = fstat(fd, &st) == 0;
    if (ok && st.st_size != static_cast<off_t>(FRAME_BYTES)) ok = ftruncate(fd, FRAME_BYTES) == 0;
    close(fd);
    if (!ok) error = "cannot size " + path;
    return ok;
}

std::vector<uint8_t> maskPreview(const std::string& root, int scale, int& width, int& height) {
    scale = std::clamp(scale, 1, 64);
    width = static_cast<int>(FRAME_WIDTH) / scale;
    height = static_cast<int>(FRAME_HEIGHT) / scale;
    std::vector<uint8_t> rgb;
    const int fd = open((root + "/dev/fb0").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return rgb;
    struct stat st {};
    void* map = MAP_FAILED;
    if (fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(FRAME_BYTES)) {
        map = mmap(nullptr, FRAME_BYTES, PROT_READ, MAP_SHARED, fd, 0);
    }
    close(fd);
    if (map == MAP_FAILED) return rgb;
    const auto* frame = static_cast<const uint8_t*>(map);
    rgb.assign(static_cast<size_t>(width) * height * 3, 0);
    for (int y = 0; y < height * scale; ++y) {
        const uint8_t* line = frame + static_cast<size_t>(y) * FRAME_LINE_BYTES;
        uint8_t* out = rgb.data() + static_cast<size_t>(y / scale) * width * 3;
        for (int x = 0; x < width * scale; ++x) {
            uint8_t* o = out + (x / scale) * 3;
            o[0] = std::max(o[0], line[x * 3 + 2]);
            o[1] = std::max(o[1], line[x * 3 + 1]);
            o[2] = std::max(o[2], line[x * 3 + 0]);
        }
    }
    munmap(map, FRAME_BYTES);
    return rgb;
}

}  // namespace sim

// The sandbox's mask has the board's geometry whenever it is a whole frame.
namespace {
std::atomic<uint64_t> g_maskWrites{0};
std::function<void()> g_maskListener;
}  // namespace

void sim::onMaskWritten(std::function<void()> listener) {
    g_maskListener = std::move(listener);
}

uint64_t sim::maskWrites() {
    return g_maskWrites.load();
}

void platformMaskWritten() {
    g_maskWrites.fetch_add(1);
    if (g_maskListener) g_maskListener();
}

int platformFbScreenInfo(int fd, FbScreenInfo& info) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(FRAME_BYTES)) return 2;
    info.xres = FRAME_WIDTH;
    info.yres = FRAME_HEIGHT;
    info.bits_per_pixel = 24;
    info.line_length = FRAME_LINE_BYTES;
    return 0;
}
