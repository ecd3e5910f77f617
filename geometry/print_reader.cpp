#include "print_reader.h"

#include <cerrno>
#include <cstring>

#include <filesystem>

#include "firmware/print/layer_code.h"
#include "firmware/print/material_test.h"

namespace geometry {

void readHeader(FILE* fp, uint64_t size, PrintHeader& header) {
    header.fileSize = size;
    rewind(fp);
    const char* message = nullptr;
    header.verdict = readPrintHeader(fp, header.block, header.thumb, &message);
    header.message = message != nullptr ? message : "";
    // The block is read in one piece right after the magic; if the reader
    // got past it, it is all there.
    const off_t at = ftello(fp);
    header.blockRead = at >= static_cast<off_t>(PRINT_HEADER_SIZE);
    if (header.verdict != PRINT_FILE_OK) return;
    const EnvelopeVerdict envelope = judgePrintParameters(header.block);
    if (!envelope.inside) {
        header.verdict = PRINT_FILE_REFUSED;
        header.message = envelope.reason;
        header.outsideEnvelope = true;
    }
}

std::string blockRefusal(const PrintParameter& block) {
    if (const char* why = printBlockRefusal(block); why != nullptr) return why;
    const EnvelopeVerdict envelope = judgePrintParameters(block);
    return envelope.inside ? "" : envelope.reason;
}

std::string verdictText(const PrintHeader& header) {
    const std::string& why = header.message;
    switch (header.verdict) {
        case PRINT_FILE_OK: return "printable";
        case PRINT_FILE_REFUSED: return "refused: " + why;
        case PRINT_FILE_READ_ERROR: return "read error: " + why;
        default: return "not printable (" + std::to_string(header.verdict) + "): " + why;
    }
}

RecordRead readRecord(FILE* fp, uint64_t size, std::vector<uint8_t>& code) {
    RecordRead r;
    const off_t at = ftello(fp);
    if (at < 0) {
        r.status = Record::ReadError;
        return r;
    }
    r.offset = static_cast<uint64_t>(at);
    const uint64_t left = size > r.offset ? size - r.offset : 0;
    if (left == 0) {
        r.status = Record::End;
        return r;
    }
    if (left < 4) {
        r.status = Record::CountCut;
        r.left = left;
        return r;
    }
    uint8_t count[4];
    if (fread(count, 1, 4, fp) != 4) {
        r.status = Record::ReadError;
        return r;
    }
    r.count = uint32_t{count[0]} | uint32_t{count[1]} << 8 | uint32_t{count[2]} << 16 |
              uint32_t{count[3]} << 24;
    r.left = left - 4;
    if (r.count == 0) {
        r.status = Record::ZeroCount;
        return r;
    }
    if (r.count > LAYER_CODE_MAX) {
        r.status = Record::CountTooLarge;
        if (r.count <= r.left && fseeko(fp, static_cast<off_t>(r.count), SEEK_CUR) == 0) {
            r.skipped = true;
        }
        return r;
    }
    if (r.count > r.left) {
        r.status = Record::Cut;
        return r;
    }
    code.resize(r.count);
    if (fread(code.data(), 1, r.count, fp) != r.count) {
        r.status = Record::ReadError;
        return r;
    }
    r.status = Record::Ok;
    return r;
}

std::string recordProblem(const RecordRead& r) {
    switch (r.status) {
        case Record::Ok: return "";
        case Record::End: return "record missing: the file ends at byte " + withCommas(r.offset);
        case Record::CountCut:
            return "byte count cut off: only " + std::to_string(r.left) +
                   " bytes left at the end of the file";
        case Record::ZeroCount: return "byte count is 0";
        case Record::CountTooLarge:
            return "byte count " + withCommas(r.count) + " exceeds the largest possible " +
                   withCommas(LAYER_CODE_MAX);
        case Record::Cut:
            return "record cut off: " + withCommas(r.count) + " code bytes declared, " +
                   withCommas(r.left) + " left in the file";
        case Record::ReadError: return std::string("read error: ") + strerror(errno);
    }
    return "";
}

std::string withCommas(uint64_t v) {
    std::string digits = std::to_string(v);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) {
        digits.insert(static_cast<size_t>(i), ",");
    }
    return digits;
}

bool isMaterialTestFile(const std::string& path) {
    return std::filesystem::path(path).filename() == materialtestfilename;
}

}  // namespace geometry
