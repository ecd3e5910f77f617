// The windows' own rules, driven through their touch handlers with the
// motion-board model on the line: the stored intensity, the intensity steps,
// the move window, the printing window's decisions, the parameter steps and
// the manager's dispatch.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "firmware/display/driver.h"
#include "firmware/link/status.h"
#include "firmware/print/framebuffer.h"
#include "firmware/print/print.h"
#include "firmware/print/print_file.h"
#include "firmware/ui/parameter_table.h"
#include "firmware/ui/picture_records.h"
#include "firmware/ui/ui.h"
#include "serial_fixture.h"

namespace {

class WindowTest : public SerialFixture {
  protected:
    void SetUp() override {
        SerialFixture::SetUp();
        startBoard();
        initPrintPara();  // no home known
        dialog_operation = 0;
        change_window = 0;
        current_window_ID = INDEX_WINDOW_HOME;
    }
    void TearDown() override {
        clearCurrentButton();
        setPrintStatus(0);
        file_information.light_on = 0;
        SerialFixture::TearDown();
    }
    std::vector<std::string> sent() const { return sentSince(mark_); }
    void markTrace() { mark_ = trace_.nextSeq(); }
    void file(const std::string& path, const std::string& text) const {
        std::ofstream(root_ + path, std::ios::binary) << text;
    }
    static void centre(const PicRecord& r, void (*handler)(uint16_t, uint16_t)) {
        handler(static_cast<uint16_t>((r.x_start + r.x_end) / 2),
                static_cast<uint16_t>((r.y_start + r.y_end) / 2));
    }
    uint64_t mark_ = 0;
};

TEST_F(WindowTest, StoredIntensityPrefersAValidVolatileSettingAndDefaultsTo250) {
    EXPECT_EQ(ledPwmGet(), 250);  // no files at all
    file("/opt/Pravik3D/ledpwm.txt", "10\r\n20\r\n30\r\n180\r\n");
    EXPECT_EQ(ledPwmGet(), 180);
    file("/var/ledpwm.txt", "49\r\n");
    EXPECT_EQ(ledPwmGet(), 180);
    file("/var/ledpwm.txt", "250\r\n");
    EXPECT_EQ(ledPwmGet(), 250);
    std::filesystem::remove(root_ + "/var/ledpwm.txt");
    file("/opt/Pravik3D/ledpwm.txt", "10\r\n21\r\n30\r\n180\r\n");
    EXPECT_EQ(ledPwmGet(), 250);
    file("/opt/Pravik3D/ledpwm.txt", "10\r\n20\r\n30\r\n");  // cut short by a power cut
    EXPECT_EQ(ledPwmGet(), 250);
    // Beyond the lamp's highest intensity is nothing valid stored, not its
    // low eight bits.
    for (const char* stored : {"251", "255", "300", "-1"}) {
        file("/opt/Pravik3D/ledpwm.txt", std::string("10\r\n20\r\n30\r\n") + stored + "\r\n");
        EXPECT_EQ(ledPwmGet(), 250) << stored;
    }
    file("/opt/Pravik3D/ledpwm.txt", "10\r\n20\r\n30\r\n0\r\n");
    EXPECT_EQ(ledPwmGet(), 0);
    ledPwmSave(135);
    EXPECT_EQ(ledPwmGet(), 135);
    EXPECT_FALSE(std::filesystem::exists(root_ + "/opt/Pravik3D/ledpwm.txt.new"));
}

TEST_F(WindowTest, IntensityStepsWrapInTheAdjustmentAndClampInTheDialog) {
    file_information.light_on = 1;
    current_window_ID = INDEX_WINDOW_LEDPWM;
    // Plus (y 55) and minus (y 140) wrap round at either end.
    const struct {
        uint16_t y, from;
        int to;
    } wraps[] = {{55, 245, 250}, {55, 250, 0}, {140, 0, 250}, {140, 5, 0}};
    for (const auto& w : wraps) {
        ledSoftPwm = w.from;
        scanWindowLEDPwm(100, w.y);
        EXPECT_EQ(ledSoftPwm, w.to) << w.from << " at y " << w.y;
    }
    EXPECT_EQ(sent().back(), "M106 S0");

    current_window_ID = INDEX_WINDOW_LEDPWM1;
    const struct {
        uint8_t from;
        const PicRecord& button;
        uint8_t to;
    } steps[] = {{90, pic_parameterbuttonbigdown, 50},
                 {220, pic_parameterbuttonbigup, 250},
                 {52, pic_parameterbuttonsmalldown, 50}};
    for (const auto& s : steps) {
        get_lew_pwm = s.from;
        centre(s.button, scanWindowLEDPwm1);
        EXPECT_EQ(get_lew_pwm, s.to);
    }
    get_lew_pwmBak = 120;
    centre(pic_parameterbuttoncancel, scanWindowLEDPwm1);
    EXPECT_EQ(get_lew_pwm, 120);
    EXPECT_EQ(sent().back(), "M106 S120");
}

TEST_F(WindowTest, MoveWindowCyclesItsStepAndJogsRelatively) {
    displayWindowMove();
    current_window_ID = INDEX_WINDOW_MOVE;
    markTrace();
    for (int i = 0; i < 3; ++i) {
        centre(pic_movepagebuttondistance, scanWindoMove);
        centre(pic_movepagebuttonup, scanWindoMove);
    }
    std::vector<std::string> ups;
    for (const std::string& l : sent()) {
        if (l.rfind("G0 Z", 0) == 0) ups.push_back(l);
    }
    EXPECT_EQ(ups, (std::vector<std::string>{"G0 Z50 F1000", "G0 Z1 F1000", "G0 Z10 F1000"}));
    centre(pic_movepagebuttondistance, scanWindoMove);
    centre(pic_movepagebuttondistance, scanWindoMove);  // now 1
    markTrace();
    centre(pic_movepagebuttondown, scanWindoMove);
    EXPECT_EQ(sent(), (std::vector<std::string>{"M229", "G91", "G0 Z-1 F1000", "G90"}));

    // Homing waits for the confirmation; other buttons are dead meanwhile.
    centre(pic_movepagebuttonmovehome, scanWindoMove);
    markTrace();
    centre(pic_movepagebuttonup, scanWindoMove);
    EXPECT_TRUE(sent().empty());
    centre(pic_ledpagedialogyes, scanWindoMove);
    EXPECT_EQ(sent(), (std::vector<std::string>{"M229", "G28 Z0"}));
    EXPECT_EQ(dialog_operation, 0);
    EXPECT_EQ(next_window_ID, INDEX_WINDOW_MOVE);

    change_window = 0;
    scanWindowTest(314, 234);
    EXPECT_EQ(change_window, 1);
    change_window = 0;
    scanWindowTest(260, 200);
    scanWindowTest(300, 180);
    EXPECT_EQ(change_window, 0);
}

// Once homed, the window knows where the platform is and keeps it inside the
// travel: down from home would press it into the film, up past the top
// into the end of the axis.
TEST_F(WindowTest, MoveWindowKeepsAHomedPlatformInsideTheTravel) {
    displayWindowMove();
    current_window_ID = INDEX_WINDOW_MOVE;
    centre(pic_movepagebuttonmovehome, scanWindoMove);
    centre(pic_ledpagedialogyes, scanWindoMove);
    change_window = 0;
    displayWindowMove();  // the manager's redraw: the step is 10 again
    centre(pic_movepagebuttondistance, scanWindoMove);
    centre(pic_movepagebuttondistance, scanWindoMove);  // 1 mm
    markTrace();
    centre(pic_movepagebuttondown, scanWindoMove);
    EXPECT_TRUE(sent().empty()) << "below home";
    centre(pic_movepagebuttondistance, scanWindoMove);                        // 10 mm
    centre(pic_movepagebuttondistance, scanWindoMove);                        // 50 mm
    for (int i = 0; i < 3; ++i) centre(pic_movepagebuttonup, scanWindoMove);  // 150 mm
    centre(pic_movepagebuttondistance, scanWindoMove);                        // 1 mm
    centre(pic_movepagebuttondistance, scanWindoMove);                        // 10 mm
    for (int i = 0; i < 5; ++i) centre(pic_movepagebuttonup, scanWindoMove);  // 190, then refused
    std::vector<std::string> moves;
    for (const std::string& l : sent()) {
        if (l.rfind("G0 Z", 0) == 0) moves.push_back(l);
    }
    EXPECT_EQ(moves, (std::vector<std::string>{"G0 Z50 F1000", "G0 Z50 F1000", "G0 Z50 F1000",
                                               "G0 Z10 F1000", "G0 Z10 F1000", "G0 Z10 F1000",
                                               "G0 Z10 F1000"}));
    EXPECT_NEAR(board_.snapshot().z_target, ENVELOPE_Z_TRAVEL_MM, 1e-9);
    // Zeroed by hand, the current height is the bottom: down is refused, up
    // goes.
    centre(pic_movepagebuttonstopmove, scanWindoMove);
    markTrace();
    centre(pic_movepagebuttondown, scanWindoMove);
    EXPECT_TRUE(sent().empty()) << "below the zero set by hand";
    centre(pic_movepagebuttonup, scanWindoMove);
    EXPECT_EQ(sent(), (std::vector<std::string>{"M229", "G91", "G0 Z10 F1000", "G90"}));
}

TEST_F(WindowTest, PrintingWindowAsksForTheTemperaturePauseAndResume) {
    current_window_ID = INDEX_WINDOW_PRINT;
    setPrintStatus(PRINT_RUNNING);
    for (const auto& [t, request] :
         std::vector<std::pair<int16_t, int>>{{55, 0}, {56, rOPER_TEMPPAUSE}, {100, 0}}) {
        setCurrentButton(0);
        pravik3dprinter.led_temperature = t;
        displayPrintInformation();
        EXPECT_EQ(getCurrentButton(), request) << t;
    }
    setPrintStatus(PRINT_TEMP_PAUSED);
    for (const auto& [t, request] :
         std::vector<std::pair<int16_t, int>>{{45, 0}, {44, rOPER_RESUME}, {0, 0}}) {
        setCurrentButton(0);
        pravik3dprinter.led_temperature = t;
        displayPrintInformation();
        EXPECT_EQ(getCurrentButton(), request) << t;
    }
    // A pending cancel is never replaced by the pause.
    setPrintStatus(PRINT_DATA_ERROR);
    setCurrentButton(rOPER_CANCEL);
    pravik3dprinter.led_temperature = 60;
    displayPrintInformation();
    EXPECT_EQ(getCurrentButton(), rOPER_CANCEL);
    pravik3dprinter.led_temperature = 25;
}

TEST_F(WindowTest, ParameterStepsStopAtTheirLimits) {
    PrintParameter p{};
    p.curing_time = 99500;
    p.lift_distance1 = 0.3f;
    p.lift_distance2 = 0.3f;
    p.lift_speed1 = p.lift_speed2 = p.drop_speed = 100;
    p.burnin_time = 1000;
    p.burnin_range = 1;
    bindParameterAll(p);
    current_window_ID = INDEX_WINDOW_PARAMETEREDIT;
    auto edit = [](int row, const PicRecord& button, int presses) {
        parameterEditOption = static_cast<uint8_t>(row);
        parameterEdited = *ParameterAll[row].value;
        for (int i = 0; i < presses; ++i) centre(button, scanWindowParameterEdit);
        centre(pic_parameterbuttonok, scanWindowParameterEdit);
        return *ParameterAll[row].value;
    };
    EXPECT_FLOAT_EQ(edit(0, pic_parameterbuttonbigup, 1), 99900);
    p.curing_time = 100;
    EXPECT_FLOAT_EQ(edit(0, pic_parameterbuttonsmalldown, 1), 100);
    EXPECT_FLOAT_EQ(edit(8, pic_parameterbuttonsmalldown, 5), 0);     // Lift Distance2
    EXPECT_FLOAT_EQ(edit(6, pic_parameterbuttonsmalldown, 5), 0.1f);  // Lift Distantce1

    // Changed means a different first decimal: 100.05 against 100.0 is not.
    for (ParameterEntry& e : ParameterAll) e.reference = *e.value;
    p.lift_speed1 = 100.05f;
    ParameterAll[7].reference = 100.0f;
    displayWindowDetailmore();
    EXPECT_EQ(parameterChanged, 0);
    p.lift_speed1 = 100.1f;
    displayWindowDetailmore();
    EXPECT_EQ(parameterChanged, 1);
    // Between the columns nothing is picked.
    change_window = 0;
    scanWindowDetailmore(155, 75);
    EXPECT_EQ(change_window, 0);
}

TEST_F(WindowTest, OnePressActsOnceAndRequestsWithoutAnEntryStayPending) {
    displayWindowHome();
    // Two requests in one pass: the last one is drawn.
    requestWindow(INDEX_WINDOW_FILE);
    requestWindow(INDEX_WINDOW_SETTING);
    actWindowChange();
    EXPECT_EQ(current_window_ID, INDEX_WINDOW_SETTING);
    EXPECT_EQ(change_window, 0);
    // About's corner asks for 14: pending for good, About still answers.
    requestWindow(INDEX_WINDOW_ABOUT);
    actWindowChange();
    centre(pic_aboutpagemoreinf, scanWindowAbout);
    for (int i = 0; i < 3; ++i) actWindowChange();
    EXPECT_EQ(current_window_ID, INDEX_WINDOW_ABOUT);
    EXPECT_EQ(change_window, 1);
    centre(pic_aboutpagereturn, scanWindowAbout);
    actWindowChange();
    EXPECT_EQ(current_window_ID, INDEX_WINDOW_SETTING);
    requestWindow(16);
    actWindowChange();
    EXPECT_EQ(current_window_ID, INDEX_WINDOW_SETTING);
    EXPECT_EQ(change_window, 1);
    change_window = 0;
}

}  // namespace
