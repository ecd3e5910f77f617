// Every touch record against the art of its picture: each record must hold
// a touch area its picture's drawing declares, and lie on the picture.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "firmware/assets/picture_catalogue.h"
#include "firmware/display/draw.h"
#include "firmware/ui/picture_records.h"

namespace {

struct Area {
    int x0, x1, y0, y1;
};

// The "touch area x A..B, y C..D" notes of a drawing, in its own pixels.
std::vector<Area> declaredAreas(const std::string& picture) {
    std::ifstream in(std::string(VELMOR_PICTURE_DIR) + "/" + picture + ".svg");
    std::stringstream text;
    text << in.rdbuf();
    const std::string svg = text.str();
    std::vector<Area> areas;
    const std::string note = "touch area x ";
    for (size_t at = svg.find(note); at != std::string::npos; at = svg.find(note, at + 1)) {
        Area a{};
        if (sscanf(svg.c_str() + at + note.size(), "%d..%d, y %d..%d", &a.x0, &a.x1, &a.y0,
                   &a.y1) == 4) {
            areas.push_back(a);
        }
    }
    return areas;
}

const unsigned char* pictureNamed(const std::string& name) {
    for (size_t i = 0; i < picture_catalogue_count; ++i) {
        if (name == picture_catalogue[i]->name) return picture_catalogue[i]->data;
    }
    return nullptr;
}

TEST(PictureRecords, EveryRecordHoldsATouchAreaOfItsPicture) {
    for (size_t i = 0; i < pic_record_catalogue_count; ++i) {
        const PicRecordEntry& e = pic_record_catalogue[i];
        SCOPED_TRACE(std::string(e.name) + " on " + e.picture);
        const PicRecord& r = *e.record;
        EXPECT_EQ(r.width, r.x_end - r.x_start);
        EXPECT_EQ(r.height, r.y_end - r.y_start);
        const unsigned char* picture = pictureNamed(e.picture);
        ASSERT_NE(picture, nullptr);
        EXPECT_GE(r.x_start, e.x);
        EXPECT_GE(r.y_start, e.y);
        EXPECT_LE(r.x_end, e.x + pictureWidth(picture));
        EXPECT_LE(r.y_end, e.y + pictureHeight(picture));
        bool held = false;
        for (const Area& a : declaredAreas(e.picture)) {
            held = held || (a.x0 + e.x >= r.x_start && a.x1 + e.x <= r.x_end &&
                            a.y0 + e.y >= r.y_start && a.y1 + e.y <= r.y_end &&
                            (a.x1 - a.x0) * 2 >= r.width && (a.y1 - a.y0) * 4 >= r.height);
        }
        EXPECT_TRUE(held) << "no touch area of the drawing lies in the record";
    }
}

TEST(PictureRecords, EdgesMiss) {
    const PicRecord& r = pic_homepagebuttonfile;
    EXPECT_TRUE(hit(r, 66, 67));
    EXPECT_FALSE(hit(r, 65, 100));
    EXPECT_FALSE(hit(r, 151, 100));
    EXPECT_FALSE(hit(r, 100, 66));
    EXPECT_FALSE(hit(r, 100, 180));
}

}  // namespace
