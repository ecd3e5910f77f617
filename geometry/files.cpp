#include "files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace geometry {

File openFile(const std::string& path, const char* mode, std::string& error) {
    File fp(fopen(path.c_str(), mode));
    if (!fp) {
        error = "cannot open " + path + ": " + strerror(errno);
        return fp;
    }
    struct stat st {};
    if (fstat(fileno(fp.get()), &st) == 0 && S_ISDIR(st.st_mode)) {
        error = path + " is a directory";
        fp.reset();
    }
    return fp;
}

bool fileSize(FILE* fp, uint64_t& size) {
    struct stat st {};
    if (fstat(fileno(fp), &st) != 0 || st.st_size < 0) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool closeFile(File& fp, const std::string& path, std::string& error) {
    if (fclose(fp.release()) == 0) return true;
    error = "cannot write " + path + ": " + strerror(errno);
    return false;
}

}  // namespace geometry
