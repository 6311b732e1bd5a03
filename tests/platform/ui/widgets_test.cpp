// SPDX-License-Identifier: GPL-3.0-or-later
// The controls as a user operates them: each finished change is committed to
// the control's callback, and the values stay within their ranges.
#include <QAbstractEventDispatcher>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <atomic>
#include <cmath>
#include <thread>

#include "app/KolvarCanView.h"
#include "panel_fixture.h"
#include "platform/ui/knob.h"
#include "platform/ui/meter.h"

namespace {

int commitsOf(int control) {
    int commits = 0;
    for (const RecordedEvent& event : recordedEvents())
        if (event.control == control && event.event == EVENT_COMMIT) ++commits;
    return commits;
}

int valueOf(int panel, int control) {
    int value = -999;
    EXPECT_EQ(GetCtrlVal(panel, control, &value), 0);
    return value;
}

void wheel(QWidget* widget, int delta) {
    const QPointF centre = QRectF(widget->rect()).center();
    QWheelEvent event(centre, widget->mapToGlobal(centre), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

class WidgetsTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        ASSERT_EQ(DisplayPanel(panel), 0);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(uiPanelWidget(panel)));
        recordedEvents().clear();
    }
};

TEST_F(WidgetsTest, KnobStopsAtItsEndsAndShowsHexDigits) {
    auto* knob = qobject_cast<UiKnob*>(uiControlWidget(panel, NUMERICKNOB_ID0));
    ASSERT_NE(knob, nullptr);
    for (int i = 0; i < 20; ++i) QTest::keyClick(knob, Qt::Key_Up);
    EXPECT_EQ(valueOf(panel, NUMERICKNOB_ID0), 15);
    EXPECT_EQ(knob->displayText(), "F");
    EXPECT_EQ(commitsOf(NUMERICKNOB_ID0), 15) << "a step at the end changes nothing and commits nothing";

    for (int i = 0; i < 20; ++i) wheel(knob, -120);
    EXPECT_EQ(valueOf(panel, NUMERICKNOB_ID0), 0);
    EXPECT_EQ(commitsOf(NUMERICKNOB_ID0), 30);

    EXPECT_EQ(SetCtrlVal(panel, NUMERICKNOB_ID0, 99), 0);
    EXPECT_EQ(valueOf(panel, NUMERICKNOB_ID0), 15);
    EXPECT_EQ(SetCtrlVal(panel, NUMERICKNOB_ID0, -4), 0);
    EXPECT_EQ(valueOf(panel, NUMERICKNOB_ID0), 0);
    EXPECT_EQ(SetCtrlVal(panel, NUMERICKNOB_ID0, 10), 0);
    EXPECT_EQ(knob->displayText(), "A");
    EXPECT_EQ(commitsOf(NUMERICKNOB_ID0), 30) << "values set by the program are not commits";
}

TEST_F(WidgetsTest, KnobFollowsTheMouseAndCommitsOnRelease) {
    auto* knob = qobject_cast<UiKnob*>(uiControlWidget(panel, NUMERICKNOB_ID1));
    ASSERT_NE(knob, nullptr);
    // The scale sweeps 270 degrees clockwise from bottom left (0) to bottom
    // right (15), so straight up lies between 7 and 8.
    const QPointF centre = QRectF(knob->dialRect()).center();
    auto pointFor = [&](int value) {
        const double radians = (-135.0 + 270.0 * value / 15.0) * M_PI / 180.0;
        return (centre + 20.0 * QPointF(std::sin(radians), -std::cos(radians))).toPoint();
    };
    const QPoint top = QPointF(centre.x(), centre.y() - 20).toPoint();
    const QPoint right = pointFor(11);
    QTest::mousePress(knob, Qt::LeftButton, {}, top);
    const int atTop = valueOf(panel, NUMERICKNOB_ID1);
    EXPECT_TRUE(atTop == 7 || atTop == 8) << atTop;
    EXPECT_EQ(commitsOf(NUMERICKNOB_ID1), 0) << "no commit while the button is held";
    QMouseEvent move(QEvent::MouseMove, right, knob->mapToGlobal(right), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(knob, &move);
    QTest::mouseRelease(knob, Qt::LeftButton, {}, right);
    EXPECT_EQ(valueOf(panel, NUMERICKNOB_ID1), 11);
    EXPECT_EQ(knob->displayText(), "B");
    EXPECT_EQ(commitsOf(NUMERICKNOB_ID1), 1);

    // A press and release on the value it already has changes nothing.
    QTest::mouseClick(knob, Qt::LeftButton, {}, right);
    EXPECT_EQ(commitsOf(NUMERICKNOB_ID1), 1);

    // The digital display below the dial is no handle: a click there once
    // turned the knob to the end its angle pointed at.
    QWidget* other = uiControlWidget(panel, NUMERICKNOB_ID0);
    other->setFocus();
    QTest::mouseClick(knob, Qt::LeftButton, {}, QPoint(knob->width() / 2, knob->height() - 6));
    EXPECT_EQ(valueOf(panel, NUMERICKNOB_ID1), 11);
    EXPECT_EQ(commitsOf(NUMERICKNOB_ID1), 1);
    EXPECT_TRUE(knob->hasFocus()) << "a click readies the arrow keys";
    QTest::keyClick(knob, Qt::Key_Up);
    EXPECT_EQ(valueOf(panel, NUMERICKNOB_ID1), 12);
}

TEST_F(WidgetsTest, KnobTakesPageEndAndDigitKeys) {
    auto* knob = qobject_cast<UiKnob*>(uiControlWidget(panel, NUMERICKNOB_ID0));
    ASSERT_NE(knob, nullptr);
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int value;  // after the key
        int commits;
    } keys[] = {
        {Qt::Key_PageUp, Qt::NoModifier, 4, 1},  {Qt::Key_PageUp, Qt::NoModifier, 8, 2},
        {Qt::Key_End, Qt::NoModifier, 15, 3},    {Qt::Key_PageUp, Qt::NoModifier, 15, 3},
        {Qt::Key_PageDown, Qt::NoModifier, 11, 4}, {Qt::Key_Home, Qt::NoModifier, 0, 5},
        {Qt::Key_Home, Qt::NoModifier, 0, 5},    {Qt::Key_A, Qt::NoModifier, 10, 6},
        {Qt::Key_5, Qt::NoModifier, 5, 7},       {Qt::Key_5, Qt::KeypadModifier, 5, 7},
        {Qt::Key_F, Qt::ShiftModifier, 15, 8},   {Qt::Key_3, Qt::ControlModifier, 15, 8},
        {Qt::Key_G, Qt::NoModifier, 15, 8},
    };
    for (const auto& k : keys) {
        QTest::keyClick(knob, k.key, k.modifiers);
        EXPECT_EQ(valueOf(panel, NUMERICKNOB_ID0), k.value) << QKeySequence(k.key | k.modifiers).toString().toStdString();
        EXPECT_EQ(commitsOf(NUMERICKNOB_ID0), k.commits) << QKeySequence(k.key).toString().toStdString();
    }
}

TEST_F(WidgetsTest, RadioButtonsAreIndependent) {
    auto* pre0 = qobject_cast<QRadioButton*>(uiControlWidget(panel, RADIOBUTTON_PRE0));
    auto* pre2 = qobject_cast<QRadioButton*>(uiControlWidget(panel, RADIOBUTTON_PRE2));
    ASSERT_TRUE(pre0 && pre2);
    QTest::mouseClick(pre0, Qt::LeftButton, {}, QPoint(6, 7));
    EXPECT_EQ(valueOf(panel, RADIOBUTTON_PRE0), 1);
    EXPECT_EQ(valueOf(panel, RADIOBUTTON_PRE1), 1) << "switching one leaves the others";
    EXPECT_EQ(valueOf(panel, RADIOBUTTON_PRE2), 0);
    QTest::mouseClick(pre2, Qt::LeftButton, {}, QPoint(6, 7));
    QTest::mouseClick(pre0, Qt::LeftButton, {}, QPoint(6, 7));
    EXPECT_EQ(valueOf(panel, RADIOBUTTON_PRE0), 0);
    EXPECT_EQ(valueOf(panel, RADIOBUTTON_PRE1), 1);
    EXPECT_EQ(valueOf(panel, RADIOBUTTON_PRE2), 1);
    EXPECT_EQ(commitsOf(RADIOBUTTON_PRE0), 2);
    EXPECT_EQ(commitsOf(RADIOBUTTON_PRE2), 1);
    EXPECT_EQ(commitsOf(RADIOBUTTON_PRE1), 0);
}

TEST_F(WidgetsTest, BusButtonShowsItsStateOnItsFace) {
    auto* button = qobject_cast<QPushButton*>(uiControlWidget(panel, BUS_BUTTON));
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(valueOf(panel, BUS_BUTTON), 1);
    EXPECT_EQ(button->text(), "ON BUS");
    EXPECT_EQ(commitsOf(BUS_BUTTON), 1);
    EXPECT_EQ(SetCtrlVal(panel, BUS_BUTTON, 0), 0);
    EXPECT_EQ(button->text(), "OFF BUS");
    EXPECT_EQ(commitsOf(BUS_BUTTON), 1);
    // Space, Return and the keypad's Enter switch it as a click does.
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_EQ(valueOf(panel, BUS_BUTTON), 1);
    QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(valueOf(panel, BUS_BUTTON), 0);
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(valueOf(panel, BUS_BUTTON), 1);
    EXPECT_EQ(commitsOf(BUS_BUTTON), 4);
}

TEST_F(WidgetsTest, RingCommitsTheUsersChoiceAndTakesNewEntries) {
    auto* ring = qobject_cast<QComboBox*>(uiControlWidget(panel, CAN_BITRATE));
    ASSERT_NE(ring, nullptr);
    ring->setFocus();
    QTest::keyClick(ring, Qt::Key_Down);
    EXPECT_EQ(valueOf(panel, CAN_BITRATE), -1);
    EXPECT_EQ(commitsOf(CAN_BITRATE), 1);
    EXPECT_EQ(SetCtrlIndex(panel, CAN_BITRATE, 0), 0);
    EXPECT_EQ(commitsOf(CAN_BITRATE), 1);
    EXPECT_EQ(SetCtrlIndex(panel, CAN_BITRATE, 2), UIE_BAD_INDEX);

    // Picked from the list: the entry already selected is no change and
    // commits nothing (once it re-initialised the driver under an open
    // channel); another entry commits.
    auto pickFromList = [&](int key) {
        ring->showPopup();
        if (key) QTest::keyClick(ring->view(), Qt::Key(key));
        QTest::keyClick(ring->view(), Qt::Key_Return);
    };
    pickFromList(0);
    EXPECT_EQ(commitsOf(CAN_BITRATE), 1);
    pickFromList(Qt::Key_Down);
    EXPECT_EQ(valueOf(panel, CAN_BITRATE), -1);
    EXPECT_EQ(commitsOf(CAN_BITRATE), 2);

    // The refill the channel list goes through: empty it, insert at the top.
    ASSERT_EQ(DeleteListItem(panel, CAN_CHANNEL, 0, -1), 0);
    for (int k = 3; k >= 1; --k) {
        char label[8];
        ASSERT_EQ(Fmt(label, "%s<%s%i", "Ch ", k), 2);
        ASSERT_EQ(InsertListItem(panel, CAN_CHANNEL, 0, label, k - 1), 0);
    }
    ASSERT_EQ(SetCtrlIndex(panel, CAN_CHANNEL, 0), 0);
    EXPECT_EQ(shownText(panel, CAN_CHANNEL), "Ch 1");
    int count = 0;
    ASSERT_EQ(GetNumListItems(panel, CAN_CHANNEL, &count), 0);
    EXPECT_EQ(count, 3);
    ASSERT_EQ(SetCtrlVal(panel, CAN_CHANNEL, 2), 0);
    EXPECT_EQ(shownText(panel, CAN_CHANNEL), "Ch 3");
    EXPECT_EQ(SetCtrlVal(panel, CAN_CHANNEL, 7), UIE_BAD_VALUE_TYPE) << "no entry carries 7";
}

TEST_F(WidgetsTest, DisplaysFormatTheirValues) {
    const struct {
        int control;
        double value;
        const char* shown;
    } cases[] = {
        {NUMERIC_CH1_RAW, 65535, "FFFF"},  {NUMERIC_CH1_RAW, 0xFFF0, "FFF0"}, {NUMERIC_CH2_RAW, 16, "10"},
        {NUMERIC_DEC, 2047, "2047"},       {NUMERIC_DEC_2, 2047, "7FF"},      {NUMERIC_DEC_2, 512, "200"},
        {NUMERICMETER1, -100.0, "-100.00"}, {NUMERICMETER1, 100.0, "100.00"}, {NUMERICMETER2, -99.951, "-99.95"},
        {NUMERICMETER1, -0.0024, "0.00"},   {NUMERICMETER1, 250.0, "100.00"}, {NUMERICMETER1, 0.0244, "0.02"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SetCtrlVal(panel, c.control, c.value), 0);
        EXPECT_EQ(shownText(panel, c.control), c.shown) << c.control << " " << c.value;
    }
}

// `part` of the meter as the window last painted it on the screen, and as
// a full paint of the meter draws it now: equal unless a repaint of part of
// the meter left something stale behind. (The label lies over the meter's
// top, so only its dial and digits are compared.)
QImage meterOnScreen(UiMeter* meter, const QRect& part) {
    QWidget* window = meter->window();
    const QPoint at = meter->mapTo(window, part.topLeft());
    return window->screen()
        ->grabWindow(window->winId(), at.x(), at.y(), part.width(), part.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}
QImage meterDrawnAfresh(UiMeter* meter, const QRect& part) {
    return meter->grab().toImage().convertToFormat(QImage::Format_RGB32).copy(part);
}

TEST_F(WidgetsTest, MeterRepaintsOnlyWhenWhatItShowsChanges) {
    // Values arrive at screen rate; a step that changes only the last digit
    // shown must reach the screen, one that changes nothing visible must not
    // cost a repaint (its needle moves far less than a pixel). A repaint
    // covers only the needle's old and new places and the digits: what is on
    // the screen afterwards must be the whole meter as it is now.
    auto* meter = qobject_cast<UiMeter*>(uiControlWidget(panel, NUMERICMETER1));
    ASSERT_NE(meter, nullptr);
    const struct {
        double from;
        double to;
        bool repaints;
    } cases[] = {
        {12.34, 12.35, true},
        {12.34, 12.3449, false},
        {-100.0, 100.0, true},
        {100.0, 99.99, true},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(SetCtrlVal(panel, NUMERICMETER1, c.from), 0);
        QApplication::processEvents();
        const std::uint64_t paintsBefore = uiPaintCount(panel, NUMERICMETER1);
        ASSERT_EQ(SetCtrlVal(panel, NUMERICMETER1, c.to), 0);
        QApplication::processEvents();
        EXPECT_EQ(uiPaintCount(panel, NUMERICMETER1) > paintsBefore, c.repaints) << c.from << " -> " << c.to;
        // The digits always; the dial where the needle moved by pixels (a
        // move of less than one is left on the screen by design).
        const QRect digits = meter->displayRect();
        EXPECT_EQ(meterOnScreen(meter, digits), meterDrawnAfresh(meter, digits)) << c.from << " -> " << c.to;
        if (std::abs(c.to - c.from) > 1) {
            EXPECT_EQ(meterOnScreen(meter, meter->dialRect()), meterDrawnAfresh(meter, meter->dialRect()))
                << c.from << " -> " << c.to;
        }
    }

    // From another thread values come in a batch, painted in the same pass
    // with nothing under the needle's and the digits' places painted first:
    // the meter's own paint must cover them whole.
    for (const double value : {-50.0, 100.0, -100.0}) {
        std::thread([this, value] { SetCtrlVal(panel, NUMERICMETER1, value); }).join();
        // Applied and painted in one pass of the main thread.
        QTRY_COMPARE(shownText(panel, NUMERICMETER1), QString::number(value, 'f', 2));
        for (const QRect& part : {meter->dialRect(), meter->displayRect()})
            EXPECT_EQ(meterOnScreen(meter, part), meterDrawnAfresh(meter, part)) << value;
    }

    // A producer that never pauses: the main thread wakes once a frame to
    // paint, and the paint leaves it nothing to wake for again at once.
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        for (long n = 0; !stop.load(); ++n) SetCtrlVal(panel, NUMERICMETER1, double(n % 200 - 100));
    });
    int wakeUps = 0;
    const auto counter = QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                                          [&] { ++wakeUps; });
    const std::uint64_t paintsBefore = uiPaintCount(panel, NUMERICMETER1);
    QEventLoop loop;
    QTimer::singleShot(500, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(counter);
    stop.store(true);
    producer.join();
    const std::uint64_t paints = uiPaintCount(panel, NUMERICMETER1) - paintsBefore;
    EXPECT_GT(paints, 5u);
    EXPECT_LE(double(wakeUps), 1.5 * double(paints) + 5) << paints << " paints";
}

TEST_F(WidgetsTest, VisibilityTakesTheLabelAlong) {
    ASSERT_EQ(SetCtrlAttribute(panel, NUMERICMETER2, ATTR_VISIBLE, 1), 0);
    EXPECT_TRUE(uiControlWidget(panel, NUMERICMETER2)->isVisible());
    EXPECT_TRUE(uiControlLabel(panel, NUMERICMETER2)->isVisible());
    ASSERT_EQ(SetCtrlAttribute(panel, NUMERICMETER2, ATTR_VISIBLE, 0), 0);
    EXPECT_FALSE(uiControlWidget(panel, NUMERICMETER2)->isVisible());
    EXPECT_FALSE(uiControlLabel(panel, NUMERICMETER2)->isVisible());
    EXPECT_EQ(SetCtrlAttribute(panel, NUMERICMETER2, 531, 0), UIE_BAD_ATTRIBUTE);
    EXPECT_EQ(SetCtrlAttribute(panel, 99, ATTR_VISIBLE, 0), UIE_BAD_CONTROL);
    EXPECT_EQ(SetCtrlAttribute(panel + 100, NUMERICMETER2, ATTR_VISIBLE, 0), UIE_BAD_PANEL);
    EXPECT_EQ(SetCtrlVal(panel, TEXTMSG, 1), UIE_BAD_VALUE_TYPE);
}

TEST_F(WidgetsTest, NeedleAndPointerMoveWithTheValue) {
    // What is drawn changes with the value (the face is cached, so this
    // catches a stale cache or a needle that is not drawn).
    for (int control : {NUMERICMETER1, NUMERICKNOB_ID0}) {
        QWidget* widget = uiControlWidget(panel, control);
        ASSERT_EQ(SetCtrlVal(panel, control, -100.0), 0);
        const QImage low = widget->grab().toImage();
        ASSERT_EQ(SetCtrlVal(panel, control, 100.0), 0);
        const QImage high = widget->grab().toImage();
        ASSERT_EQ(SetCtrlVal(panel, control, -100.0), 0);
        EXPECT_NE(low, high) << control;
        EXPECT_EQ(widget->grab().toImage(), low) << control;
        EXPECT_GT(uiPaintCount(panel, control), 2u) << control;
    }

    // Without a value a meter draws no needle and shows "—", whatever value
    // it holds, and so does a raw display; cleared, the value comes back.
    QWidget* meter = uiControlWidget(panel, NUMERICMETER1);
    ASSERT_EQ(SetCtrlAttribute(panel, NUMERICMETER1, ATTR_NO_VALUE, 1), 0);
    ASSERT_EQ(SetCtrlAttribute(panel, NUMERIC_CH1_RAW, ATTR_NO_VALUE, 1), 0);
    const QImage none = meter->grab().toImage();
    EXPECT_EQ(shownText(panel, NUMERICMETER1), "—");
    EXPECT_EQ(shownText(panel, NUMERIC_CH1_RAW), "—");
    ASSERT_EQ(SetCtrlVal(panel, NUMERICMETER1, 100.0), 0);
    EXPECT_EQ(meter->grab().toImage(), none);
    ASSERT_EQ(SetCtrlAttribute(panel, NUMERICMETER1, ATTR_NO_VALUE, 0), 0);
    EXPECT_EQ(shownText(panel, NUMERICMETER1), "100.00");
    EXPECT_NE(meter->grab().toImage(), none);
    EXPECT_EQ(SetCtrlAttribute(panel, NUMERICKNOB_ID0, ATTR_NO_VALUE, 1), UIE_BAD_ATTRIBUTE);
}

}  // namespace
