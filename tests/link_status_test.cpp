#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "firmware/link/command.h"
#include "firmware/link/status.h"
#include "firmware/print/print.h"

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

TEST(StatusReply, TemperatureDecidesWhetherAPrintMayStart) {
    parse("ok 3300mv/0rpm/0rpm/55T/0 Zmin1 Zmax0");
    EXPECT_EQ(checkTemperature(), 1);
    parse("ok 3300mv/0rpm/0rpm/56T/0 Zmin1 Zmax0");
    EXPECT_EQ(checkTemperature(), TEMPERATURE_REFUSED);
    parse("ok 3300mv/0rpm/0rpm/-10T/0 Zmin1 Zmax0");
    EXPECT_EQ(current_temperature, TEMPERATURE_SENSOR_FAILED);
    EXPECT_EQ(checkTemperature(), TEMPERATURE_REFUSED);
}

TEST(StatusReply, AReadingNoSixteenBitSensorGivesIsAFailedSensor) {
    // Cut to 16 bits, 65536 would read as a cold panel and 65590 as 54.
    for (const char* reading : {"65536", "65590", "-65526", "99999999999999999999"}) {
        parse((std::string("ok 3300mv/0rpm/0rpm/") + reading + "T/0 Zmin1 Zmax0").c_str());
        EXPECT_EQ(current_temperature, TEMPERATURE_SENSOR_FAILED) << reading;
        EXPECT_EQ(checkTemperature(), TEMPERATURE_REFUSED) << reading;
    }
    parse("ok 3300mv/0rpm/0rpm/-32768T/0 Zmin1 Zmax0");
    EXPECT_EQ(current_temperature, -32768);
    // Colder than the board's failure value: an open or shorted sensor,
    // under which an overheating panel would go unseen.
    for (const char* reading : {"-32768", "-40", "-11"}) {
        parse((std::string("ok 3300mv/0rpm/0rpm/") + reading + "T/0 Zmin1 Zmax0").c_str());
        EXPECT_EQ(checkTemperature(), TEMPERATURE_REFUSED) << reading;
        EXPECT_EQ(printTemperatureError(), 1) << reading;
    }
    parse("ok 3300mv/0rpm/0rpm/-9T/0 Zmin1 Zmax0");  // a cold room
    EXPECT_EQ(checkTemperature(), 1);
    EXPECT_EQ(printTemperatureError(), 0);
}

TEST(StatusReply, ShortOrOverfullReplyKeepsTheLastTemperature) {
    parse("ok 3300mv/0rpm/0rpm/30T/0 Zmin1 Zmax0");
    parse("ok 3300mv/1500rpm/");
    EXPECT_EQ(current_temperature, 30);
    const std::string full = "ok " + std::string(kReplySize, '7');  // kept without terminator
    parse(full.c_str());
    EXPECT_EQ(current_temperature, 30);
}

}  // namespace
