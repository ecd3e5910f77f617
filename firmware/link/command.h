// Command exchange with the motion board: one line out, wait for its "ok".
#pragma once

#include <cstddef>

// The fixed lines of the command vocabulary.
extern const char printPreStep1[];  // "G21"
extern const char printPreStep2[];  // "G91"
extern const char printPreStep3[];  // "G28 Z0"
extern const char printEndStep1[];  // "G0 Z40 F300"
extern const char printLedOn[];     // "M219"
extern const char printLedOff[];    // "M220"
extern const char printSts[];       // "M227"
extern const char checkprinter[];   // "M105"
extern const char highfan[];        // "M107 S250"

constexpr int kLineSize = 64;    // a command and its line feed, with the terminator
constexpr int kReplySize = 256;  // the reply buffer of one exchange

// Sender for the user-interface thread. An empty command is not sent; one
// that does not fit a line is refused and logged. -1 when nothing was sent.
int sendGCode(const char* cmd);

// Sender for the print thread (and the start-up fan command). `len` is not used.
int send_engine_commands(const char* cmd, int len);

void sendCmdG91();
void sendCmdG90();

// One exchange; the caller holds mutex_serialPort. -1 without a port, else 0.
int sendSerialData(const char* line, int len);

// Takes `n` fresh bytes already stored at reply[count]. True once the reply
// holds "ok". A buffer filled without "ok" keeps only its last byte, so an
// "ok" split across the boundary is still seen and the reply never overflows.
bool replyTakeBytes(char (&reply)[kReplySize + 1], int& count, int n);

// Copies the last complete reply to "M105" (kReplySize bytes).
void copyStatusReply(char (&out)[kReplySize]);

// Replaces the kept "M105" reply (for start-up and tests).
void storeStatusReply(const char* data, size_t len);
