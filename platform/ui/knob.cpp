// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/knob.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVariant>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "platform/ui/accessible_controls.h"
#include "platform/ui/digital_display.h"
#include "platform/ui/window_repaint.h"

namespace {
// Logical units: the knob's radius is 100 whatever its size in pixels; the
// scale labels sit outside it, so the cached scale covers the whole widget.
constexpr double kKnobRadius = 100.0;
constexpr double kHalfSweepDegrees = 135.0;
constexpr double kLabelRadius = 142.0;
// How far beyond the drawn circle a press still takes hold of the dial, in
// pixels: the tick marks around it belong to the dial too.
constexpr double kGripMarginPx = 6.0;
}  // namespace

UiKnob::UiKnob(QWidget* parent)
    : UiDial(parent, QRect(16, 23, 48, 48), QRect(30, 87, 20, 21), kHalfSweepDegrees) {
    // Strong focus includes click focus: a click on the knob readies the
    // arrow keys for it.
    setFocusPolicy(Qt::StrongFocus);
}

bool UiKnob::setNumericValue(double value) {
    const int limited = std::clamp(static_cast<int>(std::lround(value)), minimum_, maximum_);
    if (limited == value_) return true;
    value_ = limited;
    requestRepaint(this);
    announceValueChange(this, value_);
    return true;
}

QString UiKnob::configureFromProperties() {
    if (property("minimum").isValid()) minimum_ = property("minimum").toInt();
    if (property("maximum").isValid()) maximum_ = property("maximum").toInt();
    if (!(minimum_ < maximum_)) return QStringLiteral("knob minimum is not below its maximum");
    const QString format = property("format").toString();
    if (!parseDisplayFormat(format, &hex_))
        return QStringLiteral("knob format '%1' is neither 'hex' nor 'decimal'").arg(format);
    const QString rects = configureRects();
    if (!rects.isEmpty()) return QStringLiteral("knob ") + rects;
    value_ = std::clamp(property("value").toInt(), minimum_, maximum_);
    update();
    return {};
}

QString UiKnob::textFor(int value) const {
    return hex_ ? QString::number(value, 16).toUpper() : QString::number(value);
}

int UiKnob::valueAt(const QPointF& position) const {
    return minimum_ + static_cast<int>(std::lround(fractionAt(position) * (maximum_ - minimum_)));
}

bool UiKnob::onDialFace(const QPointF& position) const {
    const QPointF offset = position - QRectF(dialRect_).center();
    const double reach = dialRect_.width() / 2.0 + kGripMarginPx;
    return offset.x() * offset.x() + offset.y() * offset.y() <= reach * reach;
}

void UiKnob::stepBy(int steps) {
    const int before = value_;
    setNumericValue(value_ + steps);
    if (value_ != before) notifyCommit();
}

void UiKnob::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !onDialFace(event->position()))
        return QWidget::mousePressEvent(event);
    dragging_ = true;
    valueAtPress_ = value_;
    setNumericValue(valueAt(event->position()));
}

void UiKnob::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) setNumericValue(valueAt(event->position()));
}

void UiKnob::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragging_) return QWidget::mouseReleaseEvent(event);
    dragging_ = false;
    setNumericValue(valueAt(event->position()));
    if (value_ != valueAtPress_) notifyCommit();
}

void UiKnob::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta == 0) return event->ignore();
    stepBy(delta > 0 ? 1 : -1);
    event->accept();
}

void UiKnob::keyPressEvent(QKeyEvent* event) {
    // A page is a quarter of the scale: four steps of a hexadecimal digit.
    const int page = std::max(1, (maximum_ - minimum_ + 1) / 4);
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Right:
        stepBy(1);
        return;
    case Qt::Key_Down:
    case Qt::Key_Left:
        stepBy(-1);
        return;
    case Qt::Key_PageUp:
        stepBy(page);
        return;
    case Qt::Key_PageDown:
        stepBy(-page);
        return;
    case Qt::Key_Home:
        stepBy(minimum_ - value_);
        return;
    case Qt::Key_End:
        stepBy(maximum_ - value_);
        return;
    default:
        break;
    }
    // A typed digit of the knob's own format goes straight to that value.
    bool isDigit = false;
    const int typed = event->text().size() == 1 ? event->text().toInt(&isDigit, hex_ ? 16 : 10) : 0;
    const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (isDigit && plain && typed >= minimum_ && typed <= maximum_) {
        stepBy(typed - value_);
        return;
    }
    QWidget::keyPressEvent(event);
}

void UiKnob::paintScale(QPainter& painter) const {
    const QColor ink = palette().color(QPalette::WindowText);
    QFont labelFont = font();
    labelFont.setPixelSize(33);  // logical units: about 8 px on a 48 px dial
    labelFont.setBold(true);
    painter.setFont(labelFont);
    for (int v = minimum_; v <= maximum_; ++v) {
        const double angle = angleFor(v, minimum_, maximum_);
        painter.setPen(QPen(ink, 5, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(onDial(kKnobRadius + 6, angle), onDial(kKnobRadius + 16, angle));
        const QPointF centre = onDial(kLabelRadius, angle);
        painter.drawText(QRectF(centre.x() - 20, centre.y() - 18, 40, 36), Qt::AlignCenter, textFor(v));
    }
}

void UiKnob::paintKnob(QPainter& painter) const {
    const QColor button = palette().color(QPalette::Button);
    QRadialGradient body(QPointF(-35, -35), 150);
    body.setColorAt(0, button.lighter(125));
    body.setColorAt(1, button.darker(135));
    painter.setPen(QPen(palette().color(QPalette::Shadow), 4));
    painter.setBrush(body);
    painter.drawEllipse(QPointF(0, 0), kKnobRadius - 4, kKnobRadius - 4);
    // A raised cap in the middle, and the pointer groove from cap to rim.
    painter.setPen(QPen(palette().color(QPalette::Dark), 2));
    painter.setBrush(button);
    painter.drawEllipse(QPointF(0, 0), 55, 55);
    painter.rotate(angleFor(value_, minimum_, maximum_));
    painter.setPen(QPen(palette().color(QPalette::Highlight).darker(130), 14, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(0, -30), QPointF(0, -84));
}

void UiKnob::paintEvent(QPaintEvent*) {
    countPaint();
    QPainter painter(this);
    const double unit = dialRect_.width() / (2.0 * kKnobRadius);
    const QPointF centre = QRectF(dialRect_).center();
    const qreal ratio = devicePixelRatioF();
    if (staticCache_.isNull()) {
        staticCache_ = QPixmap(size() * ratio);
        staticCache_.setDevicePixelRatio(ratio);
        staticCache_.fill(Qt::transparent);
        QPainter scalePainter(&staticCache_);
        scalePainter.setRenderHint(QPainter::Antialiasing);
        scalePainter.setRenderHint(QPainter::TextAntialiasing);
        scalePainter.translate(centre);
        scalePainter.scale(unit, unit);
        paintScale(scalePainter);
    }
    painter.drawPixmap(0, 0, staticCache_);

    painter.setRenderHint(QPainter::Antialiasing);
    painter.save();
    painter.translate(centre);
    painter.scale(unit, unit);
    paintKnob(painter);
    painter.restore();

    // The focus ring: a solid ring in the highlight colour just outside the
    // dial, clear of the scale's ticks.
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(dialRect_).adjusted(-0.5, -0.5, 0.5, 0.5));
    }
    paintDigitalDisplay(painter, displayRect_, displayText(), palette(), greyed());
}
