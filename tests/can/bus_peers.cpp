// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/can/bus_peers.h"

#include <QEventLoop>
#include <QTimer>

#include <cstdlib>
#include <string>
#include "platform/base/steady_clock.h"
#include <unistd.h>

namespace {
// Below the ephemeral port range (32768 up), so that no outgoing connection
// holds it; the pid keeps concurrent test processes apart.
int ownPort() { return 20000 + static_cast<int>(getpid() % 12000); }
}  // namespace

void useOwnVirtualBus() {
    setenv("KOLVAR_CAN_CHANNELS", "virtual", 1);
    setenv("KOLVAR_VIRTUALCAN_PORT", std::to_string(ownPort()).c_str(), 1);
}

QProcessEnvironment peerEnvironment() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("KOLVAR_CAN_CHANNELS", "virtual");
    environment.insert("KOLVAR_VIRTUALCAN_PORT", QString::number(ownPort()));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    return environment;
}

std::string runDeviceSim(const QStringList& arguments, int timeoutMs) {
    QProcess sim;
    sim.setProcessEnvironment(peerEnvironment());
    sim.start(KOLVAR_DEVICE_SIM_PATH, QStringList{"--channel", "virtual:0"} + arguments);
    if (!sim.waitForStarted(5000)) return "kolvar-device-sim did not start: " + sim.errorString().toStdString();
    // The panel's timers keep running while the simulator does its work: a
    // frame it sends must be seen by the status line while it is still
    // fresh, not after a UI thread blocked for the simulator's whole run
    // (over a second under the sanitizers).
    QEventLoop untilFinished;
    QObject::connect(&sim, &QProcess::finished, &untilFinished, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &untilFinished, &QEventLoop::quit);
    if (sim.state() != QProcess::NotRunning) untilFinished.exec();
    if (sim.state() != QProcess::NotRunning) {
        sim.kill();
        sim.waitForFinished(2000);
        return "kolvar-device-sim did not end";
    }
    if (sim.exitStatus() != QProcess::NormalExit || sim.exitCode() != 0)
        return "kolvar-device-sim failed: " + sim.readAllStandardError().toStdString();
    return {};
}

bool startSender(QProcess& sender, const QStringList& arguments, QString& error) {
    sender.setProcessEnvironment(peerEnvironment());
    sender.start(KOLVAR_MEAS_SENDER_PATH, arguments);
    if (!sender.waitForStarted(5000)) {
        error = "kolvar-meas-sender did not start: " + sender.errorString();
        return false;
    }
    while (!sender.canReadLine()) {
        if (!sender.waitForReadyRead(5000)) {
            error = "kolvar-meas-sender not ready: " +
                    QString::fromLocal8Bit(sender.readAllStandardError());
            return false;
        }
    }
    const QByteArray line = sender.readLine().trimmed();
    if (line != "ready") {
        error = "kolvar-meas-sender said: " + QString::fromLocal8Bit(line);
        return false;
    }
    return true;
}

long long monotonicMicroseconds() { return kolvar::steadyMicros(); }
