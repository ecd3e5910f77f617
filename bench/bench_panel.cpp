// Composing a window in the shadow frame: background, pictures and text, as
// the windows do on every redraw; and the text operations on their own.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "firmware/display/draw.h"
#include "firmware/display/driver.h"
#include "firmware/display/text.h"
#include "sim/sim_platform.h"

namespace {

// A picture in the panel's byte format with a made-up gradient.
std::vector<unsigned char> makePicture(int w, int h) {
    std::vector<unsigned char> p = {0x10,
                                    0x10,
                                    static_cast<unsigned char>(w >> 8),
                                    static_cast<unsigned char>(w),
                                    static_cast<unsigned char>(h >> 8),
                                    static_cast<unsigned char>(h),
                                    0x01,
                                    0x1B};
    p.reserve(8 + 2 * static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint16_t c = static_cast<uint16_t>((x * 31 / w) << 11 | (y * 63 / h) << 5 | 12);
            p.push_back(static_cast<unsigned char>(c >> 8));
            p.push_back(static_cast<unsigned char>(c));
        }
    }
    return p;
}

// A whole GBK font file with a pattern in every glyph, mapped as openHZK would.
const std::vector<unsigned char>& mapMadeUpFont() {
    static const std::vector<unsigned char> font = [] {
        std::vector<unsigned char> f(126 * 190 * 32);
        for (size_t i = 0; i < f.size(); ++i) f[i] = static_cast<unsigned char>(i * 37 >> 3);
        return f;
    }();
    gbk16mem = font.data();
    gbk16_stat.st_size = static_cast<off_t>(font.size());
    return font;
}

}  // namespace

static void BM_ComposeWindow(benchmark::State& state) {
    const std::vector<unsigned char> back = makePicture(LCD_WIDTH, LCD_HEIGHT);  // 153608 bytes
    const std::vector<unsigned char> dialog = makePicture(240, 160);
    const std::vector<unsigned char> button = makePicture(50, 50);
    mapMadeUpFont();
    POINT_COLOR = infpointcolor;
    BACK_COLOR = infbackcolor;
    for (auto _ : state) {
        drawFullBackPic(back.data());
        drawHalfPic(40, 40, dialog.data());
        drawHalfPic(20, 185, button.data());
        drawHalfPic(250, 185, button.data());
        lcdShowString(50, 50, 270, 200, "模型_底座_v2.pvk4k", 16, 1);
        lcdShowString(50, 70, 270, 200, "层厚 0.05mm", 16, 0);
        lcdShowString(50, 90, 270, 200, "Exposure 8.5 s", 16, 1);
        lcdShowString(50, 110, 270, 200, "Bottom layers 6", 12, 2);
        showString(50, 130, "Printing...", 16);
        showString(50, 150, "Z 12.35 mm", 12);
        showString(150, 150, "35 C", 12);
        showNum(160, 70, 1234, 5, 16);
        showNum(160, 90, 85, 3, 16);
        showNum(160, 110, 0, 4, 12);
        benchmark::DoNotOptimize(buf[LCD_FRAME_BYTES - 1]);
    }
    gbk16mem = nullptr;
}
BENCHMARK(BM_ComposeWindow);

// The general text operation, converter included; ASCII or Chinese.
static void BM_LcdShowString(benchmark::State& state) {
    mapMadeUpFont();
    const char* text = state.range(0) == 0 ? "Exposure time 8.5 s" : "曝光时间八点五秒钟";
    for (auto _ : state) {
        lcdShowString(10, 100, 320, 240, text, 16, 0);
        benchmark::DoNotOptimize(buf[0]);
    }
    gbk16mem = nullptr;
}
BENCHMARK(BM_LcdShowString)->Arg(0)->Arg(1);

// Only the UTF-8 -> GB2312 conversion.
static void BM_Convert(benchmark::State& state) {
    char work[TEXT_WORK_BYTES];
    for (auto _ : state) benchmark::DoNotOptimize(test1111("曝光时间 Exposure", work));
}
BENCHMARK(BM_Convert);

static void BM_ShowString(benchmark::State& state) {
    for (auto _ : state) {
        showString(10, 100, "Exposure time 8.5 s", 16);
        benchmark::DoNotOptimize(buf[0]);
    }
}
BENCHMARK(BM_ShowString);

// A whole push of the shadow frame: the start-up sequence, the window set-up
// and 153600 pixel bytes through the simulated bus into the display model.
// The drivers' microsecond waits are firmware time, which the virtual clock
// skips: the figure is the work of the push itself.
static void BM_PushFrame(benchmark::State& state) {
    GPIO_init();
    SPI_init();
    for (auto _ : state) ILI9341_fillRec1();
    state.SetBytesProcessed(state.iterations() * LCD_FRAME_BYTES);
}
BENCHMARK(BM_PushFrame)->Unit(benchmark::kMicrosecond);
