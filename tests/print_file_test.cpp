// The print file: preview read, header check at print start, write-back and
// the estimate.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <sstream>

#include "firmware/display/driver.h"
#include "firmware/print/print.h"
#include "firmware/print/print_file.h"
#include "firmware/print/print_time.h"
#include "firmware/print/safety_envelope.h"
#include "firmware/ui/parameter_table.h"
#include "firmware/ui/ui.h"
#include "firmware/usb/UsbController.h"
#include "firmware/usb/tf.h"
#include "print_file_builder.h"
#include "sandbox_fixture.h"

namespace {

namespace fs = std::filesystem;

class PrintFileTest : public SandboxTest {
  protected:
    void SetUp() override {
        SandboxTest::SetUp();
        folder_ = root_ + "/opt/usb/pravik3d";
        fs::create_directories(folder_);
        select("part.pvk4k");
        skipLoadParameter = 0;
        s_isMounted = 1;  // the stick the file is read from
        preview_file_identity = PreviewFileIdentity{};
        sim::setShellHandler([this](const char* c) {
            shell_.emplace_back(c, contents());
            return 0;
        });
    }
    void TearDown() override {
        s_isMounted = 0;
        sim::setShellHandler(nullptr);
        if (printfp != nullptr) fclose(printfp);
        printfp = nullptr;
        releaseLayerBuffer();
        SandboxTest::TearDown();
    }
    void select(const char* name) {
        page_index = 0;
        file_index_num = 0;
        snprintf(getFileName(0), FILE_NAME_SIZE, "%s", name);
    }
    void write(const std::string& bytes) const {
        std::ofstream(folder_ + "/part.pvk4k", std::ios::binary) << bytes;
    }
    std::string contents() const {
        std::ifstream in(folder_ + "/part.pvk4k", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool inSettingsFolder() const {
        char cwd[4096];
        return getcwd(cwd, sizeof cwd) != nullptr && fs::equivalent(cwd, root_ + "/opt/Pravik3D");
    }
    std::string folder_;
    std::vector<std::pair<std::string, std::string>> shell_;  // command, file then
};

TEST_F(PrintFileTest, PreviewReadFillsBindsAndEstimates) {
    PrintFileBuilder f;
    f.thumbnail(3, 2);
    f.p.drop_speed = 0.5f;   // below 1: the second lift's speed instead
    f.p.curing_time = 50;    // below the minimum: raised
    f.p.stable_time = 1000;  // in range: kept
    f.p.burnin_time = 30000;
    write(f.bytes());
    EXPECT_EQ(readPrintparameter(), 1);
    EXPECT_EQ(printfp, nullptr);
    EXPECT_TRUE(inSettingsFolder());
    EXPECT_FLOAT_EQ(printparameter.bottom_layers, 5.0f);
    EXPECT_FLOAT_EQ(printparameter.drop_speed, 120.0f);
    EXPECT_FLOAT_EQ(printparameter.curing_time, 100.0f);
    EXPECT_EQ(memcmp(printparameter.reserved2, f.p.reserved2, sizeof f.p.reserved2), 0);
    EXPECT_EQ(ParameterAll[0].value, &printparameter.curing_time);
    EXPECT_EQ(ParameterAll[5].value, &printparameter.drop_speed);
    EXPECT_EQ(ParameterAll[9].value, &printparameter.lift_speed2);
    EXPECT_FLOAT_EQ(ParameterAll[0].reference, 100.0f);
    EXPECT_EQ(open_file_inf.size, 180u + 12u);
    EXPECT_EQ(strlen(open_file_inf.mtime), 25u);  // "Sun Dec  6 23:13:01 2026\n"
    EXPECT_STREQ(preview_file_information.file_name, "part.pvk4k");
    // Estimated before the clamps: curing 50 ms over 95 layers.
    EXPECT_EQ(file_information.print_times, 1302500u + 150000u + 4750u);
    // The thumbnail goes to the shadow frame at (20, 60), bytes unchanged.
    EXPECT_EQ(buf[(60 * 320 + 20) * 2 + 1], f.thumb[1]);
    EXPECT_EQ(buf[(61 * 320 + 22) * 2], f.thumb[10]);
    EXPECT_EQ(prePrintDataInf(), 1);

    // A drop speed of exactly 1 is kept.
    f.p.drop_speed = 1;
    write(f.bytes());
    EXPECT_EQ(readPrintparameter(), 1);
    EXPECT_FLOAT_EQ(printparameter.drop_speed, 10.0f);  // then the minimum clamp
}

TEST(PrintTime, WorkedExampleAndDegenerateSpeeds) {
    PrintFileBuilder f;
    recomputeBottomLayers(f.p);
    EXPECT_FLOAT_EQ(f.p.bottom_layers, 5.0f);
    EXPECT_EQ(printTimeEstimate(f.p), 2212500u);
    // Zero speeds and zero layers give a defined figure, not undefined conversions.
    f.p.lift_speed1 = 0;
    EXPECT_EQ(printTimeEstimate(f.p), UINT32_MAX);  // per layer: infinity, saturated
    f.p.layer_count = 0;
    f.p.lift_speed1 = 60;
    EXPECT_EQ(printTimeEstimate(f.p), 150000u - 40000u);  // bottom layers beyond the count
    // Layers times their time past 32 bits saturate instead of wrapping.
    f.p.stable_time = 100000;
    f.p.layer_count = 65535;
    EXPECT_EQ(printTimeEstimate(f.p), UINT32_MAX);
    EXPECT_EQ(floatToU32(std::numeric_limits<float>::quiet_NaN()), 0u);
    EXPECT_EQ(floatToU32(-3.5f), 0u);
    EXPECT_EQ(floatToU32(5e9f), UINT32_MAX);
}

TEST_F(PrintFileTest, RefusalsCloseTheFileAndReturnToTheSettingsFolder) {
    using Param = std::function<void(PrintParameter&)>;
    using Bytes = std::function<void(std::string&)>;
    struct Case {
        const char* what;
        Param param;
        Bytes bytes;
        int result;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {"magic", {}, [](std::string& b) { b[7] = 'd'; }, 0},
        {"short magic", {}, [](std::string& b) { b.resize(5); }, 2},
        {"short block", {}, [](std::string& b) { b.resize(179); }, 2},
        {"short thumbnail", {}, [](std::string& b) { b.pop_back(); }, 2},
        {"ZThick 0", [](PrintParameter& p) { p.ZThick = 0; }, {}, 0},
        {"thumbnail too big", [](PrintParameter& p) { p.thumb_width = 18001; }, {}, 0},
        {"negative thumbnail", [](PrintParameter& p) { p.thumb_height = -2; }, {}, 0},
        {"negative layers", [](PrintParameter& p) { p.layer_count = -1; }, {}, 0},
        {"NaN", [nan](PrintParameter& p) { p.lift_speed1 = nan; }, {}, 0},
        {"infinity", [inf](PrintParameter& p) { p.burnin_range = -inf; }, {}, 0},
        // Outside the machine's envelope (each limit has its own test there).
        {"below home", [](PrintParameter& p) { p.ZThick = -0.5f; }, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PrintFileBuilder f;
        f.thumbnail(4, 4);
        if (c.param) c.param(f.p);
        std::string bytes = f.bytes();
        if (c.bytes) c.bytes(bytes);
        write(bytes);
        EXPECT_EQ(readPrintparameter(), c.result);
        EXPECT_EQ(prePrintDataInf(), 0);
        EXPECT_EQ(printfp, nullptr);
        EXPECT_TRUE(inSettingsFolder());
    }
    select("missing.pvk4k");
    EXPECT_EQ(readPrintparameter(), 3);
    EXPECT_TRUE(inSettingsFolder());
}

// A float of the given kind with the bits of `payload` in its mantissa.
float nonFinite(int kind, uint32_t payload) {
    // 0 NaN, 1 NaN with the sign bit, 2 infinity, 3 minus infinity.
    uint32_t bits = 0x7F800000u | (kind < 2 ? 0x00400000u | (payload & 0x003FFFFFu) : 0u);
    if (kind == 1 || kind == 3) bits |= 0x80000000u;
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}
constexpr const char* kKindText[] = {"nan", "-nan", "inf", "-inf"};

std::string refusedAsNotFinite(const char* field, int kind) {
    return std::string("print file refused: ") + field + " " + kKindText[kind] +
           " is not a finite number";
}

// The head reader on bytes in memory: its result and message.
std::pair<int, std::string> readHead(const std::string& bytes, PrintParameter& block) {
    static uint8_t thumb[PREVIEW_THUMB_BYTES];
    FILE* fp = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
    if (fp == nullptr) return {-1, "fmemopen failed"};
    const char* message = nullptr;
    const int result = readPrintHeader(fp, block, thumb, &message);
    fclose(fp);
    return {result, message != nullptr ? message : ""};
}

TEST_F(PrintFileTest, ARefusedBlockNamesTheFieldInTheLog) {
    // Every float NaN, +inf, -inf: the preview's log line names it and its value.
    for (const PrintFloatField& field : kPrintFloats) {
        for (int kind = 0; kind < 4; ++kind) {
            SCOPED_TRACE(refusedAsNotFinite(field.name, kind));
            PrintFileBuilder f;
            f.p.*field.member = nonFinite(kind, 0);
            write(f.bytes());
            testing::internal::CaptureStdout();
            const uint8_t result = readPrintparameter();
            fflush(stdout);
            const std::string log = testing::internal::GetCapturedStdout();
            EXPECT_EQ(result, PRINT_FILE_REFUSED);
            EXPECT_EQ(log, refusedAsNotFinite(field.name, kind) + "\n");
        }
    }
    // The counts and the thumbnail's size too.
    const std::pair<const char*, std::function<void(PrintParameter&)>> counts[] = {
        {"layer_count", [](PrintParameter& p) { p.layer_count = -1; }},
        {"thumb_width", [](PrintParameter& p) { p.thumb_width = -3; }},
        {"thumb_height", [](PrintParameter& p) { p.thumb_height = INT32_MIN; }},
        {"thumb_width x thumb_height", [](PrintParameter& p) { p.thumb_width = 18001; }},
    };
    for (const auto& [field, change] : counts) {
        SCOPED_TRACE(field);
        PrintFileBuilder f;
        f.thumbnail(1, 1);
        change(f.p);
        PrintParameter block;
        const auto [result, message] = readHead(f.bytes(), block);
        EXPECT_EQ(result, PRINT_FILE_REFUSED);
        EXPECT_EQ(message.rfind("print file refused: ", 0), 0u) << message;
        EXPECT_NE(message.find(field), std::string::npos) << message;
    }
}

TEST(PrintFileHead, TheFirstNonFiniteFloatIsNamedWhateverItsBits) {
    // Random blocks, some floats NaN (any payload, either sign) or infinite:
    // the refusal names the first of them in file order, with its value, in
    // the envelope's words for the same value.
    std::mt19937 rng(20240611);
    for (int round = 0; round < 3000; ++round) {
        PrintFileBuilder f;
        int first = -1, firstKind = 0;
        for (size_t i = 0; i < std::size(kPrintFloats); ++i) {
            if (rng() % 6 != 0) continue;
            const int kind = static_cast<int>(rng() % 4);
            f.p.*kPrintFloats[i].member = nonFinite(kind, static_cast<uint32_t>(rng()));
            if (first < 0) first = static_cast<int>(i), firstKind = kind;
        }
        SCOPED_TRACE(round);
        PrintParameter block;
        const auto [result, message] = readHead(f.bytes(), block);
        if (first < 0) {
            EXPECT_EQ(result, PRINT_FILE_OK) << message;
            continue;
        }
        const PrintFloatField& field = kPrintFloats[first];
        ASSERT_EQ(result, PRINT_FILE_REFUSED);
        ASSERT_EQ(message, refusedAsNotFinite(field.name, firstKind));
        // Only that field bad: where the envelope judges it, it says the same.
        PrintFileBuilder alone;
        alone.p.*field.member = f.p.*field.member;
        const EnvelopeVerdict v = judgePrintParameters(alone.p);
        if (!v.inside && std::string(v.reason).find(field.name) != std::string::npos) {
            EXPECT_EQ(v.reason, message);
        }
    }
}

TEST_F(PrintFileTest, EditsKeptOnReReadAndWrittenBackAlone) {
    PrintFileBuilder f;
    f.p.burnin_range = 1.0f;
    f.p.ZThick = 0.1f;
    f.layers.push_back({0x10});
    write(f.bytes());  // no thumbnail: the first record right after the block
    ASSERT_EQ(readPrintparameter(), 1);
    EXPECT_FLOAT_EQ(printparameter.bottom_layers, 10.0f);
    printparameter.curing_time = 12300;
    skipLoadParameter = 1;
    ASSERT_EQ(readPrintparameter(), 1);
    EXPECT_FLOAT_EQ(printparameter.curing_time, 12300.0f);

    const std::string before = contents();
    shell_.clear();
    EXPECT_EQ(writePrintparameterToFile(), 1);
    const std::string after = contents();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        if (i < 8 || i >= 180) {
            ASSERT_EQ(after[i], before[i]) << "byte " << i;
        }
    }
    PrintParameter stored;
    memcpy(&stored, after.data() + 8, sizeof stored);
    EXPECT_FLOAT_EQ(stored.curing_time, 12300.0f);
    EXPECT_FLOAT_EQ(stored.bottom_layers, 10.0f);
    // Written while the stick was read-write, and read-only again after.
    ASSERT_EQ(shell_.size(), 3u);
    EXPECT_EQ(shell_[0].first, "mount -o remount,rw /opt/usb");
    EXPECT_EQ(shell_[0].second, before);
    EXPECT_EQ(shell_[1].first, "sync");
    EXPECT_EQ(shell_[1].second, after);
    EXPECT_EQ(shell_[2].first, "mount -o remount,ro /opt/usb");
    EXPECT_TRUE(inSettingsFolder());

    // A file that cannot be opened: nothing written, the volume read-only again.
    fs::remove(folder_ + "/part.pvk4k");
    shell_.clear();
    EXPECT_EQ(writePrintparameterToFile(), 0);
    ASSERT_EQ(shell_.size(), 3u);
    EXPECT_EQ(shell_[2].first, "mount -o remount,ro /opt/usb");
}

TEST_F(PrintFileTest, HeaderCheckAtPrintStart) {
    PrintFileBuilder f;
    f.thumbnail(10, 5);
    f.p.ZThick = 0.001f;
    f.p.layer_count = 65535;  // the most the panel counts
    f.layers.push_back({0x35, 0x32, 0xF3});
    write(f.bytes());
    ASSERT_EQ(readPrintparameter(), 1);
    ASSERT_EQ(printFileHeaderCheck(), PRINT_FILE_OK);
    ASSERT_NE(printfp, nullptr);
    EXPECT_EQ(ftell(printfp), 180 + 100);
    EXPECT_EQ(file_information.total_layer, 65535);
    ASSERT_NE(display_2K_data, nullptr);
    EXPECT_EQ(display_2K_capacity, 1440u * 2560u * 2u);
    EXPECT_EQ(memcmp(buf1, "Pravik3D", 8), 0);

    // Each of these reads the file again at preview first: the job prints
    // only the file the preview read.
    std::string bytes = f.bytes();
    bytes[0] = 'p';
    write(bytes);
    EXPECT_EQ(printFileHeaderCheck(), PRINT_FILE_REFUSED);
    EXPECT_EQ(printfp, nullptr);
    auto previewThenStart = [&](const std::string& file) {
        write(f.bytes());
        EXPECT_EQ(readPrintparameter(), 1);
        const auto then = fs::last_write_time(folder_ + "/part.pvk4k");
        write(file);
        // Later than a file system's coarsest clock (FAT: 2 s).
        fs::last_write_time(folder_ + "/part.pvk4k", then + std::chrono::seconds(2));
        return printFileHeaderCheck();
    };
    bytes[0] = 'P';
    bytes[200] ^= 1;  // same size, but written after the preview
    EXPECT_EQ(previewThenStart(bytes), PRINT_FILE_REFUSED);
    EXPECT_EQ(previewThenStart(bytes.substr(0, 200)), PRINT_FILE_REFUSED);
    // Values changed in memory after the preview are judged again.
    write(f.bytes());
    ASSERT_EQ(readPrintparameter(), 1);
    printparameter.curing_time = 300001;
    EXPECT_EQ(printFileHeaderCheck(), PRINT_FILE_REFUSED);
    fs::remove(folder_ + "/part.pvk4k");
    EXPECT_EQ(printFileHeaderCheck(), PRINT_FILE_OPEN_ERROR);
    EXPECT_TRUE(inSettingsFolder());
}

}  // namespace
