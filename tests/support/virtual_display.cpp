// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/virtual_display.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QThread>

namespace {
QString socketPath(int number) { return "/tmp/.X11-unix/X" + QString::number(number); }
QString lockPath(int number) { return "/tmp/.X" + QString::number(number) + "-lock"; }

bool answers(int number) {
    QLocalSocket socket;
    socket.connectToServer(socketPath(number));
    const bool connected = socket.waitForConnected(500);
    socket.abort();
    return connected;
}
}  // namespace

VirtualDisplay::VirtualDisplay(int number) : number_(number), name_(":" + QString::number(number)) {
    if (answers(number_)) return;
    clearStaleFiles();
    server_ = std::make_unique<QProcess>();
    // -noreset: by default the server resets when its last client leaves,
    // and a viewer connecting in that moment (just after a probe or an
    // xdotool query went away) is refused and aborts inside Qt.
    server_->start("Xvfb", {name_, "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"});
    if (!server_->waitForStarted(5000)) {
        server_.reset();
        return;
    }
    QElapsedTimer waited;
    waited.start();
    while (!answers(number_) && waited.elapsed() < 10000) {
        if (server_->state() == QProcess::NotRunning) break;
        QThread::msleep(50);
    }
}

VirtualDisplay::~VirtualDisplay() {
    if (!server_) return;
    server_->terminate();
    if (!server_->waitForFinished(5000)) {
        server_->kill();
        server_->waitForFinished(2000);
    }
    clearStaleFiles();
}

bool VirtualDisplay::ready() const { return answers(number_); }

std::optional<QString> VirtualDisplay::run(const QString& program, const QStringList& arguments,
                                           int timeoutMs) const {
    QProcess helper;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", name_);
    helper.setProcessEnvironment(environment);
    helper.start(program, arguments);
    if (!helper.waitForFinished(timeoutMs) || helper.exitStatus() != QProcess::NormalExit ||
        helper.exitCode() != 0) {
        helper.kill();
        helper.waitForFinished(1000);
        return std::nullopt;
    }
    return QString::fromLocal8Bit(helper.readAllStandardOutput()).trimmed();
}

void VirtualDisplay::clearStaleFiles() const {
    if (answers(number_)) return;
    QFile::remove(socketPath(number_));
    QFile::remove(lockPath(number_));
}
