// Every compiled-in picture by name with its length in bytes as compiled, for
// tools and tests that go through all of them.
#pragma once

#include <cstddef>

struct PictureEntry {
    const char* name;  // without the gImage_ prefix
    const unsigned char* data;
    std::size_t size;
};

extern const PictureEntry* const picture_catalogue[];
extern const std::size_t picture_catalogue_count;
