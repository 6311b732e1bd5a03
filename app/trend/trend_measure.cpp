// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/trend/trend_measure.h"

#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>
#include <QTableWidget>
#include <algorithm>
#include <cmath>

#include "app/trend/trend_chart.h"
#include "app/trend/trend_clock.h"

using namespace kolvar::capture;

namespace {
// Statistics of a 10-minute span at 8,000 frames/s read 4.8 million samples:
// they run at most 4 times a second, and never take more than a fortieth of
// the UI thread.
constexpr int64_t kMinIntervalMicros = 250'000;
constexpr int64_t kCostFactor = 40;
// A press that moves less than this is a click, more a drag.
constexpr double kDragPixels = 4.0;

const char* const kColumns[] = {"Frames", "Min", "Max", "Mean", "Std dev", "RMS", "Peak-to-peak"};
constexpr int kColumnCount = 7;

QString number(double value) { return QString::number(value, 'f', 2); }

QString counted(size_t n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}
}  // namespace

TrendMeasure::TrendMeasure(TrendChart* chart, const TrendSamples& samples, QObject* parent)
    : QObject(parent),
      chart_(chart),
      samples_(samples),
      overlay_(new QWidget(chart)),
      stretchLine_(new QLabel),
      table_(new QTableWidget(2, kColumnCount)),
      cursorLine_(new QLabel) {
    overlay_->setAttribute(Qt::WA_TransparentForMouseEvents);
    overlay_->setGeometry(chart->rect());
    overlay_->raise();
    overlay_->show();
    overlay_->installEventFilter(this);
    chart->installEventFilter(this);

    // Wrapped, so a long line never widens the window.
    for (QLabel* line : {stretchLine_, cursorLine_}) {
        line->setTextInteractionFlags(Qt::TextSelectableByMouse);
        line->setWordWrap(true);
    }
    cursorLine_->setAccessibleName(QStringLiteral("Cursors"));
    table_->setAccessibleName(QStringLiteral("Statistics"));
    for (int c = 0; c < kColumnCount; ++c)
        table_->setHorizontalHeaderItem(c, new QTableWidgetItem(QString::fromUtf8(kColumns[c])));
    for (int row = 0; row < 2; ++row) {
        table_->setVerticalHeaderItem(row, new QTableWidgetItem(QStringLiteral("Ch %1").arg(row + 1)));
        for (int c = 0; c < kColumnCount; ++c) {
            auto* item = new QTableWidgetItem(QStringLiteral("—"));
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(row, c, item);
        }
    }
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    table_->setFocusPolicy(Qt::NoFocus);
    table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    // Equal columns, each wide enough for the longest heading in the
    // desktop's font ("Peak-to-peak"): the window grows rather than clip it.
    int widestHeading = 0;
    const QFontMetrics headingMetrics(table_->horizontalHeader()->font());
    for (const char* heading : kColumns)
        widestHeading = std::max(widestHeading, headingMetrics.horizontalAdvance(QString::fromUtf8(heading)));
    table_->setMinimumWidth(table_->verticalHeader()->sizeHint().width() + kColumnCount * (widestHeading + 12) +
                            2 * table_->frameWidth());
    // Two rows of text and no more: the chart keeps the window's height.
    const int rowHeight = table_->fontMetrics().height() + 6;
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(rowHeight);
    table_->setFixedHeight(table_->horizontalHeader()->sizeHint().height() + 2 * rowHeight +
                           2 * table_->frameWidth());
    showCursors();

    // The plain arrow keys belong to the chart; Alt moves the cursors.
    const struct {
        QKeyCombination keys;
        int which, direction;
    } moves[] = {{Qt::ALT | Qt::Key_Left, 0, -1}, {Qt::ALT | Qt::Key_Right, 0, 1},
                 {Qt::ALT | Qt::SHIFT | Qt::Key_Left, 1, -1}, {Qt::ALT | Qt::SHIFT | Qt::Key_Right, 1, 1}};
    for (const auto& move : moves)
        connect(new QShortcut(QKeySequence(move.keys), chart_), &QShortcut::activated, this,
                [this, which = move.which, direction = move.direction] { stepCursor(which, direction); });
}

void TrendMeasure::tick() {
    QWidget* window = chart_->window();
    if (paused_ || !window->isVisible() || window->isMinimized()) return;
    if (kolvar::steadyMicros() < dueMicros_) return;
    refresh();
}

void TrendMeasure::refresh() {
    const int64_t started = kolvar::steadyMicros();
    const int64_t from = selected_ ? selFrom_ : chart_->shownFromMicros();
    const int64_t to = selected_ ? selTo_ : from + std::max<int64_t>(chart_->shownSpanMicros() - 1, 0);
    stats_ = trendStats(samples_, from, to);

    const int64_t toWall = wallMinusMonotonicMicros();
    const auto timeOfDay = [&](int64_t micros) {
        return QDateTime::fromMSecsSinceEpoch((micros + toWall) / 1000).toString(QStringLiteral("HH:mm:ss.zzz"));
    };
    QString line = QStringLiteral("%1 %2 – %3 (%4 s) · %5")
                       .arg(selected_ ? QStringLiteral("Selection") : QStringLiteral("Span in view"),
                            timeOfDay(from), timeOfDay(to))
                       .arg(static_cast<double>(to - from) / 1e6, 0, 'f', 3)
                       .arg(counted(stats_.frames, "frame", "frames"));
    line += stats_.silences ? QStringLiteral(" · %1 (%2 s)")
                                  .arg(counted(stats_.silences, "silence", "silences"))
                                  .arg(static_cast<double>(stats_.silentMicros) / 1e6, 0, 'f', 2)
                            : QStringLiteral(" · no silence");
    line += stats_.identifierChanges
                ? QStringLiteral(" · %1").arg(counted(stats_.identifierChanges, "identifier change", "identifier changes"))
                : QStringLiteral(" · no identifier change");
    stretchLine_->setText(line);

    text_ = line + QStringLiteral("\nChannel");
    for (const char* column : kColumns) text_ += QLatin1Char('\t') + QString::fromUtf8(column);
    for (int row = 0; row < 2; ++row) {
        const ChannelStats& s = stats_.ch[row];
        const double values[] = {s.min, s.max, s.mean, s.stddev, s.rms, s.peakToPeak()};
        QString cells[kColumnCount];
        cells[0] = QString::number(stats_.frames);
        for (int c = 1; c < kColumnCount; ++c)
            cells[c] = stats_.frames ? number(values[c - 1]) : QStringLiteral("—");
        text_ += QStringLiteral("\nCh %1").arg(row + 1);
        for (int c = 0; c < kColumnCount; ++c) {
            table_->item(row, c)->setText(cells[c]);
            text_ += QLatin1Char('\t') + cells[c];
        }
    }
    showCursors();
    const int64_t finished = kolvar::steadyMicros();
    dueMicros_ = finished + std::max(kMinIntervalMicros, kCostFactor * (finished - started));
}

void TrendMeasure::placeCursor(int which, int64_t micros) {
    const PointValues at = trendValuesAt(samples_, micros, chart_->shownColumnMicros());
    cursor_[which] = at.frame ? at.micros : micros;
    cursorSet_[which] = true;
    showCursors();
    overlay_->update();
}

void TrendMeasure::stepCursor(int which, int direction) {
    if (chart_->shownSpanMicros() <= 0) return;
    if (!cursorSet_[which]) {
        placeCursor(which, chart_->shownFromMicros() + chart_->shownSpanMicros() / 2);
        return;
    }
    const int64_t from = cursor_[which];
    int64_t target = from + direction * chart_->shownColumnMicros();
    const PointValues at = trendValuesAt(samples_, target, chart_->shownColumnMicros());
    if (at.frame && at.micros == from) {
        // The column's nearest frame is the one the cursor is on.
        const size_t i = samples_.lowerBound(from);
        if (direction > 0 && i + 1 < samples_.size()) target = samples_.at(i + 1).micros;
        if (direction < 0 && i > 0) target = samples_.at(i - 1).micros;
    }
    placeCursor(which, target);
}

void TrendMeasure::clear() {
    selected_ = dragging_ = false;
    cursorSet_[0] = cursorSet_[1] = false;
    refresh();
    overlay_->update();
}

void TrendMeasure::showCursors() {
    if (!cursorSet_[0] && !cursorSet_[1]) {
        cursorLine_->setText(QStringLiteral(
            "Click: cursor A · Shift+click: cursor B · Drag: select a stretch · Right-click: clear"));
        return;
    }
    const int64_t end = chart_->shownFromMicros() + chart_->shownSpanMicros();
    PointValues at[2];
    QStringList pieces;
    for (int k = 0; k < 2; ++k) {
        if (!cursorSet_[k]) continue;
        at[k] = trendValuesAt(samples_, cursor_[k], chart_->shownColumnMicros());
        QString piece = QStringLiteral("%1 %2 s: ")
                           .arg(QLatin1Char(k ? 'B' : 'A'))
                           .arg(static_cast<double>(cursor_[k] - end) / 1e6, 0, 'f', 3);
        piece += at[k].frame ? QStringLiteral("Ch 1 %1, Ch 2 %2").arg(number(at[k].value[0]), number(at[k].value[1]))
                            : QStringLiteral("no frame");
        pieces << piece;
    }
    if (cursorSet_[0] && cursorSet_[1]) {
        QString delta = QStringLiteral("B − A: Δt %1 s").arg(static_cast<double>(cursor_[1] - cursor_[0]) / 1e6, 0, 'f', 3);
        if (at[0].frame && at[1].frame)
            delta += QStringLiteral(", Δ Ch 1 %1, Δ Ch 2 %2")
                         .arg(number(at[1].value[0] - at[0].value[0]), number(at[1].value[1] - at[0].value[1]));
        pieces << delta;
    }
    cursorLine_->setText(pieces.join(QStringLiteral(" · ")));
}

int64_t TrendMeasure::timeAt(double x) const {
    const QRectF plot = chart_->plotRect();
    const double position = std::clamp((x - plot.left()) / plot.width(), 0.0, 1.0);
    return chart_->shownFromMicros() +
           static_cast<int64_t>(std::llround(position * static_cast<double>(chart_->shownSpanMicros())));
}

double TrendMeasure::xAt(int64_t micros) const {
    const QRectF plot = chart_->plotRect();
    const double span = static_cast<double>(std::max<int64_t>(chart_->shownSpanMicros(), 1));
    return plot.left() + static_cast<double>(micros - chart_->shownFromMicros()) / span * plot.width();
}

void TrendMeasure::paintOverlay() {
    if (!selected_ && !dragging_ && !cursorSet_[0] && !cursorSet_[1]) return;
    QPainter painter(overlay_);
    const QRectF plot = chart_->plotRect();
    painter.setClipRect(plot);
    const QPalette& palette = overlay_->palette();
    if (selected_ || dragging_) {
        QColor band = palette.color(QPalette::Highlight);
        band.setAlpha(50);
        const double left = xAt(selFrom_), right = xAt(selTo_);
        painter.fillRect(QRectF(left, plot.top(), std::max(right - left, 1.0), plot.height()), band);
    }
    for (int k = 0; k < 2; ++k) {
        if (!cursorSet_[k]) continue;
        QPen pen(palette.color(QPalette::WindowText), 1.0, k ? Qt::DashLine : Qt::SolidLine);
        pen.setCosmetic(true);
        painter.setPen(pen);
        const double x = std::round(xAt(cursor_[k])) + 0.5;
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        painter.drawText(QPointF(x + 3, plot.top() + painter.fontMetrics().ascent() + 2), QString(QLatin1Char(k ? 'B' : 'A')));
    }
}

bool TrendMeasure::eventFilter(QObject* watched, QEvent* event) {
    if (watched == overlay_) {
        if (event->type() == QEvent::Paint) {
            paintOverlay();
            return true;
        }
        return false;
    }
    switch (event->type()) {
    case QEvent::Resize:
        overlay_->setGeometry(chart_->rect());
        break;
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        // Presses on the plot are the measure's; elsewhere the chart's.
        if (chart_->shownSpanMicros() <= 0 || !chart_->plotRect().contains(mouse->position())) break;
        if (mouse->button() == Qt::RightButton) {
            clear();
        } else if (mouse->button() == Qt::LeftButton) {
            pressed_ = true;
            dragging_ = false;
            pressX_ = mouse->position().x();
        }
        return true;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!pressed_) break;
        const double x = mouse->position().x();
        if (!dragging_ && std::abs(x - pressX_) < kDragPixels) break;
        dragging_ = true;
        selFrom_ = timeAt(std::min(pressX_, x));
        selTo_ = timeAt(std::max(pressX_, x));
        overlay_->update();
        break;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!pressed_ || mouse->button() != Qt::LeftButton) break;
        pressed_ = false;
        if (dragging_) {
            dragging_ = false;
            selected_ = true;
            refresh();
            overlay_->update();
        } else {
            placeCursor(mouse->modifiers() & Qt::ShiftModifier ? 1 : 0, timeAt(pressX_));
        }
        return true;
    }
    default:
        break;
    }
    return false;
}
