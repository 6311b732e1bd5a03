// SPDX-License-Identifier: GPL-3.0-or-later
// kolvar-bench-viewer: the real viewer (app::main with the real panel, CAN
// layer and receive worker), driven for the benchmark.
//
// Environment:
//   KOLVAR_BENCH_MODE=startup  prints "BENCH startup_ms=<ms>" once the panel
//                              has painted, measured from KOLVAR_BENCH_T0_NS
//                              (CLOCK_REALTIME ns taken just before the
//                              launch), then closes the panel.
//   KOLVAR_BENCH_MODE=run      (default) clicks BUS_BUTTON once the panel has
//                              painted, prints "BENCH ready" when the worker
//                              runs, a "BENCH stats ..." line on SIGUSR1, and
//                              on SIGTERM or SIGINT the stats line and then
//                              closes the panel like the user would;
//                              SIGUSR2 opens the trend window (TREND_BUTTON)
//                              when it is closed and closes it when open.
//   KOLVAR_BENCH_TIMING=1      times every frame (see viewer_probe.h).
//   KOLVAR_BENCH_TREND=1       also opens the trend window (TREND_BUTTON).
// Everything else (QT_QPA_PLATFORM, KOLVAR_CAN_CHANNELS) goes to the viewer.

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include "app/KolvarCanView.h"
#include "app/process_environment.h"
#include "app/trend/trend_entry.h"
#include "app/trend/trend_window.h"
#include "bench/viewer_probe.h"
#include "can/bus.h"
#include "platform/canlib.h"
#include "platform/ui/qt_access.h"

namespace {

enum class Mode { Startup, Run };

Mode mode = Mode::Run;
int signalPipe[2] = {-1, -1};

bool envIs(const char* name, const char* value) {
    const char* v = std::getenv(name);
    return v && std::strcmp(v, value) == 0;
}

long residentKilobytes() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) {
            kb = std::strtol(line + 6, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return kb;
}

// The worker's CPU time and its time spent runnable but waiting for a CPU
// (the kernel's schedstat), in microseconds; how much of the latency is the
// machine's load rather than the viewer.
struct ThreadSchedule {
    long long runMicros = -1;
    long long waitMicros = -1;
    long long slices = -1;
};

ThreadSchedule threadSchedule(int tid) {
    ThreadSchedule s;
    if (tid <= 0) return s;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/schedstat", tid);
    FILE* f = std::fopen(path, "r");
    if (!f) return s;
    long long run = 0, wait = 0, slices = 0;
    if (std::fscanf(f, "%lld %lld %lld", &run, &wait, &slices) == 3) {
        s.runMicros = run / 1000;
        s.waitMicros = wait / 1000;
        s.slices = slices;
    }
    std::fclose(f);
    return s;
}

void printStats() {
    namespace p = bench::probe;
    const p::Figures f = p::figures();
    uint64_t dropped = 0;
    const int droppedStatus = canGetDroppedCount(handle1.load(), &dropped);
    const int panel = panelHandle.load();
    // Heap in use against heap held from the system: tells a growing need
    // from memory that malloc keeps after a burst.
    const struct mallinfo2 heap = mallinfo2();
    const ThreadSchedule worker = threadSchedule(f.workerThreadId);
    const TrendWindow* trend = trendWindowIfOpen();
    std::printf(
        "BENCH stats frames_taken=%llu dropped=%lld meter_sets=%llu applied=%llu paints=%llu ui_paints=%llu "
        "arrival_set_p50_us=%lld arrival_set_p99_us=%lld arrival_set_max_us=%lld "
        "sent_arrival_p50_us=%lld sent_arrival_p99_us=%lld "
        "set_paint_p50_us=%lld set_paint_p99_us=%lld set_paint_max_us=%lld "
        "stale_p99_us=%lld stale_max_us=%lld paint_interval_p50_us=%lld unknown_paints=%llu "
        "rss_kb=%ld heap_in_use_kb=%zu heap_held_kb=%zu "
        "worker_run_us=%lld worker_wait_us=%lld worker_slices=%lld trend_samples=%zu trend_held_kb=%zu\n",
        static_cast<unsigned long long>(f.framesTaken),
        droppedStatus == canOK ? static_cast<long long>(dropped) : -1LL,
        static_cast<unsigned long long>(f.meterSets),
        static_cast<unsigned long long>(uiAppliedValueCount(panel, NUMERICMETER1)),
        static_cast<unsigned long long>(f.meterPaints),
        static_cast<unsigned long long>(uiPaintCount(panel, NUMERICMETER1)),
        static_cast<long long>(p::arrivalToSet().quantileMicros(0.5)),
        static_cast<long long>(p::arrivalToSet().quantileMicros(0.99)),
        static_cast<long long>(p::arrivalToSet().maxMicros()),
        static_cast<long long>(p::sentToArrival().quantileMicros(0.5)),
        static_cast<long long>(p::sentToArrival().quantileMicros(0.99)),
        static_cast<long long>(p::setToPaint().quantileMicros(0.5)),
        static_cast<long long>(p::setToPaint().quantileMicros(0.99)),
        static_cast<long long>(p::setToPaint().maxMicros()),
        static_cast<long long>(p::paintStaleness().quantileMicros(0.99)),
        static_cast<long long>(f.maxStalenessMicros),
        static_cast<long long>(p::paintInterval().quantileMicros(0.5)),
        static_cast<unsigned long long>(f.paintsWithUnknownValue), residentKilobytes(),
        heap.uordblks / 1024, (heap.arena + heap.hblkhd) / 1024, worker.runMicros, worker.waitMicros,
        worker.slices, trend ? trend->samples().size() : size_t{0}, trend ? trend->samples().heldBytes() / 1024 : size_t{0});
    std::fflush(stdout);
}

void closePanel() {
    if (QWidget* window = uiPanelWidget(panelHandle.load())) window->close();
}

// Opens the trend window as the user would, or closes a shown one.
void toggleTrend() {
    TrendWindow* trend = trendWindowIfOpen();
    if (trend && trend->isVisible()) {
        trend->close();
        return;
    }
    auto* button = qobject_cast<QAbstractButton*>(uiControlWidget(panelHandle.load(), TREND_BUTTON));
    if (button) button->click();
    else std::fprintf(stderr, "kolvar-bench-viewer: no trend button on the panel\n");
}

void onSignal(int signo) {
    const char code = signo == SIGUSR1 ? 'u' : signo == SIGUSR2 ? 'o' : 't';
    // Only an async-signal-safe write here; the main thread does the rest.
    [[maybe_unused]] const ssize_t n = write(signalPipe[1], &code, 1);
}

bool installSignalPipe() {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("pipe2");
        return false;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT}) {
        if (sigaction(signo, &action, nullptr) != 0) {
            std::perror("sigaction");
            return false;
        }
    }
    return true;
}

void listenForSignals() {
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char code = 0;
        while (read(signalPipe[0], &code, 1) == 1) {
            if (code == 'o') {
                toggleTrend();
                continue;
            }
            printStats();
            if (code == 't') closePanel();
        }
    });
}

// Waits for the worker to run after the bus button was clicked.
void announceWhenRunning() {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll] {
        if (threadrun.load() != 1) return;
        poll->stop();
        poll->deleteLater();
        std::printf("BENCH ready handle=%d\n", static_cast<int>(handle1.load()));
        std::fflush(stdout);
    });
    poll->start(10);
}

long long realtimeNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

long long panelShownNs = 0;

void onPanelShown() {
    const int panel = panelHandle.load();
    if (mode == Mode::Startup) {
        const char* t0 = std::getenv("KOLVAR_BENCH_T0_NS");
        const long long startNs = t0 ? std::atoll(t0) : 0;
        std::printf("BENCH startup_ms=%.1f\n", startNs > 0 ? static_cast<double>(panelShownNs - startNs) / 1e6 : -1.0);
        std::fflush(stdout);
        QTimer::singleShot(0, closePanel);
        return;
    }
    bench::probe::watchMeter(uiControlWidget(panel, NUMERICMETER1));
    bench::probe::enableTiming(envIs("KOLVAR_BENCH_TIMING", "1"));
    listenForSignals();
    auto* button = qobject_cast<QAbstractButton*>(uiControlWidget(panel, BUS_BUTTON));
    if (!button) {
        std::fprintf(stderr, "kolvar-bench-viewer: no bus button on the panel\n");
        QTimer::singleShot(0, closePanel);
        return;
    }
    button->click();
    if (envIs("KOLVAR_BENCH_TREND", "1")) toggleTrend();
    announceWhenRunning();
}

// Sees the first paint of the panel's window, then removes itself.
class PanelShownWatch : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && watched->isWidgetType()) {
            QWidget* panel = uiPanelWidget(panelHandle.load());
            auto* widget = static_cast<QWidget*>(watched);
            if (panel && widget->window() == panel) {
                panelShownNs = realtimeNs();
                qApp->removeEventFilter(this);
                deleteLater();
                QTimer::singleShot(0, onPanelShown);
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

// Runs as soon as the run-time creates the application object.
void hookApplication() { qApp->installEventFilter(new PanelShownWatch); }

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(hookApplication)

int main(int argc, char* argv[]) {
    mode = envIs("KOLVAR_BENCH_MODE", "startup") ? Mode::Startup : Mode::Run;
    app::prepareProcessEnvironment();
    if (!installSignalPipe()) return 1;
    const int status = app::main(argc, argv);
    std::printf("BENCH exit status=%d\n", status);
    std::fflush(stdout);
    return status;
}
