// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The trend's drawing: channel 1 and channel 2 on -100 .. +100 against the
// seconds before now, from a decimated view (per pixel column a stroke from
// the smallest to the largest reading), with a gap wherever the device was
// silent and a dashed mark where the identifier changed. A plain widget that
// paints its own legend, axes and grid: a new picture repaints only the plot
// area, and the axes' labels only when the span they show changes.
// The chart takes the focus: Left and Right move a cursor over the columns
// (Home, End to the ends), whose values it reports as the pointer's are,
// and a focus frame shows it has the keys. Its colours follow the palette,
// so a dark desktop gets a dark chart. [main-thread]

#include <QPointF>
#include <QRect>
#include <QWidget>
#include <vector>

#include "capture/decimate.h"

class TrendChart : public QWidget {
    Q_OBJECT
public:
    explicit TrendChart(QWidget* parent = nullptr);

    // Pixel columns the plot area has room for now.
    int columnCount() const;
    // Shows `columns`, the last of which ends at the right edge (0 s); each
    // is `columnMicros` wide and the first starts at `fromMicros`.
    void showColumns(const std::vector<kolvar::capture::TrendColumn>& columns, int64_t fromMicros,
                     int64_t columnMicros, const std::vector<kolvar::capture::IdentifierMark>& marks);
    // The plot area in the widget's coordinates, and the time the columns
    // shown last cover: [shownFromMicros, +shownSpanMicros).
    QRectF plotRect() const { return plot_; }
    int64_t shownFromMicros() const { return fromMicros_; }
    int64_t shownSpanMicros() const { return columnMicros_ * static_cast<int64_t>(shown_.size()); }
    int64_t shownColumnMicros() const { return columnMicros_; }

signals:
    // What the trend shows under the mouse pointer or at the keyboard's
    // cursor, as one line of text.
    void pointerValues(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // Places the plot area inside the room the legend and labels leave.
    void placePlot();
    // The pixels a new picture of the plot repaints: the plot area and the
    // axis lines on its edges.
    QRect plotPixels() const;
    // Where value tick `tick` (0 at the top, +100) and time tick i (0 at the
    // left edge) sit.
    double valueTickY(int tick) const;
    double timeTickX(int i) const;
    // The legend, the axes' labels and their title, around the plot area.
    void paintFrame(QPainter& painter);
    // The grid, the traces, the marks and the cursor, inside the plot area.
    void paintPlot(QPainter& painter);
    void drawChannel(QPainter& painter, int channel);
    QColor channelColour(int channel) const;
    // The values of column k (or "" outside the shown columns) at `seconds`.
    QString valuesText(double k, double seconds) const;
    double spanSeconds() const { return static_cast<double>(shownSpanMicros()) / 1e6; }

    QRectF plot_;
    std::vector<kolvar::capture::TrendColumn> shown_;
    std::vector<double> markPositions_;  // 0 (left edge) .. 1 (right edge)
    std::vector<QPointF> points_;        // reused between pictures
    int64_t columnMicros_ = 1;
    int cursor_ = -1;  // the keyboard's column, -1 while it has none
    int64_t fromMicros_ = 0;
};
