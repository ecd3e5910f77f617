// pvk4k, the print-file tool: its commands called directly, and the command
// line for parsing and exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "firmware/print/layer_code.h"
#include "firmware/print/print_file.h"
#include "geometry/stl_check.h"
#include "print_file_builder.h"
#include "tools/pvk4k/commands.h"
#include "tools/pvk4k/params.h"
#include "tools/pvk4k/png_io.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using ::testing::HasSubstr;
using ::testing::Not;

// The worked example's block, its layer buffer big enough for any record,
// with layer codes added one by one and bytes after the last record.
struct FileBuilder : PrintFileBuilder {
    std::string trailing;
    FileBuilder() {
        p.buffer_width = 2160;
        p.buffer_height = 3840;
        p.layer_count = 0;
    }
    FileBuilder& layer(std::vector<uint8_t> code) {
        layers.push_back(std::move(code));
        p.layer_count = static_cast<int32_t>(layers.size());
        return *this;
    }
    std::string bytes() const {
        PrintFileBuilder f = *this;
        f.thumb.assign(thumbnailBytes(p), 0x42);
        return f.bytes() + trailing;
    }
};

std::vector<uint8_t> runCode(uint8_t level, uint32_t length) {
    return PrintFileBuilder::code({{level, length}});
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeAll(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<uint8_t> readRgbPng(const fs::path& path, uint32_t& width, uint32_t& height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
    width = image.width;
    height = image.height;
    return rgb;
}

// Writes a layer image whose values (in value order) are `values`.
void writeLayer(const fs::path& path, const std::vector<uint8_t>& values, bool rgb) {
    std::string error;
    ASSERT_TRUE(pvk4k::writePng(
        path, rgb ? FRAME_WIDTH : FRAME_LINE_BYTES, FRAME_HEIGHT, rgb ? 3 : 1,
        [&](uint32_t y, uint8_t* row) {
            std::copy_n(values.data() + size_t{y} * FRAME_LINE_BYTES, FRAME_LINE_BYTES, row);
        },
        error))
        << error;
}

class Pvk4k : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("pvk4k-test-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs a command with fresh streams.
    template <class F>
    int run(F&& command) {
        out_.str("");
        err_.str("");
        const pvk4k::Console con{out_, err_, false};
        return command(con);
    }
    int check(const fs::path& file) {
        return run([&](auto& con) { return pvk4k::checkCommand(file, con); });
    }
    json info(const fs::path& file, int* status = nullptr) {
        const int s = run([&](auto& con) { return pvk4k::infoCommand(file, true, con); });
        if (status != nullptr) *status = s;
        return json::parse(out_.str());
    }
    // The command line, with stderr kept; its exit status.
    int cli(const std::string& args) {
        const fs::path errFile = dir_ / "stderr.txt";
        const std::string command = std::string(TOOL_EMULATOR " " PVK4K_PATH) + " " + args + " >" +
                                    (dir_ / "stdout.txt").string() + " 2>" + errFile.string();
        const int status = std::system(command.c_str());
        cliErr_ = readAll(errFile);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path dir_;
    std::ostringstream out_, err_;
    std::string cliErr_;
};

TEST_F(Pvk4k, CreateThenRenderGivesBackGreyAndRgbLayers) {
    // Layer 1 (greyscale): a block at full level with a ramp of every level
    // and some values between levels. Layer 2 (RGB): a disc with different
    // red, green and blue, lit only in the upper left.
    std::vector<uint8_t> grey(FRAME_BYTES, 0), colour(FRAME_BYTES, 0);
    for (uint32_t y = 1000; y < 1400; ++y) {
        uint8_t* line = &grey[size_t{y} * FRAME_LINE_BYTES];
        std::fill(line + 2000, line + 3000, 255);
        for (uint32_t x = 0; x < 256; ++x) line[3000 + x] = static_cast<uint8_t>(x);
    }
    for (uint32_t y = 100; y < 400; ++y) {
        for (uint32_t px = 100; px < 400; ++px) {
            const int dx = static_cast<int>(px) - 250, dy = static_cast<int>(y) - 250;
            if (dx * dx + dy * dy > 150 * 150) continue;
            uint8_t* v = &colour[size_t{y} * FRAME_LINE_BYTES + px * 3];
            v[0] = 255, v[1] = 136, v[2] = 34;
        }
    }
    writeLayer(dir_ / "grey.png", grey, false);
    writeLayer(dir_ / "colour.png", colour, true);

    const fs::path file = dir_ / "part.pvk4k";
    pvk4k::CreateOptions create{file, {"curing_time=7000"}, "", {}};
    create.layers = {dir_ / "grey.png", dir_ / "colour.png"};
    ASSERT_EQ(run([&](auto& con) { return pvk4k::createCommand(create, con); }), 0) << err_.str();
    // Of 0..255 all but the 16 multiples of 17, on 400 lines.
    EXPECT_THAT(err_.str(), HasSubstr("96,000 grey values were not multiples of 17"));
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 3) << "no temporary file left";

    for (uint8_t& v : grey) v = static_cast<uint8_t>(greyLevel(v) * 17);
    const std::vector<uint8_t>* want[] = {&grey, &colour};
    for (uint32_t layer = 1; layer <= 2; ++layer) {
        SCOPED_TRACE(layer);
        const fs::path png = dir_ / "render.png";
        pvk4k::RenderOptions render{file, layer, false, png, ""};
        ASSERT_EQ(run([&](auto& con) { return pvk4k::renderCommand(render, con); }), 0)
            << err_.str();
        uint32_t w = 0, h = 0;
        const std::vector<uint8_t> rgb = readRgbPng(png, w, h);
        EXPECT_EQ(w, FRAME_WIDTH);
        EXPECT_EQ(h, FRAME_HEIGHT);
        const std::vector<uint8_t>& expected = *want[layer - 1];
        ASSERT_EQ(rgb.size(), expected.size());
        const auto [got, wanted] = std::mismatch(rgb.begin(), rgb.end(), expected.begin());
        EXPECT_TRUE(got == rgb.end())
            << "value " << (got - rgb.begin()) << " is " << int(*got) << ", not " << int(*wanted);
    }

    EXPECT_EQ(check(file), 0) << out_.str();
    const json j = info(file);
    EXPECT_EQ(j["layer_count"], 2);
    EXPECT_EQ(j["curing_time"], 7000);
    EXPECT_EQ(j["bottom_layers"], 5);
    ASSERT_EQ(j["thumb_width"], 150);
    ASSERT_EQ(j["thumb_height"], 120);

    // The drawn thumbnail: dark corners, the part lit in it.
    pvk4k::RenderOptions thumb{file, 0, true, dir_ / "thumb.png", ""};
    ASSERT_EQ(run([&](auto& con) { return pvk4k::renderCommand(thumb, con); }), 0) << err_.str();
    uint32_t w = 0, h = 0;
    const std::vector<uint8_t> preview = readRgbPng(dir_ / "thumb.png", w, h);
    ASSERT_EQ(preview.size(), 150u * 120 * 3);
    int lit = 0;
    for (size_t i = 0; i < preview.size(); i += 3) lit += preview[i] > 128;
    EXPECT_LT(preview[0], 64);
    EXPECT_GT(lit, 150 * 120 / 40);
}

TEST_F(Pvk4k, CheckPassesOnlyFilesThePrinterPrintsCleanly) {
    const std::vector<uint8_t> full = runCode(15, FRAME_BYTES);
    std::vector<uint8_t> pastEnd = full;
    pastEnd.push_back(0x01);
    struct Case {
        const char* name;
        std::function<void(FileBuilder&)> change;
        int status;
        const char* finding;  // expected in the report
    };
    const Case cases[] = {
        {"good", [](FileBuilder&) {}, 0, "prints cleanly"},
        {"partial layer", [](FileBuilder& b) { b.layer({0x0A}); }, 0,
         "warning: layer 3/3: covers 10 of 24,883,200 values"},
        {"zero count", [](FileBuilder& b) { b.layers[1].clear(); }, 1,
         "layer 2/2: byte count is 0"},
        {"over the layer buffer",
         [](FileBuilder& b) {
             b.p.buffer_width = 1;
             b.p.buffer_height = 3;
         },
         1, "layer 1/2: 7 code bytes exceed the layer buffer of 6"},
        {"runs past the frame", [&](FileBuilder& b) { b.layers[0] = pastEnd; }, 1,
         "layer 1/2: the runs pass the end of the frame"},
        {"count beyond a frame", [](FileBuilder& b) { b.layers[1].assign(FRAME_BYTES, 0); }, 1,
         "layer 2/2: byte count 24,883,200 exceeds"},
        {"missing record", [](FileBuilder& b) { b.p.layer_count = 3; }, 1,
         "layer 3/3: record missing: the file ends at byte 36,202 after 2 of 3"},
        {"trailing bytes", [](FileBuilder& b) { b.trailing = "xyz"; }, 1,
         "3 bytes after the last layer record"},
        {"refused header", [](FileBuilder& b) { b.p.ZThick = 0; }, 1,
         "refused: printparameter.ZThick  = 0.0"},
        {"exposure outside the envelope", [](FileBuilder& b) { b.p.curing_time = 1e9f; }, 1,
         "header: refused: print file refused: curing_time 1e+09 ms above the longest exposure "
         "or wait of 300000 ms"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileBuilder b;
        b.p.thumb_width = 150;
        b.p.thumb_height = 120;
        b.layer(full).layer(runCode(0, FRAME_BYTES));
        c.change(b);
        const fs::path file = dir_ / "c.pvk4k";
        writeAll(file, b.bytes());
        EXPECT_EQ(check(file), c.status) << out_.str();
        EXPECT_THAT(out_.str(), HasSubstr(c.finding));
    }

    // Cut inside the last record.
    FileBuilder b;
    b.layer(full).layer(full);
    std::string bytes = b.bytes();
    bytes.resize(bytes.size() - 2);
    writeAll(dir_ / "cut.pvk4k", bytes);
    EXPECT_EQ(check(dir_ / "cut.pvk4k"), 1);
    EXPECT_THAT(out_.str(), HasSubstr("layer 2/2: record cut off: 7 code bytes declared, 5 left"));
}

TEST_F(Pvk4k, SetRewritesTheBlockOnlyAndRecomputesBottomLayers) {
    FileBuilder b;
    b.p.thumb_width = 10;
    b.p.thumb_height = 10;
    b.layer(runCode(15, FRAME_BYTES));
    b.trailing = "tail";
    const fs::path file = dir_ / "s.pvk4k";
    const std::string before = b.bytes();
    writeAll(file, before);

    EXPECT_EQ(run([&](auto& con) {
                  return pvk4k::setCommand(
                      {file, {"ZThick=0.1", "burnin_range=0.5", "curing_time=50", "drop_speed=0"}},
                      con);
              }),
              0)
        << err_.str();
    EXPECT_THAT(err_.str(), HasSubstr("curing_time 50 is outside the panel's 100..99900; the "
                                      "printer reads it as 100"));
    EXPECT_THAT(err_.str(), HasSubstr("drop_speed 0 is outside the panel's 10..300; the printer "
                                      "reads it as 120"));
    const std::string after = readAll(file);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after.substr(0, 8), before.substr(0, 8));
    EXPECT_EQ(after.substr(PRINT_HEADER_SIZE), before.substr(PRINT_HEADER_SIZE));
    // The values as given (the printer's reading is its own), bottom_layers
    // from them, every other byte of the block as it was.
    PrintParameter want = b.p, p;
    want.ZThick = 0.1f;
    want.burnin_range = 0.5f;
    want.curing_time = 50;
    want.drop_speed = 0;
    want.bottom_layers = 5;
    memcpy(&p, after.data() + 8, sizeof p);
    EXPECT_EQ(memcmp(&want, &p, sizeof p), 0);

    const char* refused[][2] = {
        {"layer_count=3", "structural"},
        {"thumb_width=3", "structural"},
        {"colour=3", "unknown parameter"},
        {"ZThick=thin", "not a number"},
        {"ZThick=inf", "ZThick: inf is not a finite number"},
        {"ZThick=0", "greater than 0"},
        {"ZThick", "NAME=VALUE"},
        {"bottom_layers=4", "burnin_range / ZThick"},
    };
    for (const auto& [assignment, why] : refused) {
        SCOPED_TRACE(assignment);
        EXPECT_EQ(run([&](auto& con) {
                      return pvk4k::setCommand({file, {"curing_time=9000", assignment}}, con);
                  }),
                  2);
        EXPECT_THAT(err_.str(), HasSubstr(why));
        EXPECT_EQ(readAll(file), after);
    }
    std::string foreign = after;
    foreign[0] = 'X';
    writeAll(dir_ / "foreign", foreign);
    EXPECT_EQ(run([&](auto& con) {
                  return pvk4k::setCommand({dir_ / "foreign", {"ZThick=1"}}, con);
              }),
              2);
    EXPECT_EQ(readAll(dir_ / "foreign"), foreign);
}

TEST_F(Pvk4k, SetWritesWhatThePrinterWouldRefuseOnlyWhenForced) {
    FileBuilder b;
    b.layer(runCode(15, FRAME_BYTES));  // 7 code bytes
    const fs::path file = dir_ / "s.pvk4k";
    const std::string before = b.bytes();
    struct Case {
        std::vector<std::string> assignments;
        const char* why;
    };
    const Case cases[] = {
        {{"curing_time=9000", "ZThick=0.6"},
         "the printer will refuse it: print file refused: ZThick 0.6 mm above the thickest layer "
         "of 0.5 mm; nothing written (--force writes it anyway)"},
        {{"buffer_width=1", "buffer_height=3"},
         "the layer buffer of 6 bytes is smaller than the largest layer code (7 bytes); the "
         "printer will refuse that layer; nothing written (--force writes it anyway)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        writeAll(file, before);
        EXPECT_EQ(run([&](auto& con) { return pvk4k::setCommand({file, c.assignments}, con); }), 1);
        EXPECT_THAT(err_.str(), HasSubstr(c.why));
        EXPECT_EQ(out_.str(), "") << "no change reported";
        EXPECT_EQ(readAll(file), before);

        EXPECT_EQ(run([&](auto& con) {
                      return pvk4k::setCommand({file, c.assignments, true}, con);
                  }),
                  0);
        EXPECT_THAT(err_.str(), HasSubstr(std::string(c.why).substr(0, 40)));
        EXPECT_THAT(err_.str(), Not(HasSubstr("nothing written")));
        EXPECT_NE(readAll(file), before);
        EXPECT_EQ(check(file), 1) << out_.str();
    }

    // A float the file already holds that the header reader refuses: the
    // envelope alone would pass it (minus infinity is raised to the panel's
    // minimum), the printer does not.
    FileBuilder held = b;
    held.p.curing_time = -INFINITY;
    writeAll(file, held.bytes());
    EXPECT_EQ(run([&](auto& con) {
                  return pvk4k::setCommand({file, {"stable_time=900"}}, con);
              }),
              1);
    EXPECT_THAT(err_.str(), HasSubstr("the printer will refuse it: print file refused: curing_time "
                                      "-inf is not a finite number; nothing written"));
    EXPECT_EQ(readAll(file), held.bytes());
    EXPECT_EQ(run([&](auto& con) {
                  return pvk4k::setCommand({file, {"curing_time=900"}}, con);
              }),
              0)
        << "the edit that mends it is written: " << err_.str();
}

// Whatever the edit, set without --force writes exactly when the printer
// would take the file as forced, and leaves every byte otherwise.
TEST_F(Pvk4k, SetRefusesExactlyWhatThePrinterRefuses) {
    FileBuilder b;
    b.layer(runCode(15, FRAME_BYTES)).layer(runCode(0, FRAME_BYTES));
    b.p.layer_count = 2;
    const std::string base = b.bytes();
    const float values[] = {0.0005f, 0.05f, 0.6f, 1, 3, 8, 100, 250, 1000, 1500, 3e5f, 4e5f, 1e9f};
    std::vector<const pvk4k::Field*> settable;
    for (const pvk4k::Field& f : pvk4k::floatFields()) {
        if (f.member != &PrintParameter::bottom_layers) settable.push_back(&f);
    }
    std::mt19937 rng(7);
    int refused = 0;
    for (int round = 0; round < 150; ++round) {
        std::vector<std::string> edit;
        for (int n = 1 + static_cast<int>(rng() % 3); n > 0; --n) {
            const pvk4k::Field& f = *settable[rng() % settable.size()];
            edit.push_back(std::string(f.name) + "=" +
                           pvk4k::formatFloat(values[rng() % std::size(values)]));
        }
        SCOPED_TRACE(::testing::PrintToString(edit));
        writeAll(dir_ / "forced.pvk4k", base);
        ASSERT_EQ(run([&](auto& con) {
                      return pvk4k::setCommand({dir_ / "forced.pvk4k", edit, true}, con);
                  }),
                  0);
        const int printer = check(dir_ / "forced.pvk4k");
        writeAll(dir_ / "plain.pvk4k", base);
        const int status = run([&](auto& con) {
            return pvk4k::setCommand({dir_ / "plain.pvk4k", edit}, con);
        });
        ASSERT_EQ(status, printer) << err_.str();
        EXPECT_EQ(readAll(dir_ / "plain.pvk4k"),
                  status == 0 ? readAll(dir_ / "forced.pvk4k") : base);
        refused += status != 0;
    }
    EXPECT_GT(refused, 20);
    EXPECT_LT(refused, 140);
}

TEST_F(Pvk4k, InfoGivesTheFirmwareEstimateAndVerdict) {
    // The worked example (info reads no record); a block the printer does not
    // read at all; one it reads but with a lift the line cannot carry, the
    // block still reported.
    struct Case {
        std::function<void(PrintParameter&)> change;
        int status;
        json want;  // by JSON pointer
    };
    const Case cases[] = {
        {[](PrintParameter& p) { p.layer_count = 100; },
         0,
         {{"/verdict", "printable"},
          {"/print_time_ms", 2212500},
          {"/print_time", "0 h 36 min"},
          {"/bottom_layers", 5},
          {"/bottom_layers_stored", 77},
          {"/ZThick", 0.05},
          {"/layer_buffer_capacity", 16588800},
          {"/units/lift_speed1", "mm/min"}}},
        {[](PrintParameter& p) { p.ZThick = p.drop_speed = 0; },
         1,
         {{"/verdict", "refused"},
          {"/printer_message", "printparameter.ZThick  = 0.0"},
          {"/read_adjustments", json::array({"drop_speed 0 -> 120"})}}},
        {[](PrintParameter& p) { p.lift_distance1 = 1000, p.lift_speed1 = 3e38f; },
         1,
         {{"/verdict", "refused"},
          {"/printer_message",
           "print file refused: lift_distance1 1000 mm above the Z travel of 190 mm"},
          {"/lift_distance1", 1000}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.want.dump());
        FileBuilder b;
        c.change(b.p);
        writeAll(dir_ / "i.pvk4k", b.bytes());
        int status = -1;
        json j = info(dir_ / "i.pvk4k", &status);
        EXPECT_EQ(status, c.status);
        for (const auto& [key, value] : c.want.items()) {
            EXPECT_EQ(j[json::json_pointer(key)], value) << key;
        }
    }
}

TEST_F(Pvk4k, CommandLine) {
    EXPECT_EQ(cli("info " + (dir_ / "missing").string()), 2);
    EXPECT_THAT(cliErr_, HasSubstr("cannot open"));
    EXPECT_EQ(cli("frobnicate"), 2);
    EXPECT_EQ(cli("render x.pvk4k --layer 1"), 2);
    EXPECT_THAT(cliErr_, HasSubstr("-o OUT.png or --raw OUT"));

    // --param takes one value each time, leaving the layers to the layer list.
    writeLayer(dir_ / "blank.png", std::vector<uint8_t>(FRAME_BYTES), false);
    const std::string blank = (dir_ / "blank.png").string();
    const std::string file = (dir_ / "b.pvk4k").string();
    // A file the printer would refuse is written only with --force.
    const std::string tiny = " --param ZThick=0.1 --param buffer_width=1 --param buffer_height=1 ";
    const auto before = std::distance(fs::directory_iterator(dir_), {});
    EXPECT_EQ(cli("create -o " + file + tiny + blank + " " + blank), 1);
    EXPECT_THAT(cliErr_, HasSubstr("2 layers need more than the layer buffer of 2 bytes"));
    EXPECT_THAT(cliErr_, HasSubstr("nothing written (--force writes it anyway)"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), before) << "not even a temporary";
    ASSERT_EQ(cli("create --force -o " + file + tiny + blank + " " + blank), 0) << cliErr_;
    EXPECT_THAT(cliErr_, HasSubstr("2 layers need more than the layer buffer of 2 bytes"));
    EXPECT_EQ(cli("check " + file), 1);
    EXPECT_EQ(cli("set " + file + " buffer_width=2160 buffer_height=3840"), 0) << cliErr_;
    EXPECT_EQ(cli("check " + file), 0);
    EXPECT_EQ(cli("set --force " + file + " lift_distance1=1000"), 0) << cliErr_;
    EXPECT_EQ(cli("check " + file), 1);
    EXPECT_EQ(cli("set " + file + " lift_distance1=5"), 0) << cliErr_;
    EXPECT_EQ(cli("set --help"), 0);
    EXPECT_THAT(readAll(dir_ / "stdout.txt"), HasSubstr("--force"));

    // Values outside the machine's limits are refused before any layer is read.
    const fs::path high = dir_ / "high.pvk4k";
    EXPECT_EQ(cli("create -o " + high.string() + " --param lift_distance1=1000 " + blank + " " +
                  (dir_ / "missing.png").string()),
              1);
    EXPECT_THAT(cliErr_, HasSubstr("the printer will refuse it: print file refused: "
                                   "lift_distance1 1000 mm above the Z travel of 190 mm; nothing "
                                   "written (--force writes it anyway)"));
    EXPECT_FALSE(fs::exists(high));
    EXPECT_EQ(cli("create --force -o " + high.string() + " --param lift_distance1=1000 " + blank),
              0)
        << cliErr_;
    EXPECT_EQ(cli("check " + high.string()), 1);
    fs::remove(high);
    EXPECT_EQ(cli("render " + file + " --layer 2 --raw " + (dir_ / "frame.raw").string()), 0);
    EXPECT_EQ(fs::file_size(dir_ / "frame.raw"), FRAME_BYTES);

    // A failed create leaves nothing behind.
    const auto entries = std::distance(fs::directory_iterator(dir_), {});
    EXPECT_EQ(cli("create -o " + (dir_ / "x.pvk4k").string() + " " + blank + " " +
                  (dir_ / "missing.png").string()),
              2);
    EXPECT_THAT(cliErr_, HasSubstr("layer 2: cannot open"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), entries);
    ASSERT_EQ(cli("info --json " + file), 0);
    const json i = json::parse(readAll(dir_ / "stdout.txt"));
    EXPECT_EQ(i["layer_count"], 2);
    EXPECT_EQ(i["ZThick"], 0.1);
}

}  // namespace

namespace {

// The model of a file: a top band lit in every layer, the last layer cut
// short; the STL it writes holds the same volume.
TEST_F(Pvk4k, ModelGivesTheFilesGeometryOnTheSimulatorsCells) {
    PrintFileBuilder f = PrintFileBuilder::quick(3);
    f.layers.clear();
    for (int i = 0; i < 3; ++i) f.layer(FRAME_LINE_BYTES * 80);  // 80 lines: 10 cell rows
    const fs::path file = dir_ / "band.pvk4k";
    std::ofstream(file, std::ios::binary) << f.bytes();
    const fs::path stl = dir_ / "band.stl";
    pvk4k::ModelOptions o{file.string(), true, stl.string()};
    ASSERT_EQ(run([&](auto& con) { return pvk4k::modelCommand(o, con); }), pvk4k::EXIT_CLEAN)
        << err_.str();
    const json r = json::parse(out_.str());
    EXPECT_EQ(r["layers"], 3);
    EXPECT_EQ(r["solid_cells"], 3 * 10 * 270);
    EXPECT_NEAR(r["height_mm"].get<double>(), 0.15, 1e-6);
    EXPECT_NEAR(r["volume_mm3"].get<double>(), 68.0 * 2.5 * 0.15, 1e-3);
    const geometry::Mesh mesh = geometry::readStl(readAll(stl));
    EXPECT_TRUE(mesh.closed);
    EXPECT_NEAR(mesh.volume, r["volume_mm3"].get<double>(), 1e-3);

    f.layers.pop_back();  // three layers declared, two in the file
    std::ofstream(file, std::ios::binary | std::ios::trunc) << f.bytes();
    EXPECT_EQ(run([&](auto& con) { return pvk4k::modelCommand(o, con); }), pvk4k::EXIT_ERROR);

    // Overhang, hollow, bodies side by side: closed, of the model's volume.
    std::ofstream(file, std::ios::binary | std::ios::trunc) << PrintFileBuilder::features().bytes();
    out_.str("");
    ASSERT_EQ(run([&](auto& con) { return pvk4k::modelCommand(o, con); }), pvk4k::EXIT_CLEAN)
        << err_.str();
    const json features = json::parse(out_.str());
    const geometry::Mesh closed = geometry::readStl(readAll(stl));
    EXPECT_TRUE(closed.closed);
    const double volume = features["volume_mm3"];
    EXPECT_NEAR(closed.volume, volume, volume * 1e-3);
}

}  // namespace
