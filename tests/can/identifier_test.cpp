// SPDX-License-Identifier: GPL-3.0-or-later
// Identifier composition through the real controls: clicks on the switches,
// arrow keys on the knobs, and what the two identifier displays then show.
#include <gtest/gtest.h>

#include <QTest>

#include "app/KolvarCanView.h"
#include "can/can_id.h"
#include "platform/userint.h"
#include "tests/can/measured_panel.h"

namespace {

class IdentifierComposition : public MeasuredPanelTest {};

TEST_F(IdentifierComposition, StartUpComposesFromThePanelsInitialSwitch) {
    EXPECT_EQ(can_id.load(), 512);
    EXPECT_EQ(shownText(NUMERIC_DEC), "512");
    EXPECT_EQ(shownText(NUMERIC_DEC_2), "200");
}

struct IdentifierRow {
    const char* name;
    int pre2, pre1, pre0, knob1, knob0;
    int expected;
    const char* decimal;
    const char* hexadecimal;
};

const IdentifierRow kRows[] = {
    {"allOff", 0, 0, 0, 0, 0, 0, "0", "0"},
    {"pre0Only", 0, 0, 1, 0, 0, 256, "256", "100"},
    {"pre1Only", 0, 1, 0, 0, 0, 512, "512", "200"},
    {"pre2Only", 1, 0, 0, 0, 0, 1024, "1024", "400"},
    {"knobsA5", 0, 0, 0, 10, 5, 165, "165", "A5"},
    {"roadIdentifier", 0, 0, 1, 10, 5, 0x1A5, "421", "1A5"},
    {"highKnobOnly", 0, 0, 0, 15, 0, 240, "240", "F0"},
    {"largest", 1, 1, 1, 15, 15, 2047, "2047", "7FF"},
    {"backToZero", 0, 0, 0, 0, 0, 0, "0", "0"},
};

TEST_F(IdentifierComposition, ControlsComposeTheIdentifierAndBothDisplaysShowIt) {
    for (const IdentifierRow& row : kRows) {
        SCOPED_TRACE(row.name);
        composeIdentifier(row.pre2, row.pre1, row.pre0, row.knob1, row.knob0);
        EXPECT_EQ(can_id.load(), row.expected);
        EXPECT_EQ(intValue(NUMERIC_DEC), row.expected);
        EXPECT_EQ(shownText(NUMERIC_DEC), row.decimal);
        EXPECT_EQ(shownText(NUMERIC_DEC_2).toUpper(), row.hexadecimal);
    }
}

TEST_F(IdentifierComposition, EachSwitchChangesOnlyItsOwnBit) {
    composeIdentifier(0, 1, 0, 3, 4);
    ASSERT_EQ(can_id.load(), 0x234);
    click(RADIOBUTTON_PRE0);
    EXPECT_EQ(intValue(RADIOBUTTON_PRE1), 1);
    EXPECT_EQ(intValue(RADIOBUTTON_PRE2), 0);
    EXPECT_EQ(can_id.load(), 0x334);
    click(RADIOBUTTON_PRE1);
    EXPECT_EQ(intValue(RADIOBUTTON_PRE0), 1);
    EXPECT_EQ(can_id.load(), 0x134);
    click(RADIOBUTTON_PRE2);
    EXPECT_EQ(can_id.load(), 0x534);
    click(RADIOBUTTON_PRE2);
    EXPECT_EQ(can_id.load(), 0x134);
}

TEST_F(IdentifierComposition, KnobsStopAtTheirEndsSoTheIdentifierStaysWithin11Bits) {
    composeIdentifier(1, 1, 1, 15, 15);
    ASSERT_EQ(can_id.load(), 2047);
    QTest::keyClick(widget(NUMERICKNOB_ID0), Qt::Key_Up);
    QTest::keyClick(widget(NUMERICKNOB_ID1), Qt::Key_Right);
    EXPECT_EQ(can_id.load(), 2047);
    EXPECT_EQ(shownText(NUMERICKNOB_ID0).toUpper(), "F");
    EXPECT_EQ(shownText(NUMERIC_DEC_2).toUpper(), "7FF");

    composeIdentifier(0, 0, 0, 0, 0);
    QTest::keyClick(widget(NUMERICKNOB_ID0), Qt::Key_Down);
    QTest::keyClick(widget(NUMERICKNOB_ID1), Qt::Key_Left);
    EXPECT_EQ(can_id.load(), 0);
    EXPECT_EQ(shownText(NUMERIC_DEC), "0");
}

TEST_F(IdentifierComposition, ValueSetWithoutACommitDoesNotChangeTheFilter) {
    // Only the user's finished changes recompose: a value the program sets
    // on a knob is not a commit.
    ASSERT_EQ(can_id.load(), 512);
    ASSERT_GE(SetCtrlVal(panel, NUMERICKNOB_ID0, 7), 0);
    EXPECT_EQ(can_id.load(), 512);
    QTest::keyClick(widget(NUMERICKNOB_ID0), Qt::Key_Up);
    EXPECT_EQ(can_id.load(), 512 + 8);
    EXPECT_EQ(shownText(NUMERIC_DEC_2), "208");
}

}  // namespace
