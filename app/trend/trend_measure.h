// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Measuring on the trend: statistics of each channel over the span in view
// or a stretch dragged across the chart, in a small table under it, and two
// cursors (click: A, shift-click: B, moved by Alt+Left/Right and
// Alt+Shift+Left/Right; right-click clears both and the selection) with
// their values and the differences between them. The
// statistics run from the samples, a few times a second at most and less
// often when a long span makes them dear, only while the window is shown and
// not paused; placing a cursor or a selection computes at once. [main-thread]

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "capture/trend_stats.h"

class QLabel;
class QTableWidget;
class QWidget;
class TrendChart;

class TrendMeasure : public QObject {
    Q_OBJECT
public:
    // Measures what `chart` shows of `samples`; both outlive this object.
    TrendMeasure(TrendChart* chart, const kolvar::capture::TrendSamples& samples, QObject* parent = nullptr);

    // The widgets to lay out under the chart: the stretch line, the table
    // and the cursor line.
    QLabel* stretchLine() const { return stretchLine_; }
    QTableWidget* table() const { return table_; }
    QLabel* cursorLine() const { return cursorLine_; }

    // Called on the trend window's tick: recomputes when due, unless paused
    // or the window is hidden.
    void tick();
    void setPaused(bool paused) { paused_ = paused; }
    // Recomputes now, whatever is due.
    void refresh();

    // The selected stretch, when one is dragged, in arrival times.
    bool hasSelection() const { return selected_; }
    int64_t selectionFrom() const { return selFrom_; }
    int64_t selectionTo() const { return selTo_; }
    // Places cursor A or B at a time, snapped to the frame shown there.
    void placeCursor(int which, int64_t micros);
    // Moves a cursor one pixel column, or to the neighbouring frame where
    // frames are further apart; an unplaced one starts in the middle.
    void stepCursor(int which, int direction);
    bool cursorsPlaced() const { return cursorSet_[0] || cursorSet_[1]; }
    // Forgets the selection and both cursors.
    void clear();

    // The statistics as text: the stretch line, then a tab-separated table
    // with a header row and one row per channel.
    QString statisticsText() const { return text_; }
    const kolvar::capture::StretchStats& stats() const { return stats_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int64_t timeAt(double x) const;
    double xAt(int64_t micros) const;
    void paintOverlay();
    void showCursors();

    TrendChart* chart_;
    const kolvar::capture::TrendSamples& samples_;
    QWidget* overlay_;
    QLabel* stretchLine_;
    QTableWidget* table_;
    QLabel* cursorLine_;

    kolvar::capture::StretchStats stats_;
    QString text_;
    bool paused_ = false;
    int64_t dueMicros_ = 0;

    bool selected_ = false;
    int64_t selFrom_ = 0, selTo_ = 0;
    bool pressed_ = false, dragging_ = false;
    double pressX_ = 0;
    bool cursorSet_[2] = {false, false};
    int64_t cursor_[2] = {0, 0};
};
