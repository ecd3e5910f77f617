#include <gtest/gtest.h>

#include <cstring>

#include "link/command.h"
#include "link/status.h"

namespace {

void parse(const char* reply) {
    storeStatusReply(reply, strlen(reply));
    checkM105cmd();
}

TEST(StatusReply, ParsesEveryField) {
    parse("ok 3300mv/1500rpm/1480rpm/35T/0 Zmin0 Zmax1");
    EXPECT_EQ(pravik3dprinter.ok_value, 3300);
    EXPECT_EQ(pravik3dprinter.mv_value, 1500);
    EXPECT_EQ(pravik3dprinter.rpm_value, 1480);
    EXPECT_EQ(pravik3dprinter.led_temperature, 35);
    EXPECT_EQ(current_temperature, 35);
    EXPECT_EQ(pravik3dprinter.t_value, 0u);
    EXPECT_EQ(pravik3dprinter.zmin_state, 0);
    EXPECT_EQ(pravik3dprinter.zmax_state, 1);
}

}  // namespace
