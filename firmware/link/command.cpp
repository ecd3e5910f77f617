#include "link/command.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "app/global_data.h"
#include "link/serial.h"
#include "platform/platform.h"

const char printPreStep1[] = "G21";
const char printPreStep2[] = "G91";
const char printPreStep3[] = "G28 Z0";
const char printEndStep1[] = "G0 Z40 F300";
const char printLedOn[] = "M219";
const char printLedOff[] = "M220";
const char printSts[] = "M227";
const char checkprinter[] = "M105";
const char highfan[] = "M107 S250";

namespace {
char s_cmd[kLineSize];  // the print thread's line

// The last reply to "M105". Its own small lock: the parser on the main thread
// must not wait for a long exchange of the print thread to read it.
char rcv_buf_STS[kReplySize];
PlatformMutex rcv_buf_lock;

constexpr uint32_t kResendPolls = 1000;
constexpr uint32_t kHomingResendPolls = 1000000;

// Formats the line and runs one exchange under the port lock.
int exchange(char (&line)[kLineSize], const char* cmd) {
    const int len = snprintf(line, sizeof line, "%s%s", cmd, "\n");
    if (len < 0 || len >= kLineSize) {
        printf("command too long, not sent: %.70s\n", cmd);
        return -1;
    }
    std::lock_guard<PlatformMutex> lock(mutex_serialPort);
    return sendSerialData(line, len);
}
}  // namespace

int sendGCode(const char* cmd) {
    if (cmd == nullptr || cmd[0] == '\0') return -1;
    char line[kLineSize];
    return exchange(line, cmd);
}

int send_engine_commands(const char* cmd, int) {
    if (cmd == nullptr) return -1;
    return exchange(s_cmd, cmd);
}

void sendCmdG91() {
    sendGCode("G91");
}
void sendCmdG90() {
    sendGCode("G90");
}

bool replyTakeBytes(char (&reply)[kReplySize + 1], int& count, int n) {
    if (n <= 0) return false;
    count += n;
    reply[count] = '\0';
    if (memmem(reply, static_cast<size_t>(count), "ok", 2) != nullptr) return true;
    if (count >= kReplySize) {
        reply[0] = reply[count - 1];
        memset(reply + 1, 0, kReplySize);
        count = 1;
    }
    return false;
}

int sendSerialData(const char* line, int len) {
    const int port = s_fd;
    if (port == -1) return -1;
    sendDataTty(port, line, len);

    char reply[kReplySize + 1] = {};
    int received = 0;
    uint32_t polls = 0;
    const uint32_t limit = strstr(line, printPreStep3) ? kHomingResendPolls : kResendPolls;
    for (;;) {
        const int n = readSerialData(reply + received, 10, kReplySize - received);
        if (replyTakeBytes(reply, received, n)) break;
        if (++polls > limit) {
            polls = 0;
            sendDataTty(port, line, len);
        }
    }
    if (strstr(line, checkprinter) != nullptr) storeStatusReply(reply, kReplySize);
    return 0;
}

void copyStatusReply(char (&out)[kReplySize]) {
    std::lock_guard<PlatformMutex> lock(rcv_buf_lock);
    memcpy(out, rcv_buf_STS, kReplySize);
}

void storeStatusReply(const char* data, size_t len) {
    std::lock_guard<PlatformMutex> lock(rcv_buf_lock);
    memset(rcv_buf_STS, 0, kReplySize);
    memcpy(rcv_buf_STS, data, len < kReplySize ? len : kReplySize);
}
