// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/trend/trend_entry.h"

#include <QCoreApplication>
#include <QFont>
#include <QPixmapCache>
#include <QPointer>
#include <QTimer>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "app/trend/trend_window.h"
#include "platform/userint.h"

namespace {
// The window while it exists: from its first open until it has closed and
// finished, when it is destroyed.
QPointer<TrendWindow> window;
// What the user set in the last window destroyed, for the next one.
TrendWindow::Kept kept;
bool haveKept = false;

void giveBackMemory() {
    // The style's pictures of the window's buttons, headers and boxes; the
    // panel draws its own controls, and what it needs is drawn again.
    QPixmapCache::clear();
    // The desktop's font the window was written in, regular and bold (the
    // table's header measures in bold), stays loaded in Qt's cache of font
    // engines with the file mapped and FreeType's tables on the heap, about
    // 1 MB that the panel, in a typeface of its own, never uses. Dropping
    // this thread's cache frees every engine no font still holds; fonts in
    // use load theirs again at their next paint.
    QFont::cleanup();
#ifdef __GLIBC__
    // The samples' blocks and the chart's many small pieces went back to
    // glibc's heap; give its free pages to the system.
    malloc_trim(0);
#endif
}

// A closed window that has finished is destroyed once its close has been
// handled, unless it was opened again meanwhile.
void destroyWhenFinished(TrendWindow* finished) {
    QTimer::singleShot(0, qApp, [guard = QPointer<TrendWindow>(finished)] {
        if (!guard || guard->isVisible()) return;
        kept = guard->kept();
        haveKept = true;
        delete guard.data();
        giveBackMemory();
    });
}
}  // namespace

int trendWindow(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    if (!window) {
        window = new TrendWindow;
        if (haveKept) window->restore(kept);
        QObject::connect(window, &TrendWindow::finished, qApp, [w = window.data()] { destroyWhenFinished(w); });
    }
    window->openOrRaise();
    return 0;
}

TrendWindow* trendWindowIfOpen() { return window.data(); }

void closeTrendWindow() {
    if (!window) return;
    window->close();
    delete window.data();
    giveBackMemory();
}
