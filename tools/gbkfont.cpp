// gbkfont: builds the panel's two-byte font file "GBK16.FON" from a CJK font
// that FreeType reads (a bitmap font with a 16-pixel strike is crisp; an
// outline font is rendered in black and white at 16 pixels).
//
//   gbkfont FONT OUT
//
// The file is a plain run of 32-byte glyphs, no header: lead bytes 0x81 to
// 0xFE, 190 trail positions each (0x40..0x7E, 0x80..0xFE; 0x7F is no trail
// byte), 16 rows of 2 bytes from the top, the most significant bit leftmost.
// GBK codes are turned into Unicode with iconv; codes GBK leaves unassigned and
// characters the font lacks stay blank.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kCell = 16;
constexpr int kGlyphBytes = kCell * kCell / 8;
constexpr int kFirstLead = 0x81, kLastLead = 0xFE, kTrails = 190;

[[noreturn]] void die(const std::string& why) {
    fprintf(stderr, "gbkfont: %s\n", why.c_str());
    exit(1);
}

// The Unicode character of a two-byte GBK code; 0 when GBK has none.
uint32_t gbkToUnicode(iconv_t cd, uint8_t lead, uint8_t trail) {
    char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    unsigned char out[8] = {};
    char* src = in;
    char* dst = reinterpret_cast<char*>(out);
    size_t inLeft = sizeof in, outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &src, &inLeft, &dst, &outLeft) == static_cast<size_t>(-1) || inLeft != 0 ||
        outLeft != 4)
        return 0;
    return static_cast<uint32_t>(out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24);
}

struct Placement {
    int baseline;  // cell row the baseline lies under
    int shiftX;    // added to each glyph's own left bearing
};

// Loads `code` rendered black and white; false when the font has no glyph.
bool load(FT_Face face, uint32_t code) {
    const FT_UInt index = FT_Get_Char_Index(face, code);
    return index != 0 && FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) == 0 &&
           face->glyph->bitmap.pixel_mode == FT_PIXEL_MODE_MONO;
}

// Puts the ideographs' combined ink in the middle of the cell, so every
// character sits where the Chinese text around it does.
Placement measure(FT_Face face) {
    int top = 1 << 20, bottom = -(1 << 20), advance = kCell;
    for (uint32_t u = 0x4E00; u <= 0x9FA5; ++u) {
        if (!load(face, u)) continue;
        const FT_GlyphSlot g = face->glyph;
        if (g->bitmap.rows == 0) continue;
        top = std::min(top, -g->bitmap_top);  // rows counted down from the baseline
        bottom = std::max(bottom, -g->bitmap_top + static_cast<int>(g->bitmap.rows) - 1);
        advance = static_cast<int>(g->advance.x >> 6);
    }
    if (top > bottom) die("the font has no CJK ideographs");
    const int height = bottom - top + 1;
    return {std::max(0, (kCell - height) / 2) - top, (kCell - advance) / 2};
}

void draw(FT_Face face, const Placement& at, uint8_t* glyph) {
    const FT_GlyphSlot g = face->glyph;
    const FT_Bitmap& bm = g->bitmap;
    for (unsigned r = 0; r < bm.rows; ++r) {
        const int row = at.baseline - g->bitmap_top + static_cast<int>(r);
        if (row < 0 || row >= kCell) continue;
        const uint8_t* src = bm.buffer + static_cast<long>(r) * bm.pitch;
        for (unsigned c = 0; c < bm.width; ++c) {
            const int col = at.shiftX + g->bitmap_left + static_cast<int>(c);
            if (col < 0 || col >= kCell || !((src[c / 8] >> (7 - c % 8)) & 1)) continue;
            glyph[row * 2 + col / 8] |= static_cast<uint8_t>(0x80 >> (col % 8));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: gbkfont FONT OUT\n");
        return 2;
    }
    FT_Library lib;
    FT_Face face;
    if (FT_Init_FreeType(&lib) != 0) die("cannot start FreeType");
    if (FT_New_Face(lib, argv[1], 0, &face) != 0) die(std::string("cannot read ") + argv[1]);
    if (face->num_fixed_sizes > 0) {
        int best = 0;
        for (int i = 1; i < face->num_fixed_sizes; ++i) {
            if (abs(static_cast<int>(face->available_sizes[i].y_ppem >> 6) - kCell) <
                abs(static_cast<int>(face->available_sizes[best].y_ppem >> 6) - kCell))
                best = i;
        }
        if (FT_Select_Size(face, best) != 0) die("cannot select the bitmap strike");
    } else if (FT_Set_Pixel_Sizes(face, 0, kCell) != 0) {
        die("cannot set the size");
    }
    const Placement at = measure(face);

    iconv_t cd = iconv_open("UTF-32LE", "GBK");
    if (cd == reinterpret_cast<iconv_t>(static_cast<intptr_t>(-1))) die("no GBK converter");

    const int leads = kLastLead - kFirstLead + 1;
    std::vector<uint8_t> file(static_cast<size_t>(leads) * kTrails * kGlyphBytes);
    int assigned = 0, drawn = 0;
    for (int lead = kFirstLead; lead <= kLastLead; ++lead) {
        for (int q = 0; q < kTrails; ++q) {
            const int trail = q < 0x3F ? 0x40 + q : 0x41 + q;
            const uint32_t code =
                gbkToUnicode(cd, static_cast<uint8_t>(lead), static_cast<uint8_t>(trail));
            if (code == 0) continue;
            ++assigned;
            if (!load(face, code)) continue;
            ++drawn;
            draw(
                face, at,
                file.data() + (static_cast<size_t>(lead - kFirstLead) * kTrails + q) * kGlyphBytes);
        }
    }
    iconv_close(cd);
    FT_Done_Face(face);
    FT_Done_FreeType(lib);

    // Written aside and renamed, so a failed run leaves no half file behind.
    const std::string part = std::string(argv[2]) + ".part";
    FILE* out = fopen(part.c_str(), "wb");
    if (out == nullptr) die("cannot write " + part);
    const bool written = fwrite(file.data(), 1, file.size(), out) == file.size();
    if (fclose(out) != 0 || !written || rename(part.c_str(), argv[2]) != 0) {
        remove(part.c_str());
        die(std::string("cannot write ") + argv[2]);
    }
    printf("gbkfont: %s: %d of %d GBK characters drawn, %zu bytes\n", argv[2], drawn, assigned,
           file.size());
    return 0;
}
