// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Repaints that a batch of new values asks for, painted together. Outside a
// batch, requestRepaint is QWidget::update: Qt posts itself an update event
// and paints at the next pass of the event loop. While a WindowRepaintBatch
// lives, the rectangles are collected per window instead, and when the batch
// ends each window paints them at once, in the same pass of the loop, and
// sends them to the window system: one image for the controls painted with
// what lies beneath them, and one for each control painted alone (an opaque
// repaint), all in the pass's one write to the window system.
// [main-thread] all of it.

#include <QRect>

class QWidget;

// Asks for `rect` (in `widget`'s coordinates) of `widget` to be painted again.
void requestRepaint(QWidget* widget, const QRect& rect);
// The whole widget.
void requestRepaint(QWidget* widget);
// The same for a `rect` that the widget's paint covers with opaque colour,
// every pixel of it: a batch that asks for no other part of the widget then
// paints nothing under it (neither the window's background nor the widgets
// beneath), which for a small control costs more than its own paint.
void requestOpaqueRepaint(QWidget* widget, const QRect& rect);

class WindowRepaintBatch {
public:
    WindowRepaintBatch();
    // Paints what was asked for during the batch; batches may nest, and the
    // outermost paints.
    ~WindowRepaintBatch();
    WindowRepaintBatch(const WindowRepaintBatch&) = delete;
    WindowRepaintBatch& operator=(const WindowRepaintBatch&) = delete;
};
