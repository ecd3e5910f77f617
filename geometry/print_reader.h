// Reading a print file the way the printer does: the head through the
// firmware's own reader, then the layer records one by one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "files.h"
#include "firmware/print/print_file.h"
#include "firmware/print/safety_envelope.h"

namespace geometry {

struct PrintHeader {
    uint64_t fileSize = 0;
    int verdict = PRINT_FILE_READ_ERROR;  // the printer's verdict at preview
    std::string message;                  // its log line, if any
    bool outsideEnvelope = false;         // readable, but refused for the machine's limits
    bool blockRead = false;               // `block` holds the file's bytes 8..179
    PrintParameter block{};
    uint8_t thumb[PREVIEW_THUMB_BYTES]{};
};

// Reads the head of `fp` from its start and judges it as the preview does:
// the reader's result, then the safety envelope. When the block was read
// whole (even if refused) the file stands at the first layer record.
void readHeader(FILE* fp, uint64_t size, PrintHeader& header);

// Why the printer refuses a parameter block at preview (the header reader's
// checks on the block, then the envelope), or "" when it takes it.
std::string blockRefusal(const PrintParameter& block);

// Said of a file the printer will refuse that a writer did not write.
inline const char* const NOTHING_WRITTEN = "; nothing written (--force writes it anyway)";

// "printable", or why the printer refuses the file at preview.
std::string verdictText(const PrintHeader& header);

enum class Record {
    Ok,             // count valid and all code bytes read
    End,            // no bytes left where a record should start
    CountCut,       // fewer than four bytes left for the count
    ZeroCount,      // count 0; the file stands after it
    CountTooLarge,  // count above LAYER_CODE_MAX
    Cut,            // the code runs past the end of the file
    ReadError,
};

struct RecordRead {
    Record status = Record::End;
    uint32_t count = 0;
    uint64_t offset = 0;   // where the record starts
    uint64_t left = 0;     // bytes after the count
    bool skipped = false;  // a too-large record that lies wholly in the file was passed over
};

// Reads the record at the file's position into `code`, which never grows
// beyond LAYER_CODE_MAX nor beyond what the file holds.
RecordRead readRecord(FILE* fp, uint64_t size, std::vector<uint8_t>& code);

// One line about a record that is not Ok.
std::string recordProblem(const RecordRead& r);

std::string withCommas(uint64_t v);

// The material-test file is text the printer reads by its name, not a print
// file, whatever its extension.
bool isMaterialTestFile(const std::string& path);
inline const char* const MATERIAL_TEST_NOTE =
    "this is the material-test settings file: the printer reads it as text by its name, "
    "not as a print file";

}  // namespace geometry
