// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel_fixture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {
int recordControl(int panel, int control, int event, void*, int, int) {
    recordedEvents().push_back({panel, control, event});
    return 0;
}
int recordPanel(int panel, int event, void*, int, int) {
    recordedEvents().push_back({panel, 0, event});
    return 0;
}

const UiNameEntry kEntries[] = {
    {"panelCB", nullptr, recordPanel},     {"plotChannel", recordControl, nullptr},
    {"canHardware", recordControl, nullptr}, {"canChannel", recordControl, nullptr},
    {"bus_on_off", recordControl, nullptr},  {"canBitrate", recordControl, nullptr},
    {"PRE_ID0", recordControl, nullptr},     {"PRE_ID1", recordControl, nullptr},
    {"PRE2", recordControl, nullptr},        {"PRE1", recordControl, nullptr},
    {"PRE0", recordControl, nullptr},        {"trendWindow", recordControl, nullptr},
};
const UiNameTable kTable{kEntries, int(std::size(kEntries))};
}  // namespace

std::vector<RecordedEvent>& recordedEvents() {
    static std::vector<RecordedEvent> events;
    return events;
}

const UiNameTable* recordingNameTable() { return &kTable; }

QString panelDefinitionText() {
    QFile file(QStringLiteral(KOLVAR_PANEL_DEFINITION));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

QString writeTemporaryDefinition(const QString& text) {
    static QTemporaryDir directory;
    static int serial = 0;
    const QString path = directory.filePath(QStringLiteral("panel%1.uir").arg(++serial));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return {};
    file.write(text.toUtf8());
    return path;
}

void PanelTest::SetUp() {
    static char programName[] = "kolvar_ui_tests";
    static char* argv[] = {programName, nullptr};
    ASSERT_EQ(InitCVIRTE(nullptr, argv, recordingNameTable()), 1);
    recordedEvents().clear();
    panel = LoadPanel(0, KOLVAR_PANEL_DEFINITION, 1);
    ASSERT_GT(panel, 0) << GetUILErrorString(panel);
}

void PanelTest::TearDown() {
    if (panel > 0) {
        EXPECT_EQ(DiscardPanel(panel), 0);
    }
    QApplication::processEvents();
}
