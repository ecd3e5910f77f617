// The safety envelope: the verdict on a file's values at each limit, and the
// sequencer's own guard on every motion line it sends.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "firmware/print/print.h"
#include "firmware/print/print_file.h"
#include "firmware/print/safety_envelope.h"
#include "firmware/ui/ui.h"
#include "print_file_builder.h"
#include "serial_fixture.h"

namespace {

float above(float v) {
    return std::nextafter(v, INFINITY);
}
float below(float v) {
    return std::nextafter(v, -INFINITY);
}

// Each limit just inside and just outside, on the worked example's values.
TEST(SafetyEnvelope, EachLimitAcceptsItsEdgeAndRefusesJustBeyond) {
    struct Case {
        const char* field;  // named in the refusal
        std::function<void(PrintParameter&, bool beyond)> set;
    };
    const Case cases[] = {
        {"ZThick", [](PrintParameter& p, bool b) { p.ZThick = b ? below(0.001f) : 0.001f; }},
        {"ZThick", [](PrintParameter& p, bool b) { p.ZThick = b ? above(0.5f) : 0.5f; }},
        {"layer_count",
         [](PrintParameter& p, bool b) {
             p.ZThick = 0.001f;
             p.layer_count = b ? 65536 : 65535;
         }},
        {"curing_time",
         [](PrintParameter& p, bool b) { p.curing_time = b ? above(300000) : 300000; }},
        {"burnin_time",
         [](PrintParameter& p, bool b) { p.burnin_time = b ? above(300000) : 300000; }},
        {"stable_time",
         [](PrintParameter& p, bool b) { p.stable_time = b ? above(300000) : 300000; }},
        {"b_stable_time",
         [](PrintParameter& p, bool b) { p.b_stable_time = b ? above(300000) : 300000; }},
        {"lift_speed1", [](PrintParameter& p, bool b) { p.lift_speed1 = b ? above(1000) : 1000; }},
        {"lift_speed2", [](PrintParameter& p, bool b) { p.lift_speed2 = b ? above(1000) : 1000; }},
        {"drop_speed", [](PrintParameter& p, bool b) { p.drop_speed = b ? above(1000) : 1000; }},
        {"lift_distance1",
         [](PrintParameter& p, bool b) {
             p.layer_count = 0;  // no layer cycle: only the distance itself counts
             p.lift_distance1 = b ? above(190) : 190;
         }},
        // 5 + 2.05 mm of lifts over 3659 layers of 0.05 mm reach 190 mm.
        {"highest lift", [](PrintParameter& p, bool b) { p.layer_count = b ? 3661 : 3660; }},
    };
    for (const Case& c : cases) {
        for (const bool beyond : {false, true}) {
            PrintFileBuilder f;
            c.set(f.p, beyond);
            const EnvelopeVerdict v = judgePrintParameters(f.p);
            SCOPED_TRACE(std::string(c.field) + (beyond ? " beyond" : " at the edge"));
            EXPECT_EQ(v.inside, !beyond) << v.reason;
            if (beyond) {
                EXPECT_NE(std::string(v.reason).find(c.field), std::string::npos);
            }
        }
    }
}

TEST(SafetyEnvelope, JudgesTheValuesAJobRunsWith) {
    PrintFileBuilder f;
    f.p.lift_speed1 = -5;   // raised to the panel's 10 on read
    f.p.drop_speed = 0.5f;  // the second lift's speed instead
    f.p.stable_time = -1e9f;
    EXPECT_TRUE(judgePrintParameters(f.p).inside);
    f.p.lift_speed2 = 2000;  // and so the return too
    const EnvelopeVerdict v = judgePrintParameters(f.p);
    EXPECT_FALSE(v.inside);
    EXPECT_STREQ(v.reason,
                 "print file refused: lift_speed2 2000 mm/min above the fastest feed of 1000 "
                 "mm/min");
    // Lines at the envelope's corners fit; a distance below a micrometre's
    // half is no move at all in the line.
    char line[kLineSize];
    EXPECT_GT(formatMotionLine(line, true, 190, 1000), 0);
    EXPECT_STREQ(line, "G1 Z-190.000000 F1000.000000");
    EXPECT_EQ(formatMotionLine(line, false, 1000, 3e38f), -1);
    EXPECT_EQ(sentDistance(0.0000004f), 0.0);
}

// The sequencer's lines on the motion-board model.
class SequencerGuard : public SerialFixture {
  protected:
    void SetUp() override {
        SerialFixture::SetUp();
        startBoard();
        printparameter = PrintFileBuilder::quick(3).p;
        initPrintPara();
        useJobMotion(nullptr);
        clearCurrentButton();
        setPrintStatus(PRINT_RUNNING);  // the checkpoint lets a running job on
    }
    void TearDown() override {
        clearCurrentButton();
        setPrintStatus(0);
        SerialFixture::TearDown();
    }
};

TEST_F(SequencerGuard, NoMotionBeforeHomingOrOutsideTheEnvelope) {
    EXPECT_FALSE(printMove(false, 1, 300));  // not homed yet
    EXPECT_TRUE(sentSince(0).empty());
    actPrintPrepare();
    EXPECT_EQ(printCommandedZ(), 0);
    EXPECT_FALSE(printMove(true, 0.001f, 300));  // below home
    EXPECT_FALSE(printMove(false, 1, 1001));     // too fast
    EXPECT_FALSE(printMove(false, 1, 5));        // so slow no cancel would reach it
    EXPECT_TRUE(printMove(false, 190, 1000));    // to the top
    EXPECT_FALSE(printMove(false, 0.0001f, 300));
    EXPECT_TRUE(printMove(true, 190, 1000));
    const std::vector<std::string> lines = sentSince(0);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "G1 Z190.000000 F1000.000000");
    EXPECT_EQ(lines.back(), "G1 Z-190.000000 F1000.000000");
    EXPECT_NEAR(board_.snapshot().z_target, 0, 1e-9);
}

// The file passed its checks; then the values changed under the job.
TEST_F(SequencerGuard, ALiftChangedAfterTheCheckStopsTheJobWithoutItsReturn) {
    actPrintPrepare();
    ASSERT_TRUE(liftAndReturn());
    EXPECT_NEAR(printCommandedZ(), 0.05, 1e-9);

    printparameter.lift_distance1 = 1000;
    printparameter.lift_speed1 = 3e38f;
    setCurrentButton(rOPER_CANCEL);  // so the error wait ends at once
    const uint64_t mark = trace_.nextSeq();
    EXPECT_FALSE(liftAndReturn());
    EXPECT_EQ(getPrintStatus(), PRINT_DATA_ERROR);
    for (const std::string& l : sentSince(mark))
        EXPECT_EQ(l.rfind("G1", 0), std::string::npos) << l;

    // A lift that passes the top is refused after the first line went out.
    printparameter = PrintFileBuilder::quick(3).p;
    printparameter.lift_distance2 = 189.9f;
    const uint64_t second = trace_.nextSeq();
    EXPECT_FALSE(actPrintMotorMoveUp());
    const std::vector<std::string> lines = sentSince(second);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "G1 Z1.000000 F300.000000");
    EXPECT_NEAR(printCommandedZ(), 1.05, 1e-9);
}

TEST_F(SequencerGuard, TheEndRaiseIsClampedToTheTravelLeft) {
    actPrintPrepare();
    ASSERT_TRUE(printMove(false, 120, 1000));
    uint64_t mark = trace_.nextSeq();
    printEndCommand();
    EXPECT_EQ(sentSince(mark).back(), "G0 Z40 F300");
    mark = trace_.nextSeq();
    printEndCommand();  // 160 mm: 30 left
    EXPECT_EQ(sentSince(mark).back(), "G0 Z30.000000 F300");
    EXPECT_NEAR(printCommandedZ(), 190, 1e-9);
    mark = trace_.nextSeq();
    printEndCommand();  // at the top: no raise at all
    EXPECT_EQ(sentSince(mark), (std::vector<std::string>{"M220", "G91"}));
    EXPECT_NEAR(board_.snapshot().z_target, 190, 1e-6);
}

}  // namespace
