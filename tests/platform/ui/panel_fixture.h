// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Loads the application's panel definition with a name table of recording
// callbacks, so that the run-time can be tested without the application.

#include <gtest/gtest.h>

#include <QString>
#include <vector>

#include "platform/ui/qt_access.h"
#include "platform/userint.h"
#include "tests/support/shown_text.h"

struct RecordedEvent {
    int panel;
    int control;  // 0 for panel events
    int event;
};

// Every callback event the recording callbacks received, in order.
std::vector<RecordedEvent>& recordedEvents();

// The eleven callback names of the panel, all bound to recorders.
const UiNameTable* recordingNameTable();

// The panel definition's text, for tests that load altered copies.
QString panelDefinitionText();
// Writes `text` to a temporary file and returns its path.
QString writeTemporaryDefinition(const QString& text);

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    int panel = 0;
};
