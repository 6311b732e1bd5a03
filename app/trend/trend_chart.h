#pragma once
// The trend's drawing: channel 1 and channel 2 on -100 .. +100 against the
// seconds before now, from a decimated view (per pixel column a stroke from
// the smallest to the largest reading), with a gap wherever the device was
// silent and a dashed mark where the identifier changed. Drawn with Qt
// Charts. [main-thread]

#include <QChartView>
#include <QList>
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
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QLineSeries* segment(int channel, int index);
    QLineSeries* mark(int index);

    QValueAxis* timeAxis_;
    QValueAxis* valueAxis_;
    QList<QLineSeries*> segments_[2];
    QList<QLineSeries*> marks_;
    std::vector<TrendColumn> shown_;
    int64_t columnMicros_ = 1;
};
