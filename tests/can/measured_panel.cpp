// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/can/measured_panel.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QWidget>
#include <set>

#include "app/KolvarCanView.h"
#include "app/callback_names.h"
#include "can/bus.h"
#include "can/can_id.h"
#include "can/hardware.h"
#include "app/status/status_line.h"
#include "platform/ui/qt_access.h"
#include "platform/userint.h"
#include "tests/can/bus_peers.h"
#include "tests/support/shown_text.h"

namespace {
char programName[] = "measurement_test";
char* programArgv[] = {programName, nullptr};
}  // namespace

void MeasuredPanelTest::chooseChannels() { useOwnVirtualBus(); }

void MeasuredPanelTest::SetUp() {
    chooseChannels();
    ASSERT_NE(InitCVIRTE(nullptr, programArgv, &kolvarCanViewNames), 0);
    panel = LoadPanel(0, "KolvarCanView.uir", PANEL);
    ASSERT_GT(panel, 0) << GetUILErrorString(panel);
    panelHandle = panel;
    debug = 1;
    CanChangeHardware();
    calcCanID();
    ASSERT_TRUE(StartBusStatusLine());
    ASSERT_GE(DisplayPanel(panel), 0);
    // The raw word of channel 1 appears when the panel gains focus in the
    // service mode; channel 2's with PLOT_CHANNEL at "Ch 2".
    panelCB(panel, EVENT_GOT_FOCUS, nullptr, 0, 0);
    selectRingIndex(PLOT_CHANNEL, 1);
}

void MeasuredPanelTest::TearDown() {
    StopBusStatusLine();
    CanStopConnection();
    onoff = 0;
    DiscardPanel(panel);
    panelHandle = 0;
    debug = 0;
}

QWidget* MeasuredPanelTest::widget(int control) {
    QWidget* found = uiControlWidget(panelHandle, control);
    EXPECT_NE(found, nullptr) << "control " << control;
    return found;
}

void MeasuredPanelTest::click(int control) {
    QWidget* target = widget(control);
    if (!target) return;
    QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, target->rect().center());
}

void MeasuredPanelTest::turnKnobTo(int control, int value) {
    QWidget* target = widget(control);
    if (!target) return;
    for (int guard = 0; guard < 32 && intValue(control) != value; ++guard)
        QTest::keyClick(target, intValue(control) < value ? Qt::Key_Up : Qt::Key_Down);
}

void MeasuredPanelTest::selectRingIndex(int control, int index) {
    auto* ring = qobject_cast<QComboBox*>(widget(control));
    if (!ring) return;
    for (int guard = 0; guard < 32 && ring->currentIndex() != index; ++guard)
        QTest::keyClick(ring, ring->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
}

void MeasuredPanelTest::composeIdentifier(int pre2, int pre1, int pre0, int knob1, int knob0) {
    const int switches[][2] = {
        {RADIOBUTTON_PRE2, pre2}, {RADIOBUTTON_PRE1, pre1}, {RADIOBUTTON_PRE0, pre0}};
    for (const auto& [control, wanted] : switches)
        if (intValue(control) != wanted) click(control);
    turnKnobTo(NUMERICKNOB_ID1, knob1);
    turnKnobTo(NUMERICKNOB_ID0, knob0);
}

void MeasuredPanelTest::switchBus(bool on) {
    if ((intValue(BUS_BUTTON) == 1) != on) click(BUS_BUTTON);
}

int MeasuredPanelTest::intValue(int control) {
    int value = -1;
    EXPECT_GE(GetCtrlVal(panelHandle, control, &value), 0) << "control " << control;
    return value;
}

double MeasuredPanelTest::doubleValue(int control) {
    double value = -1;
    EXPECT_GE(GetCtrlVal(panelHandle, control, &value), 0) << "control " << control;
    return value;
}

QString MeasuredPanelTest::shownText(int control) { return ::shownText(panelHandle, control); }

bool MeasuredPanelTest::isShown(int control) {
    int visible = 0;
    EXPECT_GE(GetCtrlAttribute(panelHandle, control, ATTR_VISIBLE, &visible), 0);
    return visible != 0;
}

bool MeasuredPanelTest::waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
    return true;
}

bool MeasuredPanelTest::framesFlow(int timeoutMs) {
    std::set<int> seen;
    return waitFor([&] {
        seen.insert(intValue(NUMERIC_CH1_RAW));
        return seen.size() >= 6;
    }, timeoutMs);
}

QString MeasuredPanelTest::statusLine() {
    QWidget* line = widget(BUS_STATUS_LINE);
    return line ? line->property("text").toString() : QString();
}

bool MeasuredPanelTest::greyed(int control) {
    int value = -1;
    EXPECT_GE(GetCtrlAttribute(panelHandle, control, ATTR_GREYED, &value), 0) << "control " << control;
    return value == 1;
}
