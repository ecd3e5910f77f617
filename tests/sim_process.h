// printer-sim as a child process on a free port, for the scenario tests and
// the simulator's benchmark: started, its output kept flowing, stopped.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

class SimProcess {
  public:
    ~SimProcess() { stop(); }

    // Starts printer-sim (through `emulator` when not empty) with `args` and
    // TMPDIR set to `tmpDir` (its sandbox goes there), and reads its output up
    // to the control page's address, which it prints once the server listens.
    // Retries on another port if the one picked was taken meanwhile. The
    // port, or 0.
    int start(const std::string& path, const std::vector<std::string>& args,
              const std::string& tmpDir, const std::string& emulator = {}) {
        std::vector<std::string> env{"TMPDIR=" + tmpDir};  // the first one wins
        for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        for (int attempt = 0; attempt < 5; ++attempt) {
            const int port = freePort();
            const std::string portText = std::to_string(port);
            std::vector<const char*> argv;
            if (!emulator.empty()) argv.push_back(emulator.c_str());
            for (const char* a : {path.c_str(), "--port", portText.c_str()}) argv.push_back(a);
            for (const std::string& a : args) argv.push_back(a.c_str());
            argv.push_back(nullptr);
            int out[2];
            if (pipe2(out, O_CLOEXEC) != 0) return 0;
            pid_ = fork();
            if (pid_ < 0) return 0;
            if (pid_ == 0) {
                dup2(out[1], STDOUT_FILENO);
                // Nothing of the parent's (its client sockets): every run
                // starts with the same descriptors.
                close_range(3, ~0U, 0);
                execvpe(argv[0], const_cast<char* const*>(argv.data()), envp.data());
                _exit(127);
            }
            close(out[1]);
            FILE* lines = fdopen(out[0], "r");
            bool up = false;
            char line[4096];
            while (!up && fgets(line, sizeof line, lines) != nullptr) {
                up = strstr(line, "control page at") != nullptr;
            }
            // The firmware's log goes on to this pipe: keep it flowing.
            output_ = std::thread([lines] {
                char chunk[4096];
                while (fread(chunk, 1, sizeof chunk, lines) > 0) {
                }
                fclose(lines);
            });
            if (up) return port;
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
            output_.join();
        }
        return 0;
    }

    bool running() const { return pid_ > 0; }

    // SIGTERM; the exit status, or -1 when it did not exit by itself.
    int stop() {
        if (pid_ <= 0) return -1;
        kill(pid_, SIGTERM);
        int status = 0;
        const pid_t done = waitpid(pid_, &status, 0);
        pid_ = -1;
        if (output_.joinable()) output_.join();
        return done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    // A port the system just handed out, so very likely still free.
    static int freePort() {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        const bool ok = bind(s, reinterpret_cast<sockaddr*>(&a), len) == 0 &&
                        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0;
        close(s);
        return ok ? ntohs(a.sin_port) : 0;
    }

    pid_t pid_ = -1;
    std::thread output_;
};
