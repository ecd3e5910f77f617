#include "usb/tf.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "app/global_data.h"
#include "platform/platform.h"
#include "usb/UsbController.h"

const char* const pravikPath = "/opt/usb/pravik3d";

namespace {
char file_name_list[FILE_NAME_SLOTS][FILE_NAME_SIZE];
// Held while a scan writes the list, so an inspection never sees half a name.
PlatformMutex listLock;

bool isRegularEntry(const std::string& dir, const dirent* e) {
    if (e->d_type == DT_REG) return true;
    if (e->d_type != DT_UNKNOWN) return false;
    struct stat st {};
    return stat((dir + "/" + e->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isDots(const char* name) {
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

// A cut name could not be opened: longer names are left out.
bool fitsTheList(const char* name) {
    return strlen(name) < FILE_NAME_SIZE;
}
}  // namespace

int isGcodeFile(const char* name) {
    return strstr(name, ".pvk4k") != nullptr || strstr(name, ".PVK4K") != nullptr ? 1 : 0;
}

char* getFileName(uint16_t index) {
    return file_name_list[index < FILE_NAME_SLOTS ? index : FILE_NAME_SLOTS - 1];
}

int usbDetectedAndMount() {
    std::lock_guard<PlatformMutex> lock(mutex_usbPort);
    return UsbController_IsMounted() ? 1 : 0;
}

uint16_t usbFileCount() {
    USB_detected = UsbController_IsMounted() ? 1 : 0;
    if (USB_detected == 0) return 0;
    const std::string dir = sysPath(pravikPath);
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        puts("1.pravik3d folder not found");
        usb_file_count = USB_COUNT_NO_FOLDER;
        return USB_COUNT_NO_FOLDER;
    }
    puts("usbFileCount pravik3d folder found");
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        perror("failed to open pravikPath");
        return USB_COUNT_NO_FOLDER;
    }
    puts("usbFileCount");
    uint32_t count = 0;
    for (;;) {
        errno = 0;
        const dirent* e = readdir(d);
        if (e == nullptr) {
            perror("readdir_r");
            break;
        }
        // A name too long for the list is not listed, so it is not counted.
        if (!isDots(e->d_name) && isRegularEntry(dir, e) &&
            strstr(e->d_name, ".pvk4k") != nullptr && fitsTheList(e->d_name)) {
            ++count;
        }
    }
    closedir(d);
    // More than the 16-bit count can say is "too many" all the same.
    const uint16_t stored = count < USB_COUNT_UNSCANNED ? static_cast<uint16_t>(count) : 0xFFFD;
    usb_file_count = stored;
    return stored;
}

int usbFileReadName() {
    int count = 0;
    DIR* d = nullptr;
    const std::string dir = sysPath(pravikPath);
    std::lock_guard<PlatformMutex> lock(listLock);
    if (USB_detected != 0) {
        d = opendir(dir.c_str());
        if (d == nullptr) return 5;
        bool toldTooLong = false;
        for (const dirent* e; count < FILE_NAME_SLOTS && (e = readdir(d)) != nullptr;) {
            if (isDots(e->d_name) || !isRegularEntry(dir, e) || !isGcodeFile(e->d_name)) continue;
            const size_t len = strlen(e->d_name);
            if (!fitsTheList(e->d_name)) {
                if (!toldTooLong) printf("file name too long, skipped: %.40s...\n", e->d_name);
                toldTooLong = true;
                continue;
            }
            memcpy(getFileName(static_cast<uint16_t>(count)), e->d_name, len + 1);
            ++count;
        }
    }
    for (int i = 0; i < count; ++i) printf("start file_name_list[%d]:%s\n", i, getFileName(i));
    for (int k = 0; k < count / 2; ++k) {
        char temp[FILE_NAME_SIZE];
        memcpy(temp, file_name_list[k], FILE_NAME_SIZE);
        memcpy(file_name_list[k], file_name_list[count - 1 - k], FILE_NAME_SIZE);
        memcpy(file_name_list[count - 1 - k], temp, FILE_NAME_SIZE);
        printf("file_name_list[%d]:%s\n", k, file_name_list[k]);
    }
    for (int i = 0; i < count; ++i) printf("end file_name_list[%d]:%s\n", i, getFileName(i));
    if (d != nullptr) closedir(d);
    return 8;
}

int usbReadFile() {
    const uint16_t count = usbFileCount();
    usb_file_count = count;
    if (count == 0 || count == USB_COUNT_NO_FOLDER) return usbFileReadName();
    if (count > FILE_NAME_SLOTS) return 10;
    return usbFileReadName();
}

std::vector<std::string> fileNameListCopy(int count) {
    std::lock_guard<PlatformMutex> lock(listLock);
    std::vector<std::string> out;
    for (int i = 0; i < count && i < FILE_NAME_SLOTS; ++i) out.emplace_back(file_name_list[i]);
    return out;
}
