// A sandbox with the firmware's serial port opened on a pseudo-terminal. The
// test is the far end: it reads what the firmware writes from master(), and
// answers there itself or lets the motion-board model answer.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "firmware/link/serial.h"
#include "firmware/platform/platform.h"
#include "sandbox_fixture.h"
#include "sim/motion/motion_board.h"
#include "sim/motion/pty.h"
#include "sim/sim_platform.h"
#include "sim/stick/sandbox.h"

// Only bounds a hung test; a working link never gets near it.
constexpr int64_t kPatienceUs = 600000000;

// Writes on the far end of the line.
inline void put(int fd, const std::string& s) {
    ASSERT_EQ(write(fd, s.data(), s.size()), static_cast<ssize_t>(s.size()));
}

// What the firmware writes within `us` of firmware time; with `oneLine`, up to
// the first line feed.
inline std::string drain(int fd, int64_t us, bool oneLine = false) {
    const int64_t end = platformMonotonicUs() + us;
    std::string got;
    char c;
    for (int64_t left; (left = end - platformMonotonicUs()) > 0;) {
        if (oneLine && !got.empty() && got.back() == '\n') break;
        if (platformWaitReadable(fd, left) == 1 && read(fd, &c, 1) == 1) got += c;
    }
    return got;
}

class SerialFixture : public SandboxTest {
  protected:
    void SetUp() override {
        SandboxTest::SetUp();
        std::string error;
        ASSERT_TRUE(sim::openPty(pty_));
        ASSERT_TRUE(sim::linkSerial(root_, pty_.slaveName, error)) << error;
        closePort();
        SerialCtrlInit();
        ASSERT_NE(s_fd.load(), -1);
    }

    void TearDown() override {
        board_.stop();
        closePort();
        sim::closePty(pty_);
        SandboxTest::TearDown();
    }

    // Forgets the firmware's port, as before start-up.
    static void closePort() {
        const int fd = s_fd.exchange(-1);
        if (fd >= 0) close(fd);
        s_se = -1;
    }

    int master() const { return pty_.master; }
    sim::MotionBoard& startBoard() {
        board_.start(pty_.master);
        return board_;
    }
    // The lines the firmware sent from trace mark `since` on. The board traces
    // a line before it answers, so every finished exchange is in here.
    std::vector<std::string> sentSince(uint64_t since = 0) const {
        std::vector<std::string> out;
        for (const sim::TraceLine& l : trace_.since(since)) {
            if (l.dir == '>') out.push_back(l.text);
        }
        return out;
    }

    sim::Pty pty_;
    sim::Trace trace_;
    sim::MotionBoard board_{&trace_};
};
