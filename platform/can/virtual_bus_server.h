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
// kSubscribeTimeoutMs, or reads too slowly: more than kMaxBacklogBytes wait
// to be written to it, or it holds the most while all clients together hold
// more than kMaxHeldBytes. A client that sent "options:lostcount" is kept
// instead: its frames are skipped and counted until its backlog is below
// half of kMaxBacklogBytes, and the count goes to it as "lost:<N>" before
// the next frame. At most kMaxClients are served; a connection beyond is
// closed at once. Each of these is counted, and the memory a slow client
// held is given back to the system once it is gone.
//
// What one read from a client carries is relayed as a batch: each frame is
// formatted once and appended to every subscriber's buffer, and each buffer
// goes to its socket in one write at the end of the batch. Every frame is
// relayed with the moment it was written to the bus: the stamp its sender
// gave it, or else the moment it was read here (virtual_bus_protocol.h).
//
// A channel of the process that hosts the bus is a local client: its frames
// come in by a direct call and frames for it go straight into its receive
// queue, without a connection of the host to itself. It is never rejected,
// skipped or let go: its queue bounds itself and counts what it drops.

#include "platform/can/can_frame.h"
#include "platform/can/virtual_bus_protocol.h"

#include <QObject>
#include <QTcpServer>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QTcpSocket;

namespace kolvar::can {

class RxQueue;

class VirtualBusServer : public QObject {
public:
    struct Client;
    static constexpr int kMaxRejectsInRow = 16;
    static constexpr int kSubscribeTimeoutMs = 5000;
    // About 4 s of a full stream (8,000 frames/s of ~30-byte lines) for one
    // client; the kernel's socket buffers hold more before these fill.
    static constexpr qint64 kMaxBacklogBytes = 1 << 20;
    static constexpr qint64 kMaxHeldBytes = 8 << 20;
    static constexpr int kMaxClients = 64;

    // The process's server for port, listening if the port was free (now or
    // at an earlier call); created on first use, lives with the I/O thread.
    static VirtualBusServer* forPort(uint16_t port);
    // Listens if not yet listening; true while this process hosts the bus.
    bool listen();

    // Joins a channel of this process to the bus it hosts, subscribed to
    // `interface` ("canN"); its frames arrive in rx. Null when the name is
    // not an interface. The client stays until leave().
    Client* join(const std::string& interface, RxQueue& rx);
    void leave(Client* local);
    // Relays frames sent by a local client to every other subscriber.
    void send(Client* local, const Frame* frames, size_t count);

    // Lines dropped for a reason, and clients disconnected; [any-thread].
    static uint64_t rejectedLines(vbus::Reject reason);
    static uint64_t disconnectedClients();
    // Of those, clients let go because they read too slowly; and
    // connections closed at once because kMaxClients were served. [any-thread]
    static uint64_t slowClientsDropped();
    static uint64_t refusedClients();
    // Frames skipped for clients that count them instead. [any-thread]
    static uint64_t skippedFrames();
    // Bytes waiting to be written to clients, all hosts of the process
    // together: now (as of the last relay or disconnect) and the most ever.
    // [any-thread]
    static uint64_t heldBytes();
    static uint64_t heldBytesPeak();
    // Counts a line dropped for reason (by the server or a client); [any-thread].
    static void countRejected(vbus::Reject reason);

private:
    explicit VirtualBusServer(uint16_t port);
    void onNewConnection();
    void onReadyRead(Client* client);
    void handleLine(Client* client, std::string_view line);
    void reject(Client* client, vbus::Reject reason);
    void relay(const Client* sender, int interface, const Frame& frame);
    // Writes every client's batch to its socket.
    void writeBatches();
    void drop(Client* client);
    // Counts what the clients hold and lets go of the slowest while it is
    // over kMaxHeldBytes.
    void boundHeldBytes();

    uint16_t port_;
    QTcpServer server_;
    std::string line_;         // the frame being relayed, formatted once for all clients
    std::string stampedLine_;  // the same with its stamp, for clients that asked
    int64_t readUs_ = 0;       // when the lines being handled were read
    std::vector<std::unique_ptr<Client>> clients_;
    uint64_t held_ = 0;        // this host's share of heldBytes()
    uint64_t batched_ = 0;     // bytes added to the clients' batches since they were written
    bool trimPending_ = false;  // a slow client's buffers are to be given back
};

}  // namespace kolvar::can
