#pragma once
// The trend's drawing: channel 1 and channel 2 on -100 .. +100 against the
// seconds before now, from a decimated view (per pixel column a stroke from
// the smallest to the largest reading), with a gap wherever the device was
// silent and a dashed mark where the identifier changed. Qt Charts draws the
// axes, grid and legend; the traces and marks are painted over its plot area
// with QPainter, since a Qt Charts series rebuilds its path and hit-test
// outline on every replace, which at 30 pictures a second cost more than the
// rest of the viewer's UI thread. [main-thread]

#include <QChartView>
#include <QPointF>
#include <vector>

#include "can/decimate.h"

class QLineSeries;
class QValueAxis;

class TrendChart : public QChartView {
    Q_OBJECT
public:
    explicit TrendChart(QWidget* parent = nullptr);

    // Pixel columns the plot area has room for now.
    int columnCount() const;
    // Shows `columns`, the last of which ends at the right edge (0 s); each
    // is `columnMicros` wide and the first starts at `fromMicros`.
    void showColumns(const std::vector<TrendColumn>& columns, int64_t fromMicros,
                     int64_t columnMicros, const std::vector<IdentifierMark>& marks);

signals:
    // What the trend shows under the mouse pointer, as one line of text.
    void pointerValues(const QString& text);

protected:
    void drawForeground(QPainter* painter, const QRectF& rect) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // The plot area in the view's (and scene's) coordinates.
    QRectF plotRect() const;
    void drawChannel(QPainter* painter, const QRectF& plot, int channel);

    QValueAxis* timeAxis_;
    QValueAxis* valueAxis_;
    // Empty series: they only carry the channels' names and colours into the
    // legend and let the chart map the pointer to values.
    QLineSeries* legend_[2];
    std::vector<TrendColumn> shown_;
    std::vector<double> markPositions_;  // 0 (left edge) .. 1 (right edge)
    std::vector<QPointF> points_;        // reused between pictures
    int64_t columnMicros_ = 1;
};
