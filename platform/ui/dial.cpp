// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/dial.h"

#include <QEvent>
#include <QVariant>
#include <algorithm>
#include <cmath>

QPointF onDial(double radius, double degrees) {
    const double radians = degrees * M_PI / 180.0;
    return {radius * std::sin(radians), -radius * std::cos(radians)};
}

UiDial::UiDial(QWidget* parent, QRect dialRect, QRect displayRect, double halfSweepDegrees)
    : QWidget(parent), dialRect_(dialRect), displayRect_(displayRect), halfSweepDegrees_(halfSweepDegrees) {}

QString UiDial::configureRects() {
    if (property("dialRect").isValid()) dialRect_ = property("dialRect").toRect();
    if (property("displayRect").isValid()) displayRect_ = property("displayRect").toRect();
    if (dialRect_.isEmpty()) return QStringLiteral("dialRect is empty");
    staticCache_ = QPixmap();
    return {};
}

double UiDial::angleFor(double value, double minimum, double maximum) const {
    const double fraction = (value - minimum) / (maximum - minimum);
    return -halfSweepDegrees_ + 2.0 * halfSweepDegrees_ * fraction;
}

double UiDial::fractionAt(const QPointF& position) const {
    const QPointF offset = position - QRectF(dialRect_).center();
    const double angle = std::clamp(std::atan2(offset.x(), -offset.y()) * 180.0 / M_PI,
                                    -halfSweepDegrees_, halfSweepDegrees_);
    return (angle + halfSweepDegrees_) / (2.0 * halfSweepDegrees_);
}

void UiDial::resizeEvent(QResizeEvent* event) {
    staticCache_ = QPixmap();
    QWidget::resizeEvent(event);
}

void UiDial::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
        staticCache_ = QPixmap();
    QWidget::changeEvent(event);
}
