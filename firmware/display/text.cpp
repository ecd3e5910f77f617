#include "display/text.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "assets/ascii_fonts.h"
#include "display/draw.h"
#include "display/driver.h"
#include "platform/platform.h"

int fd_gbk16 = -1;
struct stat gbk16_stat;
const unsigned char* gbk16mem = nullptr;
char utf82gbk[255];

namespace {

constexpr int kAsciiSlotBytes = 16;
constexpr size_t kGbkGlyphBytes = 32;
constexpr size_t kGbkTrails = 190;

// The mapping openHZK made, kept apart from gbk16mem so that only it is ever
// unmapped.
void* g_mapped = nullptr;
size_t g_mappedLength = 0;

// Callers clip: (x, y) is inside the frame.
inline void setPixel(int x, int y, uint16_t color) {
    uint8_t* p = buf + 2 * (y * LCD_WIDTH + x);
    p[0] = static_cast<uint8_t>(color >> 8);
    p[1] = static_cast<uint8_t>(color);
}

// The two-byte glyph of (qh, ql) when the font file holds all `bytes` of it.
const unsigned char* gbkGlyph(uint8_t qh, uint8_t ql, size_t bytes) {
    if (qh <= 0x80 || qh == 0xFF || ql < 0x40 || ql == 0xFF) return nullptr;
    if (gbk16mem == nullptr || gbk16_stat.st_size <= 0) return nullptr;
    const size_t q = ql <= 0x7E ? ql - 0x40u : ql - 0x41u;
    const size_t offset = kGbkGlyphBytes * ((qh - 0x81u) * kGbkTrails + q);
    if (offset + bytes > static_cast<size_t>(gbk16_stat.st_size)) return nullptr;
    return gbk16mem + offset;
}

// Rows of `size` pixels, most significant bit leftmost, padded to whole bytes.
void drawGbkGlyph(int x, int y, uint8_t qh, uint8_t ql, uint8_t size, uint8_t mode) {
    const int rowBytes = (size + 7) / 8;
    const unsigned char* glyph = gbkGlyph(qh, ql, static_cast<size_t>(rowBytes) * size);
    if (glyph == nullptr) return;
    const int cols = std::min<int>(size, LCD_WIDTH - x);
    const int rows = std::min<int>(size, LCD_HEIGHT - y);
    for (int r = 0; r < rows; ++r) {
        const unsigned char* row = glyph + r * rowBytes;
        for (int c = 0; c < cols; ++c) {
            if (row[c / 8] >> (7 - c % 8) & 1) {
                setPixel(x + c, y + r, POINT_COLOR);
            } else if (mode == 0) {
                setPixel(x + c, y + r, BACK_COLOR);
            }
        }
    }
}

void unmapFont() {
    if (g_mapped != nullptr) munmap(g_mapped, g_mappedLength);
    if (fd_gbk16 >= 0) close(fd_gbk16);
    if (gbk16mem == g_mapped) gbk16mem = nullptr;
    g_mapped = nullptr;
    g_mappedLength = 0;
    fd_gbk16 = -1;
    memset(&gbk16_stat, 0, sizeof gbk16_stat);
}

}  // namespace

void showChar(uint16_t x, uint16_t y, uint8_t chr, uint8_t size, uint8_t mode) {
    const unsigned char* table;
    if (size == 12) {
        table = a18sc2_1206;
    } else if (size == 16) {
        table = a18sc2_16081;
    } else {
        return;
    }
    if (chr < ' ' || chr > '~') chr = ' ';
    const unsigned char* glyph = table + (chr - ' ') * kAsciiSlotBytes;
    const uint16_t ink = mode == 2 ? TEXT_HIGHLIGHT_COLOR : POINT_COLOR;
    const int cols = std::min(size / 2, LCD_WIDTH - x);
    const int rows = std::min<int>(size, LCD_HEIGHT - y);
    for (int r = 0; r < rows; ++r) {
        unsigned bits = glyph[r];
        for (int c = 0; c < cols; ++c, bits >>= 1) {
            if (bits & 1) {
                setPixel(x + c, y + r, ink);
            } else if (mode == 0) {
                setPixel(x + c, y + r, BACK_COLOR);
            }
        }
    }
}

void showString(uint16_t x, uint16_t y, const char* p, uint8_t size) {
    if (p == nullptr) return;
    int cx = x;
    for (; *p != 0; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c < ' ' || c > '~' || cx >= LCD_WIDTH || y >= LCD_HEIGHT) break;
        showChar(static_cast<uint16_t>(cx), y, c, size, 1);
        cx += size / 2;
    }
}

void showNum(uint16_t x, uint16_t y, uint32_t num, uint8_t len, uint8_t size) {
    // 10^9 is the highest power a 32-bit number has a digit for; positions
    // further left are zeros.
    static constexpr uint32_t kPow10[10] = {1,      10,      100,      1000,      10000,
                                            100000, 1000000, 10000000, 100000000, 1000000000};
    bool leading = true;
    for (int t = 0; t < len; ++t) {
        const int cx = x + t * (size / 2);
        if (cx >= LCD_WIDTH) break;
        const int power = len - 1 - t;
        const uint32_t digit = power < 10 ? num / kPow10[power] % 10 : 0;
        if (leading && digit == 0 && power > 0) {
            showChar(static_cast<uint16_t>(cx), y, ' ', size, 0);
            continue;
        }
        leading = false;
        showChar(static_cast<uint16_t>(cx), y, static_cast<uint8_t>('0' + digit), size, 0);
    }
}

void showGbkString(uint16_t x, uint16_t y, uint16_t xr, uint16_t yb, const char* gbk, uint8_t size,
                   uint8_t mode) {
    if (gbk == nullptr) return;
    const int half = size / 2;
    int cx = x;
    for (auto* s = reinterpret_cast<const unsigned char*>(gbk); *s != 0;) {
        if (cx > xr - half || y > yb - size) break;
        if (*s & 0x80) {
            // A lead byte at the very end has no character to draw.
            if (s[1] == 0) break;
            drawGbkGlyph(cx, y, s[0], s[1], size, mode);
            s += 2;
            cx += size;
        } else {
            showChar(static_cast<uint16_t>(cx), y, *s, size, mode);
            s += 1;
            cx += half;
        }
    }
}

void lcdShowString(uint16_t x, uint16_t y, uint16_t xr, uint16_t yb, const char* p, uint8_t size,
                   uint8_t mode) {
    char work[TEXT_WORK_BYTES];
    test1111(p, work);
    showGbkString(x, y, xr, yb, utf82gbk, size, mode);
}

void showString2(uint16_t x, uint16_t y, uint16_t xr, uint16_t yb, const char* p, uint8_t size,
                 uint8_t mode) {
    lcdShowString(x, y, xr, yb, p, size, mode);
}

int openHZK() {
    puts("mmap for GBK16 !");
    unmapFont();
    fd_gbk16 = open(sysPath("/opt/Pravik3D/GBK16.FON").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_gbk16 < 0) {
        puts("can't open GBK16!");
        return 0;
    }
    void* mem = MAP_FAILED;
    // An empty file cannot be mapped; mmap says so itself.
    if (fstat(fd_gbk16, &gbk16_stat) == 0) {
        mem = mmap(nullptr, static_cast<size_t>(gbk16_stat.st_size), PROT_READ, MAP_SHARED,
                   fd_gbk16, 0);
    }
    if (mem == MAP_FAILED) {
        puts("mmap for GBK16 error!");
        unmapFont();
        return 0;
    }
    g_mapped = mem;
    g_mappedLength = static_cast<size_t>(gbk16_stat.st_size);
    gbk16mem = static_cast<const unsigned char*>(mem);
    return 1;
}

size_t test1111(const char* str, char (&work)[TEXT_WORK_BYTES]) {
    size_t len = str == nullptr ? 0 : strnlen(str, TEXT_MAX_BYTES + 1);
    if (len > TEXT_MAX_BYTES) {
        // Cut before the character the limit falls in, not through it.
        len = TEXT_MAX_BYTES;
        for (int back = 0;
             back < 3 && len > 0 && (static_cast<unsigned char>(str[len]) & 0xC0) == 0x80; ++back)
            --len;
    }
    if (len > 0) memcpy(work, str, len);
    work[len] = 0;

    // Room for the text and utf82gbk's terminator.
    char out[sizeof utf82gbk];
    size_t inLeft = len;
    size_t room = sizeof out - 1;
    utf8_to_unicode(work, &inLeft, out, &room);
    const size_t n = sizeof out - 1 - room;
    out[n] = 0;
    memcpy(utf82gbk, out, n + 1);
    return n;
}

int utf8_to_unicode(char* in, size_t* inLen, char* out, size_t* outRoom) {
    const iconv_t failed = reinterpret_cast<iconv_t>(static_cast<intptr_t>(-1));
    iconv_t cd = iconv_open("GB2312", "UTF-8");
    if (cd == failed) {
        perror("iconv_open");
        return -1;
    }
    char* src = in;
    char* dst = out;
    int result = 0;
    if (iconv(cd, &src, inLen, &dst, outRoom) == static_cast<size_t>(-1)) {
        perror("iconv");
        result = -1;
    }
    iconv_close(cd);
    return result;
}
