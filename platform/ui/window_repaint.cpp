// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/window_repaint.h"

#include <QPointer>
#include <QRegion>
#include <QWidget>
#include <utility>
#include <vector>

namespace {
struct WindowRegion {
    QPointer<QWidget> window;
    QRegion region;  // in the window's coordinates
};

int batchDepth = 0;
// One entry per window touched by the running batch; a panel has one window
// and a batch touches one or two, so a list beats a map.
std::vector<WindowRegion> collected;

void collect(QWidget* widget, const QRect& rect) {
    QWidget* window = widget->window();
    const QRect inWindow(widget->mapTo(window, rect.topLeft()), rect.size());
    for (WindowRegion& entry : collected) {
        if (entry.window == window) {
            entry.region += inWindow;
            return;
        }
    }
    collected.push_back({window, QRegion(inWindow)});
}
}  // namespace

void requestRepaint(QWidget* widget, const QRect& rect) {
    const QRect visible = rect & widget->rect();
    if (visible.isEmpty()) return;
    // A hidden widget paints when it is shown; a repaint of its window now
    // would paint whatever lies under it.
    if (batchDepth == 0 || !widget->isVisible()) widget->update(visible);
    else collect(widget, visible);
}

void requestRepaint(QWidget* widget) { requestRepaint(widget, widget->rect()); }

WindowRepaintBatch::WindowRepaintBatch() { ++batchDepth; }

WindowRepaintBatch::~WindowRepaintBatch() {
    if (--batchDepth > 0) return;
    // Taken out first: a paint that asks for more (it should not) must not
    // change the list being walked.
    std::vector<WindowRegion> windows = std::exchange(collected, {});
    for (const WindowRegion& entry : windows) {
        if (entry.window) entry.window->repaint(entry.region);
    }
}
