// Files opened with stdio, closed on every way out.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace geometry {

struct FileCloser {
    void operator()(FILE* fp) const { fclose(fp); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Opens `path`; on failure a null File and a one-line reason in `error`.
File openFile(const std::string& path, const char* mode, std::string& error);
// Size of an open file; false when it cannot be had.
bool fileSize(FILE* fp, uint64_t& size);
// Closes the file, reporting a failed flush; false with `error` set.
bool closeFile(File& fp, const std::string& path, std::string& error);

}  // namespace geometry
