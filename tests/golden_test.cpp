// Golden screens: pictures and text composed in the shadow frame, compared
// pixel for pixel with the PNGs in tests/golden/. After a deliberate change
// to the art or the fonts, regenerate them with
//   VELMOR_UPDATE_GOLDEN=1 build/host/bin/golden_tests
// and look at the new files before committing them.
#include <gtest/gtest.h>
#include <png.h>

#include <sys/time.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "firmware/app/global_data.h"
#include "firmware/app/global_func.h"
#include "firmware/assets/pictures.h"
#include "firmware/display/draw.h"
#include "firmware/display/driver.h"
#include "firmware/display/text.h"
#include "firmware/link/status.h"
#include "firmware/print/material_test.h"
#include "firmware/print/print.h"
#include "firmware/print/print_file.h"
#include "firmware/print/print_time.h"
#include "firmware/ui/ui.h"
#include "firmware/usb/UsbController.h"
#include "firmware/usb/tf.h"
#include "print_file_builder.h"
#include "sandbox_fixture.h"
#include "sim/sim_platform.h"

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

// The browser and the preview as the windows draw them, over a stick
// folder in the sandbox that counts as mounted.
class GoldenWindow : public GoldenScreen {
  protected:
    void SetUp() override {
        GoldenScreen::SetUp();
        folder_ = root_ + "/opt/usb/pravik3d";
        fs::create_directories(folder_);
        s_isMounted = 1;
        USB_detected = 1;
    }
    void TearDown() override {
        s_isMounted = 0;
        USB_detected = 0;
        GoldenScreen::TearDown();
    }
    // Lists the folder as a mount would.
    void list() {
        usb_file_count = usbFileCount();
        ASSERT_EQ(usbFileReadName(), 8);
    }
    void selectNamed(const std::string& name) {
        for (uint16_t i = 0; i < usb_file_count; ++i) {
            if (name == getFileName(i)) {
                page_index = static_cast<uint8_t>(i / 5);
                file_index_num = static_cast<uint8_t>(i % 5);
                return;
            }
        }
        FAIL() << name << " not listed";
    }
    std::string folder_;
};

TEST_F(GoldenWindow, BrowserWithAHighlightedRow) {
    for (const char* n : {"cube.pvk4k", "ring.pvk4k", "\xe9\xbd\xbf\xe8\xbd\xae.pvk4k",
                          "a_rather_long_name_for_a_print_file_that_does_not_fit.pvk4k",
                          "pyramid.pvk4k", "bracket.pvk4k", "lid.pvk4k"}) {
        std::ofstream(folder_ + "/" + n) << "x";
    }
    list();
    page_index = 0;
    file_index_num = 2;
    choose_printfile = 1;
    displayWindowFile();
    choose_printfile = 0;
    expectGolden("file_list");
}

TEST_F(GoldenWindow, PreviewThenParameterListAndEdit) {
    PrintFileBuilder f;
    f.thumbnail(150, 120);
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 150; ++x) {
            const int dx = x - 75, dy = y - 60;
            const uint16_t c = dx * dx + dy * dy < 45 * 45
                                   ? static_cast<uint16_t>((x / 5) << 11 | (y / 2) << 5 | 20)
                                   : 0x2946;
            f.thumb[(y * 150 + x) * 2] = static_cast<uint8_t>(c >> 8);
            f.thumb[(y * 150 + x) * 2 + 1] = static_cast<uint8_t>(c);
        }
    }
    const std::string path = folder_ + "/\xe9\xbd\xbf\xe8\xbd\xae_gear.pvk4k";
    std::ofstream(path, std::ios::binary) << f.bytes() << std::string(12300000, '\0');
    const timeval times[2] = {{1796594700, 0}, {1796594700, 0}};  // Dec  6 22:05 2026
    ASSERT_EQ(utimes(path.c_str(), times), 0);
    list();
    selectNamed("\xe9\xbd\xbf\xe8\xbd\xae_gear.pvk4k");
    enter_detial = 1;
    skipLoadParameter = 0;
    displayWindowDetail();
    expectGolden("preview");

    printparameter.curing_time = 12000;  // an edit: the list offers discard, apply, save
    displayWindowDetailmore();
    EXPECT_EQ(parameterChanged, 1);
    expectGolden("parameter_list_changed");

    parameterEditOption = 0;
    parameterEdited = 12500;
    displayWindowParameterEdit();
    expectGolden("parameter_edit");
}

// The printing window at layer 50 of 200 with fixed figures, running and
// then paused for the LED panel's temperature; the about window.
TEST_F(GoldenScreen, PrintingWindowStatesAndAbout) {
    static const char name[] = "\xe9\xbd\xbf\xe8\xbd\xae_gear.pvk4k";
    preview_file_information.file_name = name;
    snprintf(preview_file_identity.name, sizeof preview_file_identity.name, "%s", name);
    preview_file_identity.valid = true;
    printparameter = PrintParameter{};
    printparameter.layer_count = 200;
    printparameter.thumb_width = 60;
    printparameter.thumb_height = 40;
    for (int i = 0; i < 60 * 40; ++i) {
        preview_file_information.pic[2 * i] = static_cast<uint8_t>(0x30 + i % 60);
        preview_file_information.pic[2 * i + 1] = static_cast<uint8_t>(i / 60 * 6);
    }
    resetMaterialTest();
    file_information.total_layer = 200;
    file_information.current_layer = 50;
    file_information.print_times = 2212500;
    file_information.elapsed_time = 600;
    adjustprinttimestatue = 1;
    pravik3dprinter.led_temperature = 38;
    clearCurrentButton();
    dialog_operation = 0;
    setPrintStatus(PRINT_RUNNING);
    pre_get_time = static_cast<int32_t>(monotonicTimeval().tv_sec) - 600;
    total_paused_get_time = 0;
    paused_get_time = 0;
    displayPrintInformation();
    expectGolden("printing_running");

    pravik3dprinter.led_temperature = 58;
    setPrintStatus(PRINT_TEMP_PAUSED);
    displayPrintInformation();
    expectGolden("printing_temp_paused");
    clearCurrentButton();
    setPrintStatus(0);

    displayWindowAbout();
    expectGolden("about");
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
