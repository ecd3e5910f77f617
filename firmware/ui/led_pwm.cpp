// The stored UV intensity: a volatile setting in /var, a persistent file
// with three check lines in the settings folder.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/global_data.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace {

constexpr uint8_t LED_pwm_max = 250;

// One line of at most `max` characters as a number; false at the end.
bool readNumber(FILE* fp, int max, long& value) {
    char line[16];
    if (fgets(line, max + 1, fp) == nullptr) return false;
    value = strtol(line, nullptr, 10);
    // The rest of a longer line is not the next line.
    if (line[0] != '\0' && line[strlen(line) - 1] != '\n') {
        for (int c; (c = fgetc(fp)) != EOF && c != '\n';) {
        }
    }
    return true;
}

}  // namespace

uint8_t ledPwmGet() {
    const std::string folder = sysPath(Velmor30Path);
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return LED_pwm_max;
    const int res = chdir(folder.c_str());
    printf("res = %d\n", res);
    char cwd[512] = "";
    if (getcwd(cwd, sizeof cwd) == nullptr) cwd[0] = '\0';
    printf("temp = %s\n", cwd);

    long value = 0;
    if (FILE* fp = fopen(sysPath("/var/ledpwm.txt").c_str(), "r")) {
        const bool read = readNumber(fp, 9, value);
        fclose(fp);
        if (read && value >= 50 && value <= 250) {
            closedir(dir);
            return static_cast<uint8_t>(value);
        }
    }
    FILE* fp = fopen(sysPath("/opt/Pravik3D/ledpwm.txt").c_str(), "r");
    if (fp == nullptr) {
        // "Cannot open the file", in the panel's GBK encoding.
        puts(
            "\xb2\xbb\xc4\xdc\xb4\xf2\xbf\xaa\xce\xc4\xbc\xfe"
            "tpAdjustdata.txt");
        closedir(dir);
        return LED_pwm_max;
    }
    uint8_t result = LED_pwm_max;
    static constexpr long kChecks[3] = {10, 20, 30};
    bool valid = true;
    for (long check : kChecks) {
        if (!readNumber(fp, 15, value)) {
            valid = false;  // cut short: no intensity was stored
            break;
        }
        printf("check_num=%d\n", static_cast<int>(value));
        if (value != check) {
            valid = false;
            break;
        }
    }
    // A file cut short by a power cut has no intensity: the default, not
    // whatever its last line held. Nor has one above the lamp's highest
    // intensity: its low eight bits would be any intensity at all.
    if (valid && readNumber(fp, 15, value) && value >= 0 && value <= LED_pwm_max) {
        result = static_cast<uint8_t>(value);
    }
    fclose(fp);
    closedir(dir);
    return result;
}

namespace {

// Written beside the old file and renamed over it, so a power cut leaves the
// old setting or the new one, never half of one.
bool replaceFile(const std::string& path, const char* text, const char* failure) {
    const std::string temp = path + ".new";
    FILE* fp = fopen(temp.c_str(), "w");
    if (fp == nullptr) {
        puts(failure);
        return false;
    }
    const bool written = fputs(text, fp) >= 0 && fflush(fp) == 0 && fsync(fileno(fp)) == 0;
    if (fclose(fp) != 0 || !written || rename(temp.c_str(), path.c_str()) != 0) {
        perror(path.c_str());
        remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

void ledPwmSave(int value) {
    char text[64];
    snprintf(text, sizeof text, "%d\r\n%d\r\n%d\r\n%d\r\n", 10, 20, 30, value);
    // "Cannot open the file", in the panel's GBK encoding.
    if (replaceFile(sysPath("/opt/Pravik3D/ledpwm.txt"), text,
                    "\xb2\xbb\xc4\xdc\xb4\xf2\xbf\xaa\xce\xc4\xbc\xfe")) {
        platformShell("sync");
    }
}

void ledPwmSaveVolatile(int value) {
    char text[16];
    snprintf(text, sizeof text, "%d\r\n", value);
    replaceFile(sysPath("/var/ledpwm.txt"), text, "cannot write /var/ledpwm.txt");
    platformShell("sync");
}
