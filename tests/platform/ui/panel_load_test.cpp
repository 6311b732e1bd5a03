// SPDX-License-Identifier: GPL-3.0-or-later
// The panel as loaded from the application's definition, and definitions
// that must not load.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QWidget>
#include <cstring>
#include <string>

#include "app/KolvarCanView.h"
#include "panel_fixture.h"

namespace {

struct ControlAtLoad {
    const char* name;
    int control;
    double value;
    const char* shown;  // what the control shows
    const char* label;  // null: no label
    bool visible;
};

// Every control with a value, as the panel must be before anyone touches it.
const ControlAtLoad kControlsAtLoad[] = {
    {"PLOT_CHANNEL", PLOT_CHANNEL, 0, "Ch 1", "Plot Channel", true},
    {"CAN_HARDWARE", CAN_HARDWARE, 1, "Kvaser", "CAN HARDWARE", true},
    {"CAN_CHANNEL", CAN_CHANNEL, 0, "Ch 1", "CAN Channel", true},
    {"BUS_BUTTON", BUS_BUTTON, 0, "OFF BUS", "Bus Status", true},
    {"NUMERICMETER2", NUMERICMETER2, 0, "0.00", "Channel 2", false},
    {"NUMERICMETER1", NUMERICMETER1, 0, "0.00", "Channel 1", true},
    {"CAN_BITRATE", CAN_BITRATE, -2, "500 kbps", "CAN Bitrate", true},
    {"NUMERICKNOB_ID0", NUMERICKNOB_ID0, 0, "0", nullptr, true},
    {"NUMERICKNOB_ID1", NUMERICKNOB_ID1, 0, "0", nullptr, true},
    {"RADIOBUTTON_PRE2", RADIOBUTTON_PRE2, 0, "PRE2", nullptr, true},
    {"RADIOBUTTON_PRE1", RADIOBUTTON_PRE1, 1, "PRE1", nullptr, true},
    {"RADIOBUTTON_PRE0", RADIOBUTTON_PRE0, 0, "PRE0", nullptr, true},
    {"NUMERIC_CH2_RAW", NUMERIC_CH2_RAW, 0, "0", nullptr, false},
    {"NUMERIC_CH1_RAW", NUMERIC_CH1_RAW, 0, "0", nullptr, false},
    {"NUMERIC_DEC_2", NUMERIC_DEC_2, 0, "0", "hexadecimal", true},
    {"NUMERIC_DEC", NUMERIC_DEC, 0, "0", "decimal", true},
};

TEST_F(PanelTest, EveryControlStartsAsDefined) {
    for (const ControlAtLoad& expected : kControlsAtLoad) {
        SCOPED_TRACE(expected.name);
        double value = -999;
        ASSERT_EQ(GetCtrlVal(panel, expected.control, &value), 0);
        EXPECT_EQ(value, expected.value);
        EXPECT_EQ(shownText(panel, expected.control), QString::fromUtf8(expected.shown));
        int visible = -1;
        ASSERT_EQ(GetCtrlAttribute(panel, expected.control, ATTR_VISIBLE, &visible), 0);
        EXPECT_EQ(visible, expected.visible ? 1 : 0);
        QLabel* label = uiControlLabel(panel, expected.control);
        if (expected.label) {
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->text(), QString::fromUtf8(expected.label));
            EXPECT_EQ(label->isHidden(), !expected.visible);
        } else {
            EXPECT_EQ(label, nullptr);
        }
    }
}

TEST_F(PanelTest, RingsHoldTheirEntriesWithValues) {
    struct Entry {
        const char* label;
        int value;
    };
    const struct {
        int control;
        std::vector<Entry> entries;
        int selected;
    } rings[] = {
        {PLOT_CHANNEL, {{"Ch 1", 0}, {"Ch 2", 1}}, 0},
        {CAN_HARDWARE, {{"Vector", 0}, {"Kvaser", 1}}, 1},
        {CAN_CHANNEL, {{"Ch 1", 0}, {"Ch 2", 1}}, 0},
        {CAN_BITRATE, {{"500 kbps", -2}, {"1 Mbps", -1}}, 0},
    };
    for (const auto& ring : rings) {
        SCOPED_TRACE(ring.control);
        int count = 0;
        ASSERT_EQ(GetNumListItems(panel, ring.control, &count), 0);
        ASSERT_EQ(count, int(ring.entries.size()));
        for (int i = 0; i < count; ++i) {
            char label[32] = {};
            int value = 99;
            ASSERT_EQ(GetLabelFromIndex(panel, ring.control, i, label, sizeof label), 0);
            ASSERT_EQ(GetValueFromIndex(panel, ring.control, i, &value), 0);
            EXPECT_STREQ(label, ring.entries[i].label);
            EXPECT_EQ(value, ring.entries[i].value);
        }
        int index = -1;
        ASSERT_EQ(GetCtrlIndex(panel, ring.control, &index), 0);
        EXPECT_EQ(index, ring.selected);
    }
}

TEST_F(PanelTest, PanelAndTextsAsDefined) {
    QWidget* window = uiPanelWidget(panel);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "Kolvar CAN Viewer");
    EXPECT_EQ(window->size(), QSize(636, 456));
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(0xF0, 0xF0, 0xF0));
    EXPECT_EQ(shownText(panel, TEXTMSG), "Kolvar CAN Viewer");
    EXPECT_EQ(shownText(panel, TEXTMSG_2), "CAN ID Filter");
    // The heading is the largest text on the panel.
    const int headingSize = uiControlWidget(panel, TEXTMSG)->font().pixelSize();
    for (int control = PLOT_CHANNEL; control <= TEXTMSG_2; ++control) {
        if (control == TEXTMSG) continue;
        EXPECT_LT(uiControlWidget(panel, control)->fontInfo().pixelSize(), headingSize) << control;
    }
}

TEST_F(PanelTest, LayoutAndDrawingOrder) {
    const struct {
        int control;
        QRect geometry;
    } bodies[] = {
        {CAN_HARDWARE, {137, 62, 74, 19}},
        {CAN_CHANNEL, {137, 87, 74, 19}},    {CAN_BITRATE, {137, 112, 74, 19}},
        {BUS_BUTTON, {537, 62, 62, 33}},     {NUMERIC_DEC, {137, 187, 51, 21}},
        {NUMERIC_DEC_2, {137, 245, 51, 21}}, {DECORATION, {212, 162, 300, 126}},
        {NUMERICKNOB_ID1, {320, 164, 84, 110}}, {NUMERICKNOB_ID0, {420, 164, 84, 110}},
        {PLOT_CHANNEL, {62, 337, 74, 19}},   {NUMERICMETER1, {159, 310, 181, 125}},
        {NUMERICMETER2, {360, 310, 180, 125}}, {NUMERIC_CH1_RAW, {288, 412, 50, 21}},
        {NUMERIC_CH2_RAW, {488, 412, 50, 21}}, {TREND_BUTTON, {62, 380, 74, 24}},
    };
    for (const auto& body : bodies) EXPECT_EQ(uiControlWidget(panel, body.control)->geometry(), body.geometry) << body.control;
    EXPECT_EQ(uiControlLabel(panel, BUS_BUTTON)->pos(), QPoint(544, 46));
    // Text messages widen to fit their text, the heading about its centre.
    for (int control : {TEXTMSG, TEXTMSG_2}) {
        auto* text = qobject_cast<QLabel*>(uiControlWidget(panel, control));
        EXPECT_GE(text->width(), text->fontMetrics().horizontalAdvance(text->text())) << control;
    }
    const QRect heading = uiControlWidget(panel, TEXTMSG)->geometry();
    EXPECT_EQ(heading.top(), 12);
    EXPECT_EQ(heading.height(), 28);
    EXPECT_LE(std::abs(heading.center().x() - QRect(237, 12, 189, 28).center().x()), 1);
    EXPECT_EQ(uiControlWidget(panel, TEXTMSG_2)->pos(), QPoint(37, 162));
    EXPECT_EQ(uiControlLabel(panel, NUMERICMETER1)->pos(), QPoint(227, 312));

    // Children are painted in list order: the decoration first, the raw
    // displays after their meters.
    const QObjectList order = uiPanelWidget(panel)->children();
    const auto position = [&](int control) { return order.indexOf(uiControlWidget(panel, control)); };
    EXPECT_EQ(position(DECORATION), 0);
    EXPECT_GT(position(NUMERIC_CH1_RAW), position(NUMERICMETER1));
    EXPECT_GT(position(NUMERIC_CH2_RAW), position(NUMERICMETER2));
}

TEST(PanelDefinition, IsFoundByItsNameWithoutAPath) {
    // The test binary carries no resource, so the bare name is not found;
    // the error names the file.
    static char programName[] = "kolvar_ui_tests";
    static char* argv[] = {programName, nullptr};
    ASSERT_EQ(InitCVIRTE(nullptr, argv, recordingNameTable()), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(LoadPanel(0, "NoSuchPanel.uir", 1), UIE_FILE_NOT_FOUND);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("NoSuchPanel.uir"), std::string::npos);
}

// Altered copies of the real definition that must fail to load, with the
// status and the name the error line must mention.
struct BrokenDefinition {
    const char* name;
    const char* from;
    const char* to;
    int status;
    const char* mentioned;
};

class BrokenDefinitionTest : public ::testing::TestWithParam<BrokenDefinition> {};

TEST_P(BrokenDefinitionTest, FailsLoudlyAndLeavesNothing) {
    static char programName[] = "kolvar_ui_tests";
    static char* argv[] = {programName, nullptr};
    ASSERT_EQ(InitCVIRTE(nullptr, argv, recordingNameTable()), 1);
    const BrokenDefinition broken = GetParam();
    QString text = panelDefinitionText();
    ASSERT_TRUE(text.contains(QString::fromUtf8(broken.from)));
    text.replace(text.indexOf(QString::fromUtf8(broken.from)), int(std::strlen(broken.from)), QString::fromUtf8(broken.to));
    const QString path = writeTemporaryDefinition(text);

    const int topLevelBefore = int(QApplication::topLevelWidgets().size());
    testing::internal::CaptureStderr();
    const int result = LoadPanel(0, path.toUtf8().constData(), 1);
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, broken.status);
    EXPECT_NE(message.find(broken.mentioned), std::string::npos) << message;
    EXPECT_EQ(int(QApplication::topLevelWidgets().size()), topLevelBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Definitions, BrokenDefinitionTest,
    ::testing::Values(
        BrokenDefinition{"UnknownControlCallback", "<string>canHardware</string>", "<string>canHardwar</string>",
                         UIE_UNKNOWN_CALLBACK, "canHardwar"},
        BrokenDefinition{"UnknownPanelCallback", "<string>panelCB</string>", "<string>panelCallback</string>",
                         UIE_UNKNOWN_CALLBACK, "panelCallback"},
        BrokenDefinition{"UnknownControlClass", "class=\"UiKnob\"", "class=\"UiGauge\"", UIE_BAD_DEFINITION, "UiGauge"},
        BrokenDefinition{"PlainQtWidget", "class=\"UiNumeric\"", "class=\"QLineEdit\"", UIE_BAD_DEFINITION, "QLineEdit"},
        BrokenDefinition{"RingValuesMissing", "<string>0</string><string>1</string></stringlist>",
                         "<string>0</string></stringlist>", UIE_BAD_DEFINITION, "ringValues"},
        BrokenDefinition{"RepeatedConstant", "<number>13</number>", "<number>12</number>", UIE_BAD_DEFINITION,
                         "ctrlId 12"},
        BrokenDefinition{"OtherPanel", "<property name=\"panelId\" stdset=\"0\"><number>1</number>",
                         "<property name=\"panelId\" stdset=\"0\"><number>2</number>", UIE_BAD_PANEL, "panel 2"},
        BrokenDefinition{"NotXml", "<ui version", "<ui <<", UIE_BAD_DEFINITION, "cannot load panel 1"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
