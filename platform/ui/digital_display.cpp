// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/digital_display.h"

#include <QPainter>
#include <QPalette>

void paintDigitalDisplay(QPainter& painter, const QRect& box, const QString& text,
                         const QPalette& palette, bool greyed) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QRect field = box.adjusted(0, 0, -1, -1);
    painter.setPen(Qt::NoPen);
    painter.setBrush(greyed ? palette.color(QPalette::Window) : palette.color(QPalette::Base));
    painter.drawRect(field);
    // Sunken look: shadow on the top and left edges, light on the others.
    painter.setPen(palette.color(QPalette::Dark));
    painter.drawLine(field.topLeft(), field.topRight());
    painter.drawLine(field.topLeft(), field.bottomLeft());
    painter.setPen(palette.color(QPalette::Midlight));
    painter.drawLine(field.bottomLeft(), field.bottomRight());
    painter.drawLine(field.topRight(), field.bottomRight());
    painter.setPen(greyed ? palette.color(QPalette::Disabled, QPalette::Text) : palette.color(QPalette::Text));
    painter.drawText(field.adjusted(2, 0, -3, 0), Qt::AlignRight | Qt::AlignVCenter, text);
    painter.restore();
}
