// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/can/worker_probe.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <unistd.h>

#include "app/KolvarCanView.h"
#include "platform/ui/qt_access.h"
#include "tests/support/thread_list.h"

namespace {
QByteArray readTrimmed(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

// Calls visit(task directory, thread name) for each thread but the main one.
template <typename Visit>
void forEachBackgroundThread(Visit visit) {
    const std::string mainTid = std::to_string(getpid());
    forEachThread([&](const std::string& tid, const std::string& name) {
        if (tid == mainTid) return;
        visit(QString::fromStdString("/proc/self/task/" + tid), QByteArray::fromStdString(name));
    });
}
}  // namespace

std::uint64_t meterUpdates() { return uiAppliedValueCount(panelHandle, NUMERICMETER1); }

bool meterStaysQuiet(int quietMs) {
    // Values the worker set before it stopped may still be on their way to
    // the widget; they land within a frame of the screen.
    QTest::qWait(100);
    const std::uint64_t before = meterUpdates();
    QTest::qWait(quietMs);
    return meterUpdates() == before;
}

double backgroundThreadsCpuSeconds() {
    double seconds = 0;
    const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
    forEachBackgroundThread([&](const QString& taskDir, const QByteArray&) {
        // schedstat's first field is the time on a CPU in nanoseconds; stat's
        // utime and stime (fields 14 and 15, after the parenthesised name)
        // only count whole clock ticks.
        const QList<QByteArray> scheduled = readTrimmed(taskDir + "/schedstat").split(' ');
        bool precise = false;
        const double nanoseconds = scheduled.value(0).toDouble(&precise);
        if (precise) {
            seconds += nanoseconds / 1e9;
            return;
        }
        const QByteArray text = readTrimmed(taskDir + "/stat");
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            seconds += (fields[11].toDouble() + fields[12].toDouble()) / ticksPerSecond;
    });
    return seconds;
}

int poolThreadCount() {
    int count = 0;
    forEachBackgroundThread([&](const QString&, const QByteArray& name) {
        if (name == "kolvar-pool") ++count;
    });
    return count;
}
