// SPDX-License-Identifier: GPL-3.0-or-later
// kolvar-recording-viewer: the whole viewer (app::main, offscreen, on the
// virtual bus its environment names) as a second program on the bus. Once
// the panel is up it switches the bus on with the bus button, opens the
// trend with the "Trend" button, starts recording to FILE and prints
// "recording"; when LINES frames are written or lost (or 20 s have passed)
// it stops, prints "recorded <lines> lost <lost>" and the status line's
// third line ("error frames 0 · lost 19,445 · last 0x200 0.1 s ago"), and
// closes the panel as the user would. Its exit status is the program's.
//
// Usage: kolvar-recording-viewer FILE LINES

#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/KolvarCanView.h"
#include "app/process_environment.h"
#include "app/trend/trend_entry.h"
#include "app/trend/trend_window.h"
#include "can/bus.h"
#include "app/status/status_line.h"
#include "platform/ui/qt_access.h"

namespace {

QString recordPath;
uint64_t wantedLines = 0;

void clickControl(int control) {
    if (auto* button = qobject_cast<QAbstractButton*>(uiControlWidget(panelHandle.load(), control)))
        button->click();
}

void closePanel() {
    if (QWidget* window = uiPanelWidget(panelHandle.load())) window->close();
}

// Steps on a 10 ms timer: panel shown -> bus on and trend open -> worker
// past its first read -> recording -> enough lines -> panel closed.
void drive() {
    auto* poll = new QTimer(qApp);
    auto* sinceStep = new QElapsedTimer;
    auto step = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, [=] {
        QWidget* panel = uiPanelWidget(panelHandle.load());
        switch (*step) {
        case 0:
            if (!panel || !panel->isVisible()) return;
            clickControl(BUS_BUTTON);
            clickControl(TREND_BUTTON);
            break;
        case 1:
            if (threadrun.load() != 1) return;
            break;
        case 2:
            // The worker's first read waits up to a second for a frame and
            // hands none to the trend; recording starts after it.
            if (sinceStep->elapsed() < 1300) return;
            if (!trendWindowIfOpen() || !trendWindowIfOpen()->startRecording(recordPath)) {
                std::fprintf(stderr, "kolvar-recording-viewer: cannot record to %s\n", qPrintable(recordPath));
                poll->stop();
                closePanel();
                return;
            }
            std::printf("recording\n");
            std::fflush(stdout);
            break;
        case 3: {
            const kolvar::capture::Recorder& recorder = trendWindowIfOpen()->recorder();
            if (recorder.lines() + recorder.lost() < wantedLines && sinceStep->elapsed() < 20000) return;
            trendWindowIfOpen()->stopRecording();
            std::printf("recorded %llu lost %llu\n", static_cast<unsigned long long>(recorder.lines()),
                        static_cast<unsigned long long>(recorder.lost()));
            RefreshBusStatusLine();
            const auto* line = qobject_cast<QLabel*>(uiControlWidget(panelHandle.load(), BUS_STATUS_LINE));
            std::printf("%s\n", line ? qPrintable(line->text().section('\n', 2, 2)) : "no status line");
            std::fflush(stdout);
            poll->stop();
            closePanel();
            return;
        }
        }
        ++*step;
        sinceStep->start();
    });
    sinceStep->start();
    poll->start(10);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(drive)

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kolvar-recording-viewer FILE LINES\n");
        return 2;
    }
    recordPath = QString::fromLocal8Bit(argv[1]);
    wantedLines = std::strtoull(argv[2], nullptr, 10);
    app::prepareProcessEnvironment();
    char* programOnly[] = {argv[0], nullptr};
    return app::main(1, programOnly);
}
