// asciifont: writes the firmware's compiled-in ASCII font tables from two
// fixed-width bitmap fonts (any format FreeType reads: PCF, BDF, ...).
//
//   asciifont SMALL.pcf LARGE.pcf OUT.cpp
//
// SMALL gives the 6 x 12 table, LARGE the 8 x 16 one. Each table holds the
// characters ' ' to '~', 16 bytes a glyph, one byte a row from the top, bit 0
// the leftmost pixel. The 'A' of both sizes is fixed by the panel's layout
// and is written as given, whatever the source font draws.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kFirst = 32, kLast = 126, kSlots = kLast - kFirst + 1, kSlotBytes = 16;
using Table = std::array<uint8_t, kSlots * kSlotBytes>;

constexpr uint8_t kA12[kSlotBytes] = {0x00, 0x00, 0x00, 0x08, 0x14, 0x14, 0x24, 0x3E,
                                      0x02, 0x27, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr uint8_t kA16[kSlotBytes] = {0x00, 0x00, 0x00, 0x08, 0x08, 0x18, 0x14, 0x14,
                                      0x24, 0x3C, 0x22, 0x42, 0x42, 0xE7, 0x00, 0x00};

[[noreturn]] void die(const std::string& why) {
    fprintf(stderr, "asciifont: %s\n", why.c_str());
    exit(1);
}

// Renders one font into a table of cells `width` x `height`. The font's
// ascent puts its baseline; glyphs are placed by their own bearings and
// anything outside the cell is cut.
Table render(FT_Library lib, const char* path, int width, int height, const uint8_t* glyphA) {
    FT_Face face;
    if (FT_New_Face(lib, path, 0, &face) != 0) die(std::string("cannot read ") + path);
    // A bitmap font: take the strike nearest the cell height.
    if (face->num_fixed_sizes > 0) {
        int best = 0;
        for (int i = 1; i < face->num_fixed_sizes; ++i) {
            if (abs(face->available_sizes[i].height - height) <
                abs(face->available_sizes[best].height - height))
                best = i;
        }
        FT_Select_Size(face, best);
    } else {
        FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(height));
    }
    const int ascent = static_cast<int>(face->size->metrics.ascender >> 6);
    const int descent = static_cast<int>(-face->size->metrics.descender >> 6);
    if (ascent + descent != height) {
        fprintf(stderr, "asciifont: %s: ascent %d + descent %d is not %d rows\n", path, ascent,
                descent, height);
    }

    Table table{};
    for (int code = kFirst; code <= kLast; ++code) {
        uint8_t* cell = table.data() + (code - kFirst) * kSlotBytes;
        if (code == 'A') {
            std::copy(glyphA, glyphA + kSlotBytes, cell);
            continue;
        }
        if (FT_Load_Char(face, static_cast<FT_ULong>(code), FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) !=
            0) {
            fprintf(stderr, "asciifont: %s has no '%c'\n", path, code);
            continue;
        }
        const FT_GlyphSlot g = face->glyph;
        const FT_Bitmap& bm = g->bitmap;
        for (unsigned r = 0; r < bm.rows; ++r) {
            const int row = ascent - g->bitmap_top + static_cast<int>(r);
            if (row < 0 || row >= height) continue;
            const uint8_t* src = bm.buffer + static_cast<long>(r) * bm.pitch;
            for (unsigned c = 0; c < bm.width; ++c) {
                const int col = g->bitmap_left + static_cast<int>(c);
                if (col < 0 || col >= width) continue;
                const bool on = bm.pixel_mode == FT_PIXEL_MODE_MONO
                                    ? (src[c / 8] >> (7 - c % 8)) & 1
                                    : src[c] >= 128;
                if (on) cell[row] = static_cast<uint8_t>(cell[row] | 1u << col);
            }
        }
    }
    FT_Done_Face(face);
    return table;
}

void writeTable(FILE* out, const char* name, const Table& table, const char* what) {
    fprintf(out, "\n// %s\nconst unsigned char %s[%d] = {\n", what, name, kSlots * kSlotBytes);
    for (int slot = 0; slot < kSlots; ++slot) {
        const int code = kFirst + slot;
        if (code == '\\' || code == '\'')
            fprintf(out, "    // '\\%c'\n   ", code);
        else
            fprintf(out, "    // '%c'\n   ", code);
        for (int i = 0; i < kSlotBytes; ++i) fprintf(out, " 0x%02X,", table[slot * kSlotBytes + i]);
        fprintf(out, "\n");
    }
    fprintf(out, "};\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: asciifont SMALL-6x12-font LARGE-8x16-font OUT.cpp\n");
        return 2;
    }
    FT_Library lib;
    if (FT_Init_FreeType(&lib) != 0) die("cannot start FreeType");
    const Table small = render(lib, argv[1], 6, 12, kA12);
    const Table large = render(lib, argv[2], 8, 16, kA16);
    FT_Done_FreeType(lib);

    auto base = [](const std::string& p) { return p.substr(p.find_last_of('/') + 1); };
    FILE* out = fopen(argv[3], "w");
    if (out == nullptr) die(std::string("cannot write ") + argv[3]);
    fprintf(out,
            "// The ASCII font tables, ' ' to '~': 16 bytes a glyph, one byte a row from the\n"
            "// top, bit 0 the leftmost pixel.\n"
            "//\n"
            "// Generated from the fonts %s and %s (Debian's xfonts-base)\n"
            "// by tools/asciifont; regenerate with this one command (a single line):\n"
            "//   build/host/bin/asciifont /usr/share/fonts/X11/misc/%s\n"
            "//       /usr/share/fonts/X11/misc/%s firmware/assets/ascii_fonts.cpp\n"
            "// The 'A' of both sizes is fixed; the tool writes it as it stands.\n"
            "#include \"assets/ascii_fonts.h\"\n"
            "\n"
            "// clang-format off\n",
            base(argv[1]).c_str(), base(argv[2]).c_str(), base(argv[1]).c_str(),
            base(argv[2]).c_str());
    writeTable(out, "a18sc2_1206", small, "6 x 12: the first 12 bytes of a glyph, low 6 bits.");
    writeTable(out, "a18sc2_16081", large, "8 x 16.");
    fprintf(out,
            "\n// No size selects it; kept empty.\n"
            "const unsigned char a18sc2_2412[%d] = {};\n"
            "// clang-format on\n",
            kSlots * kSlotBytes);
    if (fclose(out) != 0) die(std::string("cannot write ") + argv[3]);
    return 0;
}
