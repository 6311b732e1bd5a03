// SPDX-License-Identifier: GPL-3.0-or-later
// The panel as people read it: on a dark desktop theme, and through a screen
// reader's view of the controls (Qt's accessibility interfaces, which the
// AT-SPI bridge hands on as they are).
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "app/KolvarCanView.h"
#include "panel_fixture.h"
#include "platform/ui/dial.h"

namespace {

// Relative luminance of an sRGB colour (WCAG 2).
double luminance(const QColor& colour) {
    auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

// WCAG 2 contrast ratio: 1 (same luminance) to 21 (black on white).
double contrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette darkDesktop() {
    QPalette dark;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        dark.setColor(group, QPalette::Window, QColor(0x2B, 0x2B, 0x2B));
        dark.setColor(group, QPalette::WindowText, Qt::white);
        dark.setColor(group, QPalette::Base, QColor(0x1E, 0x1E, 0x1E));
        dark.setColor(group, QPalette::Text, Qt::white);
        dark.setColor(group, QPalette::Button, QColor(0x35, 0x35, 0x35));
        dark.setColor(group, QPalette::ButtonText, Qt::white);
        dark.setColor(group, QPalette::Light, QColor(0x50, 0x50, 0x50));
        dark.setColor(group, QPalette::Midlight, QColor(0x40, 0x40, 0x40));
        dark.setColor(group, QPalette::Mid, QColor(0x30, 0x30, 0x30));
        dark.setColor(group, QPalette::Dark, QColor(0x20, 0x20, 0x20));
        dark.setColor(group, QPalette::Shadow, Qt::black);
    }
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x90, 0x90, 0x90));
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(0x90, 0x90, 0x90));
    return dark;
}

// The contrast of the text in `box`: its most common colour is taken as the
// background, the pixel that differs from it most as the text's ink.
double textContrast(const QImage& image, const QRect& box) {
    QHash<QRgb, int> counts;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x) ++counts[image.pixel(x, y)];
    QRgb background = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most) most = it.value(), background = it.key();
    double best = 1.0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = std::max(best, contrastRatio(QColor(background), QColor(it.key())));
    return best;
}

class AccessTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        ASSERT_EQ(DisplayPanel(panel), 0);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(uiPanelWidget(panel)));
    }
    QRect placeOf(int control) const { return uiControlWidget(panel, control)->geometry(); }
    QRect labelOf(int control) const { return uiControlLabel(panel, control)->geometry(); }
};

TEST_F(AccessTest, EveryTextReadsOnADarkDesktop) {
    const QPalette before = QApplication::palette();
    QApplication::setPalette(darkDesktop());
    ASSERT_EQ(SetCtrlAttribute(panel, NUMERICMETER2, ATTR_VISIBLE, 1), 0);
    ASSERT_EQ(SetCtrlAttribute(panel, NUMERICMETER2, ATTR_GREYED, 1), 0);
    QApplication::processEvents();

    auto inside = [&](int control, const QRect& part) { return part.translated(placeOf(control).topLeft()); };
    auto dialOf = [&](int control) { return static_cast<UiDial*>(uiControlWidget(panel, control)); };
    const struct {
        const char* text;
        QRect box;  // in the panel
    } texts[] = {
        {"title", placeOf(TEXTMSG)},
        {"CAN ID Filter", placeOf(TEXTMSG_2)},
        {"status line", placeOf(BUS_STATUS_LINE).adjusted(0, 0, 0, -60)},
        {"CAN HARDWARE", labelOf(CAN_HARDWARE)},
        {"CAN Channel", labelOf(CAN_CHANNEL)},
        {"CAN Bitrate", labelOf(CAN_BITRATE)},
        {"Bus Status", labelOf(BUS_BUTTON)},
        {"decimal", labelOf(NUMERIC_DEC)},
        {"hexadecimal", labelOf(NUMERIC_DEC_2)},
        {"Plot Channel", labelOf(PLOT_CHANNEL)},
        {"Channel 1", labelOf(NUMERICMETER1)},
        {"PRE0", placeOf(RADIOBUTTON_PRE0).adjusted(16, 0, 0, 0)},
        {"PRE2", placeOf(RADIOBUTTON_PRE2).adjusted(16, 0, 0, 0)},
        {"ring entry 500 kbps", placeOf(CAN_BITRATE).adjusted(3, 3, -24, -3)},
        {"bus button OFF BUS", placeOf(BUS_BUTTON).adjusted(4, 4, -4, -4)},
        {"knob scale", inside(NUMERICKNOB_ID1, QRect(0, 0, 84, 20))},
        {"knob digit", inside(NUMERICKNOB_ID1, QRect(31, 88, 18, 19))},
        {"identifier in decimal", placeOf(NUMERIC_DEC).adjusted(1, 1, -1, -1)},
        {"meter scale", inside(NUMERICMETER1, QRect(dialOf(NUMERICMETER1)->dialRect().topLeft(), QSize(176, 30)))},
        {"meter reading", inside(NUMERICMETER1, QRect(3, 102, 50, 20))},
        {"greyed meter reading", inside(NUMERICMETER2, QRect(3, 102, 49, 20))},
    };
    const QImage image = uiPanelWidget(panel)->grab().toImage();
    for (const auto& t : texts) {
        const double ratio = textContrast(image, t.box);
        std::printf("contrast %-24s %5.1f : 1\n", t.text, ratio);
        EXPECT_GE(ratio, 4.5) << t.text;
    }
    // The ground all of them stand on stays the definition's light grey.
    EXPECT_EQ(image.pixelColor(5, 5), QColor(0xF0, 0xF0, 0xF0));
    QApplication::setPalette(before);
}

TEST_F(AccessTest, ScreenReaderGetsNamesRolesAndValues) {
    ASSERT_EQ(SetCtrlVal(panel, NUMERICKNOB_ID1, 10), 0);
    ASSERT_EQ(SetCtrlVal(panel, NUMERIC_DEC_2, 0x1A5), 0);
    ASSERT_EQ(SetCtrlVal(panel, NUMERICMETER1, 37.0), 0);
    ASSERT_EQ(SetCtrlAttribute(panel, NUMERICMETER2, ATTR_VISIBLE, 1), 0);
    ASSERT_EQ(SetCtrlAttribute(panel, NUMERICMETER2, ATTR_GREYED, 1), 0);
    const struct {
        int control;
        QAccessible::Role role;
        const char* name;
        const char* value;  // the text a reader says after the name
    } controls[] = {
        {NUMERICKNOB_ID1, QAccessible::Dial, "ID high digit", "A"},
        {NUMERICKNOB_ID0, QAccessible::Dial, "ID low digit", "0"},
        {NUMERICMETER1, QAccessible::Dial, "Channel 1", "37.00, live"},
        {NUMERICMETER2, QAccessible::Dial, "Channel 2", "0.00, stale"},
        {NUMERIC_DEC, QAccessible::EditableText, "decimal", "0"},
        {NUMERIC_DEC_2, QAccessible::EditableText, "hexadecimal", "1A5"},
        {NUMERIC_CH1_RAW, QAccessible::EditableText, "Channel 1 raw word", "0"},
        // Qt gives every two-state button the check box's role: checked is on.
        {BUS_BUTTON, QAccessible::CheckBox, "OFF BUS", ""},
        {RADIOBUTTON_PRE1, QAccessible::CheckBox, "PRE1", ""},
    };
    for (const auto& c : controls) {
        QAccessibleInterface* control = QAccessible::queryAccessibleInterface(uiControlWidget(panel, c.control));
        ASSERT_NE(control, nullptr) << c.name;
        EXPECT_EQ(control->role(), c.role) << c.name;
        EXPECT_EQ(control->text(QAccessible::Name), c.name);
        EXPECT_EQ(control->text(QAccessible::Value), c.value) << c.name;
        if (c.control == NUMERICMETER1 || c.control == NUMERICMETER2) {
            EXPECT_EQ(control->text(QAccessible::Description), c.value) << c.name;
        }
        const bool turnable = c.control == NUMERICKNOB_ID0 || c.control == NUMERICKNOB_ID1;
        if (c.role == QAccessible::EditableText || c.role == QAccessible::Dial) {
            EXPECT_EQ(control->state().readOnly, !turnable) << c.name;
            EXPECT_NE(control->valueInterface(), nullptr) << c.name;
        }
        if (c.role == QAccessible::EditableText) {
            ASSERT_NE(control->textInterface(), nullptr) << c.name;
            EXPECT_EQ(control->textInterface()->text(0, -1), c.value) << c.name;
        }
    }
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(uiControlWidget(panel, NUMERICKNOB_ID0))
                     ->text(QAccessible::Description)
                     .isEmpty())
        << "a knob, which has no label, is described";

    // The rings say their entry; their label comes by the label relation.
    for (const auto& [ring, caption] : {std::pair{CAN_HARDWARE, "CAN HARDWARE"}, std::pair{PLOT_CHANNEL, "Plot Channel"}}) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(uiControlWidget(panel, ring));
        ASSERT_NE(face, nullptr);
        const auto labels = face->relations(QAccessible::Label);
        ASSERT_EQ(labels.size(), 1) << caption;
        EXPECT_EQ(labels.front().first->text(QAccessible::Name), caption);
    }
    // The panel is a frame named by its title.
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(uiPanelWidget(panel));
    EXPECT_EQ(window->role(), QAccessible::Window);
    EXPECT_EQ(window->text(QAccessible::Name), "Kolvar CAN Viewer");
}

}  // namespace
