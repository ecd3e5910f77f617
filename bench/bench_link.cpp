// The controller link: parsing a status reply, and one whole exchange with
// the motion-board model over a pseudo-terminal.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "firmware/link/command.h"
#include "firmware/link/serial.h"
#include "firmware/link/status.h"
#include "sim/motion/motion_board.h"
#include "sim/motion/pty.h"
#include "sim/sim_platform.h"
#include "sim/stick/sandbox.h"

static void BM_ParseStatusReply(benchmark::State& state) {
    const char reply[] = "ok 3300mv/1500rpm/1480rpm/35T/0 Zmin0 Zmax1\n";
    storeStatusReply(reply, sizeof reply - 1);
    for (auto _ : state) {
        checkM105cmd();
        benchmark::DoNotOptimize(current_temperature.load());
    }
}
BENCHMARK(BM_ParseStatusReply);

// One "M105" out and its reply in, through the firmware's own serial code.
// The exchange waits 10 ms of firmware time after each write, which the
// virtual clock skips: the figure is the work of the exchange.
static void BM_ExchangeM105(benchmark::State& state) {
    const std::string root = sim::makeTempRoot();
    std::string error;
    sim::makeSandbox(root, error);
    sim::configure(root);
    sim::Pty pty;
    if (!sim::openPty(pty) || !sim::linkSerial(root, pty.slaveName, error)) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    sim::MotionBoard board;
    board.start(pty.master);
    s_se = -1;
    SerialCtrlInit();
    for (auto _ : state) sendGCode(checkprinter);
    board.stop();
    sim::closePty(pty);
    std::filesystem::remove_all(root);
}
BENCHMARK(BM_ExchangeM105)->Unit(benchmark::kMicrosecond);
