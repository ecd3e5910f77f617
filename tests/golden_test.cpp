// Golden screens: pictures and text composed in the shadow frame, compared
// pixel for pixel with the PNGs in tests/golden/. After a deliberate change
// to the art or the fonts, regenerate them with
//   VELMOR_UPDATE_GOLDEN=1 build/host/bin/golden_tests
// and look at the new files before committing them.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "assets/pictures.h"
#include "display/draw.h"
#include "display/driver.h"
#include "display/text.h"
#include "sandbox_fixture.h"
#include "sim_platform.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> frameRgb() {
    std::vector<uint8_t> rgb(320 * 240 * 3);
    for (int i = 0; i < 320 * 240; ++i) {
        const int v = buf[2 * i] << 8 | buf[2 * i + 1];
        const int r = v >> 11, g = (v >> 5) & 0x3F, b = v & 0x1F;
        rgb[3 * i] = static_cast<uint8_t>(r << 3 | r >> 2);
        rgb[3 * i + 1] = static_cast<uint8_t>(g << 2 | g >> 4);
        rgb[3 * i + 2] = static_cast<uint8_t>(b << 3 | b >> 2);
    }
    return rgb;
}

void expectGolden(const std::string& name) {
    const fs::path path = fs::path(VELMOR_GOLDEN_DIR) / (name + ".png");
    const std::vector<uint8_t> rgb = frameRgb();
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 320;
    image.height = 240;
    image.format = PNG_FORMAT_RGB;
    if (getenv("VELMOR_UPDATE_GOLDEN") != nullptr) {
        ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr));
        return;
    }
    png_image golden{};
    golden.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&golden, path.c_str())) << path;
    golden.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> want(PNG_IMAGE_SIZE(golden));
    ASSERT_TRUE(png_image_finish_read(&golden, nullptr, want.data(), 0, nullptr));
    ASSERT_EQ(want.size(), rgb.size());
    size_t differ = 0, first = rgb.size();
    for (size_t i = 0; i < rgb.size(); ++i) {
        if (rgb[i] != want[i]) {
            ++differ;
            first = std::min(first, i);
        }
    }
    EXPECT_EQ(differ, 0u) << name << ": first difference at pixel (" << first / 3 % 320 << ", "
                          << first / 3 / 320 << ")";
}

class GoldenScreen : public SandboxTest {
  protected:
    void SetUp() override {
        SandboxTest::SetUp();
        fs::copy_file(VELMOR_GBK16_FONT, root_ + "/opt/Pravik3D/GBK16.FON");
        ASSERT_EQ(openHZK(), 1);
        POINT_COLOR = infpointcolor;
        BACK_COLOR = infbackcolor;
    }
};

TEST_F(GoldenScreen, PreviewWithNameAndFigures) {
    drawFullBackPic(gImage_detail);
    lcdShowString(20, 40, 300, 60, "gear_set_\xe9\xbd\xbf\xe8\xbd\xae.pvk4k", 16, 1);
    showString2(200, 66, 300, 82, "12.3 M", 16, 1);
    showString2(200, 104, 300, 120, "Dec  6 21:45", 16, 1);
    showString2(200, 142, 300, 158, "1 H 23 M", 16, 1);
    expectGolden("preview");
}

TEST_F(GoldenScreen, DialogOverTheFileList) {
    drawFullBackPic(gImage_file);
    for (int i = 0; i < 5; ++i) {
        const std::string name = "part_" + std::to_string(i + 1) + ".pvk4k";
        lcdShowString(28, static_cast<uint16_t>(61 + 33 * i), 240, 240, name.c_str(), 16,
                      i == 2 ? 2 : 1);
    }
    drawHalfPic(40, 40, gImage_filepageopenerror);
    expectGolden("file_open_error");
}

TEST_F(GoldenScreen, CalibrationResult) {
    POINT_COLOR = 0xF800;
    BACK_COLOR = 0xFFFF;
    memset(buf, 0xFF, sizeof buf);
    showString(0, 50, "VX:", 16);
    showNum(40, 50, 11813, 5, 16);
    showString(0, 70, "Vy:", 16);
    showNum(40, 70, 17850, 5, 16);
    showString2(30, 140, 320, 170, "Adjust OK!  Touch Anywhere To Continue", 16, 1);
    expectGolden("calibration_result");
}

}  // namespace
