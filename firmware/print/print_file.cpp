#include "print/print_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "app/global_data.h"
#include "display/draw.h"
#include "display/text.h"
#include "platform/platform.h"
#include "print/layer_code.h"
#include "print/print.h"
#include "print/print_time.h"
#include "print/safety_envelope.h"
#include "ui/parameter_table.h"
#include "ui/ui.h"
#include "usb/UsbController.h"
#include "usb/tf.h"

PrintParameter printparameter;
PreviewFileIdentity preview_file_identity;
PreviewFileInformation preview_file_information;
OpenFileInf open_file_inf;
FILE* printfp = nullptr;
uint8_t skipLoadParameter = 0;
uint8_t* display_2K_data = nullptr;
uint32_t display_2K_capacity = 0;
uint8_t buf1[HEADER_BUFFER_BYTES];

const char* const pravik_file_path = pravikPath;

namespace {

void closePrintFile() {
    if (printfp != nullptr) fclose(printfp);
    printfp = nullptr;
}

int changeDirectory(const char* devicePath) {
    return chdir(sysPath(devicePath).c_str());
}

// Closes the file and goes back to the settings folder: every refusal
// leaves the reader as a success does.
int refuse(int result, const char* message) {
    if (message != nullptr) puts(message);
    closePrintFile();
    changeDirectory(Velmor30Path);
    return result;
}

void timeText(time_t t, char (&out)[32]) {
    tm parts{};
    char text[64] = "";
    if (gmtime_r(&t, &parts) == nullptr || asctime_r(&parts, text) == nullptr) text[0] = '\0';
    const size_t n = strnlen(text, sizeof out - 1);
    memcpy(out, text, n);
    out[n] = '\0';
}

void fillOpenFileInf(const struct stat& st) {
    open_file_inf.blksize = static_cast<uint32_t>(st.st_blksize);
    open_file_inf.size = static_cast<uint32_t>(st.st_size);
    open_file_inf.blocks = static_cast<uint32_t>(st.st_blocks);
    timeText(st.st_atime, open_file_inf.atime);
    timeText(st.st_mtime, open_file_inf.mtime);
    timeText(st.st_ctime, open_file_inf.ctime);
}

int64_t mtimeNs(const struct stat& st) {
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// Remembers the file just read, under the stick count it was read under.
void rememberPreviewedFile(const char* name, const struct stat& st, uint32_t stick) {
    PreviewFileIdentity& id = preview_file_identity;
    if (name != id.name) snprintf(id.name, sizeof id.name, "%s", name);
    id.size = static_cast<int64_t>(st.st_size);
    id.mtime_ns = mtimeNs(st);
    id.stick = stick;
    id.valid = true;
}

// nan, -nan, inf, -inf.
size_t notFiniteKind(float v) {
    if (std::isnan(v)) return std::signbit(v) ? 1 : 0;
    return v > 0 ? 2 : 3;
}

// The refusal of field `i` for a non-finite value. The texts are made once
// and then only read: the main loop and the simulator's file reader may
// refuse files at the same moment, so no call may overwrite another's text.
const char* notFiniteRefusal(size_t i, float value) {
    struct Texts {
        char text[kPrintFloatCount][4][80];
    };
    static const Texts texts = [] {
        Texts t{};
        const float kinds[4] = {NAN, std::copysign(NAN, -1.0f), INFINITY, -INFINITY};
        for (size_t f = 0; f < kPrintFloatCount; ++f) {
            for (size_t k = 0; k < 4; ++k) {
                formatNotFinite(t.text[f][k], sizeof t.text[f][k], kPrintFloats[f].name, kinds[k]);
            }
        }
        return t;
    }();
    return texts.text[i][notFiniteKind(value)];
}

}  // namespace

uint32_t floatToU32(float f) {
    if (!(f > 0)) return 0;
    if (f >= 4294967296.0f) return UINT32_MAX;
    return static_cast<uint32_t>(f);
}

uint32_t thumbnailBytes(const PrintParameter& p) {
    if (p.thumb_width < 0 || p.thumb_height < 0) return 0;
    const uint64_t bytes = uint64_t(uint32_t(p.thumb_width)) * uint32_t(p.thumb_height) * 2;
    return bytes <= PREVIEW_THUMB_BYTES ? static_cast<uint32_t>(bytes) : 0;
}

uint32_t layerBufferCapacity(const PrintParameter& p) {
    return floatToU32(p.buffer_width * p.buffer_height * 2);
}

void recomputeBottomLayers(PrintParameter& p) {
    p.bottom_layers = p.burnin_range / p.ZThick;
}

void formatNotFinite(char* out, size_t size, const char* field, float value) {
    static const char* const kText[4] = {"nan", "-nan", "inf", "-inf"};
    snprintf(out, size, "print file refused: %s %s is not a finite number", field,
             kText[notFiniteKind(value)]);
}

const char* printBlockRefusal(const PrintParameter& block) {
    // Sizes and counts come from outside: refuse what would overrun the
    // preview buffer or make the arithmetic meaningless, before using them.
    if (block.layer_count < 0) return "print file refused: layer_count is negative";
    if (block.thumb_width < 0) return "print file refused: thumb_width is negative";
    if (block.thumb_height < 0) return "print file refused: thumb_height is negative";
    if (thumbnailBytes(block) == 0 && block.thumb_width != 0 && block.thumb_height != 0) {
        return "print file refused: thumb_width x thumb_height is more than the preview's 18000 "
               "pixels";
    }
    for (size_t i = 0; i < kPrintFloatCount; ++i) {
        const float v = block.*kPrintFloats[i].member;
        if (!std::isfinite(v)) return notFiniteRefusal(i, v);
    }
    if (block.ZThick == 0.0f) return "printparameter.ZThick  = 0.0";
    return nullptr;
}

int readPrintHeader(FILE* fp, PrintParameter& block, uint8_t (&thumb)[PREVIEW_THUMB_BYTES],
                    const char** message) {
    const char* unused = nullptr;
    const char*& why = message != nullptr ? *message : unused;
    why = nullptr;
    char magic[PRINT_FILE_MAGIC_SIZE];
    if (fread(magic, 1, sizeof magic, fp) != sizeof magic) {
        why = "read pagedetail data open error!";
        return PRINT_FILE_READ_ERROR;
    }
    if (memcmp(magic, PRINT_FILE_MAGIC, sizeof magic) != 0) {
        why = "file data error";
        return PRINT_FILE_REFUSED;
    }
    if (fread(&block, 1, sizeof block, fp) != sizeof block) {
        why = "read pagedetail data open error!";
        return PRINT_FILE_READ_ERROR;
    }
    if (const char* refusal = printBlockRefusal(block); refusal != nullptr) {
        why = refusal;
        return PRINT_FILE_REFUSED;
    }
    const uint32_t thumbBytes = thumbnailBytes(block);
    if (fread(thumb, 1, thumbBytes, fp) != thumbBytes) {
        why = "read thumbnail data open error!";
        return PRINT_FILE_READ_ERROR;
    }
    return PRINT_FILE_OK;
}

uint8_t readPrintparameter() {
    const char* name = getFileName(static_cast<uint16_t>(page_index * 5 + file_index_num));
    showString2(20, 40, 300, 60, name, 16, 1);
    preview_file_information.file_name = name;
    changeDirectory(pravik_file_path);

    struct stat st {};
    if (stat(name, &st) == 0) fillOpenFileInf(st);
    closePrintFile();
    // Edits are kept only for the file they were made on.
    const bool keepEdits = skipLoadParameter == 1;
    const uint32_t stick = usb_stick_changes;
    const char* const changed = "print file changed since its preview";
    if (keepEdits && (!previewStickPresent() || strcmp(name, preview_file_identity.name) != 0)) {
        return static_cast<uint8_t>(refuse(PRINT_FILE_OPEN_ERROR, changed));
    }
    printfp = fopen(name, "rb");
    if (printfp == nullptr)
        return static_cast<uint8_t>(refuse(3, "read pagedetail data open error"));
    struct stat opened {};
    if (fstat(fileno(printfp), &opened) != 0 || (keepEdits && !isPreviewedFile(opened))) {
        return static_cast<uint8_t>(refuse(PRINT_FILE_OPEN_ERROR, changed));
    }

    PrintParameter block;
    const char* message = nullptr;
    const int result = readPrintHeader(printfp, block, preview_file_information.pic, &message);
    if (result != PRINT_FILE_OK) return static_cast<uint8_t>(refuse(result, message));
    if (!keepEdits) printparameter = block;
    recomputeBottomLayers(printparameter);
    const EnvelopeVerdict verdict = judgePrintParameters(printparameter);
    if (!verdict.inside) return static_cast<uint8_t>(refuse(PRINT_FILE_REFUSED, verdict.reason));

    drawtThumbnail(20, 60, static_cast<uint16_t>(block.thumb_width),
                   static_cast<uint16_t>(block.thumb_height));
    actPrintTimeCalculate();
    closePrintFile();
    bindParameterAll(printparameter);
    rememberPreviewedFile(name, opened, stick);
    changeDirectory(Velmor30Path);
    return 1;
}

bool previewStickPresent() {
    return preview_file_identity.valid && UsbController_IsMounted() == 1 &&
           usb_stick_changes == preview_file_identity.stick;
}

bool isPreviewedFile(const struct stat& st) {
    const PreviewFileIdentity& id = preview_file_identity;
    return previewStickPresent() && static_cast<int64_t>(st.st_size) == id.size &&
           mtimeNs(st) == id.mtime_ns;
}

int prePrintDataInf() {
    return readPrintparameter() == 1 ? 1 : 0;
}

void releaseLayerBuffer() {
    free(display_2K_data);
    display_2K_data = nullptr;
    display_2K_capacity = 0;
}

int printFileHeaderCheck() {
    if (!preview_file_identity.valid) {
        return refuse(PRINT_FILE_OPEN_ERROR, "no print file selected");
    }
    const char* name = preview_file_identity.name;
    const int res = changeDirectory(pravik_file_path);
    printf("res = %d\n", res);
    char cwd[512] = "";
    if (getcwd(cwd, sizeof cwd) == nullptr) cwd[0] = '\0';
    printf("buffer:%s  p:%s size:%d \n", cwd, pravik_file_path, static_cast<int>(strlen(cwd)));

    closePrintFile();
    printfp = fopen(name, "rb");
    if (printfp == nullptr) {
        perror("file open");
        printf("[%s] open error\n", name);
        const std::string full = sysPath(pravik_file_path) + "/" + name;
        printfp = fopen(full.c_str(), "rb");
        if (printfp == nullptr) {
            perror("file open");
            printf("[%s] open error\n", full.c_str());
            return refuse(PRINT_FILE_OPEN_ERROR, nullptr);
        }
    }
    printf("open %s file\n", name);
    // The parameters in memory belong to the previewed file: never print
    // another file with them, nor values that would leave the envelope.
    struct stat st {};
    if (fstat(fileno(printfp), &st) != 0 || !isPreviewedFile(st)) {
        return refuse(PRINT_FILE_REFUSED, "print file changed since its preview");
    }
    const EnvelopeVerdict verdict = judgePrintParameters(printparameter);
    if (!verdict.inside) return refuse(PRINT_FILE_REFUSED, verdict.reason);

    // No record may exceed the frame, so a larger buffer would never be used.
    uint32_t capacity = layerBufferCapacity(printparameter);
    if (capacity > LAYER_CODE_MAX) capacity = LAYER_CODE_MAX;
    if (display_2K_data != nullptr && display_2K_capacity != capacity) releaseLayerBuffer();
    if (display_2K_data == nullptr) {
        display_2K_data = static_cast<uint8_t*>(malloc(capacity > 0 ? capacity : 1));
        printf("display_2K_data:%lx\n", reinterpret_cast<unsigned long>(display_2K_data));
        if (display_2K_data == nullptr) {
            printf("Malloc eror [%lx]display_2K_data:%lx\n", static_cast<unsigned long>(capacity),
                   0UL);
            return refuse(PRINT_FILE_NO_MEMORY, nullptr);
        }
        display_2K_capacity = capacity;
    }
    file_information.total_layer = static_cast<uint16_t>(printparameter.layer_count);

    const size_t thumbBytes = thumbnailBytes(printparameter);
    const size_t headBytes = PRINT_HEADER_SIZE + thumbBytes;
    if (fread(buf1, 1, headBytes, printfp) != headBytes) {
        return refuse(PRINT_FILE_READ_ERROR, "read pagedetail data read error!");
    }
    if (memcmp(buf1, PRINT_FILE_MAGIC, PRINT_FILE_MAGIC_SIZE) != 0) {
        return refuse(PRINT_FILE_REFUSED, "file data error");
    }
    return PRINT_FILE_OK;
}

int writePrintparameterToFile() {
    // Only into the file the preview read, on the stick it was read from:
    // after a pull or a swap nothing is written anywhere.
    if (!previewStickPresent()) {
        puts("open file error");
        return 0;
    }
    const char* name = preview_file_identity.name;
    platformShell("mount -o remount,rw /opt/usb");
    changeDirectory(pravik_file_path);
    int written = 0;
    FILE* fp = fopen(name, "rb+");
    struct stat st {};
    if (fp != nullptr && (fstat(fileno(fp), &st) != 0 || !isPreviewedFile(st))) {
        fclose(fp);
        fp = nullptr;
    }
    if (fp == nullptr) {
        puts("open file error");
    } else {
        const bool ok =
            fseek(fp, PRINT_FILE_MAGIC_SIZE, SEEK_SET) == 0 &&
            fwrite(&printparameter, 1, sizeof printparameter, fp) == sizeof printparameter;
        // A failed write or close is a failed save, not a silent success.
        if (fclose(fp) == 0 && ok) {
            written = 1;
        } else {
            puts("write file error");
        }
        // The save changed the file's time; a failed one leaves it unknown.
        if (written == 1 && stat(name, &st) == 0) {
            rememberPreviewedFile(name, st, preview_file_identity.stick);
        } else {
            preview_file_identity.valid = false;
        }
    }
    platformShell("sync");
    platformShell("mount -o remount,ro /opt/usb");
    changeDirectory(Velmor30Path);
    return written;
}
