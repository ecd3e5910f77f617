// Text and fonts: the ASCII tables, the glyph and string operations, the GBK
// font file and the UTF-8 conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "firmware/assets/ascii_fonts.h"
#include "firmware/display/draw.h"
#include "firmware/display/driver.h"
#include "firmware/display/text.h"
#include "sandbox_fixture.h"
#include "sim/sim_platform.h"

namespace {

constexpr uint16_t kInk = 0xF800, kPaper = 0x001F, kUntouched = 0x5A5A;
constexpr size_t kIndexB0A1 = 0x2F * 190 + 0x60;  // glyph index of GB2312 "啊"

uint16_t pixelAt(int x, int y) {
    return static_cast<uint16_t>(buf[2 * (y * LCD_WIDTH + x)] << 8 |
                                 buf[2 * (y * LCD_WIDTH + x) + 1]);
}

// A font file whose glyph i has row 0 = i and rows 1..15 = 0x8001, so a drawn
// glyph tells which offset it was read from.
std::vector<unsigned char> fakeFont(size_t glyphs) {
    std::vector<unsigned char> f(glyphs * 32);
    for (size_t i = 0; i < glyphs; ++i) {
        f[i * 32] = static_cast<unsigned char>(i >> 8);
        f[i * 32 + 1] = static_cast<unsigned char>(i);
        for (int r = 1; r < 16; ++r) f[i * 32 + 2 * r] = 0x80, f[i * 32 + 2 * r + 1] = 0x01;
    }
    return f;
}

class TextTest : public SandboxTest {
  protected:
    void SetUp() override {
        SandboxTest::SetUp();
        savedColors_ = {POINT_COLOR, BACK_COLOR};
        POINT_COLOR = kInk;
        BACK_COLOR = kPaper;
        clearFrame();
        gbk16mem = nullptr;
        gbk16_stat.st_size = 0;
    }
    void TearDown() override {
        gbk16mem = nullptr;
        gbk16_stat.st_size = 0;
        std::tie(POINT_COLOR, BACK_COLOR) = savedColors_;
        SandboxTest::TearDown();
    }
    static void clearFrame() { memset(buf, 0x5A, sizeof buf); }
    void mapFont(size_t glyphs, size_t length) {
        font_ = fakeFont(glyphs);
        gbk16mem = font_.data();
        gbk16_stat.st_size = static_cast<off_t>(length);
    }
    // The glyph index a two-byte glyph drawn at (x, y) came from; -1 if none.
    static int drawnIndex(int x, int y) {
        if (pixelAt(x, y + 1) != kInk || pixelAt(x + 1, y + 1) == kInk) return -1;
        int index = 0;
        for (int c = 0; c < 16; ++c) index = index << 1 | (pixelAt(x + c, y) == kInk);
        return index;
    }
    // Bounding box of the pixels drawn: {x0, y0, x1, y1}, or x0 = -1 for none.
    static std::vector<int> drawnBox() {
        std::vector<int> box = {-1, -1, -1, -1};
        for (int y = 0; y < LCD_HEIGHT; ++y) {
            for (int x = 0; x < LCD_WIDTH; ++x) {
                if (pixelAt(x, y) == kUntouched) continue;
                if (box[0] < 0) box = {x, y, x, y};
                box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x),
                       std::max(box[3], y)};
            }
        }
        return box;
    }
    std::vector<unsigned char> font_;
    std::pair<uint16_t, uint16_t> savedColors_;
};

// Draws with `draw`, then with `reference` on a fresh frame; the frames must match.
template <typename A, typename B>
void expectSameFrame(A draw, B reference) {
    memset(buf, 0x5A, sizeof buf);
    draw();
    const std::vector<uint8_t> got(buf, buf + sizeof buf);
    memset(buf, 0x5A, sizeof buf);
    reference();
    const auto diff = std::mismatch(got.begin(), got.end(), buf);
    if (diff.first != got.end()) {
        const long at = (diff.first - got.begin()) / 2;
        ADD_FAILURE() << "frames differ first at x " << at % LCD_WIDTH << ", y " << at / LCD_WIDTH;
    }
}

TEST(TextFontTables, KeepTheLayoutAndTheFixedGlyphA) {
    const unsigned char a16[16] = {0x00, 0x00, 0x00, 0x08, 0x08, 0x18, 0x14, 0x14,
                                   0x24, 0x3C, 0x22, 0x42, 0x42, 0xE7, 0x00, 0x00};
    const unsigned char a12[12] = {0x00, 0x00, 0x00, 0x08, 0x14, 0x14,
                                   0x24, 0x3E, 0x02, 0x27, 0x00, 0x00};
    EXPECT_EQ(memcmp(a18sc2_16081 + ('A' - 32) * 16, a16, 16), 0);
    EXPECT_EQ(memcmp(a18sc2_1206 + ('A' - 32) * 16, a12, 12), 0);
    for (int slot = 0; slot < 95; ++slot) {
        const unsigned char* g12 = a18sc2_1206 + slot * 16;
        const unsigned char* g16 = a18sc2_16081 + slot * 16;
        int ink12 = 0, ink16 = 0;
        for (int r = 0; r < 16; ++r) {
            // Six pixels a row, twelve rows.
            EXPECT_EQ(g12[r] & (r < 12 ? 0xC0 : 0xFF), 0) << "slot " << slot << " row " << r;
            ink12 += g12[r] != 0;
            ink16 += g16[r] != 0;
        }
        EXPECT_EQ(ink12 > 0, slot != 0) << "slot " << slot;
        EXPECT_EQ(ink16 > 0, slot != 0) << "slot " << slot;
    }
    EXPECT_TRUE(std::all_of(a18sc2_2412, a18sc2_2412 + ASCII_FONT_BYTES,
                            [](unsigned char b) { return b == 0; }));
}

// One row of a glyph as '#' for `ink`, '.' for `clear`, '?' for anything else.
std::string rowAt(int x, int y, int width, uint16_t ink, uint16_t clear) {
    std::string row;
    for (int c = 0; c < width; ++c) {
        const uint16_t p = pixelAt(x + c, y);
        row += p == ink ? '#' : p == clear ? '.' : '?';
    }
    return row;
}

TEST_F(TextTest, ShowCharPutsBitZeroLeftAndColoursByMode) {
    for (uint8_t mode : {0, 1, 2}) {
        clearFrame();
        showChar(10, 20, 'A', 16, mode);
        showChar(30, 20, 'A', 12, mode);
        const uint16_t ink = mode == 2 ? 0xD71C : kInk, clear = mode == 0 ? kPaper : kUntouched;
        EXPECT_EQ(rowAt(10, 23, 8, ink, clear), "...#....") << "mode " << +mode;            // 0x08
        EXPECT_EQ(rowAt(10, 33, 8, ink, clear), "###..###") << "mode " << +mode;            // 0xE7
        EXPECT_EQ(rowAt(30, 29, 8, ink, kUntouched), mode == 0 ? "###??#.." : "###..#..");  // 0x27
    }
    // Opaque cells: 8 x 16 and 6 x 12.
    clearFrame();
    showChar(10, 20, 'A', 16, 0);
    EXPECT_EQ(drawnBox(), (std::vector<int>{10, 20, 17, 35}));
    clearFrame();
    showChar(30, 20, 'A', 12, 0);
    EXPECT_EQ(drawnBox(), (std::vector<int>{30, 20, 35, 31}));
}

TEST_F(TextTest, ShowCharClipsToTheFrameAndKnowsOnlyTwoSizes) {
    showChar(316, 230, 'M', 16, 0);  // opaque: every visible pixel of the cell is painted
    EXPECT_EQ(drawnBox(), (std::vector<int>{316, 230, 319, 239}));
    clearFrame();
    showChar(320, 0, 'M', 16, 0);
    showChar(0, 240, 'M', 16, 0);
    showChar(65535, 65535, 'M', 12, 0);
    showChar(10, 10, 'A', 24, 0);
    showChar(10, 10, 'A', 8, 0);
    EXPECT_EQ(drawnBox()[0], -1);
    // Codes without a glyph take a blank cell.
    expectSameFrame([] { showChar(10, 10, 0x07, 16, 0); }, [] { showChar(10, 10, ' ', 16, 0); });
    expectSameFrame([] { showChar(10, 10, 0xB0, 12, 0); }, [] { showChar(10, 10, ' ', 12, 0); });
}

TEST_F(TextTest, ShowStringDrawsInModeOneAndStopsAtBadBytesAndTheEdge) {
    expectSameFrame([] { showString(230, 204, "Printing.", 16); },
                    [] {
                        for (int i = 0; i < 9; ++i)
                            showChar(230 + 8 * i, 204, "Printing."[i], 16, 1);
                    });
    for (const char* bad : {"AB\037CD", "AB\177CD", "AB\303\251CD", "AB\200CD"}) {
        expectSameFrame([&] { showString(0, 0, bad, 12); }, [] { showString(0, 0, "AB", 12); });
    }
    expectSameFrame([] { showString(312, 0, "WWW", 16); }, [] { showChar(312, 0, 'W', 16, 1); });
    clearFrame();
    showString(0, 240, "W", 12);
    showString(320, 0, "W", 12);
    EXPECT_EQ(drawnBox()[0], -1);
}

TEST_F(TextTest, LcdShowStringStopsAtTheLimits) {
    const std::string xs(40, 'x');
    expectSameFrame([&] { lcdShowString(30, 0, 320, 240, xs.c_str(), 16, 1); },
                    [] {
                        for (int i = 0; i < 36; ++i) showChar(30 + 8 * i, 0, 'x', 16, 1);
                    });
    // Two-byte glyphs take the same half-size test, so the last may pass xr.
    mapFont(kIndexB0A1 + 1, (kIndexB0A1 + 1) * 32);
    clearFrame();
    lcdShowString(0, 0, 40, 240, "啊啊啊啊", 16, 1);
    EXPECT_EQ(drawnIndex(32, 0), static_cast<int>(kIndexB0A1));
    EXPECT_EQ(drawnBox()[2], 47);
    clearFrame();
    lcdShowString(0, 100, 320, 115, "A", 16, 1);
    lcdShowString(5, 100, 12, 240, "A", 16, 1);
    lcdShowString(0, 0, 3, 240, "A", 12, 1);
    EXPECT_EQ(drawnBox()[0], -1);
    lcdShowString(0, 100, 320, 116, "A", 16, 1);
    EXPECT_NE(drawnBox()[0], -1);
}

TEST_F(TextTest, TwoByteGlyphsComeFromTheGbkOffset) {
    mapFont(kIndexB0A1 + 1, (kIndexB0A1 + 1) * 32);
    lcdShowString(0, 0, 320, 240, "啊", 16, 1);
    EXPECT_EQ(drawnIndex(0, 0), static_cast<int>(kIndexB0A1));  // 32 x (0x2F x 190 + 0x60)
    EXPECT_EQ(drawnBox(), (std::vector<int>{0, 0, 15, 15}));
    // Trail bytes up to 0x7E count from 0x40, later ones from 0x41.
    clearFrame();
    showGbkString(0, 0, 320, 240, "\x81\x40\x81\x7e\x81\x80\x82\x40\x81\xfe", 16, 1);
    EXPECT_EQ(drawnIndex(0, 0), 0);
    EXPECT_EQ(drawnIndex(16, 0), 62);
    EXPECT_EQ(drawnIndex(32, 0), 63);
    EXPECT_EQ(drawnIndex(48, 0), 190);
    EXPECT_EQ(drawnIndex(64, 0), 189);
}

TEST_F(TextTest, TwoByteGlyphsOutsideTheFontDrawNothingButAdvance) {
    auto glyphThenA = [] { lcdShowString(0, 0, 320, 240, "啊A", 16, 0); };
    auto aAfterAGap = [] { showChar(16, 0, 'A', 16, 0); };
    expectSameFrame(glyphThenA, aAfterAGap);  // no font mapped
    mapFont(1, 32);
    expectSameFrame(glyphThenA, aAfterAGap);
    mapFont(kIndexB0A1 + 1, kIndexB0A1 * 32 + 31);  // ends one byte short
    expectSameFrame(glyphThenA, aAfterAGap);
    mapFont(kIndexB0A1 + 1, (kIndexB0A1 + 1) * 32);
    for (const char* bad : {"\200\241A", "\377\241A", "\260\077A", "\260\377A"}) {
        expectSameFrame([&] { showGbkString(0, 0, 320, 240, bad, 16, 0); }, aAfterAGap);
    }
    // A lead byte at the end of the text: nothing is read past the terminator.
    std::unique_ptr<char[]> tail(new char[3]{'A', '\xb0', '\0'});
    expectSameFrame([&] { showGbkString(0, 0, 320, 240, tail.get(), 16, 0); },
                    [] { showChar(0, 0, 'A', 16, 0); });
}

TEST_F(TextTest, ConversionKeepsWhatPrecedesTheFirstFailure) {
    char work[TEXT_WORK_BYTES];
    ASSERT_EQ(test1111("A啊B", work), 4u) << "no UTF-8 to GB2312 converter (for qemu-arm: the "
                                             "iconv modules of scripts/armhf-sysroot)";
    EXPECT_STREQ(utf82gbk, "A\260\241B");
    for (const char* failing : {"AB€CD", "AB\377CD", "AB\345\225"}) {
        testing::internal::CaptureStderr();
        test1111(failing, work);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("iconv:"), std::string::npos);
        EXPECT_STREQ(utf82gbk, "AB") << failing;
    }
    test1111("", work);
    EXPECT_STREQ(utf82gbk, "");
}

TEST_F(TextTest, LongTextIsCutOnACharacterBoundaryAndFitsTheBuffer) {
    char work[TEXT_WORK_BYTES];
    std::string text = "a";
    for (int i = 0; i < 100; ++i) text += "啊";  // the 255-byte cut falls inside the 85th
    testing::internal::CaptureStderr();
    EXPECT_EQ(test1111(text.c_str(), work), 1u + 84 * 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    const std::string ascii(1000, 'x');
    testing::internal::CaptureStderr();
    EXPECT_EQ(test1111(ascii.c_str(), work), sizeof utf82gbk - 1);
    EXPECT_EQ(utf82gbk[sizeof utf82gbk - 1], '\0');
    lcdShowString(0, 0, 320, 240, ascii.c_str(), 12, 0);  // one line, 53 cells
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(drawnBox(), (std::vector<int>{0, 0, 317, 11}));
}

class TextFontFile : public TextTest {
  protected:
    void TearDown() override {
        std::filesystem::remove(root_ + "/opt/Pravik3D/GBK16.FON");
        testing::internal::CaptureStdout();
        openHZK();  // releases the mapping: the file is gone
        testing::internal::GetCapturedStdout();
        TextTest::TearDown();
    }
    void writeFont(const std::vector<unsigned char>& bytes) {
        FILE* f = fopen((root_ + "/opt/Pravik3D/GBK16.FON").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    // openHZK's result and what it printed.
    static std::pair<int, std::string> open() {
        testing::internal::CaptureStdout();
        const int result = openHZK();
        fflush(stdout);
        return {result, testing::internal::GetCapturedStdout()};
    }
};

TEST_F(TextFontFile, MapsTheFileWholeOrSaysWhy) {
    EXPECT_EQ(open(), std::make_pair(0, std::string("mmap for GBK16 !\ncan't open GBK16!\n")));
    EXPECT_EQ(gbk16mem, nullptr);
    writeFont({});
    EXPECT_EQ(open(), std::make_pair(0, std::string("mmap for GBK16 !\nmmap for GBK16 error!\n")));
    EXPECT_EQ(gbk16mem, nullptr);

    const std::vector<unsigned char> bytes = fakeFont(kIndexB0A1 + 1);
    writeFont(bytes);
    EXPECT_EQ(open().first, 1);
    ASSERT_NE(gbk16mem, nullptr);
    EXPECT_GE(fd_gbk16, 0);
    EXPECT_EQ(gbk16_stat.st_size, static_cast<off_t>(bytes.size()));
    EXPECT_EQ(memcmp(gbk16mem, bytes.data(), bytes.size()), 0);
    lcdShowString(0, 0, 320, 240, "啊", 16, 1);
    EXPECT_EQ(drawnIndex(0, 0), static_cast<int>(kIndexB0A1));
}

}  // namespace
