// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/numeric_display.h"

#include <QPainter>
#include <QVariant>
#include <algorithm>
#include <cmath>

#include "platform/ui/accessible_controls.h"
#include "platform/ui/digital_display.h"
#include "platform/ui/window_repaint.h"

UiNumeric::UiNumeric(QWidget* parent) : QWidget(parent) {}

bool UiNumeric::setNumericValue(double value) {
    const double limited = std::clamp(std::round(value), minimum_, maximum_);
    if (limited == value_) return true;
    value_ = limited;
    requestRepaint(this);
    announceValueChange(this, value_);
    return true;
}

QString UiNumeric::configureFromProperties() {
    const QString format = property("format").toString();
    if (!parseDisplayFormat(format, &hex_))
        return QStringLiteral("numeric format '%1' is neither 'hex' nor 'decimal'").arg(format);
    if (property("minimum").isValid()) minimum_ = property("minimum").toDouble();
    if (property("maximum").isValid()) maximum_ = property("maximum").toDouble();
    if (minimum_ > maximum_) return QStringLiteral("numeric minimum is above its maximum");
    value_ = minimum_;
    setNumericValue(property("value").toDouble());
    return {};
}

QString UiNumeric::displayText() const {
    if (noValue()) return QStringLiteral("—");
    const auto whole = static_cast<long long>(value_);
    return hex_ ? QString::number(whole, 16).toUpper() : QString::number(whole);
}

void UiNumeric::paintEvent(QPaintEvent*) {
    countPaint();
    QPainter painter(this);
    paintDigitalDisplay(painter, rect(), displayText(), palette(), greyed() || noValue());
}
