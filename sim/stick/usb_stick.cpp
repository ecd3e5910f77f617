#include "usb_stick.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "firmware/platform/platform.h"
#include "sim/clock/virtual_clock.h"

namespace fs = std::filesystem;

namespace sim {

UsbStick& usbStick() {
    static UsbStick stick;
    return stick;
}

void UsbStick::attach(const std::string& root) {
    std::lock_guard<std::mutex> lock(lock_);
    root_ = root;
    ensureSockets();
}

void UsbStick::ensureSockets() {
    if (sockets_[0] >= 0) return;
    if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sockets_) != 0)
        sockets_[0] = sockets_[1] = -1;
}

int UsbStick::firmwareSocket() {
    std::lock_guard<std::mutex> lock(lock_);
    ensureSockets();
    return sockets_[0];
}

namespace {

// The times of `from` on `to`, to the nanosecond.
bool copyTimes(const fs::path& from, const fs::path& to) {
    struct stat st {};
    if (lstat(from.c_str(), &st) != 0) return false;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    return utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// A copy of a stick's folder as a copy onto another stick keeps it: the
// contents, and every file's and folder's times and permissions (the
// preview shows a file's date).
bool copyStick(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::create_directories(to, ec);
    if (ec) return false;
    std::vector<std::pair<fs::path, fs::path>> folders{{from, to}};
    for (auto it = fs::recursive_directory_iterator(from, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path target = to / fs::relative(it->path(), from, ec);
        if (ec) return false;
        if (it->is_directory(ec)) {
            fs::create_directory(target, ec);
            fs::permissions(target, it->status().permissions(), ec);
            folders.emplace_back(it->path(), target);
        } else {
            fs::copy_file(it->path(), target, ec);
            if (ec || !copyTimes(it->path(), target)) return false;
        }
        if (ec) return false;
    }
    if (ec) return false;
    // A folder's times last: writing into it changed them.
    for (auto f = folders.rbegin(); f != folders.rend(); ++f) {
        if (!copyTimes(f->first, f->second)) return false;
    }
    return true;
}

}  // namespace

void UsbStick::event(const std::string& message) {
    ensureSockets();
    if (sockets_[1] >= 0) (void)!send(sockets_[1], message.data(), message.size(), 0);
    sim::clock().written();
}

bool UsbStick::insert(const std::string& dir, std::string& error, bool unmountable) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        error = "no such folder: " + dir;
        return false;
    }
    std::lock_guard<std::mutex> lock(lock_);
    if (root_.empty()) {
        error = "no sandbox to insert into";
        return false;
    }
    if (state_.inserted) {
        error = "a stick is inserted already";
        return false;
    }
    const std::string source = fs::absolute(dir).lexically_normal().string();
    std::string volume = source;
    if (!writeBack_) {
        // The user's folder stays as it is, whatever the firmware writes.
        auto [copy, fresh] = copies_.try_emplace(
            source, root_ + "/sim/sticks/" + std::to_string(copies_.size() + 1));
        if (fresh) {
            if (!copyStick(source, copy->second)) {
                fs::remove_all(copy->second, ec);
                copies_.erase(copy);
                error = "cannot copy " + source + " into the sandbox";
                return false;
            }
        }
        volume = copy->second;
    }
    state_.inserted = true;
    state_.unmountable = unmountable;
    state_.dir = source;
    state_.volume = volume;
    // The disk and its first partition appear, each with its event.
    std::ofstream(root_ + "/dev/sda");
    event("add@/devices/platform/usb/1-1/host0/block/sda");
    std::ofstream(root_ + "/dev/sda1");
    event("add@/devices/platform/usb/1-1/host0/block/sda/sda1");
    return true;
}

void UsbStick::remove() {
    std::lock_guard<std::mutex> lock(lock_);
    if (!state_.inserted) return;
    state_.inserted = false;
    std::error_code ec;
    fs::remove(root_ + "/dev/sda1", ec);
    event("remove@/devices/platform/usb/1-1/host0/block/sda/sda1");
    fs::remove(root_ + "/dev/sda", ec);
    event("remove@/devices/platform/usb/1-1/host0/block/sda");
}

UsbState UsbStick::state() const {
    std::lock_guard<std::mutex> lock(lock_);
    return state_;
}

int UsbStick::shell(const char* command) {
    const std::string c = command;
    std::lock_guard<std::mutex> lock(lock_);
    printf("[os] %s\n", command);
    if (root_.empty()) return 0;  // no sandbox: nothing to act on
    const std::string mountPoint = root_ + "/opt/usb";
    const std::string parked = root_ + "/dev/.usb-mountpoint";
    std::error_code ec;
    if (c.rfind("mount -t vfat", 0) == 0) {
        // The shell pattern matches a partition only while the stick is in.
        if (!state_.inserted || state_.unmountable || state_.mounted ||
            !fs::is_directory(mountPoint, ec)) {
            return 32 << 8;  // mount's own exit status for a failed mount
        }
        // The mount point steps aside for the stick's folder, as a mount covers it.
        fs::rename(mountPoint, parked, ec);
        if (ec) return 32 << 8;
        fs::create_directory_symlink(state_.volume, mountPoint, ec);
        mountedVolume_ = state_.volume;
        state_.mounted = true;
        state_.readOnly = true;
        readOnlyState_ = snapshot();
        return 0;
    }
    if (c.rfind("umount -l /opt/usb", 0) == 0) {
        if (!state_.mounted) return 32 << 8;
        if (state_.readOnly) checkReadOnly();
        fs::remove(mountPoint, ec);
        fs::rename(parked, mountPoint, ec);
        state_.mounted = false;
        return 0;
    }
    if (c == "mount -o remount,rw /opt/usb" && state_.mounted) {
        if (state_.readOnly) checkReadOnly();
        state_.readOnly = false;
    }
    if (c == "mount -o remount,ro /opt/usb" && state_.mounted) {
        state_.readOnly = true;
        readOnlyState_ = snapshot();
    }
    return 0;
}

void UsbStick::setWriteBack(bool inPlace) {
    std::lock_guard<std::mutex> lock(lock_);
    writeBack_ = inPlace;
}

unsigned UsbStick::readOnlyViolations() {
    std::lock_guard<std::mutex> lock(lock_);
    if (state_.mounted && state_.readOnly) checkReadOnly();
    return violations_;
}

UsbStick::Snapshot UsbStick::snapshot() const {
    Snapshot s;
    std::error_code ec;
    fs::recursive_directory_iterator it(mountedVolume_, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::path& p = it->path();
        std::error_code e;
        const uintmax_t size = it->is_regular_file(e) ? it->file_size(e) : 0;
        s[p.lexically_relative(mountedVolume_).string()] = {size, it->last_write_time(e)};
    }
    return s;
}

void UsbStick::checkReadOnly() {
    Snapshot now = snapshot();
    if (now == readOnlyState_) return;
    // The first entry that differs, for the log.
    std::string what;
    for (const auto& [path, entry] : now) {
        const auto before = readOnlyState_.find(path);
        if (before == readOnlyState_.end() || before->second != entry) {
            what = path;
            break;
        }
    }
    if (what.empty()) what = "an entry removed";
    ++violations_;
    printf("[os] fault: /opt/usb changed while mounted read-only (%s)\n", what.c_str());
    readOnlyState_ = std::move(now);
}

}  // namespace sim

int platformHotplugOpen() {
    return sim::usbStick().firmwareSocket();
}

int platformHotplugBind(int) {
    return 0;
}

ssize_t platformHotplugReceive(int fd, void* buf, size_t len) {
    // The wait is the clock's, so the hot-plug thread counts as waiting.
    for (;;) {
        if (sim::clock().waitReadable(&fd, 1, sim::kForever, true) != 0) return -1;
        const ssize_t n = recv(fd, buf, len, MSG_DONTWAIT);
        if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return n;
    }
}
