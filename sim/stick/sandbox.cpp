#include "sandbox.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "sim/vat/mask.h"

namespace fs = std::filesystem;

namespace sim {

std::string makeTempRoot() {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string templ = (base / "printer-sim-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) return "";
    return templ;
}

bool makeSandbox(const std::string& root, std::string& error) {
    for (const char* dir : {"dev", "opt/Pravik3D", "opt/usb", "var"}) {
        std::error_code ec;
        fs::create_directories(fs::path(root) / dir, ec);
        if (ec) {
            error = "cannot create " + (fs::path(root) / dir).string() + ": " + ec.message();
            return false;
        }
    }
    return makeMaskFile(root, error);
}

bool linkSerial(const std::string& root, const std::string& device, std::string& error) {
    const fs::path link = fs::path(root) / "dev/ttyS1";
    std::error_code ec;
    fs::remove(link, ec);
    fs::create_symlink(device, link, ec);
    if (ec) {
        error = "cannot link " + link.string() + ": " + ec.message();
        return false;
    }
    return true;
}

}  // namespace sim
