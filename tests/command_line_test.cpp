// printer-sim's and pvk4k's command lines as a person or a script meets
// them: help through a pipe, usage errors, versions, the control port.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/runner/sim_process.h"

namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out, err;
};

class CommandLine : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("command-line-test-" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // `tool` and its arguments through sh, the output through a pipe as in
    // `tool ... | cat`.
    Result run(const std::string& tool, const std::string& args) {
        const fs::path out = dir_ / "out", err = dir_ / "err", status = dir_ / "status";
        // sh has no PIPESTATUS: the tool's status goes through a file.
        const std::string wrapped = "{ " TOOL_EMULATOR " " + tool + " " + args + " 2>" +
                                    err.string() + "; echo $? >" + status.string() + "; } | cat >" +
                                    out.string();
        Result r;
        if (std::system(wrapped.c_str()) != 0) return r;
        r.status = std::stoi(readAll(status));
        r.out = readAll(out);
        r.err = readAll(err);
        return r;
    }
    static std::string readAll(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path dir_;
};

TEST_F(CommandLine, HelpGoesToAPipeAndUsageErrorsExitWithTwo) {
    Result r = run(PRINTER_SIM_PATH, "--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--speed"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("--no-server"), std::string::npos) << r.out;

    for (const char* bad : {"--frobnicate", "--speed fast", "--port 70000", "--port 1 --no-server",
                            "--schedule sideways"}) {
        SCOPED_TRACE(bad);
        r = run(PRINTER_SIM_PATH, bad);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err, "");
    }

    r = run(PVK4K_PATH, "");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("create"), std::string::npos) << "bare pvk4k shows its help: " << r.out;
    r = run(PVK4K_PATH, "--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Exit status"), std::string::npos) << r.out;
    EXPECT_EQ(run(PVK4K_PATH, "--frobnicate").status, 2);
}

TEST_F(CommandLine, BothToolsSayTheirVersion) {
    EXPECT_EQ(run(PRINTER_SIM_PATH, "--version").out, "printer-sim " VELMOR_VERSION "\n");
    EXPECT_EQ(run(PVK4K_PATH, "--version").out, "pvk4k " VELMOR_VERSION "\n");
}

TEST_F(CommandLine, APortInUseIsRefusedAndTheFirstLineGivesThePort) {
    SimProcess first;
    const int port =
        first.start(PRINTER_SIM_PATH, {"--no-stick", "--paused"}, dir_.string(), TOOL_EMULATOR);
    ASSERT_NE(port, 0) << "the first line names the port taken for --port 0";

    const Result second =
        run(PRINTER_SIM_PATH, "--no-stick --paused --port " + std::to_string(port));
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.err.find("127.0.0.1:" + std::to_string(port)), std::string::npos)
        << second.err;
    EXPECT_NE(second.err.find("in use"), std::string::npos) << second.err;
    EXPECT_EQ(first.stop(), 0) << "the first one still runs";

    SimProcess quiet;
    EXPECT_EQ(quiet.launch(PRINTER_SIM_PATH, {"--no-server", "--no-stick", "--paused"},
                           dir_.string(), TOOL_EMULATOR),
              "control page: none (--no-server)\n");
    EXPECT_EQ(quiet.stop(), 0);
}

TEST_F(CommandLine, UnderGdbCtrlCBreaksIntoTheDebuggerAndTheThreadsHaveNames) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the simulator under gdb is checked in the plain builds";
#endif
    if (std::string(TOOL_EMULATOR) != "" || std::system("command -v gdb >/dev/null") != 0) {
        GTEST_SKIP() << "needs gdb on this machine's own build";
    }
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t gdb = fork();
    ASSERT_GE(gdb, 0);
    if (gdb == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        close(out[0]);
        execlp("gdb", "gdb", "-nx", "-batch", "-ex", "run", "-ex", "info threads", "-ex", "kill",
               "--args", PRINTER_SIM_PATH, "--no-server", "--no-stick", "--paused", nullptr);
        _exit(127);
    }
    close(out[1]);
    FILE* lines = fdopen(out[0], "r");
    std::string output;
    char line[4096];
    bool up = false;
    while (!up && fgets(line, sizeof line, lines) != nullptr) {
        output += line;
        up = strstr(line, "printer-sim: sandbox") != nullptr;  // its threads have started
    }
    if (output.find("ptrace") != std::string::npos) GTEST_SKIP() << "no ptrace here: " << output;
    ASSERT_TRUE(up) << output;
    // The simulator is gdb's child: what a terminal's Ctrl-C sends it.
    std::ifstream children("/proc/" + std::to_string(gdb) + "/task/" + std::to_string(gdb) +
                           "/children");
    pid_t sim = 0;
    children >> sim;
    ASSERT_GT(sim, 0);
    kill(sim, SIGINT);
    while (fgets(line, sizeof line, lines) != nullptr) output += line;
    fclose(lines);
    int status = 0;
    waitpid(gdb, &status, 0);
    EXPECT_NE(output.find("received signal SIGINT"), std::string::npos) << output;
    for (const char* name : {"\"main\"", "\"sim-clock\"", "\"motion-board\"", "\"sim-signals\""}) {
        EXPECT_NE(output.find(name), std::string::npos) << name << " in\n" << output;
    }
}

}  // namespace
