// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's real main panel, loaded offscreen with the program's own
// callbacks and brought up the way the start-up does: interface selection,
// identifier composition, panel shown. Tests drive it with mouse and keyboard
// events on its widgets and read what its displays show.

#include <gtest/gtest.h>

#include <QString>
#include <functional>

class QWidget;

class MeasuredPanelTest : public ::testing::Test {
protected:
    // Loads and shows the panel in the service mode (raw words visible).
    void SetUp() override;
    // Stops a running connection, as closing the panel would, and discards
    // the panel.
    void TearDown() override;

    // Which channels the CAN layer offers: by default the virtual bus on a
    // port of this process's own (see bus_peers.h).
    virtual void chooseChannels();

    static QWidget* widget(int control);
    // A left click in the middle of the control, as the user makes it.
    static void click(int control);
    // Turns a knob to `value` with arrow-key presses.
    static void turnKnobTo(int control, int value);
    // Selects a ring entry with arrow-key presses on the focused ring.
    static void selectRingIndex(int control, int index);
    // Sets the five identifier controls through clicks and key presses.
    static void composeIdentifier(int pre2, int pre1, int pre0, int knob1, int knob0);
    // Switches the bus on or off with a click on the bus button, when it is
    // not already in that state.
    static void switchBus(bool on);

    static int intValue(int control);
    static double doubleValue(int control);
    // The text a numeric, meter, knob or ring shows.
    static QString shownText(int control);
    static bool isShown(int control);
    // What the bus status line says, and whether a display is drawn greyed.
    static QString statusLine();
    static bool greyed(int control);

    // Runs the event loop until `condition` holds or `timeoutMs` passes.
    static bool waitFor(const std::function<bool()>& condition, int timeoutMs);
    // True once the channel-1 raw display has shown six different words
    // within `timeoutMs`: a changing stream of the chosen identifier reaches
    // the panel.
    static bool framesFlow(int timeoutMs = 8000);

    int panel = 0;
};
