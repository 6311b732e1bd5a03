// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/decoration.h"

#include <QPainter>

UiDecoration::UiDecoration(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void UiDecoration::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // An etched frame: a dark line with a light line one pixel below-right,
    // over a face slightly darker than the panel.
    const QRectF outer = QRectF(rect()).adjusted(0.5, 0.5, -1.5, -1.5);
    const QColor window = palette().color(QPalette::Window);
    painter.setPen(Qt::NoPen);
    painter.setBrush(window.darker(104));
    painter.drawRoundedRect(outer, 4, 4);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(palette().color(QPalette::Light), 1));
    painter.drawRoundedRect(outer.translated(1, 1), 4, 4);
    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.drawRoundedRect(outer, 4, 4);
}
