// SPDX-License-Identifier: GPL-3.0-or-later
// The window system's requests on a shown panel reach the panel callback.
#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>

#include "panel_fixture.h"

namespace {

TEST_F(PanelTest, CloseRequestReachesThePanelCallbackAndKeepsTheWindow) {
    ASSERT_EQ(DisplayPanel(panel), 0);
    QWidget* window = uiPanelWidget(panel);
    ASSERT_TRUE(window->isVisible());
    recordedEvents().clear();
    EXPECT_FALSE(window->close()) << "the close request is refused";
    EXPECT_TRUE(window->isVisible());
    ASSERT_EQ(recordedEvents().size(), 1u);
    EXPECT_EQ(recordedEvents()[0].panel, panel);
    EXPECT_EQ(recordedEvents()[0].event, EVENT_CLOSE);
}

TEST_F(PanelTest, ActivationIsReportedAsFocus) {
    recordedEvents().clear();
    ASSERT_EQ(DisplayPanel(panel), 0);
    QWidget* window = uiPanelWidget(panel);
    window->activateWindow();
    QElapsedTimer timer;
    timer.start();
    auto focusEvents = [] {
        int count = 0;
        for (const RecordedEvent& event : recordedEvents()) count += event.event == EVENT_GOT_FOCUS;
        return count;
    };
    while (focusEvents() == 0 && timer.elapsed() < 5000) QApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_GE(focusEvents(), 1);
    for (const RecordedEvent& event : recordedEvents()) {
        EXPECT_EQ(event.control, 0);
        EXPECT_EQ(event.panel, panel);
    }
}

}  // namespace
