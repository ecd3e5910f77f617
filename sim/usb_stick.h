// The virtual USB stick and the part of the board's operating system that
// deals with it: hot-plug events, device nodes, mount, remount, lazy unmount.
#pragma once

#include <mutex>
#include <string>

namespace sim {

struct UsbState {
    bool inserted = false;
    bool mounted = false;
    bool readOnly = true;
    bool unmountable = false;  // its partition is there, its file system does not mount
    std::string dir;           // the host folder that is the stick
};

class UsbStick {
  public:
    // Works on the sandbox at `root`; from now on the firmware's shell
    // commands go to this model.
    void attach(const std::string& root);

    // Inserts the folder `dir` as the stick: device nodes and "add" events.
    // An unmountable stick has them too, but every mount of it fails.
    bool insert(const std::string& dir, std::string& error, bool unmountable = false);
    // Pulls it: "remove" events, the nodes go; a mount stays until unmounted.
    void remove();
    UsbState state() const;

    // The firmware's end of the event socket pair (made on first use).
    int firmwareSocket();
    // A shell command of the firmware; result as system().
    int shell(const char* command);

  private:
    void event(const std::string& message);  // lock held
    void ensureSockets();                    // lock held

    mutable std::mutex lock_;
    std::string root_;
    UsbState state_;
    int sockets_[2] = {-1, -1};
};

UsbStick& usbStick();

}  // namespace sim
