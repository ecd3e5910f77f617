// The mask screen: the frame-buffer device, mapped once at start-up, and
// every writer of it (layers, fills, rectangles).
#pragma once

#include <cstdint>
#include <cstdio>

extern int fd_fb;
extern uint8_t* p_fb;  // the mapped frame, or null until FB_init succeeds

// 0 ready; 1 the device cannot be opened; 2 its fixed screen information,
// 3 its variable screen information cannot be read or is not the mask's.
int FB_init();
uint8_t* getFrameBufferPtr();
// Unmaps and closes the device (the firmware keeps it for its whole life).
void FB_exit();

// Reads the next layer record from `fp` into the layer buffer and decodes it
// onto the mask: 1 done, 2 bad byte count, 3 count or code unreadable,
// 5 no frame buffer, 7 run too long.
int Read2KDisplayData(FILE* fp);
// 1 when the next layer is on the mask, else 0.
int displayPicData2K(FILE* fp);

// Every byte of the frame set to `value` (0 blanks the mask).
void fbDisplayTest(uint8_t value);
// The whole frame: `value` strictly inside the rectangle, 0 elsewhere.
void fbDisplayFill(uint16_t x0, uint16_t y0, uint16_t x1, uint16_t y1, uint8_t value);
// Pixels x0 <= column < x1, y0 <= line < y1 set to `value`; the rest kept.
// 1 done, 5 no frame buffer.
int display2KRec(uint16_t x0, uint16_t y0, uint16_t x1, uint16_t y1, uint8_t value);
