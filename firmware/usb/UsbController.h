// USB hot-plug and mounting: a thread listens for kernel device events and
// sets flags; the main loop mounts and unmounts the stick.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<uint8_t> isUsbConnected;  // a stick is believed present
extern std::atomic<uint8_t> s_ishotplug;     // a change since the last mount attempt
extern std::atomic<uint8_t> s_isMounted;     // written on the main thread only
extern std::atomic<int> s_hotplugSock;       // read by the monitor thread
extern const char* const rootPath;           // "/opt/usb"
// Changes at every insert and every pull the monitor sees, however quick:
// what was read from a stick belongs to the count it was read under.
extern std::atomic<uint32_t> usb_stick_changes;

// 0 when the monitor runs, -1 when the event socket cannot be set up.
int UsbController_Init();
[[noreturn]] void UsbController_HotPlugMonitor();
// One event message as the monitor takes it (the text before the first "@").
void UsbController_HandleEvent(const char* message);
void UsbController_MountMonitor();
int UsbController_IsConnected();
int UsbController_IsMounted();
int UsbController_IsMountable();
int UsbController_MountFileSystem();
int UsbController_UnmountFileSystem();
int usbAccess();
