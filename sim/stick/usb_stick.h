// The virtual USB stick and the part of the board's operating system that
// deals with it: hot-plug events, device nodes, mount, remount, lazy unmount.
//
// The stick (stick/): this model and the sandbox laid out like the board's
// file system (sandbox). It uses the clock, to wake the firmware's hot-plug
// thread, and the mask screen, which the sandbox makes.
#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace sim {

struct UsbState {
    bool inserted = false;
    bool mounted = false;
    bool readOnly = true;
    bool unmountable = false;  // its partition is there, its file system does not mount
    std::string dir;           // the host folder that is the stick
    std::string volume;        // what is mounted: the sandbox's copy of it, or dir itself
};

class UsbStick {
  public:
    // Works on the sandbox at `root`; from now on the firmware's shell
    // commands go to this model.
    void attach(const std::string& root);

    // Whether a stick is the folder itself, so what the firmware writes
    // lands there, instead of a copy in the sandbox (the default).
    void setWriteBack(bool inPlace);
    // Inserts the folder `dir` as the stick: device nodes and "add" events.
    // An unmountable stick has them too, but every mount of it fails. The
    // copy of a folder is made once: a stick pulled and put back keeps what
    // was written to it.
    bool insert(const std::string& dir, std::string& error, bool unmountable = false);
    // Pulls it: "remove" events, the nodes go; a mount stays until unmounted.
    void remove();
    UsbState state() const;

    // The firmware's end of the event socket pair (made on first use).
    int firmwareSocket();
    // A shell command of the firmware; result as system().
    int shell(const char* command);

    // Changes found on the volume while it was mounted read-only (the
    // board's kernel would have refused them), counted since start.
    unsigned readOnlyViolations();

  private:
    // Every entry of the volume with its size and time of last change.
    using Snapshot = std::map<std::string, std::pair<uintmax_t, std::filesystem::file_time_type>>;
    Snapshot snapshot() const;               // lock held
    void checkReadOnly();                    // lock held
    void event(const std::string& message);  // lock held
    void ensureSockets();                    // lock held

    mutable std::mutex lock_;
    std::string root_;
    UsbState state_;
    int sockets_[2] = {-1, -1};
    bool writeBack_ = false;
    std::map<std::string, std::string> copies_;  // folder -> its copy in the sandbox
    std::string mountedVolume_;  // what /opt/usb shows: a new stick may be in already
    Snapshot readOnlyState_;
    unsigned violations_ = 0;
};

UsbStick& usbStick();

}  // namespace sim
