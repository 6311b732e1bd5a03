#include "tests/measurement/worker_probe.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <unistd.h>

#include "app/KolvarCanView.h"
#include "platform/ui/qt_access.h"

namespace {
// Qt names the threads of a QThreadPool so; the kernel keeps 15 characters.
const QByteArray kPoolThreadName = "Thread (pooled)";

template <typename Visit>
void forEachPoolThread(Visit visit) {
    const QDir tasks("/proc/self/task");
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + "/comm"));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != kPoolThreadName)
            continue;
        visit(tasks.filePath(tid));
    }
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

double poolThreadsCpuSeconds() {
    double seconds = 0;
    const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
    forEachPoolThread([&](const QString& taskDir) {
        QFile stat(taskDir + "/stat");
        if (!stat.open(QIODevice::ReadOnly)) return;
        // Fields after the parenthesised name: state is field 3, utime 14,
        // stime 15.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            seconds += (fields[11].toDouble() + fields[12].toDouble()) / ticksPerSecond;
    });
    return seconds;
}

int poolThreadCount() {
    int count = 0;
    forEachPoolThread([&](const QString&) { ++count; });
    return count;
}
