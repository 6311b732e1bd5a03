// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The trend window, "Kolvar CAN Viewer — Trend": both channels over the last
// 10 s, 60 s or 10 min, Pause, the values under the mouse pointer (or,
// with the chart focused, at the column the arrow keys pick), Record…
// / Stop (a candump -l log), Export CSV… (the selected stretch or all that
// is kept), statistics and cursors (TrendMeasure), Save picture… and Ctrl+C
// (the chart with a caption). Esc and Ctrl+W close it. It keeps the
// desktop's palette, light or dark. While it is open it collects
// the receive worker's accepted frames from trendTap(); closed, it collects
// nothing, any recording stops and the samples are forgotten: it opens again
// empty. Once closed with no export left to finish it says so (finished()),
// and its owner destroys it, giving back the chart's memory as well; what the
// user set (place, size, span, Pause) and the last message go to the window
// made at the next open. [main-thread]

#include <QByteArray>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "capture/decimate.h"
#include "capture/file_job.h"
#include "capture/recorder.h"
#include "capture/trend_samples.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTimer;
class TrendChart;
class TrendMeasure;

class TrendWindow : public QWidget {
    Q_OBJECT
public:
    explicit TrendWindow(QWidget* parent = nullptr);
    ~TrendWindow() override;

    // What a window made again takes over from the one closed before it.
    struct Kept {
        QByteArray geometry;
        int span = 0;
        bool paused = false;
        QString message;
    };
    Kept kept() const;
    void restore(const Kept& kept);

    // Shows the window, or raises it when shown, and starts collecting.
    void openOrRaise();

    // What the buttons do once a file name is chosen. The file is created
    // and written off the UI thread; a file that cannot be created shows its
    // reason in the window at the next collect(). False when no writer could
    // start (the reason is shown).
    bool startRecording(const QString& path);
    void stopRecording();
    bool exportCsv(const QString& path);
    // What "Cancel export" does: the export stops writing at once, also
    // when it waits for a FIFO's reader.
    void cancelExport();
    // Writes the chart with its caption as PNG, or SVG for a .svg name.
    bool savePicture(const QString& path);
    // The caption under a picture: identifier, span, time of day, the
    // statistics and any cursors.
    QString pictureCaption();

    // For tests: the samples collected so far, the recording, the message
    // line, and the collecting step the window's timer runs.
    const kolvar::capture::TrendSamples& samples() const { return samples_; }
    const kolvar::capture::Recorder& recorder() const { return recorder_; }
    TrendMeasure* measure() const { return measure_; }
    QString message() const;
    void collect();

signals:
    // Closed, and no export is left to finish: nothing the window holds is
    // needed until it opens again.
    void finished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void chooseRecordFile();
    void chooseCsvFile();
    void choosePictureFile();
    void copyPicture();
    void copyStatistics();
    void redraw();
    void finishExport();
    void showMessage(const QString& text);
    // The message at a recording's end: what the file holds, what was lost.
    void showRecordingEnd();
    // Empties the samples, the view and the measuring.
    void forgetSamples();

    kolvar::capture::TrendSamples samples_;
    kolvar::capture::TrendView view_;
    kolvar::capture::Recorder recorder_;
    QString recordPath_;
    bool recordingShown_ = false;

    // The export's result, shared with its thread.
    struct ExportResult {
        std::string error;
    };
    kolvar::capture::FileJob exporter_;
    std::shared_ptr<ExportResult> exportResult_;
    QString exportPath_;
    bool exportCancelled_ = false;

    TrendChart* chart_;
    QComboBox* span_;
    QPushButton* pause_;
    QPushButton* record_;
    QPushButton* export_;
    QPushButton* picture_;
    QPushButton* copyStats_;
    QLabel* pointer_;
    QLabel* message_;
    QTimer* timer_;
    TrendMeasure* measure_;
    int64_t lastRedrawMicros_ = 0;
};
