// printer-sim as a child process on a free port, for the scenario tests, the
// simulator's benchmark, the campaign and pvk4k simulate: started, its
// output kept flowing, stopped.
#pragma once

#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

class SimProcess {
  public:
    ~SimProcess() { stop(); }

    // Starts printer-sim (through `emulator` when not empty) on a free port
    // with `args` and TMPDIR set to `tmpDir` (its sandbox goes there), and
    // reads the port from its first line. The port, or 0.
    int start(const std::string& path, const std::vector<std::string>& args,
              const std::string& tmpDir, const std::string& emulator = {}) {
        std::vector<std::string> all{"--port", "0"};
        all.insert(all.end(), args.begin(), args.end());
        int port = 0;
        sscanf(launch(path, all, tmpDir, emulator).c_str(), "control page: http://127.0.0.1:%d/",
               &port);
        if (port == 0) stop();
        return port;
    }

    // Starts printer-sim with exactly `args`; its first line of output.
    std::string launch(const std::string& path, const std::vector<std::string>& args,
                       const std::string& tmpDir, const std::string& emulator = {}) {
        std::vector<std::string> env{"TMPDIR=" + tmpDir};  // the first one wins
        for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<const char*> argv;
        if (!emulator.empty()) argv.push_back(emulator.c_str());
        argv.push_back(path.c_str());
        for (const std::string& a : args) argv.push_back(a.c_str());
        argv.push_back(nullptr);
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return {};
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ < 0) return {};
        if (pid_ == 0) {
            // A test that dies (a sanitizer's abort) takes its simulator with
            // it: left running, it would hold the test runner's pipe open.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) _exit(127);
            dup2(out[1], STDOUT_FILENO);
            if (!stderrPath.empty()) {
                const int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (err >= 0) dup2(err, STDERR_FILENO);
            }
            // Nothing of the parent's (its client sockets): every run starts
            // with the same descriptors.
            close_range(3, ~0U, 0);
            execvpe(argv[0], const_cast<char* const*>(argv.data()), envp.data());
            _exit(127);
        }
        close(out[1]);
        FILE* lines = fdopen(out[0], "r");
        char line[4096] = "";
        if (fgets(line, sizeof line, lines) == nullptr) line[0] = '\0';
        // The firmware's log goes on to this pipe: keep it flowing.
        output_ = std::thread([lines] {
            char chunk[4096];
            while (fread(chunk, 1, sizeof chunk, lines) > 0) {
            }
            fclose(lines);
        });
        return line;
    }

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // Where the child's standard error goes, when set before it starts
    // (a sanitizer's report lands there); else this process's.
    std::string stderrPath;
    // The signal that ended the child, when one did (0: it exited).
    int endSignal = 0;

    // True once the child has ended by itself (crashed, or exited).
    bool ended() {
        if (pid_ <= 0) return true;
        if (!reaped_ && waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
        return reaped_;
    }

    // SIGTERM; the exit status, or -1 when it did not exit by itself.
    int stop() {
        if (pid_ <= 0) return -1;
        if (!reaped_) {
            kill(pid_, SIGTERM);
            reaped_ = waitpid(pid_, &status_, 0) == pid_;
        }
        pid_ = -1;
        endSignal = reaped_ && WIFSIGNALED(status_) ? WTERMSIG(status_) : 0;
        if (output_.joinable()) output_.join();
        const int result = reaped_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
        reaped_ = false;
        return result;
    }

  private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    std::thread output_;
};
