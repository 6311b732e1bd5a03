// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/trend/trend_chart.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <algorithm>
#include <cmath>

#include "can/frame_format.h"

using namespace kolvar::capture;

namespace {
constexpr double kValueMin = -100.0;
constexpr double kValueMax = 100.0;
constexpr int kValueTicks = 5;  // -100, -50, 0, 50, 100
constexpr int kTimeTicks = 6;   // the span in five steps, ending at 0 s
constexpr int kMargin = 6;      // around everything, inside the focus frame
constexpr int kGap = 4;         // between a label and what it labels
constexpr int kLegendLine = 18; // the sample of a channel's line in the legend
// The channels' colours on a light and on a dark chart: each at least 4.5 : 1
// against its background.
const QColor kChannelColours[2] = {QColor(0x1f, 0x5f, 0xbf), QColor(0xc0, 0x50, 0x10)};
const QColor kChannelColoursOnDark[2] = {QColor(0x6f, 0xa8, 0xff), QColor(0xff, 0x9a, 0x5c)};
const char* const kChannelNames[2] = {"Ch 1", "Ch 2"};

bool isDark(const QColor& colour) { return colour.lightnessF() < 0.5; }

double valueOfReading(int reading) { return scaleChannelWord(reading << 4); }

// One pixel wide whatever the scale: the painter draws such a pen as plain
// lines instead of stroking an outline around every segment.
QPen hairline(const QColor& colour, Qt::PenStyle style) {
    QPen pen(colour, 1.0, style);
    pen.setCosmetic(true);
    return pen;
}

QString valueLabel(int tick) {
    return QString::number(kValueMax - (kValueMax - kValueMin) * tick / (kValueTicks - 1), 'f', 0);
}

// The label of time tick i (0 at the left edge) over a span of `span`
// seconds, to about a tenth of a step: 11.7 s in steps of 2.34 s reads
// -11.7, -9.4 ... 0, not the uneven -12, -9, -7 of whole seconds.
QString timeLabel(int i, double span) {
    const double step = span / (kTimeTicks - 1);
    int decimals = std::clamp(1 - static_cast<int>(std::floor(std::log10(step))), 0, 3);
    // Steps of whole tenths, or seconds, need no more digits than that.
    while (decimals > 0) {
        const double scaled = step * std::pow(10.0, decimals - 1);
        if (std::abs(scaled - std::round(scaled)) > 1e-6) break;
        --decimals;
    }
    const double seconds = -span + step * i;
    // "0", not "-0", for a tick that rounds to zero.
    const double unit = std::pow(10.0, -decimals) / 2;
    return QString::number(std::abs(seconds) < unit ? 0.0 : seconds, 'f', decimals);
}
}  // namespace

TrendChart::TrendChart(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(480, 260);
    placePlot();
}

void TrendChart::placePlot() {
    const QFontMetrics metrics(font());
    int labelWidth = 0;
    for (int tick = 0; tick < kValueTicks; ++tick)
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(valueLabel(tick)));
    // Room for the values, and for half of the first time label ("-600.0").
    const int left = kMargin + std::max(labelWidth + kGap, metrics.horizontalAdvance(QStringLiteral("-600.0")) / 2);
    // Room for the legend above, and for half a value label at the top.
    const int top = kMargin + metrics.height() + kGap + metrics.height() / 2;
    // Room for half of the last time label ("0.00").
    const int right = width() - kMargin - metrics.horizontalAdvance(QStringLiteral("0.00")) / 2;
    // The time labels and their title ("s") below.
    const int bottom = height() - kMargin - 2 * metrics.height() - kGap;
    plot_ = QRectF(left, top, std::max(1, right - left), std::max(1, bottom - top));
}

QRect TrendChart::plotPixels() const { return plot_.toAlignedRect().adjusted(-1, -1, 1, 1); }

double TrendChart::valueTickY(int tick) const { return plot_.top() + plot_.height() * tick / (kValueTicks - 1); }

double TrendChart::timeTickX(int i) const { return plot_.left() + plot_.width() * i / (kTimeTicks - 1); }

int TrendChart::columnCount() const { return std::max(1, static_cast<int>(plot_.width())); }

QColor TrendChart::channelColour(int channel) const {
    return isDark(palette().color(QPalette::Base)) ? kChannelColoursOnDark[channel] : kChannelColours[channel];
}

void TrendChart::showColumns(const std::vector<TrendColumn>& columns, int64_t fromMicros,
                             int64_t columnMicros, const std::vector<IdentifierMark>& marks) {
    const int64_t spanBefore = shownSpanMicros();
    shown_ = columns;
    columnMicros_ = columnMicros;
    fromMicros_ = fromMicros;
    const double spanMicros = static_cast<double>(shownSpanMicros());
    markPositions_.clear();
    for (const IdentifierMark& m : marks) {
        const double position = static_cast<double>(m.micros - fromMicros) / spanMicros;
        if (position >= 0.0 && position <= 1.0) markPositions_.push_back(position);
    }
    if (cursor_ >= static_cast<int>(shown_.size())) cursor_ = static_cast<int>(shown_.size()) - 1;
    if (cursor_ >= 0) {
        const double columnSeconds = static_cast<double>(columnMicros_) / 1e6;
        emit pointerValues(valuesText(cursor_, (cursor_ + 0.5 - static_cast<double>(shown_.size())) * columnSeconds));
    }
    // The labels change only with the span; otherwise the plot alone is new.
    if (shownSpanMicros() != spanBefore) update();
    else update(plotPixels());
}

void TrendChart::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().brush(QPalette::Base));
    if (!plotPixels().contains(event->rect())) paintFrame(painter);
    paintPlot(painter);
}

void TrendChart::paintFrame(QPainter& painter) {
    const QFontMetrics metrics(font());
    const QColor ink = palette().color(QPalette::Text);
    // The legend, centred above the plot.
    int legendWidth = 0;
    for (const char* name : kChannelNames)
        legendWidth += kLegendLine + kGap + metrics.horizontalAdvance(QLatin1String(name)) + 3 * kGap;
    double x = plot_.center().x() - legendWidth / 2.0;
    const double legendMiddle = kMargin + metrics.height() / 2.0;
    for (int channel = 0; channel < 2; ++channel) {
        painter.setPen(QPen(channelColour(channel), 2));
        painter.drawLine(QPointF(x, legendMiddle), QPointF(x + kLegendLine, legendMiddle));
        x += kLegendLine + kGap;
        painter.setPen(ink);
        const QString name = QLatin1String(kChannelNames[channel]);
        painter.drawText(QPointF(x, kMargin + metrics.ascent()), name);
        x += metrics.horizontalAdvance(name) + 3 * kGap;
    }
    // The values on the left, right-aligned against the plot.
    for (int tick = 0; tick < kValueTicks; ++tick) {
        const double y = valueTickY(tick);
        const QString label = valueLabel(tick);
        painter.drawText(QPointF(plot_.left() - kGap - metrics.horizontalAdvance(label),
                                 y + metrics.ascent() - metrics.height() / 2.0),
                         label);
    }
    // The seconds below, centred under their ticks, and their unit.
    const double span = spanSeconds();
    const double labelTop = plot_.bottom() + kGap + metrics.ascent();
    if (span > 0) {
        for (int i = 0; i < kTimeTicks; ++i) {
            const double tickX = timeTickX(i);
            const QString label = timeLabel(i, span);
            painter.drawText(QPointF(tickX - metrics.horizontalAdvance(label) / 2.0, labelTop), label);
        }
    }
    const QString unit = QStringLiteral("s");
    painter.drawText(QPointF(plot_.center().x() - metrics.horizontalAdvance(unit) / 2.0, labelTop + metrics.height()),
                     unit);
    if (hasFocus()) {
        // The focus frame runs along the chart's edge, outside the plot area.
        QPen pen(palette().color(QPalette::Highlight), 2);
        pen.setCosmetic(true);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
}

void TrendChart::paintPlot(QPainter& painter) {
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(hairline(palette().color(QPalette::Mid), Qt::SolidLine));
    for (int tick = 1; tick < kValueTicks - 1; ++tick) {
        const double y = valueTickY(tick);
        painter.drawLine(QPointF(plot_.left(), y), QPointF(plot_.right(), y));
    }
    for (int i = 1; i < kTimeTicks - 1; ++i) {
        const double x = timeTickX(i);
        painter.drawLine(QPointF(x, plot_.top()), QPointF(x, plot_.bottom()));
    }
    painter.setPen(hairline(palette().color(QPalette::Dark), Qt::SolidLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot_);
    if (shown_.empty()) return;
    painter.save();
    painter.setClipRect(plot_);
    for (int channel = 0; channel < 2; ++channel) drawChannel(painter, channel);
    painter.setPen(hairline(Qt::darkGray, Qt::DashLine));
    for (const double position : markPositions_) {
        const double x = plot_.left() + position * plot_.width();
        painter.drawLine(QPointF(x, plot_.top()), QPointF(x, plot_.bottom()));
    }
    if (cursor_ >= 0 && cursor_ < static_cast<int>(shown_.size())) {
        const double x = plot_.left() + (cursor_ + 0.5) * plot_.width() / static_cast<double>(shown_.size());
        painter.setPen(hairline(palette().color(QPalette::Highlight), Qt::SolidLine));
        painter.drawLine(QPointF(x, plot_.top()), QPointF(x, plot_.bottom()));
    }
    painter.restore();
}

// One polyline per stretch of columns with no silence longer than
// kTrendGapMicros between them; empty columns inside a stretch are stepped
// over, so a gap shows only where the device was silent.
void TrendChart::drawChannel(QPainter& painter, int channel) {
    const double columnWidth = plot_.width() / static_cast<double>(shown_.size());
    const double yScale = plot_.height() / (kValueMax - kValueMin);
    auto y = [&](int reading) { return plot_.bottom() - (valueOfReading(reading) - kValueMin) * yScale; };
    painter.setPen(hairline(channelColour(channel), Qt::SolidLine));
    auto flush = [&] {
        if (points_.size() == 1) painter.drawPoint(points_.front());
        else if (!points_.empty()) painter.drawPolyline(points_.data(), static_cast<int>(points_.size()));
        points_.clear();
    };
    const TrendColumn* previous = nullptr;
    for (size_t k = 0; k < shown_.size(); ++k) {
        const TrendColumn& column = shown_[k];
        if (column.count == 0) continue;
        if (previous && !columnsJoin(*previous, column)) flush();
        const double x = plot_.left() + (static_cast<double>(k) + 0.5) * columnWidth;
        // A column is a vertical stroke from its smallest to its largest
        // reading, drawn in the direction the column ran (first to last),
        // so the line enters and leaves it near where the signal was.
        const ChannelColumn& ch = column.ch[channel];
        if (ch.min == ch.max) {
            points_.emplace_back(x, y(ch.min));
        } else if (ch.first <= ch.last) {
            points_.emplace_back(x, y(ch.min));
            points_.emplace_back(x, y(ch.max));
        } else {
            points_.emplace_back(x, y(ch.max));
            points_.emplace_back(x, y(ch.min));
        }
        previous = &column;
    }
    flush();
}

void TrendChart::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placePlot();
}

void TrendChart::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) placePlot();
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) update();
}

void TrendChart::mouseMoveEvent(QMouseEvent* event) {
    QWidget::mouseMoveEvent(event);
    const double position = (event->position().x() - plot_.left()) / plot_.width();
    const double seconds = position * spanSeconds() - spanSeconds();
    emit pointerValues(valuesText(std::floor(position * static_cast<double>(shown_.size())), seconds));
}

QString TrendChart::valuesText(double k, double seconds) const {
    if (shown_.empty() || k < 0 || k >= static_cast<double>(shown_.size())) return QString();
    const TrendColumn& column = shown_[static_cast<size_t>(k)];
    QString text = QStringLiteral("%1 s").arg(seconds, 0, 'f', 2);
    if (column.count == 0) {
        text += QStringLiteral("   no frame");
    } else {
        for (int c = 0; c < 2; ++c) {
            const ChannelColumn& ch = column.ch[c];
            text += QStringLiteral("   Ch %1 ").arg(c + 1);
            text += ch.min == ch.max
                        ? QString::number(valueOfReading(ch.min), 'f', 2)
                        : QStringLiteral("%1 .. %2")
                              .arg(valueOfReading(ch.min), 0, 'f', 2)
                              .arg(valueOfReading(ch.max), 0, 'f', 2);
        }
    }
    return text;
}

void TrendChart::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    if (cursor_ < 0) emit pointerValues(QString());
}

void TrendChart::keyPressEvent(QKeyEvent* event) {
    const int count = static_cast<int>(shown_.size());
    const int page = std::max(1, count / 10);
    int next = cursor_ < 0 ? count - 1 : cursor_;
    switch (event->key()) {
    case Qt::Key_Left: next -= cursor_ < 0 ? 0 : 1; break;
    case Qt::Key_Right: next += 1; break;
    case Qt::Key_PageUp: next -= page; break;
    case Qt::Key_PageDown: next += page; break;
    case Qt::Key_Home: next = 0; break;
    case Qt::Key_End: next = count - 1; break;
    default: return QWidget::keyPressEvent(event);
    }
    if (count == 0) return;
    cursor_ = std::clamp(next, 0, count - 1);
    const double columnSeconds = static_cast<double>(columnMicros_) / 1e6;
    emit pointerValues(valuesText(cursor_, (cursor_ + 0.5 - count) * columnSeconds));
    update(plotPixels());
}

void TrendChart::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void TrendChart::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    cursor_ = -1;
    emit pointerValues(QString());
    update();
}
