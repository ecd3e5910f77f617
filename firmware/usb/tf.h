// Print files on the mounted stick: counting, the name list, the mount query.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern const char* const pravikPath;  // "/opt/usb/pravik3d"

constexpr int FILE_NAME_SLOTS = 512;
constexpr int FILE_NAME_SIZE = 128;  // names of at most 127 bytes

// 10 when there are more than 512 print files, else usbFileReadName's result.
int usbReadFile();
uint16_t usbFileCount();
// 8 when done, 5 when the folder cannot be opened.
int usbFileReadName();
// Slot `index` of the list (slot 511 for 512 and above).
char* getFileName(uint16_t index);
int isGcodeFile(const char* name);
// 1 while a stick is mounted, else 0 (read under mutex_usbPort).
int usbDetectedAndMount();

// The first `count` names of the list, for inspection from another thread.
std::vector<std::string> fileNameListCopy(int count);
