// Text on the panel: the compiled-in ASCII fonts (6 x 12, 8 x 16) and the
// GBK 16 x 16 font file, drawn pixel by pixel into the shadow frame.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

// Text modes: 0 opaque (background in BACK_COLOR), 1 transparent, 2 like 1
// but ASCII glyphs in TEXT_HIGHLIGHT_COLOR.
constexpr uint16_t TEXT_HIGHLIGHT_COLOR = 0xD71C;

// The longest text, in bytes; longer UTF-8 strings are cut before conversion.
constexpr size_t TEXT_MAX_BYTES = 255;
// Size of the work buffer test1111 takes.
constexpr size_t TEXT_WORK_BYTES = TEXT_MAX_BYTES + 1;

// The GBK font file, mapped once at start-up.
extern int fd_gbk16;
extern struct stat gbk16_stat;  // st_size is the mapping's length
extern const unsigned char* gbk16mem;
// GB2312 text of the last conversion, zero-terminated.
extern char utf82gbk[255];

// One ASCII glyph with its top-left corner at (x, y); size 12 or 16, any
// other size draws nothing. Codes without a glyph draw as a space.
void showChar(uint16_t x, uint16_t y, uint8_t chr, uint8_t size, uint8_t mode);
// ASCII text in mode 1; ends at the first byte outside ' '..'~' and at the
// frame's right or bottom edge.
void showString(uint16_t x, uint16_t y, const char* p, uint8_t size);
// `num` right-aligned in a field of `len` characters, mode 0, leading zeros
// as spaces; digits beyond the field are dropped.
void showNum(uint16_t x, uint16_t y, uint32_t num, uint8_t len, uint8_t size);
// UTF-8 text on one line from (x, y), ending before a character would start
// past xr - size/2 or y past yb - size. Converted to GB2312 first: ASCII in
// the compiled-in font, two-byte characters from the GBK font file.
void lcdShowString(uint16_t x, uint16_t y, uint16_t xr, uint16_t yb, const char* p, uint8_t size,
                   uint8_t mode);
void showString2(uint16_t x, uint16_t y, uint16_t xr, uint16_t yb, const char* p, uint8_t size,
                 uint8_t mode);
// lcdShowString's drawing step: text already in GB2312 (or GBK).
void showGbkString(uint16_t x, uint16_t y, uint16_t xr, uint16_t yb, const char* gbk, uint8_t size,
                   uint8_t mode);

// Maps "/opt/Pravik3D/GBK16.FON": 1 when mapped, 0 otherwise.
int openHZK();

// Converts UTF-8 `str` to GB2312 into utf82gbk, through `work`. Stops at the
// first character GB2312 lacks; what came before it is kept. Returns the
// length of utf82gbk.
size_t test1111(const char* str, char (&work)[TEXT_WORK_BYTES]);
// One iconv pass UTF-8 -> GB2312: *inLen and *outRoom are counted down as
// bytes are used. 0 when all input was converted, -1 otherwise.
int utf8_to_unicode(char* in, size_t* inLen, char* out, size_t* outRoom);
