// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/can/virtual_bus_client.h"

#include "platform/canlib.h"

#include <QHostAddress>

namespace kolvar::can {

namespace {
constexpr int kReconnectDelayMs = 150;
constexpr qint64 kReadChunk = 16 * 1024;
// Bounds what Qt buffers from a host that sends faster than we read.
constexpr qint64 kReadBufferBytes = 256 * 1024;
}  // namespace

VirtualBusClient::VirtualBusClient(std::shared_ptr<OpenChannel> channel)
    : channel_(std::move(channel)), sendPrefix_(channel_->info.interface + ":") {
    socket_.setReadBufferSize(kReadBufferBytes);
    reconnectTimer_.setSingleShot(true);
    reconnectTimer_.setInterval(kReconnectDelayMs);
    connect(&reconnectTimer_, &QTimer::timeout, this, &VirtualBusClient::connectToHost);
    sendWindow_.setSingleShot(true);
    sendWindow_.setTimerType(Qt::PreciseTimer);
    sendWindow_.setInterval(static_cast<int>((kSendWindowUs + 999) / 1000));
    connect(&sendWindow_, &QTimer::timeout, this, &VirtualBusClient::drainTx);
    connect(&socket_, &QTcpSocket::connected, this, &VirtualBusClient::onConnected);
    connect(&socket_, &QTcpSocket::disconnected, this, &VirtualBusClient::onDisconnected);
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this] {
        // A refused or failed connect never emits disconnected.
        if (socket_.state() == QAbstractSocket::UnconnectedState) onDisconnected();
    });
    connect(&socket_, &QTcpSocket::readyRead, this, &VirtualBusClient::onReadyRead);
}

VirtualBusClient::~VirtualBusClient() {
    reconnectTimer_.stop();
    sendWindow_.stop();
    if (local_) host_->leave(local_);
    socket_.disconnect(this);
    channel_->setLinkUp(false);
    socket_.abort();
}

int VirtualBusClient::open() {
    if (channel_->info.port == 0) return canERR_PARAM;
    connectToHost();
    return canOK;
}

void VirtualBusClient::connectToHost() {
    if (socket_.state() != QAbstractSocket::UnconnectedState) return;
    // Host the bus when the port is free: at the first open, and when the
    // process that hosted it has gone.
    VirtualBusServer* server = VirtualBusServer::forPort(channel_->info.port);
    if (server->listen()) {
        local_ = server->join(channel_->info.interface, channel_->rx);
        if (local_) {
            host_ = server;
            channel_->setLinkUp(true);
            return;
        }
    }
    socket_.connectToHost(QHostAddress::LocalHost, channel_->info.port);
}

void VirtualBusClient::onConnected() {
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    lines_ = vbus::LineSplitter();
    // Frames the host has to skip for us are counted as dropped, not
    // answered by closing the connection.
    const std::string hello = "options:lostcount\nconnect:" + channel_->info.interface + "\n";
    socket_.write(hello.data(), static_cast<qint64>(hello.size()));
    socket_.flush();
    channel_->setLinkUp(true);
}

void VirtualBusClient::onDisconnected() {
    channel_->setLinkUp(false);
    if (!reconnectTimer_.isActive()) reconnectTimer_.start();
}

void VirtualBusClient::onReadyRead() {
    char chunk[kReadChunk];
    batch_.clear();
    uint64_t lost = 0;
    for (;;) {
        const qint64 got = socket_.read(chunk, sizeof chunk);
        if (got <= 0) break;
        const int64_t arrivalUs = steadyMicros();
        lines_.feed(
            chunk, static_cast<size_t>(got),
            [&](std::string_view line) {
                Frame frame;
                const vbus::Reject reason = vbus::parseFrame(line, frame);
                if (reason == vbus::Reject::None) {
                    frame.arrivalUs = arrivalUs;
                    batch_.push_back(frame);
                    return;
                }
                if (uint64_t count = 0; vbus::parseLost(line, count)) {
                    lost += count;
                    return;
                }
                VirtualBusServer::countRejected(reason);
            },
            [] { VirtualBusServer::countRejected(vbus::Reject::TooLong); });
    }
    // Counted with the kernel's drops: the frames the host skipped for us.
    if (lost > 0) channel_->rx.addDropped(lost);
    channel_->rx.pushBatch(batch_.data(), batch_.size());
}

void VirtualBusClient::requestDrain() {
    // Within a window its end takes the frames.
    if (!sendWindow_.isActive()) drainTx();
}

void VirtualBusClient::drainTx() {
    // Cleared before taking: a frame queued after the take wakes the thread again.
    channel_->txWakePending.store(false);
    channel_->tx.takeAll(txBatch_);
    if (txBatch_.empty()) return;
    // Frames written from now until the window ends go out at its end, and
    // the flag set again spares their writers the wake-up: a steady stream
    // costs one pass a window and no wake-up per frame. A window that ends
    // with nothing queued closes, and the next frame goes out at once.
    channel_->txWakePending.store(true);
    sendWindow_.start();
    if (local_) {
        host_->send(local_, txBatch_.data(), txBatch_.size());
        return;
    }
    // Lost, as on a bus nobody listens to, while not connected.
    if (socket_.state() != QAbstractSocket::ConnectedState) return;
    out_.clear();
    for (const Frame& frame : txBatch_) {
        out_ += sendPrefix_;
        vbus::appendFrame(out_, frame);
        out_ += '\n';
    }
    socket_.write(out_.data(), static_cast<qint64>(out_.size()));
    // To the system now, not on the next pass of the event loop.
    socket_.flush();
}

void VirtualBusClient::flush() {
    if (!local_) socket_.flush();
}

}  // namespace kolvar::can
