// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// [io-thread] The host of the virtual bus: a TCP server on loopback that
// relays each client's frames to every other client on the same interface.
// One per port and process; the first process to listen hosts, the others
// are clients only (see VirtualBusClient).
//
// Every line is checked (virtual_bus_protocol.h) and relayed in its checked
// form, so nothing malformed reaches a client. A rejected line is dropped and
// counted. A client is disconnected, without disturbing the others, when it
// sends kMaxRejectsInRow rejected lines in a row, has not subscribed within
// kSubscribeTimeoutMs, or stops reading so that more than kMaxBacklogBytes
// wait to be written to it.

#include "platform/can/virtual_bus_protocol.h"

#include <QObject>
#include <QTcpServer>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class QTcpSocket;

namespace kolvar::can {

class VirtualBusServer : public QObject {
public:
    static constexpr int kMaxRejectsInRow = 16;
    static constexpr int kSubscribeTimeoutMs = 5000;
    static constexpr qint64 kMaxBacklogBytes = 4 << 20;

    // The process's server for port, listening if the port was free (now or
    // at an earlier call); created on first use, lives with the I/O thread.
    static VirtualBusServer* forPort(uint16_t port);
    // Listens if not yet listening; true while this process hosts the bus.
    bool listen();

    // Lines dropped for a reason, and clients disconnected; [any-thread].
    static uint64_t rejectedLines(vbus::Reject reason);
    static uint64_t disconnectedClients();
    // Counts a line dropped for reason (by the server or a client); [any-thread].
    static void countRejected(vbus::Reject reason);

private:
    struct Client;

    explicit VirtualBusServer(uint16_t port);
    void onNewConnection();
    void onReadyRead(Client* client);
    void handleLine(Client* client, std::string_view line);
    void reject(Client* client, vbus::Reject reason);
    void relay(const Client* sender, int interface, const std::string& line);
    void drop(Client* client);

    uint16_t port_;
    QTcpServer server_;
    std::vector<std::unique_ptr<Client>> clients_;
};

}  // namespace kolvar::can
