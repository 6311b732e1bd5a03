// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The other processes on the bus in the measurement tests, and the private
// virtual bus this test process shares with them: a port of its own, so that
// test processes running side by side never see each other's frames.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <string>

// Narrows the CAN layer to the virtual bus on a port of this process's own.
// Call before the CAN library is initialised.
void useOwnVirtualBus();
// The environment a peer needs to reach the same virtual bus.
QProcessEnvironment peerEnvironment();

// Runs kolvar-device-sim with `arguments` on virtual channel 0 and
// waits for it to end, the calling thread's event loop running meanwhile. Returns its standard error when it failed, or an
// empty string.
std::string runDeviceSim(const QStringList& arguments, int timeoutMs = 15000);

// Starts kolvar-meas-sender (see frame_sender.cpp) on virtual channel 0 and
// waits for it to report that it is on the bus. Returns false, with the
// reason in `error`, when it does not get there.
bool startSender(QProcess& sender, const QStringList& arguments, QString& error);

// monotonic microseconds, the clock the sender prints.
long long monotonicMicroseconds();
