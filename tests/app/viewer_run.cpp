// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewer_run.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "app/KolvarCanView.h"
#include "platform/ui/qt_access.h"
#include "platform/userint.h"

namespace {
void useOwnVirtualBus() {
    // A port of this process's own keeps test binaries running side by side
    // off each other's bus.
    setenv("KOLVAR_CAN_CHANNELS", "virtual", 1);
    setenv("KOLVAR_VIRTUALCAN_PORT", std::to_string(20000 + getpid() % 12000).c_str(), 1);
}
}  // namespace

ViewerRun runViewer(const std::vector<std::string>& arguments,
                    const std::function<void(int panel)>& whileRunning) {
    useOwnVirtualBus();
    debug = 0;
    plot_channel = 0;
    std::vector<std::string> words{"kolvar-can-viewer"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    ViewerRun run;
    QElapsedTimer sinceStart;
    sinceStart.start();
    // Polls until the panel is up and active, then acts and closes it; after
    // 20 s it gives up and ends the loop itself.
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* window = uiPanelWidget(panelHandle.load());
        const bool ready = window && window->isVisible() && window->isActiveWindow();
        if (ready || sinceStart.elapsed() > 5000) {
            poll.stop();
            if (!window) {
                QuitUserInterface(0);
                return;
            }
            whileRunning(panelHandle.load());
            QApplication::processEvents();
            run.closedByTest = true;
            window->close();
        }
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QuitUserInterface(0); });
    poll.start();
    watchdog.start(20000);
    run.exitStatus = app::main(int(words.size()), argv.data());
    return run;
}
