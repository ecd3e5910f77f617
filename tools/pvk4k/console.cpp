#include "commands.h"

namespace pvk4k {

void Console::warn(const std::string& text) const {
    err << "pvk4k: warning: " << text << '\n';
}

void Console::note(const std::string& text) const {
    err << "pvk4k: " << text << '\n';
}

int Console::fail(const std::string& text) const {
    err << "pvk4k: error: " << text << '\n';
    return EXIT_ERROR;
}

void Console::step(const char* label, uint64_t n, uint64_t total) const {
    if (progress) err << '\r' << label << ' ' << n << '/' << total << std::flush;
}

void Console::endSteps() const {
    if (progress) err << "\r\033[K" << std::flush;
}

geometry::WalkReport walkReport(const Console& con) {
    return {[&con](const std::string& w) { con.warn(w); },
            [&con](uint32_t i, uint32_t n) { con.step("decoding layer", i, n); }};
}

}  // namespace pvk4k
