#include "print/material_test.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/global_data.h"
#include "app/global_func.h"
#include "link/command.h"
#include "platform/platform.h"
#include "print/framebuffer.h"
#include "print/print.h"
#include "print/print_file.h"
#include "print/safety_envelope.h"
#include "ui/parameter_table.h"
#include "ui/ui.h"
#include "usb/tf.h"

const char materialtestfilename[] = "Velmor4Kprintmaterialtestfile.pvk4k";
MaterialTest materialtest;
std::atomic<uint8_t> material_test{0};

void setMaterialTest() {
    material_test = 1;
}
void resetMaterialTest() {
    material_test = 0;
}
int getMaterialTest() {
    return material_test;
}

namespace {

constexpr size_t kTextBytes = 1024;

// The test area and the bars, in mask pixels (ends excluded).
constexpr uint16_t kAreaX0 = 320, kAreaY0 = 420, kAreaX1 = 1120, kAreaY1 = 2140;

template <class T>
bool inRange(T v, long long lo, long long hi) {
    return v >= lo && v <= hi;
}

// The value after the first occurrence of `key` (colon excluded): 1 found,
// 0 when the key or its colon form is missing.
bool keyValue(const char* text, size_t length, const char* key, long long& value) {
    const size_t keyLength = strlen(key);
    const char* at = static_cast<const char*>(memmem(text, length, key, keyLength));
    const std::string withColon = std::string(key) + ":";
    if (at == nullptr || memmem(text, length, withColon.data(), withColon.size()) == nullptr) {
        puts("M105String don't contain max");
        return false;
    }
    const size_t from = std::min(static_cast<size_t>(at - text) + keyLength + 1, length);
    value = strtoll(text + from, nullptr, 10);  // text is terminated after length
    return true;
}

}  // namespace

int parseMaterialTest(const char* data, size_t length) {
    char text[kTextBytes + 1];
    length = std::min(length, kTextBytes);
    memcpy(text, data, length);
    text[length] = '\0';
    MaterialTest& m = materialtest;
    long long v = 0;
    // Each value is stored into its field's width first, then checked.
#define MATERIAL_KEY(key, field, type, lo, hi)     \
    if (!keyValue(text, length, key, v)) return 0; \
    m.field = static_cast<type>(v);                \
    if (!inRange(m.field, lo, hi)) return 0;       \
    printf("materialtest." #field " = %d\n", static_cast<int>(m.field));

    MATERIAL_KEY("start_time", start_time, int32_t, 0, 200000)
    MATERIAL_KEY("end_time", end_time, int32_t, 0, 200000)
    MATERIAL_KEY("Zthick", Zthick, uint8_t, 1, 255)
    MATERIAL_KEY("bottom_layer", bottom_layer, uint8_t, 1, 255)
    MATERIAL_KEY("total_layer", total_layers, uint16_t, 1, 65535)
    MATERIAL_KEY("first_speed", first_speed, uint16_t, 1, 65535)
    MATERIAL_KEY("back_speed", back_speed, uint16_t, 1, 65535)
    MATERIAL_KEY("speed2", speed2, uint16_t, 1, 65535)
    MATERIAL_KEY("first_distance", first_distance, uint16_t, 1, 65535)
    MATERIAL_KEY("distance2", distance2, uint16_t, 1, 65535)
    MATERIAL_KEY("bottom_time", bottom_time, int32_t, 1, 200000)
    MATERIAL_KEY("bottom_stable_time", bottom_stable_time, int32_t, 1, 200000)
    MATERIAL_KEY("normal_stable_time", normal_stable_time, int32_t, 1, 200000)
#undef MATERIAL_KEY
    // A falling series would make the halved difference a huge wait.
    if (m.end_time < m.start_time) {
        puts("materialtest.end_time is below materialtest.start_time");
        return 0;
    }
    setPrintFileParameter();
    return 1;
}

int getMaterialTestParameter() {
    char text[kTextBytes];
    const size_t n = printfp != nullptr ? fread(text, 1, sizeof text, printfp) : 0;
    return parseMaterialTest(text, n);
}

uint32_t materialTestTime(const MaterialTest& m) {
    const int64_t layers = m.total_layers;
    const int64_t bottom = m.bottom_layer;
    const int64_t moves = int64_t(m.first_distance) * 60000 / m.first_speed +
                          int64_t(m.distance2) * 2000 / m.speed2 +
                          int64_t(m.first_distance) * 60000 / m.back_speed;
    const int64_t t = bottom * (int64_t(m.normal_stable_time) + m.bottom_time) +
                      (layers - bottom) * (int64_t(m.end_time) + m.normal_stable_time) +
                      layers * moves;
    return static_cast<uint32_t>(std::clamp<int64_t>(t, 0, UINT32_MAX));
}

void setPrintFileParameter() {
    file_information.total_layer = materialtest.total_layers;
    file_information.print_times = materialTestTime(materialtest);
    printf("file_information.total_layer = %d\n", file_information.total_layer.load());
    printf("file_information.print_times = %d\n",
           static_cast<int>(file_information.print_times.load()));
}

int materialTestDisplayFirst(int layer) {
    printf("layer = %d\n", layer);
    printf("materialtest.bottom_layer = %d\n", materialtest.bottom_layer);
    if (layer < materialtest.bottom_layer) {
        printf("materialtest.bottom_layer = %d\n", materialtest.bottom_layer);
        return display2KRec(kAreaX0, kAreaY0, kAreaX1, kAreaY1, 255) == 1 ? 1 : 0;
    }
    if (display2KRec(kAreaX0, kAreaY0, kAreaX1, kAreaY1, 0) != 1) return 0;
    display2KRec(400, 450, 823, 554, 255);
    for (int bar : {3, 5, 7}) {
        const uint16_t top = static_cast<uint16_t>(190 * bar + 260);
        display2KRec(400, top, 1034, static_cast<uint16_t>(top + 104), 255);
    }
    puts("display2KRec");
    return 1;
}

void materialTestDisplaySecond(int bar) {
    const uint16_t top = static_cast<uint16_t>(190 * bar + 260);
    display2KRec(400, top, 1035, static_cast<uint16_t>(top + 106), 0);
}

namespace {

PrintParameter testMotion;

// The test's lifts: those of the last print file read, as a read adjusts
// them. After power-on none was read (every lift would go out at feed 0),
// and a file may give lifts the test's layer count cannot take: then the
// parameter table's shortest, slowest lifts at the test file's own layer
// thickness (micrometres). Null when even those leave the envelope.
const PrintParameter* materialTestMotion(EnvelopeVerdict& verdict) {
    const PrintParameter& p = printparameter;
    testMotion = PrintParameter{};
    testMotion.layer_count = materialtest.total_layers;
    testMotion.ZThick = p.ZThick;
    testMotion.lift_distance1 = p.lift_distance1;
    testMotion.lift_speed1 = p.lift_speed1;
    testMotion.lift_distance2 = p.lift_distance2;
    testMotion.lift_speed2 = p.lift_speed2;
    testMotion.drop_speed = p.drop_speed;
    applyReadAdjustments(testMotion);
    verdict = checkPrintEnvelope(testMotion);
    if (verdict.inside) return &testMotion;
    testMotion.ZThick = static_cast<float>(materialtest.Zthick) / 1000.0f;
    testMotion.lift_distance1 = ParameterAll[6].min;
    testMotion.lift_speed1 = ParameterAll[7].min;
    testMotion.lift_distance2 = ParameterAll[8].min;
    testMotion.lift_speed2 = ParameterAll[9].min;
    testMotion.drop_speed = ParameterAll[5].min;
    verdict = checkPrintEnvelope(testMotion);
    return verdict.inside ? &testMotion : nullptr;
}

// The job once it has a file: false when it leaves the layer loop.
bool testLayer(int index) {
    const MaterialTest& m = materialtest;
    printLine(printSts);
    printLine(printLedOff);
    while (checkPrintStatue() == 1) msleep(10);
    if (checkPrintCancel()) return false;
    if (printTemperatureError()) return stopJob(PRINT_TEMP_ERROR);
    if (materialTestDisplayFirst(index) == 0) return stopJob(PRINT_DATA_ERROR);
    if (printingCheckUsbStatus() != 1) return stopJob(PRINT_DATA_ERROR);
    const int layer = index + 1;
    file_information.current_layer = static_cast<uint16_t>(layer);
    const bool bottom = layer <= m.bottom_layer;
    while (checkPrintStatue() == 1) msleep(10);
    if (checkPrintCancel()) return false;
    // As in a print: a temperature stop here is seen by the exposure's wait.
    printWait(static_cast<uint32_t>(bottom ? m.bottom_stable_time : m.normal_stable_time));
    printLine(printSts);
    printLine(printLedOn);
    file_information.light_on = 1;
    if (printWait(static_cast<uint32_t>(bottom ? m.bottom_time : m.start_time)) == 1) {
        return stopJob(PRINT_TEMP_ERROR);
    }
    if (!bottom) {
        printf("materialtest.end_time = %d\n", m.end_time);
        printf("materialtest.start_time = %d\n", m.start_time);
        printf("Intervals = %d\n", m.end_time - m.start_time);
        const int32_t interval = (m.end_time - m.start_time) / 2;
        printf("Intervals = %d\n", interval);
        materialTestDisplaySecond(1);
        for (int bar : {3, 5, 7}) {
            materialTestDisplaySecond(bar);
            if (printWait(static_cast<uint32_t>(interval)) == 1) {
                return stopJob(PRINT_TEMP_ERROR);
            }
        }
    }
    if (!endExposure()) return false;
    while (checkPrintStatue() == 1) msleep(10);
    if (checkPrintCancel()) return false;
    return liftAndReturn();
}

}  // namespace

int materialTestSyncControl() {
    setPrintStatus(PRINT_PRE);
    initPrintPara();
    const std::string folder = sysPath(pravikPath);
    if (chdir(folder.c_str()) != 0) perror("chdir");
    if (printfp != nullptr) fclose(printfp);
    printfp = fopen(materialtestfilename, "rb");
    if (printfp == nullptr) printfp = fopen((folder + "/" + materialtestfilename).c_str(), "rb");
    if (chdir(sysPath(Velmor30Path).c_str()) != 0) perror("chdir");
    if (printfp == nullptr) {
        printf("[%s] open error\n", materialtestfilename);
        return endUnstartedJob(0);
    }
    const int parsed = getMaterialTestParameter();
    fclose(printfp);
    printfp = nullptr;
    if (parsed != 1) return endUnstartedJob(0);
    EnvelopeVerdict verdict;
    const PrintParameter* motion = materialTestMotion(verdict);
    if (motion == nullptr) {
        puts(verdict.reason);
        return endUnstartedJob(0);
    }
    useJobMotion(motion);

    setPrintStatus(PRINT_RUNNING);
    actPrintPrepare();
    for (int i = 0; i < materialtest.total_layers && testLayer(i); ++i) {
    }

    windUpJob();  // the last pattern stays on the mask, the light off
    return 1;
}
