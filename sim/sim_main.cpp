// printer-sim: the firmware's own main() runs on; this is its set-up. It
// builds the sandbox, the serial line with the motion board behind it, the
// log capture and the control server, then hands over to the firmware.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>
#include <CLI/CLI.hpp>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "firmware/link/status.h"
#include "firmware/platform/platform.h"
#include "firmware/print/material_test.h"
#include "firmware/print/print.h"
#include "firmware/print/print_file.h"
#include "firmware/ui/ui.h"
#include "sim/clock/virtual_clock.h"
#include "sim/control/server.h"
#include "sim/motion/pty.h"
#include "sim/panel/board_io.h"
#include "sim/stick/sandbox.h"
#include "sim/stick/usb_stick.h"
#include "sim/vat/mask.h"
#include "sim_platform.h"

namespace {

struct Options {
    std::string root;
    std::string speed = "1";
    bool paused = false;
    std::string schedule = "serial";
    int cpu = -1;
    int port = 8080;
    bool noServer = false;
    std::string trace;
    bool uncalibrated = false;
    std::string stick;
    bool noStick = false;
    bool stickWriteBack = false;
    bool noSerial = false;
    bool noFrameBuffer = false;
    int touchNoise = 0;
    sim::Resin resin;
};

sim::World* g_world = nullptr;
sim::ControlServer* g_http = nullptr;
sim::Pty g_pty;
bool g_ownRoot = false;

[[noreturn]] void fail(const std::string& why) {
    fprintf(stderr, "printer-sim: %s\n", why.c_str());
    _exit(1);
}

Options parseOptions(int argc, char** argv) {
    Options o;
    CLI::App app{"The printer's firmware on a simulated board.", "printer-sim"};
    app.add_option("--root", o.root,
                   "Sandbox root laid out like the board (default: a fresh temporary folder)");
    app.add_option("--speed", o.speed,
                   "Firmware time runs at most this many times faster than real time, or "
                   "\"max\": as fast as the work in it allows (default 1)")
        ->check([](const std::string& v) -> std::string {
            if (v == "max") return "";
            char* end = nullptr;
            const double n = strtod(v.c_str(), &end);
            if (v.empty() || *end != '\0' || !(n >= 0.01 && n <= 1e6)) {
                return "--speed takes a number from 0.01 to 1000000, or max";
            }
            return "";
        });
    app.add_flag("--paused", o.paused,
                 "Start with firmware time frozen; it moves by POST /api/run or /api/clock");
    app.add_option("--schedule", o.schedule,
                   "serial: what is due at one instant runs one thread at a time, so runs "
                   "repeat exactly (default); fibers: the same, the firmware's threads and the "
                   "models run as fibers on one thread, a hand-over a switch of stacks (faster; "
                   "a debugger sees one thread; threads under the sanitizers); parallel: side "
                   "by side, for the race detector")
        ->check(CLI::IsMember({"serial", "fibers", "parallel"}));
    app.add_option("--cpu", o.cpu,
                   "Serial schedule: the firmware's threads and the models share this CPU "
                   "(default: the one printer-sim starts on)")
        ->check(CLI::Range(0, 1023));
    auto* port = app.add_option("--port", o.port,
                                "Port of the control server on 127.0.0.1, 0 for a free one "
                                "(default 8080)")
                     ->check(CLI::Range(0, 65535));
    app.add_flag("--no-server", o.noServer, "No control server")->excludes(port);
    app.add_flag("--uncalibrated", o.uncalibrated,
                 "No touch calibration file: the firmware starts in its calibration");
    app.add_option("--touch-noise", o.touchNoise, "Noise on raw touch conversions, +/- this much")
        ->check(CLI::Range(0, 500));
    auto* stick = app.add_option("--stick", o.stick,
                                 "Insert this folder as the USB stick at start (default: the demo "
                                 "stick of the build)");
    auto* noStick =
        app.add_flag("--no-stick", o.noStick, "Start without a USB stick")->excludes(stick);
    app.add_flag("--stick-write-back", o.stickWriteBack,
                 "A stick is the folder itself, so a save on the panel changes it (default: a "
                 "copy in the sandbox)")
        ->excludes(noStick);
    app.add_flag("--no-serial", o.noSerial,
                 "No controller port (/dev/ttyS1 missing): the firmware runs without its board");
    app.add_flag("--no-fb", o.noFrameBuffer,
                 "No frame buffer (/dev/fb0 missing): the firmware halts at start-up with its "
                 "drive-board error");
    app.add_option("--resin-dp", o.resin.dp_mm,
                   "The resin's depth of penetration Dp in mm (default 0.12)")
        ->check(CLI::Range(0.001, 10.0));
    app.add_option("--resin-ec", o.resin.ec_mj_cm2,
                   "The resin's critical energy Ec in mJ/cm2 (default 8)")
        ->check(CLI::Range(0.01, 10000.0));
    app.add_option("--irradiance", o.resin.irradiance_mw_cm2,
                   "UV irradiance at the film at full intensity in mW/cm2 (default 3)")
        ->check(CLI::Range(0.01, 1000.0));
    app.add_option("--trace", o.trace,
                   "Write every line to and from the motion board to this file");
    app.set_version_flag("--version", "printer-sim " VELMOR_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and version are not errors; every other code of the parser's
        // is a usage error.
        const int status = app.exit(e) == 0 ? 0 : 2;
        std::cout.flush();
        std::cerr.flush();
        _exit(status);
    }
    return o;
}

// The firmware's standard output and error go to the terminal and into the
// log, each line stamped with the firmware time at which it was written:
// the streams write straight into the log from the thread that prints. A
// line left without its end (the firmware's last words before it halts, say)
// goes into the log once nothing more has come for a second of firmware
// time, and at exit.
// A carriage return at either end of a line ("set done!\n\r") carries no text.
void addLine(sim::Trace& log, std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '\r') line.erase(0, 1);
    log.add(' ', sim::logTextAsUtf8(line));
}

struct LogStream {
    LogStream(sim::Trace* into, int fd) : log(into), terminal(fd) {}
    sim::Trace* log;
    int terminal;
    std::mutex lock;
    std::string pending;
    int64_t lastWriteUs = 0;
    bool flushDue = false;

    // lock held
    void flushPending() {
        if (pending.empty()) return;
        std::string line = std::move(pending);
        pending.clear();
        addLine(*log, line);
    }
    // lock held
    void flushLater() {
        if (flushDue || pending.empty()) return;
        flushDue = true;
        sim::clock().at(lastWriteUs + kQuietUs, [this] {
            std::lock_guard<std::mutex> l(lock);
            flushDue = false;
            if (platformMonotonicUs() - lastWriteUs >= kQuietUs) {
                flushPending();
            } else {
                flushLater();
            }
        });
    }
    static constexpr int64_t kQuietUs = 1'000'000;
    // A longer line is cut: no line grows without bound.
    static constexpr size_t kLineMax = 4096;
};

std::vector<LogStream*> g_logStreams;

ssize_t writeLog(void* cookie, const char* data, size_t size) {
    auto& s = *static_cast<LogStream*>(cookie);
    (void)!write(s.terminal, data, size);
    std::lock_guard<std::mutex> l(s.lock);
    s.pending.append(data, size);
    size_t eol;
    while ((eol = s.pending.find('\n')) != std::string::npos) {
        addLine(*s.log, s.pending.substr(0, eol));
        s.pending.erase(0, eol + 1);
    }
    while (s.pending.size() > LogStream::kLineMax) {
        addLine(*s.log, s.pending.substr(0, LogStream::kLineMax));
        s.pending.erase(0, LogStream::kLineMax);
    }
    s.lastWriteUs = platformMonotonicUs();
    s.flushLater();
    return static_cast<ssize_t>(size);
}

void captureOutput(sim::Trace& log) {
    fflush(stdout);
    fflush(stderr);
    const cookie_io_functions_t io{nullptr, writeLog, nullptr, nullptr};
    auto* outStream = new LogStream(&log, STDOUT_FILENO);
    auto* errStream = new LogStream(&log, STDERR_FILENO);
    FILE* out = fopencookie(outStream, "w", io);
    FILE* err = fopencookie(errStream, "w", io);
    if (out == nullptr || err == nullptr) return;
    g_logStreams = {outStream, errStream};
    // Unbuffered, so a line without its end reaches the log too.
    setvbuf(out, nullptr, _IONBF, 0);
    setvbuf(err, nullptr, _IONBF, 0);
    stdout = out;
    stderr = err;
}

// What is left of a line at exit.
void flushLogs() {
    fflush(stdout);
    fflush(stderr);
    for (LogStream* s : g_logStreams) {
        std::lock_guard<std::mutex> l(s->lock);
        s->flushPending();
    }
}

// The calibration file the firmware would have after calibrating this
// simulated panel; an existing one (a reused --root) is kept.
void provideCalibration(const std::string& root, bool uncalibrated) {
    const std::string path = root + "/opt/Pravik3D/tpAdjustdata.txt";
    if (uncalibrated) {
        std::remove(path.c_str());
        return;
    }
    if (access(path.c_str(), F_OK) == 0) return;
    const sim::TouchPhysics p = sim::touchChip().physics();
    if (FILE* f = fopen(path.c_str(), "wb")) {
        fprintf(f, "10\r\n%d\r\n%d\r\n%d\r\n%d\r\n", static_cast<int>(std::fabs(p.x_per1000)),
                static_cast<int>(std::fabs(p.y_per1000)), static_cast<int>(p.x_origin),
                static_cast<int>(p.y_origin));
        fclose(f);
    }
}

// Between two steps of the firmware, so nothing writes into the sandbox
// while it goes.
[[noreturn]] void shutDown() {
    sim::clock().inject([] {
        sim::closePty(g_pty);
        if (g_ownRoot && g_world != nullptr) {
            std::error_code ec;
            std::filesystem::remove_all(g_world->root, ec);
        }
        flushLogs();
        const char bye[] = "printer-sim: stopped\n";
        (void)!write(STDOUT_FILENO, bye, sizeof bye - 1);
        _exit(0);
    });
    _exit(0);
}

bool underDebugger() {
    FILE* status = fopen("/proc/self/status", "r");
    if (status == nullptr) return false;
    char line[256];
    long tracer = 0;
    while (fgets(line, sizeof line, status) != nullptr) {
        if (sscanf(line, "TracerPid: %ld", &tracer) == 1) break;
    }
    fclose(status);
    return tracer != 0;
}

}  // namespace

void platformStart(int argc, char** argv) {
    Options o = parseOptions(argc, argv);
#ifdef VELMOR_DEMO_STICK
    if (o.stick.empty() && !o.noStick && std::filesystem::is_directory(VELMOR_DEMO_STICK)) {
        o.stick = VELMOR_DEMO_STICK;
    }
#endif
    // The firmware changes the working directory: keep no relative path.
    if (!o.stick.empty()) o.stick = std::filesystem::absolute(o.stick).lexically_normal().string();

    // Signals are taken by one thread of ours; every other thread, the
    // firmware's included, inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    // A signal taken by sigwait never reaches a debugger: under one, Ctrl-C
    // is left to it, to break in.
    if (!underDebugger()) sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    // The firmware's main thread is the clock's first party, the models next:
    // the order in which what is due at one instant runs.
    sim::ClockSettings clockSettings;
    clockSettings.speed = o.speed == "max" ? 0 : strtod(o.speed.c_str(), nullptr);
    clockSettings.paused = o.paused;
    clockSettings.schedule = o.schedule == "parallel" ? sim::Schedule::Parallel
                             : o.schedule == "fibers" ? sim::Schedule::Fibers
                                                      : sim::Schedule::Serial;
    clockSettings.cpu = o.cpu;
    sim::clock().configure(clockSettings);
    sim::clock().joinCallingThread("main");

    // The first line says where the control page is, so a script that
    // asked for a free port learns it.
    std::string error;
    g_world = new sim::World;
    if (o.noServer) {
        printf("control page: none (--no-server)\n");
    } else {
        g_http = new sim::ControlServer(*g_world);
        const int port = g_http->bind(o.port, error);
        if (port == 0) fail(error);
        printf("control page: http://127.0.0.1:%d/\n", port);
    }
    fflush(stdout);

    std::string root = o.root;
    if (root.empty()) {
        root = sim::makeTempRoot();
        if (root.empty()) fail("cannot create a temporary sandbox");
        g_ownRoot = true;
    }
    root = std::filesystem::absolute(root).lexically_normal().string();
    if (!sim::makeSandbox(root, error)) fail(error);
    if (o.noFrameBuffer) std::filesystem::remove(root + "/dev/fb0");
#ifdef VELMOR_GBK16_FONT
    {  // The panel's GBK font from the build; without it the firmware runs on, no CJK text.
        std::error_code ignored;
        std::filesystem::copy_file(VELMOR_GBK16_FONT, root + "/opt/Pravik3D/GBK16.FON",
                                   std::filesystem::copy_options::update_existing, ignored);
    }
#endif
    sim::configure(root);
    sim::touchChip().setNoise(o.touchNoise);
    provideCalibration(root, o.uncalibrated);
    sim::usbStick().attach(root);
    sim::usbStick().setWriteBack(o.stickWriteBack);
    sim::setShellHandler([](const char* command) { return sim::usbStick().shell(command); });
    if (!o.stick.empty() && !sim::usbStick().insert(o.stick, error)) fail(error);

    g_world->root = root;
    g_world->stickDir = o.stick;
    // The vat sees the mask and the board; a job's platform starts one layer
    // above the film.
    g_world->vat.setResin(o.resin);
    g_world->vat.attachMask(root);
    sim::onMaskWritten([] {
        // A job writes the mask only once it knows what it moves by.
        if (sim::onJobThread()) g_world->vat.setJobLayer(jobMotionParameters().ZThick);
        g_world->vat.maskWritten(platformMonotonicUs());
    });
    sim::setJobListener([](bool started) {
        if (started) {
            // On the thread that starts the job, before it runs: what the
            // firmware holds is its own to read here.
            sim::JobRecord job;
            job.start_us = platformMonotonicUs();
            const PreviewFileIdentity& previewed = preview_file_identity;
            job.file = sim::logTextAsUtf8(
                std::string(previewed.name, strnlen(previewed.name, sizeof previewed.name)));
            job.material_test = material_test.load() != 0;
            job.reading = current_temperature.load();
            g_world->jobs.started(std::move(job));
            g_world->vat.jobStarted();
        } else {
            g_world->vat.jobEnded();
            g_world->jobs.ended(platformMonotonicUs(), getPrintStatus(),
                                file_information.current_layer.load(),
                                file_information.total_layer.load());
        }
    });
    // What the firmware does when the light comes on, for the board's record.
    g_world->board.setLightContext([] {
        sim::LightContext c;
        c.job = sim::jobAlive();
        c.window = current_window_ID.load();
        c.material_test = material_test.load() != 0;
        return c;
    });
    if (!o.trace.empty() && !g_world->gcode.mirrorTo(o.trace)) fail("cannot write " + o.trace);
    if (!sim::openPty(g_pty)) fail("cannot open a pseudo-terminal");
    if (!o.noSerial && !sim::linkSerial(root, g_pty.slaveName, error)) fail(error);
    sim::setSerialLine(g_pty.slave);
    g_world->board.start(g_pty.master);

    if (!o.noServer) {
        // Requests are taken once the firmware's start-up has reached its
        // first wait: the descriptors it opens do not depend on when a
        // client connects, so two runs log the same.
        sim::clock().whenFirstSettled([] { g_http->serve(); });
    }
    std::thread signals([stopSignals] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        shutDown();
    });
    pthread_setname_np(signals.native_handle(), "sim-signals");  // before the line below
    signals.detach();

    printf("printer-sim: sandbox %s, speed %s%s%s\n", root.c_str(), o.speed == "max" ? "" : "x",
           o.speed.c_str(), o.paused ? ", paused" : "");
    fflush(stdout);
    captureOutput(g_world->log);
}
