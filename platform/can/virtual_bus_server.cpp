// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/can/virtual_bus_server.h"

#include "platform/can/rx_queue.h"
#include "platform/base/steady_clock.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <map>

#include <malloc.h>

namespace kolvar::can {

namespace {

std::array<std::atomic<uint64_t>, vbus::kRejectKinds> g_rejected{};
std::atomic<uint64_t> g_disconnected{0};
std::atomic<uint64_t> g_slowDropped{0};
std::atomic<uint64_t> g_refused{0};
std::atomic<uint64_t> g_skipped{0};
std::atomic<uint64_t> g_held{0};
std::atomic<uint64_t> g_heldPeak{0};

// Bytes taken from a socket per read; the line splitter keeps at most one
// line of its own, so a client's memory in this process stays bounded
// however much it sends.
constexpr qint64 kReadChunk = 16 * 1024;

}  // namespace

struct VirtualBusServer::Client {
    QTcpSocket* socket = nullptr;  // null for a local client
    RxQueue* rx = nullptr;         // a local client's queue
    std::vector<Frame> frames;     // frames for a local client from the batch being relayed
    vbus::LineSplitter lines;
    std::vector<int> interfaces;
    int rejectsInRow = 0;
    bool dropped = false;
    bool countsLost = false;  // asked to have frames skipped and counted, not to be let go
    bool stamps = false;      // asked for every frame's stamp
    bool skipping = false;    // its frames are skipped until its backlog is below resumeBelow
    qint64 resumeBelow = 0;
    uint64_t lost = 0;        // frames skipped since it was last told
    std::string batch;        // frames for it from the read being relayed
    QTimer subscribeDeadline;

    // Bytes not yet handed to the system for it; none for a local client,
    // whose queue takes every batch at once.
    qint64 backlog() const {
        return socket ? socket->bytesToWrite() + static_cast<qint64>(batch.size()) : 0;
    }

    bool subscribed(int interface) const {
        return std::find(interfaces.begin(), interfaces.end(), interface) != interfaces.end();
    }
};

VirtualBusServer* VirtualBusServer::forPort(uint16_t port) {
    // The hosts live as long as the process and are reached only from the
    // I/O thread. The map is never destroyed, so the hosts stay reachable
    // (not leaked) while exit handlers run.
    static auto* servers = new std::map<uint16_t, VirtualBusServer*>;
    auto& server = (*servers)[port];
    if (!server) server = new VirtualBusServer(port);
    server->listen();
    return server;
}

uint64_t VirtualBusServer::rejectedLines(vbus::Reject reason) {
    return g_rejected[static_cast<size_t>(reason)].load(std::memory_order_relaxed);
}

void VirtualBusServer::countRejected(vbus::Reject reason) {
    g_rejected[static_cast<size_t>(reason)].fetch_add(1, std::memory_order_relaxed);
}

uint64_t VirtualBusServer::disconnectedClients() { return g_disconnected.load(std::memory_order_relaxed); }
uint64_t VirtualBusServer::slowClientsDropped() { return g_slowDropped.load(std::memory_order_relaxed); }
uint64_t VirtualBusServer::refusedClients() { return g_refused.load(std::memory_order_relaxed); }
uint64_t VirtualBusServer::skippedFrames() { return g_skipped.load(std::memory_order_relaxed); }
uint64_t VirtualBusServer::heldBytes() { return g_held.load(std::memory_order_relaxed); }
uint64_t VirtualBusServer::heldBytesPeak() { return g_heldPeak.load(std::memory_order_relaxed); }

VirtualBusServer::VirtualBusServer(uint16_t port) : port_(port) {
    connect(&server_, &QTcpServer::newConnection, this, &VirtualBusServer::onNewConnection);
}

bool VirtualBusServer::listen() {
    // Port taken: another process hosts, and this one is a client only.
    if (!server_.isListening()) server_.listen(QHostAddress::LocalHost, port_);
    return server_.isListening();
}

VirtualBusServer::Client* VirtualBusServer::join(const std::string& interface, RxQueue& rx) {
    vbus::Command subscribe;
    if (vbus::parseCommand("connect:" + interface, subscribe) != vbus::Reject::None) return nullptr;
    auto client = std::make_unique<Client>();
    client->rx = &rx;
    client->interfaces.push_back(subscribe.interface);
    clients_.push_back(std::move(client));
    return clients_.back().get();
}

void VirtualBusServer::leave(Client* local) {
    std::erase_if(clients_, [local](const auto& c) { return c.get() == local; });
}

void VirtualBusServer::send(Client* local, const Frame* frames, size_t count) {
    if (local->interfaces.empty()) return;
    const int interface = local->interfaces.front();
    const int64_t nowUs = steadyMicros();
    for (size_t i = 0; i < count; ++i) {
        // Stamped when written; one without goes on the bus now.
        Frame frame = frames[i];
        frame.arrivalUs = vbus::believedStamp(frame.arrivalUs, nowUs);
        relay(local, interface, frame);
    }
    writeBatches();
}

void VirtualBusServer::onNewConnection() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        if (clients_.size() >= static_cast<size_t>(kMaxClients)) {
            g_refused.fetch_add(1, std::memory_order_relaxed);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Batches go out as they are written: with Nagle's algorithm a batch
        // would wait for the acknowledgement of the one before, which the
        // client, sending nothing back, delays by up to 40 ms.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto client = std::make_unique<Client>();
        Client* raw = client.get();
        raw->socket = socket;
        raw->subscribeDeadline.setSingleShot(true);
        raw->subscribeDeadline.setInterval(kSubscribeTimeoutMs);
        connect(&raw->subscribeDeadline, &QTimer::timeout, this, [this, raw] {
            if (raw->interfaces.empty()) drop(raw);
        });
        raw->subscribeDeadline.start();
        connect(socket, &QTcpSocket::readyRead, this, [this, raw] { onReadyRead(raw); });
        // Queued: a failed write in writeBatches() disconnects from inside
        // its flush(), while the clients are being walked.
        connect(socket, &QTcpSocket::disconnected, this, [this, raw] {
            raw->dropped = true;
            auto it = std::find_if(clients_.begin(), clients_.end(),
                                   [raw](const auto& c) { return c.get() == raw; });
            if (it == clients_.end()) return;
            QTcpSocket* gone = (*it)->socket;
            if (trimPending_) {
                // Its buffers are freed with it; then the heap's free pages
                // go back to the system instead of staying with the process.
                trimPending_ = false;
                connect(gone, &QObject::destroyed, [] { malloc_trim(0); });
            }
            gone->deleteLater();
            clients_.erase(it);
            boundHeldBytes();
        }, Qt::QueuedConnection);
        clients_.push_back(std::move(client));
    }
}

void VirtualBusServer::onReadyRead(Client* client) {
    char chunk[kReadChunk];
    while (!client->dropped) {
        const qint64 got = client->socket->read(chunk, sizeof chunk);
        if (got <= 0) break;
        readUs_ = steadyMicros();
        client->lines.feed(
            chunk, static_cast<size_t>(got), [&](std::string_view line) {
                if (!client->dropped) handleLine(client, line);
            },
            [&] {
                if (!client->dropped) reject(client, vbus::Reject::TooLong);
            });
    }
    writeBatches();
}

void VirtualBusServer::handleLine(Client* client, std::string_view line) {
    vbus::Command command;
    const vbus::Reject reason = vbus::parseCommand(line, command);
    if (reason != vbus::Reject::None) {
        reject(client, reason);
        return;
    }
    client->rejectsInRow = 0;
    switch (command.kind) {
    case vbus::Command::Kind::Connect:
        if (!client->subscribed(command.interface)) client->interfaces.push_back(command.interface);
        break;
    case vbus::Command::Kind::Disconnect:
        std::erase(client->interfaces, command.interface);
        break;
    case vbus::Command::Kind::Send:
        // Its own stamp when it sent one we believe, else when it was read.
        command.frame.arrivalUs = vbus::believedStamp(command.frame.arrivalUs, readUs_);
        relay(client, command.interface, command.frame);
        break;
    case vbus::Command::Kind::CountLost:
        client->countsLost = true;
        break;
    case vbus::Command::Kind::Stamps:
        // Said back, so the client knows it may stamp what it sends.
        client->stamps = true;
        client->batch.append(vbus::kStampsOption);
        client->batch += '\n';
        break;
    }
}

void VirtualBusServer::reject(Client* client, vbus::Reject reason) {
    countRejected(reason);
    if (++client->rejectsInRow >= kMaxRejectsInRow) drop(client);
}

void VirtualBusServer::relay(const Client* sender, int interface, const Frame& frame) {
    bool lineFormatted = false;  // line_ and stampedLine_ hold this frame
    for (const auto& client : clients_) {
        Client* target = client.get();
        if (target == sender || target->dropped || !target->subscribed(interface)) continue;
        if (target->rx) {
            target->frames.push_back(frame);
            continue;
        }
        const qint64 backlog = target->backlog();
        if (target->skipping) {
            if (backlog >= target->resumeBelow) {
                ++target->lost;
                g_skipped.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            target->skipping = false;
            if (target->lost > 0) vbus::appendLost(target->batch, target->lost);
            target->lost = 0;
        } else if (backlog > kMaxBacklogBytes) {
            // A client that does not read would make its socket buffer grow
            // without bound: one that counts what it misses skips frames
            // from here, any other is let go.
            if (target->countsLost) {
                target->skipping = true;
                target->resumeBelow = kMaxBacklogBytes / 2;
                ++target->lost;
                g_skipped.fetch_add(1, std::memory_order_relaxed);
            } else {
                g_slowDropped.fetch_add(1, std::memory_order_relaxed);
                drop(target);
            }
            continue;
        }
        // Formatted once, for the first client on a connection.
        if (!lineFormatted) {
            line_.clear();
            vbus::appendFrame(line_, frame);
            stampedLine_ = line_;
            vbus::appendStamp(stampedLine_, frame);
            line_ += '\n';
            stampedLine_ += '\n';
            lineFormatted = true;
        }
        const std::string& line = target->stamps ? stampedLine_ : line_;
        target->batch.append(line);
        batched_ += line.size();
    }
    // Near the bound of all clients together the batch goes out now, so
    // the bound is checked frame by frame.
    if (held_ + batched_ > static_cast<uint64_t>(kMaxHeldBytes)) writeBatches();
}

void VirtualBusServer::writeBatches() {
    bool wrote = false;
    for (const auto& client : clients_) {
        Client* target = client.get();
        if (!target->frames.empty()) {
            target->rx->pushBatch(target->frames.data(), target->frames.size());
            target->frames.clear();
        }
        if (target->batch.empty()) continue;
        if (!target->dropped && target->socket->state() == QAbstractSocket::ConnectedState) {
            target->socket->write(target->batch.data(), static_cast<qint64>(target->batch.size()));
            // Hands the batch to the system now rather than on the next
            // pass of the event loop.
            target->socket->flush();
            wrote = true;
        }
        target->batch.clear();
    }
    batched_ = 0;
    if (wrote) boundHeldBytes();
}

void VirtualBusServer::boundHeldBytes() {
    uint64_t held = 0;
    Client* slowest = nullptr;
    qint64 most = 0;
    for (const auto& client : clients_) {
        if (client->dropped || !client->socket) continue;
        const qint64 waiting = client->socket->bytesToWrite();
        held += static_cast<uint64_t>(waiting);
        // One that skips frames already holds no more than it does now.
        if (waiting > most && !client->skipping) {
            most = waiting;
            slowest = client.get();
        }
    }
    // One client at most per batch: a batch adds little to each client.
    if (held > static_cast<uint64_t>(kMaxHeldBytes) && slowest) {
        if (slowest->countsLost) {
            slowest->skipping = true;
            slowest->resumeBelow = most / 2;
        } else {
            g_slowDropped.fetch_add(1, std::memory_order_relaxed);
            drop(slowest);
            held -= static_cast<uint64_t>(most);
        }
    }
    // Several hosts (ports) in one process add up.
    const uint64_t total = g_held.fetch_add(held - held_, std::memory_order_relaxed) + (held - held_);
    held_ = held;
    uint64_t peak = g_heldPeak.load(std::memory_order_relaxed);
    while (total > peak && !g_heldPeak.compare_exchange_weak(peak, total, std::memory_order_relaxed)) {
    }
}

void VirtualBusServer::drop(Client* client) {
    if (client->dropped || !client->socket) return;
    client->dropped = true;
    client->interfaces.clear();
    client->subscribeDeadline.stop();
    g_disconnected.fetch_add(1, std::memory_order_relaxed);
    if (client->socket->bytesToWrite() > 0) trimPending_ = true;
    // abort() discards what is unwritten; the disconnected signal that follows
    // (queued here, as it may come from inside abort) removes the client.
    QMetaObject::invokeMethod(
        this,
        [socket = QPointer<QTcpSocket>(client->socket)] {
            if (socket) socket->abort();
        },
        Qt::QueuedConnection);
}

}  // namespace kolvar::can
