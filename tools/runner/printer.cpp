#include "printer.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>

namespace runner {

std::string queryValue(const std::string& v) {
    std::string out;
    for (const unsigned char c : v) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char e[4];
            snprintf(e, sizeof e, "%%%02X", c);
            out += e;
        }
    }
    return out;
}

std::string printerSimBesideMe() {
    if (const char* given = getenv("VELMOR_PRINTER_SIM"); given != nullptr && *given != '\0') {
        return given;
    }
    std::error_code ec;
    const std::filesystem::path me = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? "printer-sim" : (me.parent_path() / "printer-sim").string();
}

Printer::~Printer() {
    stop();
}

bool Printer::start(const PrinterOptions& o, std::string& error) {
    failure_.clear();
    process_.stderrPath = o.stderrPath;
    std::vector<std::string> args{"--paused", "--speed", "max", "--schedule", "fibers"};
    args.insert(args.end(), o.args.begin(), o.args.end());
    const std::string path = o.printerSim.empty() ? printerSimBesideMe() : o.printerSim;
    const int port = process_.start(path, args, o.tmpDir);
    if (port == 0) {
        error = "printer-sim did not come up (" + path + ")";
        failure_ = error;
        return false;
    }
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port);
    client_->set_read_timeout(o.timeoutSeconds, 0);
    client_->set_write_timeout(o.timeoutSeconds, 0);
    // Answered once its set-up is done and the firmware waits.
    if (!client_->Get("/api/clock")) {
        error = "printer-sim did not finish its set-up";
        failure_ = error;
        return false;
    }
    return true;
}

int Printer::stop() {
    client_.reset();
    return process_.running() ? process_.stop() : -1;
}

void Printer::fail(const std::string& why) {
    if (!failure_.empty()) return;
    failure_ = process_.ended() ? "printer-sim ended while " + why : "no answer to " + why;
}

std::string Printer::getBytes(const std::string& path) {
    if (!ok() || !client_) return {};
    auto res = client_->Get(path);
    if (!res || res->status != 200) {
        fail("GET " + path + (res ? " (status " + std::to_string(res->status) + ")" : ""));
        return {};
    }
    return res->body;
}

json Printer::get(const std::string& path) {
    const std::string body = getBytes(path);
    return ok() ? json::parse(body, nullptr, false) : json();
}

int Printer::post(const std::string& path, const json& body, json* reply) {
    if (!ok() || !client_) return -1;
    auto res = client_->Post(path, body.is_null() ? "" : body.dump(), "application/json");
    if (!res) {
        fail("POST " + path);
        return -1;
    }
    if (reply != nullptr) *reply = json::parse(res->body, nullptr, false);
    return res->status;
}

json Printer::run(int64_t ms) {
    json state;
    if (post("/api/run", json{{"ms", ms}}, &state) != 200) {
        fail("a run of " + std::to_string(ms) + " ms");
        return json();
    }
    return state;
}

bool Printer::runUntil(const std::string& field, const json& value, int64_t limitMs) {
    json state;
    const json body{{"until", {{"field", field}, {"equals", value}}}, {"limit_ms", limitMs}};
    if (post("/api/run", body, &state) != 200) {
        fail("a run until " + field);
        return false;
    }
    return state["run"]["reached"] == true;
}

}  // namespace runner
