#include "usb/UsbController.h"

#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/global_func.h"
#include "platform/platform.h"
#include "usb/tf.h"

std::atomic<uint8_t> isUsbConnected{0};
std::atomic<uint8_t> s_ishotplug{1};
std::atomic<uint8_t> s_isMounted{0};
std::atomic<int> s_hotplugSock{-1};
const char* const rootPath = "/opt/usb";
std::atomic<uint32_t> usb_stick_changes{0};

namespace {
// The change count the mounted stick was mounted under (main thread only).
uint32_t mountedUnder = 0;

void* monitorThread(void*) {
    UsbController_HotPlugMonitor();
}

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}
}  // namespace

int usbAccess() {
    for (char letter = 'a'; letter <= 't'; ++letter) {
        const std::string node = std::string("/dev/sd") + letter + "1";
        const bool found = exists(sysPath(node.c_str()));
        msleep(10);
        if (found) return 1;
    }
    return 0;
}

int UsbController_Init() {
    isUsbConnected = usbAccess() ? 1 : 0;
    UsbController_MountMonitor();
    const int sock = platformHotplugOpen();
    printf("s_hotplugSock:%d\n", sock);
    if (sock < 0) {
        perror("socket error");
        return -1;
    }
    if (platformHotplugBind(sock) < 0) {
        perror("bind error");
        close(sock);
        return -1;
    }
    s_hotplugSock = sock;
    pthread_t thread;
    const int err = platformThreadStart(&thread, "usb-monitor", monitorThread, nullptr);
    if (err != 0) printf("pthread_create error = %d\n", err);
    return 0;
}

void UsbController_HandleEvent(const char* message) {
    const char* at = strchr(message, '@');
    const size_t len = at != nullptr ? static_cast<size_t>(at - message) : strlen(message);
    const std::string action(message, len);
    if (action == "add") {
        if (isUsbConnected != 1) {
            isUsbConnected = 1;
            s_ishotplug = 1;
            usb_stick_changes.fetch_add(1);
            puts("Usbdisk plug in");
        }
    } else if (action == "remove") {
        if (isUsbConnected == 1) {
            isUsbConnected = 0;
            s_ishotplug = 1;
            usb_stick_changes.fetch_add(1);
            puts("Usbdisk plug out");
        }
    }
}

void UsbController_HotPlugMonitor() {
    pthread_detach(pthread_self());
    char buf[4096];
    for (;;) {
        memset(buf, 0, sizeof buf);
        const ssize_t n = platformHotplugReceive(s_hotplugSock, buf, sizeof buf - 1);
        if (n < 0) {
            msleep(1000);  // a broken socket must not spin
            continue;
        }
        UsbController_HandleEvent(buf);
    }
}

void UsbController_MountMonitor() {
    if (s_isMounted == 0 && UsbController_IsMountable()) {
        const uint32_t changes = usb_stick_changes;
        if (UsbController_MountFileSystem() != 0) return;
        puts("Mount success");
        mountedUnder = changes;
        s_isMounted = 1;
        usbReadFile();
        return;
    }
    // A stick pulled and another inserted between two steps: the mount is
    // of the stick that went, so it goes too, and the new one is mounted on
    // the next step (its hot-plug change is still pending).
    if (s_isMounted == 1 && (isUsbConnected != 1 || usb_stick_changes != mountedUnder)) {
        if (UsbController_UnmountFileSystem() == 0) s_isMounted = 0;
    }
}

int UsbController_IsConnected() {
    return isUsbConnected;
}

int UsbController_IsMounted() {
    return s_isMounted;
}

int UsbController_IsMountable() {
    const int present = usbAccess();
    return present && isUsbConnected == 1 ? 1 : 0;
}

int UsbController_MountFileSystem() {
    if (s_ishotplug != 1) return -1;
    s_ishotplug = 0;  // one attempt per hot-plug change
    puts("Try to mount the usb device");
    const std::string mountPoint = sysPath(rootPath);
    if (!exists(mountPoint)) {
        if (mkdir(mountPoint.c_str(), 0777) != 0) {
            printf("creat directory(%s) failed!!!\n", rootPath);
            return -1;
        }
        printf("creat directory(%s) success!!!\n", rootPath);
    }
    if (platformShell("modprobe usb-storage") == -1) {
        puts("modprobe usb-storage failed ");
        return -1;
    }
    const int mounted = platformShell(
        "mount -t vfat -o ro /dev/sd[a-z][0-9]  /opt/usb -o iocharset=utf8 >/dev/null 2>&1");
    if (mounted == -1) {
        puts("mount failed!!!");
        return -1;
    }
    // A stick whose file system does not mount is not mounted.
    if (mounted != 0) {
        printf("mount failed!!! (exit status %d)\n",
               WIFEXITED(mounted) ? WEXITSTATUS(mounted) : mounted);
        return -1;
    }
    if (platformShell("sync") == -1) {
        puts("sync failed");
        return -1;
    }
    return 0;
}

int UsbController_UnmountFileSystem() {
    if (platformShell("umount -l /opt/usb") == -1) {
        puts("Umount the usb device failed");
        return -1;
    }
    puts("Umount the usb device success");
    return 0;
}
