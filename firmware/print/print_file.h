// The print file: header, parameter block, thumbnail, layer records; the
// preview read, the header check at print start and the parameter write-back.
//
// Layout (little-endian): "Pravik3D", the 172-byte parameter block, the
// thumbnail (thumb_width x thumb_height RGB565, high byte first), then
// layer_count records of a 32-bit byte count and that many code bytes.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "usb/tf.h"

constexpr char PRINT_FILE_MAGIC[8] = {'P', 'r', 'a', 'v', 'i', 'k', '3', 'D'};
constexpr size_t PRINT_FILE_MAGIC_SIZE = 8;
constexpr size_t PRINT_PARAMETER_SIZE = 172;
constexpr size_t PRINT_HEADER_SIZE = PRINT_FILE_MAGIC_SIZE + PRINT_PARAMETER_SIZE;  // 180
constexpr size_t PREVIEW_THUMB_BYTES = 36000;  // the preview buffer: 18,000 pixels
constexpr size_t HEADER_BUFFER_BYTES = 153600;

// The parameter block, field for field as it stands in the file from offset
// 8. Every field is naturally aligned, so the layout needs no packing (the
// assertions below hold it); the board and our machines are little-endian.
struct PrintParameter {
    uint8_t reserved0[28];
    float buffer_width;  // the layer buffer holds buffer_width * buffer_height * 2 bytes
    float buffer_height;
    float ZThick;         // mm
    float curing_time;    // ms
    float burnin_time;    // ms
    float bottom_layers;  // recomputed as burnin_range / ZThick on every read
    float stable_time;    // ms
    float b_stable_time;  // ms
    float burnin_range;   // mm
    uint8_t reserved1[4];
    float lift_distance1;  // mm
    float lift_distance2;  // mm
    float lift_speed2;     // mm/min
    float drop_speed;      // mm/min
    float lift_speed1;     // mm/min
    uint8_t reserved2[68];
    int32_t layer_count;
    uint8_t reserved3[4];
    int32_t thumb_width;
    int32_t thumb_height;
};

// The floats the printer uses as read, by name, in file order; bottom_layers
// is recomputed on every read.
struct PrintFloatField {
    const char* name;
    float PrintParameter::*member;
};
inline constexpr PrintFloatField kPrintFloats[] = {
    {"buffer_width", &PrintParameter::buffer_width},
    {"buffer_height", &PrintParameter::buffer_height},
    {"ZThick", &PrintParameter::ZThick},
    {"curing_time", &PrintParameter::curing_time},
    {"burnin_time", &PrintParameter::burnin_time},
    {"stable_time", &PrintParameter::stable_time},
    {"b_stable_time", &PrintParameter::b_stable_time},
    {"burnin_range", &PrintParameter::burnin_range},
    {"lift_distance1", &PrintParameter::lift_distance1},
    {"lift_distance2", &PrintParameter::lift_distance2},
    {"lift_speed2", &PrintParameter::lift_speed2},
    {"drop_speed", &PrintParameter::drop_speed},
    {"lift_speed1", &PrintParameter::lift_speed1},
};
inline constexpr size_t kPrintFloatCount = sizeof kPrintFloats / sizeof kPrintFloats[0];

// File offset of a field.
#define PRINT_FILE_OFFSET(field) (PRINT_FILE_MAGIC_SIZE + offsetof(PrintParameter, field))
static_assert(sizeof(PrintParameter) == PRINT_PARAMETER_SIZE);
static_assert(PRINT_FILE_OFFSET(buffer_width) == 36);
static_assert(PRINT_FILE_OFFSET(buffer_height) == 40);
static_assert(PRINT_FILE_OFFSET(ZThick) == 44);
static_assert(PRINT_FILE_OFFSET(curing_time) == 48);
static_assert(PRINT_FILE_OFFSET(burnin_time) == 52);
static_assert(PRINT_FILE_OFFSET(bottom_layers) == 56);
static_assert(PRINT_FILE_OFFSET(stable_time) == 60);
static_assert(PRINT_FILE_OFFSET(b_stable_time) == 64);
static_assert(PRINT_FILE_OFFSET(burnin_range) == 68);
static_assert(PRINT_FILE_OFFSET(lift_distance1) == 76);
static_assert(PRINT_FILE_OFFSET(lift_distance2) == 80);
static_assert(PRINT_FILE_OFFSET(lift_speed2) == 84);
static_assert(PRINT_FILE_OFFSET(drop_speed) == 88);
static_assert(PRINT_FILE_OFFSET(lift_speed1) == 92);
static_assert(PRINT_FILE_OFFSET(layer_count) == 164);
static_assert(PRINT_FILE_OFFSET(thumb_width) == 172);
static_assert(PRINT_FILE_OFFSET(thumb_height) == 176);

struct PreviewFileInformation {
    uint8_t pic[PREVIEW_THUMB_BYTES];  // the thumbnail as read
    const char* file_name;             // the selected entry of the file list
};

// From the file's status; the times as asctime text of the UTC time.
struct OpenFileInf {
    uint32_t blksize;
    uint32_t size;
    uint32_t blocks;
    char atime[32];
    char mtime[32];
    char ctime[32];
};

// The file the last successful preview read read, as it was then. Saving
// writes only into this file and a job prints only this file: the same name
// on the same stick (no insert or pull since), the same size and time.
struct PreviewFileIdentity {
    bool valid = false;
    char name[FILE_NAME_SIZE] = "";
    int64_t size = 0;
    int64_t mtime_ns = 0;
    uint32_t stick = 0;  // usb_stick_changes at the read
};

extern PrintParameter printparameter;
extern PreviewFileIdentity preview_file_identity;
extern PreviewFileInformation preview_file_information;
extern OpenFileInf open_file_inf;
extern FILE* printfp;  // preview reader and print thread, never at once
// While 1 the preview read keeps the parameters already in printparameter.
extern uint8_t skipLoadParameter;
// The layer buffer of the running job and what it may hold.
extern uint8_t* display_2K_data;
extern uint32_t display_2K_capacity;
extern uint8_t buf1[HEADER_BUFFER_BYTES];  // the header as read at print start

// Results of reading a print file's head.
enum : int {
    PRINT_FILE_REFUSED = 0,  // not a print file, or values it cannot be printed with
    PRINT_FILE_OK = 1,
    PRINT_FILE_READ_ERROR = 2,
    PRINT_FILE_OPEN_ERROR = 3,
    PRINT_FILE_NO_MEMORY = 4,
};

// Bytes of the thumbnail the block declares; 0 when they are refused.
uint32_t thumbnailBytes(const PrintParameter& p);
// The layer buffer's capacity the block asks for, saturated to 32 bits.
uint32_t layerBufferCapacity(const PrintParameter& p);
// Float to unsigned as the board's converter does it: NaN and negatives 0,
// too large the largest value.
uint32_t floatToU32(float f);

// Why the reader refuses a block for its own values (a negative count, a
// thumbnail too large for the preview, a float it uses that is NaN or
// infinite, ZThick 0), naming the field; nullptr when it takes the block.
// The text has static storage and no later call changes it.
const char* printBlockRefusal(const PrintParameter& block);

// "print file refused: FIELD VALUE is not a finite number" for a NaN or an
// infinite `value`: the one wording of the reader and the envelope.
void formatNotFinite(char* out, size_t size, const char* field, float value);

// Reads magic, parameter block and thumbnail from `fp` (at its start) into
// `block` and `thumb`. PRINT_FILE_OK or a refusal; `message` gets the log
// line. Nothing is read into `thumb` unless the block has passed its checks.
int readPrintHeader(FILE* fp, PrintParameter& block, uint8_t (&thumb)[PREVIEW_THUMB_BYTES],
                    const char** message);

// bottom_layers from burnin_range and ZThick, as every read does.
void recomputeBottomLayers(PrintParameter& p);

// True while the stick of the preview read is mounted and has not been
// pulled or swapped since.
bool previewStickPresent();
// True when `st`, the status of an open file, is that of the previewed file
// and its stick is still there.
bool isPreviewedFile(const struct stat& st);

// The preview read of the selected file (entry page_index * 5 + file_index_num).
uint8_t readPrintparameter();
// 1 when readPrintparameter() gave 1, else 0.
int prePrintDataInf();

// The first step of a print: opens the job's file into printfp, allocates
// the layer buffer, sets the layer total and reads the header into buf1.
// PRINT_FILE_OK leaves printfp at the first layer record; any other result
// ends the job with that result.
int printFileHeaderCheck();
// Releases the layer buffer at the end of a job.
void releaseLayerBuffer();

// Writes printparameter back into the selected file (bytes 8..179 only),
// with the stick remounted read-write for the time it takes. 1 written.
int writePrintparameterToFile();
