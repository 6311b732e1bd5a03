// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A private X server (Xvfb) on a fixed display number for tests that run the
// viewer out of process.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class VirtualDisplay {
public:
    // Uses a server already answering on the display, or starts one. A socket
    // or lock file left by a server that was killed is cleared first: a stale
    // socket would otherwise pass for a running server, and the viewer would
    // abort on a display nobody serves.
    explicit VirtualDisplay(int number);
    // Stops the server if this object started it, and waits for it to go.
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // True while an X server accepts connections on the display.
    bool ready() const;
    // ":<number>", for DISPLAY.
    const QString& name() const { return name_; }
    // Runs a helper program (xdotool, import, ...) on this display and waits
    // for it: its standard output, trimmed, or nothing when it did not end
    // in time or did not exit with 0.
    std::optional<QString> run(const QString& program, const QStringList& arguments,
                               int timeoutMs = 10000) const;

private:
    void clearStaleFiles() const;

    int number_;
    QString name_;
    std::unique_ptr<QProcess> server_;
};
