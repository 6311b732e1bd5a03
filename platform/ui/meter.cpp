// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/meter.h"

#include <QPainter>
#include <QAccessible>
#include <QPaintEvent>
#include <QTransform>
#include <QTimer>
#include <QVariant>
#include <algorithm>
#include <cmath>

#include "platform/ui/accessible_controls.h"
#include "platform/ui/digital_display.h"
#include "platform/ui/window_repaint.h"

namespace {
// The dial is drawn in logical units: 200 across the dial's width, whatever
// its size in pixels. The needle's pivot lies below the visible face, so the
// scale is a flat arc across the wide, low dial.
constexpr double kLogicalWidth = 200.0;
constexpr double kPivotBelowFace = 23.0;
constexpr double kScaleRadius = 78.0;
constexpr double kHalfSweepDegrees = 50.0;
constexpr int kMajorDivisions = 4;
constexpr int kMinorPerMajor = 5;
constexpr qint64 kAnnounceQuietMs = 250;
}  // namespace

// The cached static dial holds the face, arc, ticks and labels.
UiMeter::UiMeter(QWidget* parent)
    : UiDial(parent, QRect(3, 27, 176, 68), QRect(2, 101, 52, 22), kHalfSweepDegrees) {}

bool UiMeter::setNumericValue(double value) {
    const double limited = std::clamp(value, minimum_, maximum_);
    if (limited == value_) return true;
    value_ = limited;
    // Values come at up to screen rate; most of a stream's steps change
    // nothing a user could see, and a repaint costs the main thread far more
    // than this comparison.
    const QPointF moved = needleTip(value_) - paintedTip_;
    const bool needleMoves = std::hypot(moved.x(), moved.y()) >= 1.0;
    const bool digitsChange = displayText() != paintedText_;
    if (!needleMoves && !digitsChange) return true;
    // Only what changed is drawn and sent to the window system: the needle's
    // old and new places, inside the face, and the digits' field; both are
    // painted over whole.
    if (needleMoves) requestOpaqueRepaint(this, paintedNeedle_ | needleRect(value_));
    if (digitsChange) requestOpaqueRepaint(this, displayRect_);
    announceReading();
    return true;
}

QString UiMeter::configureFromProperties() {
    if (property("minimum").isValid()) minimum_ = property("minimum").toDouble();
    if (property("maximum").isValid()) maximum_ = property("maximum").toDouble();
    if (!(minimum_ < maximum_)) return QStringLiteral("meter minimum is not below its maximum");
    if (property("precision").isValid()) precision_ = std::clamp(property("precision").toInt(), 0, 6);
    const QString rects = configureRects();
    if (!rects.isEmpty()) return QStringLiteral("meter ") + rects;
    value_ = std::clamp(property("value").toDouble(), minimum_, maximum_);
    update();
    return {};
}

QString UiMeter::displayText() const {
    const bool none = noValue();
    if (formatted_.value == value_ && formatted_.precision == precision_ && formatted_.none == none)
        return formatted_.text;
    formatted_ = {value_, precision_, none, QStringLiteral("—")};
    if (!none) {
        // A value just below zero would round to "-0.00"; show it as zero.
        const bool roundsToZero = std::abs(value_) < 0.5 * std::pow(10.0, -precision_);
        formatted_.text = QString::number(roundsToZero ? 0.0 : value_, 'f', precision_);
    }
    return formatted_.text;
}

void UiMeter::announceReading() {
    if (!QAccessible::isActive() || announcePending_) return;
    const qint64 since = lastAnnounced_.isValid() ? lastAnnounced_.elapsed() : kAnnounceQuietMs;
    if (since >= kAnnounceQuietMs) {
        lastAnnounced_.start();
        announceReadingChange(this, value_);
        return;
    }
    announcePending_ = true;
    QTimer::singleShot(kAnnounceQuietMs - since, this, [this] {
        announcePending_ = false;
        lastAnnounced_.start();
        announceReadingChange(this, value_);
    });
}

double UiMeter::logicalHeight() const { return dialRect_.height() * kLogicalWidth / dialRect_.width(); }

QPointF UiMeter::needlePivot() const { return {kLogicalWidth / 2, logicalHeight() + kPivotBelowFace}; }

void UiMeter::paintFace(QPainter& painter) const {
    const double logicalHeight = this->logicalHeight();
    const QRectF face(0.5, 0.5, kLogicalWidth - 1.0, logicalHeight - 1.0);
    const QPointF pivot = needlePivot();

    QLinearGradient shade(0, 0, 0, logicalHeight);
    shade.setColorAt(0, palette().color(QPalette::Base));
    shade.setColorAt(1, palette().color(QPalette::Base).darker(108));
    painter.setPen(QPen(palette().color(QPalette::Dark), 1.2));
    painter.setBrush(shade);
    painter.drawRoundedRect(face, 6, 6);

    painter.save();
    painter.translate(pivot);
    const QColor ink = palette().color(QPalette::WindowText);
    painter.setPen(QPen(ink, 1.2, Qt::SolidLine, Qt::FlatCap));
    painter.setBrush(Qt::NoBrush);
    const QRectF arc(-kScaleRadius, -kScaleRadius, 2 * kScaleRadius, 2 * kScaleRadius);
    painter.drawArc(arc, int((90 - kHalfSweepDegrees) * 16), int(2 * kHalfSweepDegrees * 16));

    QFont labelFont = font();
    labelFont.setPixelSize(11);
    painter.setFont(labelFont);
    const int ticks = kMajorDivisions * kMinorPerMajor;
    for (int i = 0; i <= ticks; ++i) {
        const double value = minimum_ + (maximum_ - minimum_) * i / ticks;
        const double angle = angleFor(value, minimum_, maximum_);
        const bool major = i % kMinorPerMajor == 0;
        painter.setPen(QPen(ink, major ? 1.6 : 1.0, Qt::SolidLine, Qt::FlatCap));
        painter.drawLine(onDial(kScaleRadius, angle), onDial(kScaleRadius - (major ? 9 : 5), angle));
        if (major) {
            // The label's centre moves out by half of the text's extent in
            // the direction of the radius, so a wide label near the end of
            // the arc clears the arc as well as the one at the top does.
            const QString text = QString::number(value, 'g', 6);
            const QSizeF extent = painter.fontMetrics().boundingRect(text).size();
            const double radians = angle * M_PI / 180.0;
            const double clearance = std::abs(std::sin(radians)) * extent.width() / 2 +
                                     std::abs(std::cos(radians)) * extent.height() / 2;
            const QPointF centre = onDial(kScaleRadius + 3 + clearance, angle);
            painter.drawText(QRectF(centre.x() - 25, centre.y() - 8, 50, 16), Qt::AlignCenter, text);
        }
    }
    painter.restore();

    // The shroud along the bottom edge hides the needle's root.
    const QRectF shroud(face.left() + 50, logicalHeight - 11, face.width() - 100, 10);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Button).darker(115));
    painter.drawRoundedRect(shroud, 4, 4);
}

QTransform UiMeter::needleTransform(double value) const {
    const double scale = dialRect_.width() / kLogicalWidth;
    QTransform transform;
    transform.translate(dialRect_.left(), dialRect_.top());
    transform.scale(scale, scale);
    transform.translate(needlePivot().x(), needlePivot().y());
    transform.rotate(angleFor(value, minimum_, maximum_));
    return transform;
}

QRectF UiMeter::needleClip() const {
    // Inside the face's border and above the shroud, in dial units.
    const QRectF logical(1, 1, kLogicalWidth - 2, logicalHeight() - 12);
    const double scale = dialRect_.width() / kLogicalWidth;
    return {QPointF(dialRect_.topLeft()) + logical.topLeft() * scale, logical.size() * scale};
}

QPolygonF UiMeter::needleOutline() {
    return QPolygonF({QPointF(-1.6, -28), QPointF(1.6, -28), QPointF(0.5, -(kScaleRadius + 1)),
                      QPointF(-0.5, -(kScaleRadius + 1))});
}

void UiMeter::paintNeedle(QPainter& painter) const {
    painter.save();
    painter.setClipRect(needleClip());
    painter.setTransform(needleTransform(value_), true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xC0, 0x10, 0x10));
    painter.drawPolygon(needleOutline());
    painter.restore();
}

QRect UiMeter::needleRect(double value) const {
    const QRectF needle = needleTransform(value).map(needleOutline()).boundingRect() & needleClip();
    // A pixel more on every side for the antialiased edge.
    return needle.toAlignedRect().adjusted(-1, -1, 1, 1);
}

QPointF UiMeter::needleTip(double value) const {
    const double scale = dialRect_.width() / kLogicalWidth;
    const QPointF tip = needlePivot() + onDial(kScaleRadius + 1, angleFor(value, minimum_, maximum_));
    return (QPointF(dialRect_.topLeft()) + tip * scale) * paintedRatio_;
}

void UiMeter::paintEvent(QPaintEvent* event) {
    countPaint();
    QPainter painter(this);
    const qreal ratio = devicePixelRatioF();
    paintedRatio_ = ratio;
    if (staticCache_.isNull()) {
        staticCache_ = QPixmap(dialRect_.size() * ratio);
        staticCache_.setDevicePixelRatio(ratio);
        staticCache_.fill(Qt::transparent);
        QPainter facePainter(&staticCache_);
        facePainter.setRenderHint(QPainter::Antialiasing);
        facePainter.setRenderHint(QPainter::TextAntialiasing);
        facePainter.scale(dialRect_.width() / kLogicalWidth, dialRect_.width() / kLogicalWidth);
        paintFace(facePainter);
    }
    painter.drawPixmap(dialRect_.topLeft(), staticCache_);

    // A paint of part of the meter leaves the rest as it was; a stream's
    // repaints are mostly of the needle or of the digits alone.
    const QRegion& painted = event->region();
    const QRect needle = needleRect(value_);
    if (!noValue() && painted.intersects(needle)) {
        painter.setRenderHint(QPainter::Antialiasing);
        paintNeedle(painter);
        painter.setRenderHint(QPainter::Antialiasing, false);
    }
    if ((QRegion(needle) - painted).isEmpty()) {
        paintedTip_ = needleTip(value_);
        paintedNeedle_ = needle;
    }
    if (!painted.intersects(displayRect_)) return;
    const QString text = displayText();
    if ((QRegion(displayRect_) - painted).isEmpty()) paintedText_ = text;
    paintDigitalDisplay(painter, displayRect_, text, palette(), greyed() || noValue());
}
