// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Repaints that a batch of new values asks for, painted together. Outside a
// batch, requestRepaint is QWidget::update: Qt posts itself an update event
// and paints at the next pass of the event loop. While a WindowRepaintBatch
// lives, the rectangles are collected per window instead, and when the batch
// ends each window paints their union at once and sends it to the window
// system in one flush: no posted event, no wake-up of the main thread's own
// loop, and one image for all the controls a batch changed.
// [main-thread] all of it.

#include <QRect>

class QWidget;

// Asks for `rect` (in `widget`'s coordinates) of `widget` to be painted again.
void requestRepaint(QWidget* widget, const QRect& rect);
// The whole widget.
void requestRepaint(QWidget* widget);

class WindowRepaintBatch {
public:
    WindowRepaintBatch();
    // Paints what was asked for during the batch; batches may nest, and the
    // outermost paints.
    ~WindowRepaintBatch();
    WindowRepaintBatch(const WindowRepaintBatch&) = delete;
    WindowRepaintBatch& operator=(const WindowRepaintBatch&) = delete;
};
