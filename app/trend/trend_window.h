#pragma once
// The trend window, "Kolvar CAN Viewer — Trend": both channels over the last
// 10 s, 60 s or 10 min, Pause, the values under the mouse pointer, Record…
// / Stop (a candump -l log), Export CSV… (the selected stretch or all that
// is kept), statistics and cursors (TrendMeasure), Save picture… and Ctrl+C
// (the chart with a caption). While it is open it collects
// the receive worker's accepted frames from trendTap(); closed, it collects
// nothing and any recording stops. [main-thread]

#include <QWidget>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "can/decimate.h"
#include "can/recorder.h"
#include "can/trend_samples.h"

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

    // Shows the window, or raises it when shown, and starts collecting.
    void openOrRaise();

    // What the buttons do once a file name is chosen. False when the file
    // cannot be created; the reason is shown in the window.
    bool startRecording(const QString& path);
    void stopRecording();
    bool exportCsv(const QString& path);
    // Writes the chart with its caption as PNG, or SVG for a .svg name.
    bool savePicture(const QString& path);
    // The caption under a picture: identifier, span, time of day, the
    // statistics and any cursors.
    QString pictureCaption();

    // For tests: the samples collected so far, the recording, the message
    // line, and the collecting step the window's timer runs.
    const TrendSamples& samples() const { return samples_; }
    const Recorder& recorder() const { return recorder_; }
    TrendMeasure* measure() const { return measure_; }
    QString message() const;
    void collect();

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

    TrendSamples samples_;
    TrendView view_;
    Recorder recorder_;
    QString recordPath_;
    bool recordingShown_ = false;

    std::thread exporter_;
    std::atomic<bool> exportDone_{false};
    std::string exportError_;
    QString exportPath_;

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
