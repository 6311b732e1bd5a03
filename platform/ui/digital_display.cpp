// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/digital_display.h"

#include <QPainter>
#include <QPalette>

void paintDigitalDisplay(QPainter& painter, const QRect& box, const QString& text,
                         const QPalette& palette, bool greyed) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QRect field = box.adjusted(0, 0, -1, -1);
    painter.fillRect(box, greyed ? palette.color(QPalette::Window) : palette.color(QPalette::Base));
    // Sunken look: shadow on the top and left edges, light on the others.
    // The edges are filled one-unit strips inside the box, not lines on its
    // border: at a fractional scale (1.5) a line on the border rounds to the
    // pixel row outside the widget and the edge disappears.
    const QColor shadow = palette.color(QPalette::Dark);
    const QColor light = palette.color(QPalette::Midlight);
    painter.fillRect(QRect(box.left(), box.bottom(), box.width(), 1), light);
    painter.fillRect(QRect(box.right(), box.top(), 1, box.height()), light);
    painter.fillRect(QRect(box.left(), box.top(), box.width(), 1), shadow);
    painter.fillRect(QRect(box.left(), box.top(), 1, box.height()), shadow);
    painter.setPen(greyed ? palette.color(QPalette::Disabled, QPalette::Text) : palette.color(QPalette::Text));
    painter.drawText(field.adjusted(2, 0, -3, 0), Qt::AlignRight | Qt::AlignVCenter, text);
    painter.restore();
}
