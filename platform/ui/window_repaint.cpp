// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/window_repaint.h"

#include <QPointer>
#include <QRegion>
#include <QWidget>
#include <utility>
#include <vector>

namespace {
// Part of a widget that its own paint covers with opaque colour.
struct OpaquePart {
    QPointer<QWidget> widget;
    QRegion region;  // in the window's coordinates
};

struct WindowRegion {
    QPointer<QWidget> window;
    QRegion region;  // in the window's coordinates
    std::vector<OpaquePart> opaque;
};

int batchDepth = 0;
// One entry per window touched by the running batch; a panel has one window
// and a batch touches one or two, so a list beats a map.
std::vector<WindowRegion> collected;

WindowRegion& entryFor(QWidget* window) {
    for (WindowRegion& entry : collected) {
        if (entry.window == window) return entry;
    }
    return collected.emplace_back(WindowRegion{window, {}, {}});
}

void collect(QWidget* widget, const QRect& rect, bool opaque) {
    QWidget* window = widget->window();
    const QRect inWindow(widget->mapTo(window, rect.topLeft()), rect.size());
    WindowRegion& entry = entryFor(window);
    entry.region += inWindow;
    if (!opaque) return;
    for (OpaquePart& part : entry.opaque) {
        if (part.widget == widget) {
            part.region += inWindow;
            return;
        }
    }
    entry.opaque.push_back({widget, QRegion(inWindow)});
}

void request(QWidget* widget, const QRect& rect, bool opaque) {
    const QRect visible = rect & widget->rect();
    if (visible.isEmpty()) return;
    // A hidden widget paints when it is shown; a repaint of its window now
    // would paint whatever lies under it.
    if (batchDepth == 0 || !widget->isVisible()) widget->update(visible);
    else collect(widget, visible, opaque);
}

// Paints `entry.region` of its window. A widget whose every pixel in the
// region is one its own paint covers opaquely hides all that lies beneath
// it there. Qt paints an opaque widget alone, without the window's
// background and the widgets under it, which cost more than the widget's
// own paint; so such a widget is opaque for this paint only, and repaints
// itself at once. repaint(), not update(): an update posts an event, and
// even when it is carried out in this pass the post has woken the loop for
// a second, empty pass. The rest of the region is painted whole, in one
// repaint of the window.
void paintWindow(const WindowRegion& entry) {
    QRegion rest = entry.region;
    std::vector<QPointer<QWidget>> marked;
    for (const OpaquePart& part : entry.opaque) {
        QWidget* widget = part.widget;
        if (!widget) continue;
        const QPoint offset = widget->mapTo(entry.window, QPoint(0, 0));
        if (!((entry.region & QRect(offset, widget->size())) - part.region).isEmpty()) continue;
        if (!widget->testAttribute(Qt::WA_OpaquePaintEvent)) {
            widget->setAttribute(Qt::WA_OpaquePaintEvent);
            marked.emplace_back(widget);
        }
        widget->repaint(part.region.translated(-offset));
        rest -= part.region;
    }
    if (!rest.isEmpty()) entry.window->repaint(rest);
    for (const QPointer<QWidget>& widget : marked) {
        if (widget) widget->setAttribute(Qt::WA_OpaquePaintEvent, false);
    }
}
}  // namespace

void requestRepaint(QWidget* widget, const QRect& rect) { request(widget, rect, false); }

void requestOpaqueRepaint(QWidget* widget, const QRect& rect) { request(widget, rect, true); }

void requestRepaint(QWidget* widget) { requestRepaint(widget, widget->rect()); }

WindowRepaintBatch::WindowRepaintBatch() { ++batchDepth; }

WindowRepaintBatch::~WindowRepaintBatch() {
    if (--batchDepth > 0) return;
    // Taken out first: a paint that asks for more (it should not) must not
    // change the list being walked.
    std::vector<WindowRegion> windows = std::exchange(collected, {});
    for (const WindowRegion& entry : windows) {
        if (entry.window) paintWindow(entry);
    }
}
