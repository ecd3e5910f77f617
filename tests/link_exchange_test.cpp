#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <string>

#include "firmware/link/command.h"
#include "firmware/link/status.h"
#include "firmware/platform/platform.h"
#include "serial_fixture.h"
#include "sim/clock/virtual_clock.h"

namespace {

std::string readLine(int fd) {
    return drain(fd, kPatienceUs, true);
}

std::string keptStatus() {
    char kept[kReplySize];
    copyStatusReply(kept);
    return std::string(kept, strnlen(kept, sizeof kept));
}

// An exchange on a thread of its own, as the user-interface or print thread
// runs it: it blocks until the far end says "ok".
class Exchange {
  public:
    Exchange(int master, std::function<int()> call)
        : master_(master), thread_("exchange", [this, call] {
              result_ = call();
              done_ = true;
          }) {}
    ~Exchange() {
        // Never leave the thread blocked, whatever the test asserted.
        while (!done_) {
            (void)!write(master_, "ok\n", 3);
            platformSleepUs(100000);
        }
        thread_.join();
    }
    bool done() const { return done_; }
    int result() const { return result_; }
    bool finishes(int64_t us = 60000000) const {
        const int64_t end = platformMonotonicUs() + us;
        while (!done_ && platformMonotonicUs() < end) platformSleepUs(1000);
        return done_;
    }

  private:
    int master_;
    std::atomic<bool> done_{false};
    std::atomic<int> result_{-2};
    sim::PartyThread thread_;
};

class ExchangeTest : public SerialFixture {
  protected:
    // One exchange seen from the far end. `held` is answered first and must
    // neither end the exchange nor touch the kept status reply.
    void roundTrip(std::function<int()> call, const std::string& line, const std::string& reply,
                   const std::string& held = "") {
        const std::string status = keptStatus();
        Exchange ex(master(), std::move(call));
        EXPECT_EQ(readLine(master()), line);
        if (!held.empty()) {
            put(master(), held);
            platformSleepUs(500000);  // some 50 polls
            EXPECT_FALSE(ex.done()) << held;
            EXPECT_EQ(keptStatus(), status);
        }
        put(master(), reply);
        EXPECT_TRUE(ex.finishes()) << line;
        EXPECT_EQ(ex.result(), 0) << line;
    }
};

using ExchangeResend = ExchangeTest;

TEST_F(ExchangeTest, WritesTheLineOnceAndEndsOnOk) {
    roundTrip([] { return sendGCode("G90"); }, "G90\n", "ok\n");
    EXPECT_EQ(drain(master(), 200000), "");
    roundTrip([] { return send_engine_commands(printEndStep1, 0); }, "G0 Z40 F300\n", "ok\n");
}

TEST_F(ExchangeTest, OkSplitOverReadsOrInsideAWordEndsIt) {
    roundTrip([] { return sendGCode("G91"); }, "G91\n", "k\n", "o");
    roundTrip([] { return sendGCode("G21"); }, "G21\n", "looking\n");
}

TEST_F(ExchangeTest, EmptyAndOverlongCommandsAreNotSent) {
    const std::string overlong(kLineSize - 1, 'G');  // no room left for its terminator
    const std::function<int()> refused[] = {
        [] { return sendGCode(""); },
        [&] { return sendGCode(overlong.c_str()); },
        [&] { return send_engine_commands(overlong.c_str(), kLineSize - 1); },
    };
    for (const auto& call : refused) {
        Exchange ex(master(), call);
        EXPECT_TRUE(ex.finishes(5000000));
        EXPECT_EQ(ex.result(), -1);
    }
    EXPECT_EQ(drain(master(), 200000), "");

    const std::string longest(kLineSize - 2, 'G');
    roundTrip([&] { return sendGCode(longest.c_str()); }, longest + "\n", "ok\n");
    roundTrip([&] { return send_engine_commands(longest.c_str(), 0); }, longest + "\n", "ok\n");
}

TEST_F(ExchangeTest, FullReplyWithoutOkIsNoAnswer) {
    storeStatusReply("none", 4);
    const auto status = [] { return sendGCode(checkprinter); };
    roundTrip(status, "M105\n", "ok\n", std::string(300, 'x'));
    // The "o" fills the buffer; the "k" after it still completes the "ok".
    roundTrip(status, "M105\n", "k\n", std::string(kReplySize - 1, 'x') + "o");
    EXPECT_EQ(keptStatus(), "ok\n");
}

TEST_F(ExchangeTest, BoardModelAnswersTwoSendersWithoutResends) {
    sim::MotionBoard& board = startBoard();
    board.setTemperature(47);
    constexpr int kRounds = 20;
    sim::PartyThread ui("ui", [] {
        for (int i = 0; i < kRounds; ++i) EXPECT_EQ(sendGCode(checkprinter), 0);
    });
    for (int i = 0; i < kRounds; ++i) EXPECT_EQ(send_engine_commands(printLedOff, 0), 0);
    ui.join();
    EXPECT_EQ(board.snapshot().lines_received, 2u * kRounds);
    checkM105cmd();
    EXPECT_EQ(current_temperature, 47);
}

TEST_F(ExchangeResend, UnansweredLineIsWrittenAgain) {
    const int64_t start = platformMonotonicUs();
    Exchange ex(master(), [] { return sendGCode("G1 Z5"); });
    EXPECT_EQ(readLine(master()), "G1 Z5\n");
    EXPECT_EQ(readLine(master()), "G1 Z5\n");
    EXPECT_GE(platformMonotonicUs() - start, 9000000);  // some 1000 polls of 10 ms
    put(master(), "ok\n");
    EXPECT_TRUE(ex.finishes());
}

TEST_F(ExchangeResend, HomingIsNotWrittenAgain) {
    Exchange ex(master(), [] { return sendGCode(printPreStep3); });
    EXPECT_EQ(readLine(master()), "G28 Z0\n");
    EXPECT_EQ(drain(master(), 30000000), "");  // 3000 polls
    put(master(), "ok\n");
    EXPECT_TRUE(ex.finishes());
}

}  // namespace
