#include "print/framebuffer.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "print/layer_code.h"
#include "print/print_file.h"

int fd_fb = -1;
uint8_t* p_fb = nullptr;

namespace {

// Every writer's answer to a missing frame.
bool haveFrame() {
    if (p_fb != nullptr) return true;
    perror("Unable to mmap file");
    printf("p_fb:%lx\n", 0UL);
    return false;
}

}  // namespace

int FB_init() {
    FB_exit();
    fd_fb = open(sysPath("/dev/fb0").c_str(), O_RDWR | O_CLOEXEC);
    if (fd_fb < 0) {
        printf("Error : Can not open /dev/fb0/n");
        return 1;
    }
    FbScreenInfo info{};
    const int r = platformFbScreenInfo(fd_fb, info);
    if (r == 2) {
        printf("Error reading fixed information/n");
        return 2;
    }
    if (r != 0) {
        printf("Error reading variable information/n");
        return 3;
    }
    printf("xres:%d\n", static_cast<int>(info.xres));
    printf("yres:%d\n", static_cast<int>(info.yres));
    printf("bits_per_pixel:%d\n", static_cast<int>(info.bits_per_pixel));
    // Every writer assumes the mask's geometry: anything else would be
    // written past the end of a smaller mapping.
    if (info.xres != FRAME_WIDTH || info.yres != FRAME_HEIGHT || info.bits_per_pixel != 24 ||
        info.line_length != FRAME_LINE_BYTES) {
        printf("mask geometry %ux%u at %u bits is not %ux%u at 24\n", info.xres, info.yres,
               info.bits_per_pixel, FRAME_WIDTH, FRAME_HEIGHT);
        return 3;
    }
    void* map = mmap(nullptr, FRAME_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED, fd_fb, 0);
    if (map == MAP_FAILED) {
        perror("Unable to mmap file");
        return 0;  // the frame stays absent; every writer reports it
    }
    p_fb = static_cast<uint8_t*>(map);
    memset(p_fb, 0, FRAME_BYTES);
    return 0;
}

void FB_exit() {
    if (p_fb != nullptr) munmap(p_fb, FRAME_BYTES);
    p_fb = nullptr;
    if (fd_fb >= 0) close(fd_fb);
    fd_fb = -1;
}

uint8_t* getFrameBufferPtr() {
    return p_fb;
}

int Read2KDisplayData(FILE* fp) {
    if (!haveFrame()) return LAYER_NO_FRAME;
    uint8_t countBytes[4];
    if (fread(countBytes, 1, 4, fp) != 4) {
        printf("read current layer pic data EEROR");
        return LAYER_COUNT_UNREADABLE;
    }
    const uint32_t n = uint32_t(countBytes[0]) | uint32_t(countBytes[1]) << 8 |
                       uint32_t(countBytes[2]) << 16 | uint32_t(countBytes[3]) << 24;
    if (n == 0 || n > LAYER_CODE_MAX) {
        printf("current_layer_pic_data_size=%d\n", static_cast<int>(n));
        return LAYER_BAD_COUNT;
    }
    // Nothing more than the buffer holds is read into it.
    if (display_2K_data == nullptr || n > display_2K_capacity) {
        printf("current_layer_pic_data_size=%u over the layer buffer of %u\n", n,
               display_2K_capacity);
        return LAYER_BAD_COUNT;
    }
    // A record cut short by the end of the file is not decoded: its tail
    // would be the previous layer's bytes.
    if (fread(display_2K_data, 1, n, fp) != n) {
        puts("current layer pic data cut short");
        return LAYER_COUNT_UNREADABLE;
    }
    const int result = decodeLayer(display_2K_data, n, p_fb);
    platformMaskWritten();  // also a layer cut short: what was decoded is shown
    return result;
}

int displayPicData2K(FILE* fp) {
    return Read2KDisplayData(fp) == LAYER_DONE ? 1 : 0;
}

void fbDisplayTest(uint8_t value) {
    if (!haveFrame()) return;
    memset(p_fb, value, FRAME_BYTES);
    platformMaskWritten();
}

void fbDisplayFill(uint16_t x0, uint16_t y0, uint16_t x1, uint16_t y1, uint8_t value) {
    if (!haveFrame()) return;
    // Columns x0 < c < x1 and lines y0 < l < y1, clipped to the frame.
    const uint32_t c0 = std::min<uint32_t>(x0 + 1u, FRAME_WIDTH);
    const uint32_t c1 = std::max<uint32_t>(c0, std::min<uint32_t>(x1, FRAME_WIDTH));
    for (uint32_t line = 0; line < FRAME_HEIGHT; ++line) {
        uint8_t* row = p_fb + line * FRAME_LINE_BYTES;
        if (line > y0 && line < y1 && c1 > c0) {
            memset(row, 0, c0 * 3);
            memset(row + c0 * 3, value, (c1 - c0) * 3);
            memset(row + c1 * 3, 0, (FRAME_WIDTH - c1) * 3);
        } else {
            memset(row, 0, FRAME_LINE_BYTES);
        }
    }
    platformMaskWritten();
}

int display2KRec(uint16_t x0, uint16_t y0, uint16_t x1, uint16_t y1, uint8_t value) {
    if (!haveFrame()) return LAYER_NO_FRAME;
    const uint32_t c1 = std::min<uint32_t>(x1, FRAME_WIDTH);
    const uint32_t l1 = std::min<uint32_t>(y1, FRAME_HEIGHT);
    if (x0 >= c1) return 1;
    for (uint32_t line = y0; line < l1; ++line) {
        memset(p_fb + line * FRAME_LINE_BYTES + x0 * 3u, value, (c1 - x0) * 3u);
    }
    platformMaskWritten();
    return 1;
}
