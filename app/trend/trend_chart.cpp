// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/trend/trend_chart.h"

#include <QChart>
#include <QGraphicsScene>
#include <QLineSeries>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <functional>

#include "can/frame_format.h"

using namespace kolvar::capture;

namespace {
constexpr double kValueMin = -100.0;
constexpr double kValueMax = 100.0;
// The channels' colours on a light and on a dark chart: each at least 4.5 : 1
// against its background.
const QColor kChannelColours[2] = {QColor(0x1f, 0x5f, 0xbf), QColor(0xc0, 0x50, 0x10)};
const QColor kChannelColoursOnDark[2] = {QColor(0x6f, 0xa8, 0xff), QColor(0xff, 0x9a, 0x5c)};

bool isDark(const QColor& colour) { return colour.lightnessF() < 0.5; }

double valueOfReading(int reading) { return scaleChannelWord(reading << 4); }

// One pixel wide whatever the scale: the painter draws such a pen as plain
// lines instead of stroking an outline around every segment.
QPen hairline(const QColor& colour, Qt::PenStyle style) {
    QPen pen(colour, 1.0, style);
    pen.setCosmetic(true);
    return pen;
}

// The widget the traces are painted on: opaque, so a new picture repaints
// only it and not the chart's items beneath; mouse events pass through to
// the chart.
class TraceWidget : public QWidget {
public:
    TraceWidget(QWidget* parent, std::function<void(QPainter&)> paint) : QWidget(parent), paint_(std::move(paint)) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        paint_(painter);
    }

private:
    std::function<void(QPainter&)> paint_;
};
}  // namespace

TrendChart::TrendChart(QWidget* parent) : QChartView(new QChart, parent) {
    QChart* c = chart();
    c->setAnimationOptions(QChart::NoAnimation);
    c->legend()->setAlignment(Qt::AlignTop);
    c->setMargins(QMargins(4, 4, 4, 4));
    timeAxis_ = new QValueAxis(c);
    timeAxis_->setTitleText(QStringLiteral("s"));
    timeAxis_->setLabelFormat(QStringLiteral("%.0f"));
    valueAxis_ = new QValueAxis(c);
    valueAxis_->setRange(kValueMin, kValueMax);
    valueAxis_->setTickCount(5);
    timeAxis_->setTickCount(6);
    valueAxis_->setLabelFormat(QStringLiteral("%.0f"));
    c->addAxis(timeAxis_, Qt::AlignBottom);
    c->addAxis(valueAxis_, Qt::AlignLeft);
    const QString names[2] = {QStringLiteral("Ch 1"), QStringLiteral("Ch 2")};
    for (int channel = 0; channel < 2; ++channel) {
        legend_[channel] = new QLineSeries(c);
        legend_[channel]->setName(names[channel]);
        legend_[channel]->setPen(hairline(kChannelColours[channel], Qt::SolidLine));
        c->addSeries(legend_[channel]);
        legend_[channel]->attachAxis(timeAxis_);
        legend_[channel]->attachAxis(valueAxis_);
    }
    setRenderHint(QPainter::Antialiasing, false);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(480, 260);
    overlay_ = new TraceWidget(viewport(), [this](QPainter& painter) { paintPlot(painter); });
    connect(c, &QChart::plotAreaChanged, this, &TrendChart::placeOverlay);
    // Anything the chart changes (a new span's labels, a resize) may reach
    // under the trace widget.
    connect(scene(), &QGraphicsScene::changed, this, &TrendChart::placeOverlay);
    applyPalette();
}

void TrendChart::applyPalette() {
    const QPalette& colours = palette();
    const QColor ink = colours.color(QPalette::Text);
    const QColor grid = colours.color(QPalette::Mid);
    QChart* c = chart();
    c->setTheme(isDark(colours.color(QPalette::Base)) ? QChart::ChartThemeDark : QChart::ChartThemeLight);
    c->setBackgroundBrush(colours.brush(QPalette::Base));
    c->setBackgroundPen(Qt::NoPen);
    c->legend()->setLabelColor(ink);
    for (QValueAxis* axis : {timeAxis_, valueAxis_}) {
        axis->setLabelsColor(ink);
        axis->setTitleBrush(ink);
        axis->setLinePenColor(colours.color(QPalette::Dark));
        axis->setGridLineColor(grid);
    }
    const bool dark = isDark(colours.color(QPalette::Base));
    for (int channel = 0; channel < 2; ++channel)
        legend_[channel]->setPen(
            hairline(dark ? kChannelColoursOnDark[channel] : kChannelColours[channel], Qt::SolidLine));
    setBackgroundBrush(colours.brush(QPalette::Base));
    under_ = QPixmap();
    overlay_->update();
}

void TrendChart::changeEvent(QEvent* event) {
    QChartView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) applyPalette();
}

QRectF TrendChart::plotRect() const {
    return viewportTransform().mapRect(chart()->mapRectToScene(chart()->plotArea()));
}

void TrendChart::placeOverlay() {
    // One pixel more on each side: the axis lines on the plot area's edges
    // and a trace at full scale stay whole.
    overlay_->setGeometry(plotRect().toAlignedRect().adjusted(-1, -1, 1, 1));
    under_ = QPixmap();
    overlay_->update();
}

void TrendChart::paintPlot(QPainter& painter) {
    if (under_.isNull()) {
        const qreal ratio = overlay_->devicePixelRatioF();
        under_ = QPixmap(overlay_->size() * ratio);
        under_.setDevicePixelRatio(ratio);
        under_.fill(palette().color(QPalette::Base));
        QPainter copy(&under_);
        copy.setRenderHints(renderHints());
        const QRectF target(QPointF(0, 0), QSizeF(overlay_->size()));
        scene()->render(&copy, target, viewportTransform().inverted().mapRect(QRectF(overlay_->geometry())),
                        Qt::IgnoreAspectRatio);
    }
    painter.drawPixmap(0, 0, under_);
    const QRectF plot = plotRect().translated(-QPointF(overlay_->pos()));
    if (shown_.empty()) return;
    painter.setClipRect(plot);
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (int channel = 0; channel < 2; ++channel) drawChannel(painter, plot, channel);
    painter.setPen(hairline(Qt::darkGray, Qt::DashLine));
    for (const double position : markPositions_) {
        const double x = plot.left() + position * plot.width();
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }
    if (cursor_ >= 0 && cursor_ < static_cast<int>(shown_.size())) {
        const double x = plot.left() + (cursor_ + 0.5) * plot.width() / static_cast<double>(shown_.size());
        painter.setPen(hairline(palette().color(QPalette::Highlight), Qt::SolidLine));
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }
}

int TrendChart::columnCount() const { return std::max(1, static_cast<int>(chart()->plotArea().width())); }

void TrendChart::showColumns(const std::vector<TrendColumn>& columns, int64_t fromMicros,
                             int64_t columnMicros, const std::vector<IdentifierMark>& marks) {
    const double spanMicros = static_cast<double>(columnMicros) * static_cast<double>(columns.size());
    timeAxis_->setRange(-spanMicros / 1e6, 0.0);
    shown_ = columns;
    columnMicros_ = columnMicros;
    fromMicros_ = fromMicros;
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
    overlay_->update();
}

// One polyline per stretch of columns with no silence longer than
// kTrendGapMicros between them; empty columns inside a stretch are stepped
// over, so a gap shows only where the device was silent.
void TrendChart::drawChannel(QPainter& painter, const QRectF& plot, int channel) {
    const double columnWidth = plot.width() / static_cast<double>(shown_.size());
    const double yScale = plot.height() / (kValueMax - kValueMin);
    auto y = [&](int reading) { return plot.bottom() - (valueOfReading(reading) - kValueMin) * yScale; };
    painter.setPen(hairline(legend_[channel]->pen().color(), Qt::SolidLine));
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
        const double x = plot.left() + (static_cast<double>(k) + 0.5) * columnWidth;
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

void TrendChart::mouseMoveEvent(QMouseEvent* event) {
    QChartView::mouseMoveEvent(event);
    const QPointF value = chart()->mapToValue(event->position());
    const double columnSeconds = static_cast<double>(columnMicros_) / 1e6;
    const double spanSeconds = columnSeconds * static_cast<double>(shown_.size());
    emit pointerValues(valuesText(std::floor((value.x() + spanSeconds) / columnSeconds), value.x()));
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
    QChartView::leaveEvent(event);
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
    default: return QChartView::keyPressEvent(event);
    }
    if (count == 0) return;
    cursor_ = std::clamp(next, 0, count - 1);
    const double columnSeconds = static_cast<double>(columnMicros_) / 1e6;
    emit pointerValues(valuesText(cursor_, (cursor_ + 0.5 - count) * columnSeconds));
    overlay_->update();
}

void TrendChart::focusInEvent(QFocusEvent* event) {
    QChartView::focusInEvent(event);
    viewport()->update();
}

void TrendChart::focusOutEvent(QFocusEvent* event) {
    QChartView::focusOutEvent(event);
    cursor_ = -1;
    emit pointerValues(QString());
    overlay_->update();
    viewport()->update();
}

void TrendChart::drawForeground(QPainter* painter, const QRectF& rect) {
    QChartView::drawForeground(painter, rect);
    if (!hasFocus()) return;
    // The focus frame runs along the chart's edge, outside the plot area.
    painter->save();
    QPen pen(palette().color(QPalette::Highlight), 2);
    pen.setCosmetic(true);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(sceneRect().adjusted(1, 1, -1, -1));
    painter->restore();
}
