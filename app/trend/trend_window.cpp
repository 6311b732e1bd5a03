// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/trend/trend_window.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/trend/trend_chart.h"
#include "app/trend/trend_clock.h"
#include "app/trend/trend_measure.h"
#include "app/trend/trend_picture.h"
#include "app/trend/record_source.h"
#include "can/bus.h"
#include "can/can_id.h"
#include "can/frame_format.h"
#include "can/frame_tap.h"
#include "can/lost_frames.h"
#include "capture/trend_csv.h"
#include "platform/canlib.h"

using kolvar::capture::FileJob;
using kolvar::capture::TrendSample;

namespace {
// Collect and redraw 30 times a second: a trend needs no more pictures than
// that, each repaints the traces, and the hand-over ring holds 2 s.
// The redraw bound sits a little below the tick so timer jitter skips none.
constexpr int kTickMs = 33;
constexpr int64_t kMinRedrawMicros = 30'000;

// The layer's channel names by number: each recorded frame is named after
// the channel it came in on, whichever is chosen for the next switch-on.
std::vector<std::string> channelNames() {
    std::vector<std::string> names;
    int count = 0;
    if (canGetNumberOfChannels(&count) != canOK) return names;
    for (int channel = 0; channel < count; ++channel) {
        char name[64] = "";
        names.push_back(canGetChannelName(channel, name, sizeof name) == canOK ? name : "");
    }
    return names;
}

// ", 17,289 lost while it ran (marked in the file)", or nothing.
QString lostWhileRecording(uint64_t lost) {
    if (lost == 0) return {};
    return QStringLiteral("; %1 frames lost while it ran (marked in the file)")
        .arg(QString::fromStdString(groupedCount(lost)));
}

// "Cannot record to /tmp/a.log: Permission denied": a recording that never
// began, whether the file could not be made or no program read its FIFO.
QString cannotRecord(const QString& path, const std::string& reason) {
    return QStringLiteral("Cannot record to %1: %2").arg(path, QString::fromStdString(reason));
}

constexpr struct {
    const char* text;
    int seconds;
} kSpans[] = {{"10 s", 10}, {"60 s", 60}, {"10 min", 600}};
}  // namespace

TrendWindow::TrendWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      samples_(scaleChannelWord),
      recorder_(recordTapSource()),
      chart_(new TrendChart(this)),
      span_(new QComboBox(this)),
      pause_(new QPushButton(QStringLiteral("Pause"), this)),
      record_(new QPushButton(QStringLiteral("Record…"), this)),
      export_(new QPushButton(QStringLiteral("Export CSV…"), this)),
      picture_(new QPushButton(QStringLiteral("Save picture…"), this)),
      copyStats_(new QPushButton(QStringLiteral("Copy statistics"), this)),
      pointer_(new QLabel(this)),
      message_(new QLabel(this)),
      timer_(new QTimer(this)),
      measure_(new TrendMeasure(chart_, samples_, this)) {
    setWindowTitle(QStringLiteral("Kolvar CAN Viewer — Trend"));
    for (const auto& span : kSpans) span_->addItem(QString::fromUtf8(span.text), span.seconds);
    pause_->setCheckable(true);
    message_->setWordWrap(true);

    auto* controls = new QHBoxLayout;
    controls->addWidget(span_);
    controls->addWidget(pause_);
    controls->addWidget(record_);
    controls->addWidget(export_);
    controls->addWidget(picture_);
    controls->addWidget(copyStats_);
    controls->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(chart_, 1);
    layout->addWidget(measure_->stretchLine());
    layout->addWidget(measure_->table());
    layout->addWidget(measure_->cursorLine());
    layout->addWidget(pointer_);
    layout->addWidget(message_);
    resize(760, 560);

    // Esc and Ctrl+W close the trend window; Ctrl+Q (the panel's) ends the viewer.
    for (const QKeySequence& key : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)})
        connect(new QShortcut(key, this), &QShortcut::activated, this, &QWidget::close);

    connect(span_, &QComboBox::currentIndexChanged, this, [this] { lastRedrawMicros_ = 0; redraw(); });
    connect(pause_, &QPushButton::toggled, this, [this](bool paused) {
        pause_->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
        measure_->setPaused(paused);
        if (!paused) redraw();
    });
    connect(record_, &QPushButton::clicked, this, [this] {
        if (recorder_.recording()) stopRecording();
        else chooseRecordFile();
    });
    connect(export_, &QPushButton::clicked, this, [this] {
        if (exporter_.started()) cancelExport();
        else chooseCsvFile();
    });
    connect(picture_, &QPushButton::clicked, this, &TrendWindow::choosePictureFile);
    connect(copyStats_, &QPushButton::clicked, this, &TrendWindow::copyStatistics);
    connect(new QShortcut(QKeySequence::Copy, this), &QShortcut::activated, this, &TrendWindow::copyPicture);
    connect(chart_, &TrendChart::pointerValues, pointer_, &QLabel::setText);
    connect(timer_, &QTimer::timeout, this, [this] {
        collect();
        redraw();
        measure_->tick();
    });
}

TrendWindow::~TrendWindow() {
    // Neither the export nor the recording holds the close: each is
    // cancelled, which ends its writes at once, and its thread joined.
    trendTap().close();
    exporter_.cancel();
    exporter_.release(FileJob::kReleaseWait);
    recorder_.stop();
}

void TrendWindow::openOrRaise() {
    if (!trendTap().isOpen()) trendTap().open();
    timer_->start(kTickMs);
    show();
    raise();
    activateWindow();
    // A window opened again shows at once that it starts empty.
    redraw();
}

void TrendWindow::closeEvent(QCloseEvent* event) {
    trendTap().close();
    if (recorder_.recording()) stopRecording();
    forgetSamples();
    event->accept();
    // An export under way goes on writing its own copy; the timer keeps
    // looking for its end, which finishes the window.
    if (exporter_.started()) return;
    timer_->stop();
    emit finished();
}

void TrendWindow::forgetSamples() {
    samples_.clear();
    view_ = kolvar::capture::TrendView();
    measure_->clear();
    lastRedrawMicros_ = 0;
}

TrendWindow::Kept TrendWindow::kept() const {
    return {saveGeometry(), span_->currentIndex(), pause_->isChecked(), message_->text()};
}

void TrendWindow::restore(const Kept& kept) {
    restoreGeometry(kept.geometry);
    span_->setCurrentIndex(kept.span);
    pause_->setChecked(kept.paused);
    message_->setText(kept.message);
}

QString TrendWindow::message() const { return message_->text(); }

void TrendWindow::showMessage(const QString& text) { message_->setText(text); }

void TrendWindow::collect() {
    trendTap().drain([this](const TappedFrame& frame) {
        const ChannelWords words = decodeChannelWords(frame.data, byte_order);
        samples_.append(frame.arrivalMicros, frame.id, static_cast<uint16_t>(words.word1),
                        static_cast<uint16_t>(words.word2));
    });
    // A recording that ended on its own ended with a failure.
    if (recordingShown_ && !recorder_.recording()) {
        recordingShown_ = false;
        record_->setText(QStringLiteral("Record…"));
        if (!recorder_.opened()) {
            // The file was never created ("no program reads this FIFO").
            const std::string failure = recorder_.failure();
            recorder_.stop();
            showMessage(cannotRecord(recordPath_, failure));
        } else {
            showRecordingEnd();
        }
    }
    if (exporter_.started() && exporter_.ended()) finishExport();
}

void TrendWindow::redraw() {
    // Nothing to see: paused, closed or minimised. Collecting goes on.
    if (pause_->isChecked() || !isVisible() || isMinimized()) return;
    const int64_t now = kolvar::steadyMicros();
    const int64_t span = static_cast<int64_t>(span_->currentData().toInt()) * 1'000'000;
    const int count = chart_->columnCount();
    const int64_t columnMicros = std::max<int64_t>(1, span / count);
    // A column of a long span changes slowly: redraw at most twice per column.
    if (now - lastRedrawMicros_ < std::max(kMinRedrawMicros, columnMicros / 2)) return;
    lastRedrawMicros_ = now;
    // Columns are aligned on multiples of their width, so a sample stays in
    // the same column from one redraw to the next.
    const int64_t end = (now / columnMicros + 1) * columnMicros;
    const int64_t from = end - columnMicros * count;
    view_.update(samples_, from, columnMicros, count);
    chart_->showColumns(view_.columns(), from, columnMicros, samples_.marks());
}

void TrendWindow::chooseRecordFile() {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Record"), QString(),
                                                      QStringLiteral("candump log (*.log);;All files (*)"));
    if (!path.isEmpty()) startRecording(path);
}

bool TrendWindow::startRecording(const QString& path) {
    std::string error;
    recordPath_ = path;
    if (!recorder_.start(path.toStdString(), channelNames(), wallMinusMonotonicMicros(), &error)) {
        showMessage(cannotRecord(path, error));
        return false;
    }
    recordingShown_ = true;
    record_->setText(QStringLiteral("Stop"));
    showMessage(QStringLiteral("Recording to %1").arg(path));
    return true;
}

void TrendWindow::stopRecording() {
    recorder_.stop();
    recordingShown_ = false;
    record_->setText(QStringLiteral("Record…"));
    showRecordingEnd();
}

void TrendWindow::showRecordingEnd() {
    const QString failure = QString::fromStdString(recorder_.failure());
    const QString lost = lostWhileRecording(recorder_.lost());
    if (failure.isEmpty())
        showMessage(QStringLiteral("Recorded %1 frames to %2%3").arg(recorder_.lines()).arg(recordPath_, lost));
    else
        showMessage(QStringLiteral("Recording stopped: %1 writing %2. The file keeps the %3 frames written before%4.")
                        .arg(failure, recordPath_)
                        .arg(recorder_.lines())
                        .arg(lost));
}

void TrendWindow::chooseCsvFile() {
    const QString what = measure_->hasSelection() ? QStringLiteral("the selected stretch")
                                                  : QStringLiteral("everything the trend keeps");
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV: %1").arg(what), QString(),
                                                      QStringLiteral("CSV (*.csv);;All files (*)"));
    if (!path.isEmpty()) exportCsv(path);
}

bool TrendWindow::exportCsv(const QString& path) {
    if (exporter_.started()) {
        showMessage(QStringLiteral("An export is still being written"));
        return false;
    }
    // The selected stretch when there is one, all that is kept otherwise.
    const bool selected = measure_->hasSelection();
    const size_t first = selected ? samples_.lowerBound(measure_->selectionFrom()) : 0;
    const size_t end = selected ? samples_.lowerBound(measure_->selectionTo() + 1) : samples_.size();
    std::vector<TrendSample> snapshot;
    snapshot.reserve(end - first);
    for (size_t i = first; i < end; ++i) snapshot.push_back(samples_.at(i));
    const size_t count = snapshot.size();
    auto result = std::make_shared<ExportResult>();
    const bool started = exporter_.start(
        [result, snapshot = std::move(snapshot), file = path.toStdString(), scale = samples_.scale()](int cancelFd) {
            kolvar::capture::writeTrendCsv(file, snapshot, scale, &result->error, cancelFd);
        });
    if (!started) {
        showMessage(QStringLiteral("Export to %1 failed: no thread to write the file").arg(path));
        return false;
    }
    exportResult_ = std::move(result);
    exportPath_ = path;
    exportCancelled_ = false;
    export_->setText(QStringLiteral("Cancel export"));
    showMessage(QStringLiteral("Exporting %1 samples (%2) to %3")
                    .arg(count)
                    .arg(selected ? QStringLiteral("the selected stretch") : QStringLiteral("all kept"), path));
    return true;
}

void TrendWindow::cancelExport() {
    if (!exporter_.started()) return;
    exportCancelled_ = true;
    exporter_.cancel();
    // The export ends at once unless its file hangs in the system; collect()
    // finishes it then, or the window's close joins it.
    if (exporter_.ended()) finishExport();
}

void TrendWindow::finishExport() {
    exporter_.release(FileJob::kReleaseWait);
    export_->setText(QStringLiteral("Export CSV…"));
    const std::string error = exportResult_ ? exportResult_->error : std::string();
    if (exportCancelled_)
        showMessage(QStringLiteral("Export to %1 cancelled").arg(exportPath_));
    else if (error.empty())
        showMessage(QStringLiteral("Exported to %1").arg(exportPath_));
    else
        showMessage(QStringLiteral("Export to %1 failed: %2")
                        .arg(exportPath_, QString::fromStdString(error)));
    // The export was all a closed window was waiting for.
    if (!isVisible()) {
        timer_->stop();
        emit finished();
    }
}

QString TrendWindow::pictureCaption() {
    if (!pause_->isChecked()) measure_->refresh();
    const int64_t end = chart_->shownFromMicros() + chart_->shownSpanMicros();
    const QDateTime shownUpTo = QDateTime::fromMSecsSinceEpoch((end + wallMinusMonotonicMicros()) / 1000);
    QString caption = QStringLiteral("Identifier 0x%1 · span %2 · up to %3")
                          .arg(can_id.load(), 3, 16, QLatin1Char('0'))
                          .arg(span_->currentText(), shownUpTo.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    caption += QLatin1Char('\n') + measure_->statisticsText();
    if (measure_->cursorsPlaced()) caption += QLatin1Char('\n') + measure_->cursorLine()->text();
    return caption;
}

bool TrendWindow::savePicture(const QString& path) {
    QString error;
    if (!saveTrendPicture(chart_, pictureCaption(), path, &error)) {
        showMessage(QStringLiteral("Cannot save the picture to %1: %2").arg(path, error));
        return false;
    }
    showMessage(QStringLiteral("Saved the picture to %1").arg(path));
    return true;
}

void TrendWindow::choosePictureFile() {
    const QString png = QStringLiteral("PNG image (*.png)");
    const QString svg = QStringLiteral("SVG drawing (*.svg)");
    QString filter = png;
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save picture"), QString(),
                                                png + QStringLiteral(";;") + svg, &filter);
    if (path.isEmpty()) return;
    const QString suffix = filter == svg ? QStringLiteral(".svg") : QStringLiteral(".png");
    if (!path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) &&
        !path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive))
        path += suffix;
    savePicture(path);
}

void TrendWindow::copyPicture() {
    copyTrendPicture(chart_, pictureCaption());
    showMessage(QStringLiteral("Copied the picture to the clipboard"));
}

void TrendWindow::copyStatistics() {
    if (!pause_->isChecked()) measure_->refresh();
    QGuiApplication::clipboard()->setText(measure_->statisticsText());
    showMessage(QStringLiteral("Copied the statistics to the clipboard"));
}
