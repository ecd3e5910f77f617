// USB stick: hot-plug flags, mounting through the simulated board's OS, and
// the print-file list.
#include <dirent.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "firmware/app/global_data.h"
#include "firmware/usb/UsbController.h"
#include "firmware/usb/tf.h"
#include "sandbox_fixture.h"
#include "sim/sim_platform.h"
#include "sim/stick/usb_stick.h"

namespace {

namespace fs = std::filesystem;

class UsbTest : public SandboxTest {
  protected:
    void SetUp() override {
        sim::usbStick().setWriteBack(true);  // the tests change the stick as the firmware reads it
        SandboxTest::SetUp();
        stick_ = root_ + "/stick";
        fs::create_directories(stick_ + "/pravik3d");
        sim::usbStick().attach(root_);
        sim::setShellHandler([](const char* c) { return sim::usbStick().shell(c); });
        isUsbConnected = 0;
        s_ishotplug = 1;
        s_isMounted = 0;
    }
    void TearDown() override {
        sim::usbStick().remove();
        if (s_isMounted) UsbController_UnmountFileSystem();
        s_isMounted = 0;
        sim::setShellHandler(nullptr);
        sim::usbStick().attach("");
        SandboxTest::TearDown();
    }
    void file(const std::string& name) const { std::ofstream(stick_ + "/pravik3d/" + name) << "x"; }
    // Plugs the stick in as the monitor thread would see it, then runs a main-loop step.
    void plugIn() {
        std::string error;
        ASSERT_TRUE(sim::usbStick().insert(stick_, error)) << error;
        UsbController_HandleEvent("add@/devices/platform/usb/1-1/host0/block/sda");
        UsbController_MountMonitor();
    }
    // The folder's own listing order.
    std::vector<std::string> directoryOrder() const {
        std::vector<std::string> names;
        DIR* d = opendir((stick_ + "/pravik3d").c_str());
        for (const dirent* e; (e = readdir(d)) != nullptr;) {
            if (e->d_type == DT_REG && isGcodeFile(e->d_name)) names.emplace_back(e->d_name);
        }
        closedir(d);
        return names;
    }
    std::string stick_;
};

TEST(UsbEvents, OnlyTheFirstAddAndRemoveOfAChangeCount) {
    isUsbConnected = 0;
    s_ishotplug = 0;
    UsbController_HandleEvent("add@/devices/platform/usb/keyboard");  // any device counts
    EXPECT_EQ(isUsbConnected, 1);
    EXPECT_EQ(s_ishotplug, 1);
    s_ishotplug = 0;
    UsbController_HandleEvent("add@/devices/.../sda1");
    EXPECT_EQ(s_ishotplug, 0);  // repeated events of one insertion change nothing
    UsbController_HandleEvent("change@/devices/x");
    UsbController_HandleEvent("");
    EXPECT_EQ(isUsbConnected, 1);
    UsbController_HandleEvent("remove");
    EXPECT_EQ(isUsbConnected, 0);
    EXPECT_EQ(s_ishotplug, 1);
}

TEST_F(UsbTest, MountsListsInReverseAndUnmountsLazily) {
    for (const char* n : {"a.pvk4k", "b.pvk4k", "c.pvk4k", "d.pvk4k", "notes.txt"}) file(n);
    fs::create_directory(stick_ + "/pravik3d/x.pvk4k");  // a folder is no print file
    plugIn();
    ASSERT_EQ(s_isMounted, 1);
    EXPECT_TRUE(sim::usbStick().state().mounted);
    EXPECT_EQ(usbDetectedAndMount(), 1);
    EXPECT_EQ(usb_file_count, 4);
    std::vector<std::string> want = directoryOrder();
    ASSERT_EQ(want.size(), 4u);
    std::reverse(want.begin(), want.end());
    EXPECT_EQ(fileNameListCopy(4), want);

    // Pulled: the flags at once, the lazy unmount on the next step.
    sim::usbStick().remove();
    UsbController_HandleEvent("remove@/devices/platform/usb/1-1/host0/block/sda");
    EXPECT_EQ(s_isMounted, 1);
    UsbController_MountMonitor();
    EXPECT_EQ(s_isMounted, 0);
    EXPECT_FALSE(sim::usbStick().state().mounted);
    EXPECT_TRUE(fs::is_directory(root_ + "/opt/usb"));  // the mount point is back
}

TEST_F(UsbTest, UpperCaseNamesAreListedButNotCountedAndTheFolderMayBeMissing) {
    file("PART.PVK4K");
    plugIn();
    EXPECT_EQ(usb_file_count, 0);
    EXPECT_STREQ(getFileName(0), "PART.PVK4K");
    // Without the folder: 0xFFFF.
    fs::remove_all(stick_ + "/pravik3d");
    EXPECT_EQ(usbFileCount(), USB_COUNT_NO_FOLDER);
    EXPECT_EQ(usb_file_count, USB_COUNT_NO_FOLDER);
}

TEST_F(UsbTest, TooManyFilesKeepTheOldListAndLongNamesAreSkipped) {
    file("keep.pvk4k");
    file(std::string(130, 'n') + ".pvk4k");  // longer than a slot
    plugIn();
    // Neither listed nor counted: the browser has no row for it.
    EXPECT_EQ(usb_file_count, 1);
    EXPECT_EQ(fileNameListCopy(1), std::vector<std::string>{"keep.pvk4k"});
    for (int i = 0; i < 513; ++i) file("f" + std::to_string(i) + ".pvk4k");
    EXPECT_EQ(usbReadFile(), 10);
    EXPECT_EQ(usb_file_count, 514);
    EXPECT_STREQ(getFileName(0), "keep.pvk4k");
}

TEST_F(UsbTest, OneAttemptPerChangeAndNoMountWithoutAPartition) {
    // A change, but no first-partition node (a keyboard, or a whole-disk stick).
    UsbController_HandleEvent("add@/devices/platform/usb/keyboard");
    UsbController_MountMonitor();
    EXPECT_EQ(s_isMounted, 0);
    // The mount point is made when missing.
    fs::remove(root_ + "/opt/usb");
    std::string error;
    ASSERT_TRUE(sim::usbStick().insert(stick_, error)) << error;
    UsbController_MountMonitor();
    EXPECT_EQ(s_isMounted, 1);
    EXPECT_TRUE(fs::exists(root_ + "/opt/usb"));
    // A failed attempt is not repeated until the stick comes and goes.
    UsbController_UnmountFileSystem();
    s_isMounted = 0;
    EXPECT_EQ(UsbController_MountFileSystem(), -1);
}

}  // namespace
