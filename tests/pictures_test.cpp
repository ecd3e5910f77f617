// The compiled-in pictures against the window layout: sizes and headers, text
// areas left plain for the firmware's text, buttons drawn where they are hit.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "firmware/assets/picture_catalogue.h"
#include "firmware/assets/pictures.h"

namespace {

constexpr unsigned kTextBackground = 0x2946;

struct Size {
    const char* name;
    const unsigned char* data;
    unsigned width, height;
};

#define PIC(n, w, h) \
    { #n, gImage_##n, w, h }
// clang-format off
const Size kSizes[] = {
    PIC(home, 320, 240), PIC(homegray, 320, 240), PIC(homew20, 320, 240),
    PIC(homegrayw20, 320, 240), PIC(file, 320, 240), PIC(filew20, 320, 240), PIC(detail, 320, 240),
    PIC(detail_more_with_change, 320, 240), PIC(detail_more_without_change, 320, 240),
    PIC(print, 320, 240), PIC(printinginformation, 320, 240), PIC(information, 320, 240),
    PIC(setting, 320, 240), PIC(move, 320, 240), PIC(led, 320, 240), PIC(about, 320, 240),
    PIC(logo, 320, 240), PIC(upgradepage, 320, 240), PIC(upgradepageupgrade, 320, 240),
    PIC(upgradepagecalibration, 320, 240), PIC(filepagenousb, 240, 160),
    PIC(filepagenofolder, 240, 160), PIC(filepagenofile, 240, 160),
    PIC(filepageopenerror, 240, 160), PIC(detailpagenousb, 240, 160),
    PIC(detailpageprintdialog, 240, 160), PIC(detailpagetemperror, 240, 160),
    PIC(parameter_setting, 240, 160), PIC(parameter_apply, 240, 160),
    PIC(parameter_save, 240, 160), PIC(parameter_discard, 240, 160),
    PIC(printpagecanceldialog, 240, 160), PIC(printpagewaitcancel, 240, 160),
    PIC(driveboarderror, 240, 160), PIC(waitZmovd, 240, 160), PIC(ledpageturnondialog, 240, 160),
    PIC(upgradepageupgradedialog, 240, 160), PIC(upgradepageupgradefailed, 240, 160),
    PIC(upgradepagenoupgradefile, 240, 160), PIC(upgradepagerestartupgrade, 240, 160),
    PIC(upgradepagerestartupgrade1, 240, 160), PIC(upgradepagecalibrationdialog, 240, 160),
    PIC(upgradepagerestartcalibration, 240, 160), PIC(printhightemperror1, 241, 120),
    PIC(printerrortemp, 241, 120), PIC(printpagefiledataerror, 240, 115),
    PIC(LEDpageLEDon, 72, 72), PIC(LEDpageturnoff, 75, 38), PIC(ledblack, 61, 35),
    PIC(ledwhite, 61, 35), PIC(movepagedistance1, 59, 59), PIC(movepagedistance10, 59, 59),
    PIC(movepagedistance50, 59, 59), PIC(pause, 50, 50), PIC(pausegray, 50, 50),
    PIC(resume, 50, 50), PIC(resumegray, 50, 50),
};
// clang-format on
#undef PIC

unsigned widthOf(const unsigned char* p) {
    return p[2] << 8 | p[3];
}
unsigned heightOf(const unsigned char* p) {
    return p[4] << 8 | p[5];
}

// A pixel in picture coordinates, high byte first.
unsigned pixel(const unsigned char* p, unsigned x, unsigned y) {
    const unsigned char* at = p + 8 + 2 * (y * widthOf(p) + x);
    return at[0] << 8 | at[1];
}

// An area in panel pixels, x0..x1-1 by y0..y1-1, of a picture whose top-left
// corner the window puts at (ox, oy).
struct Area {
    const char* name;
    const unsigned char* data;
    unsigned ox, oy, x0, x1, y0, y1;
};

TEST(Pictures, EveryPictureHasItsSizeInItsHeaderAndItsLength) {
    ASSERT_EQ(picture_catalogue_count, std::size(kSizes));
    std::set<std::string> seen;
    for (std::size_t i = 0; i < picture_catalogue_count; ++i) {
        const PictureEntry& entry = *picture_catalogue[i];
        EXPECT_TRUE(seen.insert(entry.name).second) << entry.name;
        const Size* size = nullptr;
        for (const Size& s : kSizes)
            if (std::strcmp(s.name, entry.name) == 0) size = &s;
        ASSERT_NE(size, nullptr) << entry.name;
        EXPECT_EQ(entry.data, size->data) << entry.name;
        const unsigned char* p = entry.data;
        EXPECT_EQ(p[0], 0x10) << entry.name;
        EXPECT_EQ(p[1], 0x10) << entry.name;
        EXPECT_EQ(widthOf(p), size->width) << entry.name;
        EXPECT_EQ(heightOf(p), size->height) << entry.name;
        EXPECT_EQ(p[6], 0x01) << entry.name;
        EXPECT_EQ(p[7], 0x1B) << entry.name;
        EXPECT_EQ(entry.size, 8 + 2u * size->width * size->height) << entry.name;
    }
}

// Where the windows write text (mostly glyph pixels only), the picture must be
// the plain text background, or the text is unreadable or leaves stray pixels.
TEST(Pictures, TextAreasArePlainTextBackground) {
    const Area kText[] = {
        {"file row 1", gImage_file, 0, 0, 34, 240, 61, 78},
        {"file row 2", gImage_file, 0, 0, 34, 240, 94, 111},
        {"file row 3", gImage_file, 0, 0, 34, 240, 127, 144},
        {"file row 4", gImage_file, 0, 0, 34, 240, 160, 177},
        {"file row 5", gImage_file, 0, 0, 34, 240, 193, 210},
        {"file page", gImage_file, 0, 0, 115, 157, 221, 233},
        {"detail name", gImage_detail, 0, 0, 20, 300, 40, 60},
        {"detail size", gImage_detail, 0, 0, 200, 300, 66, 82},
        {"detail date", gImage_detail, 0, 0, 200, 300, 104, 120},
        {"detail time", gImage_detail, 0, 0, 200, 300, 142, 158},
        {"edit title", gImage_parameter_setting, 40, 40, 100, 220, 48, 64},
        {"edit value", gImage_parameter_setting, 40, 40, 132, 188, 110, 126},
        {"print name", gImage_print, 0, 0, 30, 300, 10, 30},
        {"print percent", gImage_print, 0, 0, 274, 306, 26, 42},
        {"print elapsed", gImage_print, 0, 0, 230, 320, 72, 88},
        {"print left", gImage_print, 0, 0, 230, 320, 105, 121},
        {"print layer", gImage_print, 0, 0, 230, 320, 138, 154},
        {"print temperature", gImage_print, 0, 0, 230, 320, 171, 188},
        {"print status", gImage_print, 0, 0, 230, 302, 204, 220},
        {"about model", gImage_about, 0, 0, 175, 271, 73, 89},
        {"about size", gImage_about, 0, 0, 175, 271, 110, 126},
        {"about version", gImage_about, 0, 0, 175, 271, 146, 162},
        {"led temperature", gImage_led, 0, 0, 44, 68, 175, 191},
        {"led intensity", gImage_led, 0, 0, 240, 320, 50, 86},
    };
    // The parameter list, in both of its forms: the two header figures and the
    // ten values, each as wide as its longest value.
    const unsigned kValues[][4] = {
        {80, 140, 42, 58},   {225, 250, 42, 58},   {80, 128, 68, 84},   {250, 296, 68, 84},
        {80, 128, 96, 112},  {250, 296, 96, 112},  {90, 130, 124, 140}, {232, 276, 124, 140},
        {90, 130, 152, 168}, {232, 276, 152, 168}, {90, 130, 180, 196}, {232, 276, 180, 196},
    };
    std::vector<Area> areas(std::begin(kText), std::end(kText));
    for (const unsigned char* list :
         {gImage_detail_more_with_change, gImage_detail_more_without_change})
        for (const auto& v : kValues)
            areas.push_back({"parameter", list, 0, 0, v[0], v[1], v[2], v[3]});

    for (const Area& a : areas) {
        int stray = 0;
        for (unsigned y = a.y0; y < a.y1; ++y)
            for (unsigned x = a.x0; x < a.x1; ++x)
                if (pixel(a.data, x - a.ox, y - a.oy) != kTextBackground) ++stray;
        EXPECT_EQ(stray, 0) << a.name << " at " << a.x0 << "," << a.y0;
    }
}

}  // namespace
