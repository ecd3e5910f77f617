// The material test: a fixed test piece drawn by the firmware, with four bars
// that get stepped exposure times in every layer, set up by a small text file
// on the stick.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

extern const char materialtestfilename[];  // "Velmor4Kprintmaterialtestfile.pvk4k"

struct MaterialTest {
    int32_t start_time;  // ms
    int32_t end_time;    // ms
    uint8_t Zthick;      // only checked
    uint8_t bottom_layer;
    uint16_t total_layers;
    uint16_t first_speed;  // mm/min
    uint16_t back_speed;
    uint16_t speed2;
    uint16_t first_distance;  // mm
    uint16_t distance2;
    int32_t bottom_time;  // ms
    int32_t bottom_stable_time;
    int32_t normal_stable_time;
};

extern MaterialTest materialtest;
extern std::atomic<uint8_t> material_test;

// Parses the test file's text (at most 1024 bytes are looked at) into
// materialtest: 1 when every key is there and every value accepted.
int parseMaterialTest(const char* text, size_t length);
// Reads the file from printfp and parses it; 1 parsed, then the job record set.
int getMaterialTestParameter();
// The job record's layer total and estimate from materialtest.
void setPrintFileParameter();
// The estimate of the test in ms.
uint32_t materialTestTime(const MaterialTest& m);

// Draws the pattern of layer `layer` (from 0); 0 when there is no mask.
int materialTestDisplayFirst(int layer);
// Darkens bar `bar` (1, 3, 5 or 7).
void materialTestDisplaySecond(int bar);
