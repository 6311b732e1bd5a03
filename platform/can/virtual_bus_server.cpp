// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/can/virtual_bus_server.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <map>

namespace kolvar::can {

namespace {

std::array<std::atomic<uint64_t>, vbus::kRejectKinds> g_rejected{};
std::atomic<uint64_t> g_disconnected{0};

// Bytes taken from a socket per read; the line splitter keeps at most one
// line of its own, so a client's memory in this process stays bounded
// however much it sends.
constexpr qint64 kReadChunk = 16 * 1024;

}  // namespace

struct VirtualBusServer::Client {
    QTcpSocket* socket = nullptr;
    vbus::LineSplitter lines;
    std::vector<int> interfaces;
    int rejectsInRow = 0;
    bool dropped = false;
    QTimer subscribeDeadline;

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

VirtualBusServer::VirtualBusServer(uint16_t port) : port_(port) {
    connect(&server_, &QTcpServer::newConnection, this, &VirtualBusServer::onNewConnection);
}

bool VirtualBusServer::listen() {
    // Port taken: another process hosts, and this one is a client only.
    if (!server_.isListening()) server_.listen(QHostAddress::LocalHost, port_);
    return server_.isListening();
}

void VirtualBusServer::onNewConnection() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
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
        connect(socket, &QTcpSocket::disconnected, this, [this, raw] {
            raw->dropped = true;
            auto it = std::find_if(clients_.begin(), clients_.end(),
                                   [raw](const auto& c) { return c.get() == raw; });
            if (it == clients_.end()) return;
            (*it)->socket->deleteLater();
            clients_.erase(it);
        });
        clients_.push_back(std::move(client));
    }
}

void VirtualBusServer::onReadyRead(Client* client) {
    char chunk[kReadChunk];
    while (!client->dropped) {
        const qint64 got = client->socket->read(chunk, sizeof chunk);
        if (got <= 0) return;
        client->lines.feed(
            chunk, static_cast<size_t>(got), [&](std::string_view line) {
                if (!client->dropped) handleLine(client, line);
            },
            [&] {
                if (!client->dropped) reject(client, vbus::Reject::TooLong);
            });
    }
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
        relay(client, command.interface, vbus::formatFrame(command.frame) + '\n');
        break;
    }
}

void VirtualBusServer::reject(Client* client, vbus::Reject reason) {
    countRejected(reason);
    if (++client->rejectsInRow >= kMaxRejectsInRow) drop(client);
}

void VirtualBusServer::relay(const Client* sender, int interface, const std::string& line) {
    for (const auto& client : clients_) {
        Client* target = client.get();
        if (target == sender || target->dropped || !target->subscribed(interface)) continue;
        // A client that does not read would make its socket buffer grow
        // without bound; it is let go instead.
        if (target->socket->bytesToWrite() > kMaxBacklogBytes) {
            drop(target);
            continue;
        }
        target->socket->write(line.data(), static_cast<qint64>(line.size()));
    }
}

void VirtualBusServer::drop(Client* client) {
    if (client->dropped) return;
    client->dropped = true;
    client->interfaces.clear();
    client->subscribeDeadline.stop();
    g_disconnected.fetch_add(1, std::memory_order_relaxed);
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
