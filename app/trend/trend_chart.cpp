#include "app/trend/trend_chart.h"

#include <QChart>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QValueAxis>
#include <cmath>

#include "can/frame_format.h"

namespace {
// Beyond this many separate stretches per channel in one view, the rest are
// joined into the last one: the picture stays bounded whatever the traffic.
constexpr int kMaxSegments = 200;
constexpr int kMaxMarks = 32;
const QColor kChannelColours[2] = {QColor(0x1f, 0x5f, 0xbf), QColor(0xc0, 0x50, 0x10)};

double valueOfReading(int reading) { return scaleChannelWord(reading << 4); }

// One pixel wide whatever the scale: the painter draws such a pen as plain
// lines instead of stroking an outline around every segment.
QPen hairline(const QColor& colour, Qt::PenStyle style) {
    QPen pen(colour, 1.0, style);
    pen.setCosmetic(true);
    return pen;
}
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
    valueAxis_->setRange(-100.0, 100.0);
    valueAxis_->setTickCount(5);
    timeAxis_->setTickCount(6);
    valueAxis_->setLabelFormat(QStringLiteral("%.0f"));
    c->addAxis(timeAxis_, Qt::AlignBottom);
    c->addAxis(valueAxis_, Qt::AlignLeft);
    // The first stretch of each channel carries its name in the legend.
    segment(0, 0)->setName(QStringLiteral("Ch 1"));
    segment(1, 0)->setName(QStringLiteral("Ch 2"));
    setRenderHint(QPainter::Antialiasing, false);
    setMouseTracking(true);
    setMinimumSize(480, 260);
}

QLineSeries* TrendChart::segment(int channel, int index) {
    QList<QLineSeries*>& pool = segments_[channel];
    while (pool.size() <= index) {
        auto* series = new QLineSeries(chart());
        series->setPen(hairline(kChannelColours[channel], Qt::SolidLine));
        chart()->addSeries(series);
        series->attachAxis(timeAxis_);
        series->attachAxis(valueAxis_);
        if (!pool.isEmpty())
            for (QLegendMarker* marker : chart()->legend()->markers(series)) marker->setVisible(false);
        pool.append(series);
    }
    return pool[index];
}

QLineSeries* TrendChart::mark(int index) {
    while (marks_.size() <= index) {
        auto* series = new QLineSeries(chart());
        series->setPen(hairline(Qt::darkGray, Qt::DashLine));
        chart()->addSeries(series);
        series->attachAxis(timeAxis_);
        series->attachAxis(valueAxis_);
        for (QLegendMarker* marker : chart()->legend()->markers(series)) marker->setVisible(false);
        marks_.append(series);
    }
    return marks_[index];
}

int TrendChart::columnCount() const { return std::max(1, static_cast<int>(chart()->plotArea().width())); }

void TrendChart::showColumns(const std::vector<TrendColumn>& columns, int64_t fromMicros,
                             int64_t columnMicros, const std::vector<IdentifierMark>& marks) {
    const double columnSeconds = static_cast<double>(columnMicros) / 1e6;
    const double spanSeconds = columnSeconds * static_cast<double>(columns.size());
    timeAxis_->setRange(-spanSeconds, 0.0);
    shown_ = columns;
    columnMicros_ = columnMicros;

    for (int channel = 0; channel < 2; ++channel) {
        QList<QPointF> points;
        int used = 0;
        const TrendColumn* previous = nullptr;
        auto flush = [&] {
            if (!points.isEmpty()) segment(channel, used++)->replace(points);
            points.clear();
        };
        for (size_t k = 0; k < columns.size(); ++k) {
            const TrendColumn& column = columns[k];
            if (column.count == 0) continue;
            if (previous && !columnsJoin(*previous, column) && used < kMaxSegments - 1) flush();
            const double x = -spanSeconds + (static_cast<double>(k) + 0.5) * columnSeconds;
            // A column is a vertical stroke from its smallest to its largest
            // reading, drawn in the direction the column ran (first to last),
            // so the line enters and leaves it near where the signal was.
            const ChannelColumn& ch = column.ch[channel];
            if (ch.min == ch.max) {
                points.append({x, valueOfReading(ch.min)});
            } else if (ch.first <= ch.last) {
                points.append({x, valueOfReading(ch.min)});
                points.append({x, valueOfReading(ch.max)});
            } else {
                points.append({x, valueOfReading(ch.max)});
                points.append({x, valueOfReading(ch.min)});
            }
            previous = &column;
        }
        flush();
        for (int i = used; i < segments_[channel].size(); ++i)
            if (segments_[channel][i]->count() > 0) segments_[channel][i]->clear();
    }

    int usedMarks = 0;
    for (const IdentifierMark& m : marks) {
        const double x = static_cast<double>(m.micros - fromMicros) / 1e6 - spanSeconds;
        if (x < -spanSeconds || x > 0.0 || usedMarks == kMaxMarks) continue;
        mark(usedMarks++)->replace(QList<QPointF>{{x, -100.0}, {x, 100.0}});
    }
    for (int i = usedMarks; i < marks_.size(); ++i)
        if (marks_[i]->count() > 0) marks_[i]->clear();
}

void TrendChart::mouseMoveEvent(QMouseEvent* event) {
    QChartView::mouseMoveEvent(event);
    const QPointF value = chart()->mapToValue(event->position());
    const double columnSeconds = static_cast<double>(columnMicros_) / 1e6;
    const double spanSeconds = columnSeconds * static_cast<double>(shown_.size());
    const double k = std::floor((value.x() + spanSeconds) / columnSeconds);
    if (shown_.empty() || k < 0 || k >= static_cast<double>(shown_.size())) {
        emit pointerValues(QString());
        return;
    }
    const TrendColumn& column = shown_[static_cast<size_t>(k)];
    QString text = QStringLiteral("%1 s").arg(value.x(), 0, 'f', 2);
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
    emit pointerValues(text);
}

void TrendChart::leaveEvent(QEvent* event) {
    QChartView::leaveEvent(event);
    emit pointerValues(QString());
}
