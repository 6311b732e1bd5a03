// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The trend's drawing: channel 1 and channel 2 on -100 .. +100 against the
// seconds before now, from a decimated view (per pixel column a stroke from
// the smallest to the largest reading), with a gap wherever the device was
// silent and a dashed mark where the identifier changed. Qt Charts draws the
// axes, grid and legend; the traces and marks are painted with QPainter on a
// widget over its plot area, above a copy of what the chart drew there.
// A Qt Charts series rebuilds its path and hit-test outline on every
// replace, and a repaint of the chart paints all its items again: at 30
// pictures a second either cost more than the trace itself.
// The chart takes the focus: Left and Right move a cursor over the columns
// (Home, End to the ends), whose values it reports as the pointer's are,
// and a focus frame shows it has the keys. Its colours follow the palette,
// so a dark desktop gets a dark chart. [main-thread]

#include <QChartView>
#include <QPixmap>
#include <QPointF>
#include <vector>

#include "capture/decimate.h"

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
    void showColumns(const std::vector<kolvar::capture::TrendColumn>& columns, int64_t fromMicros,
                     int64_t columnMicros, const std::vector<kolvar::capture::IdentifierMark>& marks);
    // The plot area in the viewport's coordinates, and the time the columns
    // shown last cover: [shownFromMicros, +shownSpanMicros).
    QRectF plotRect() const;
    int64_t shownFromMicros() const { return fromMicros_; }
    int64_t shownSpanMicros() const { return columnMicros_ * static_cast<int64_t>(shown_.size()); }
    int64_t shownColumnMicros() const { return columnMicros_; }

signals:
    // What the trend shows under the mouse pointer or at the keyboard's
    // cursor, as one line of text.
    void pointerValues(const QString& text);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void drawForeground(QPainter* painter, const QRectF& rect) override;

private:
    // Moves the trace widget onto the plot area and forgets the chart's
    // picture under it, which the next paint takes again.
    void placeOverlay();
    // The trace widget's picture: the chart under it, then traces and marks.
    void paintPlot(QPainter& painter);
    void drawChannel(QPainter& painter, const QRectF& plot, int channel);
    // The values of column k (or "" outside the shown columns) at `seconds`.
    QString valuesText(double k, double seconds) const;
    // Takes the chart's, the axes' and the legend's colours from the palette.
    void applyPalette();

    QValueAxis* timeAxis_;
    QValueAxis* valueAxis_;
    // Empty series: they only carry the channels' names and colours into the
    // legend and let the chart map the pointer to values.
    QLineSeries* legend_[2];
    QWidget* overlay_;
    QPixmap under_;  // what the chart draws under the trace widget
    std::vector<kolvar::capture::TrendColumn> shown_;
    std::vector<double> markPositions_;  // 0 (left edge) .. 1 (right edge)
    std::vector<QPointF> points_;        // reused between pictures
    int64_t columnMicros_ = 1;
    int cursor_ = -1;  // the keyboard's column, -1 while it has none
    int64_t fromMicros_ = 0;
};
