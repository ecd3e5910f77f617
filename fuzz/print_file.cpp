// A print file on the stick through the whole preview read and the header
// check at print start, as the windows run them: both give the same verdict,
// an accepted file runs inside the machine's limits (job_motion.h), and once
// the file has changed since its preview the job refuses it.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "firmware/app/global_data.h"
#include "firmware/print/print.h"
#include "firmware/print/print_file.h"
#include "firmware/ui/ui.h"
#include "firmware/usb/UsbController.h"
#include "firmware/usb/tf.h"
#include "job_motion.h"
#include "sim/sim_platform.h"
#include "sim/stick/sandbox.h"

namespace {

std::string g_root;
std::string g_file;
std::filesystem::path g_cwd;  // the readers change directory, as on the board

void closeJobFile() {
    if (printfp != nullptr) fclose(printfp);
    printfp = nullptr;
}

void writeFile(const uint8_t* data, size_t size) {
    std::ofstream(g_file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (freopen("/dev/null", "w", stdout) == nullptr) abort();  // the readers' log lines
    g_cwd = std::filesystem::current_path();
    g_root = sim::makeTempRoot();
    std::string error;
    if (g_root.empty() || !sim::makeSandbox(g_root, error)) abort();
    sim::configure(g_root);
    std::filesystem::create_directories(g_root + "/opt/usb/pravik3d");
    g_file = g_root + "/opt/usb/pravik3d/part.pvk4k";
    atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(g_root, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeFile(data, size);
    s_isMounted = 1;
    page_index = 0;
    file_index_num = 0;
    snprintf(getFileName(0), FILE_NAME_SIZE, "part.pvk4k");
    skipLoadParameter = 0;
    preview_file_identity = PreviewFileIdentity{};

    const bool previewed = readPrintparameter() == 1;
    const int check = printFileHeaderCheck();
    if (previewed != (check == PRINT_FILE_OK)) __builtin_trap();
    if (previewed) {
        if (!preview_file_identity.valid) __builtin_trap();
        fuzz_model::runJobMotion(printparameter);
        if (file_information.total_layer != printparameter.layer_count) __builtin_trap();
        if (display_2K_data == nullptr) __builtin_trap();

        // The same file, one byte longer: no longer the previewed one.
        closeJobFile();
        std::ofstream(g_file, std::ios::binary | std::ios::app) << '\0';
        if (printFileHeaderCheck() == PRINT_FILE_OK) __builtin_trap();
    }
    closeJobFile();
    releaseLayerBuffer();
    std::filesystem::current_path(g_cwd);
    return 0;
}
