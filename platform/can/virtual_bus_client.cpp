// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/can/virtual_bus_client.h"

#include "platform/canlib.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kolvar::can {

namespace {
constexpr int kReconnectDelayMs = 150;
constexpr size_t kReadChunk = 16 * 1024;
// Reads per wake-up at most: a host that sends faster than we parse still
// leaves the I/O thread to its other channels between turns.
constexpr int kReadsPerTurn = 16;
}  // namespace

VirtualBusClient::VirtualBusClient(std::shared_ptr<OpenChannel> channel)
    : channel_(std::move(channel)), sendPrefix_(channel_->info.interface + ":") {
    reconnectTimer_.setSingleShot(true);
    reconnectTimer_.setInterval(kReconnectDelayMs);
    connect(&reconnectTimer_, &QTimer::timeout, this, &VirtualBusClient::connectToHost);
    sendWindow_.setSingleShot(true);
    sendWindow_.setTimerType(Qt::PreciseTimer);
    sendWindow_.setInterval(static_cast<int>((kSendWindowUs + 999) / 1000));
    connect(&sendWindow_, &QTimer::timeout, this, &VirtualBusClient::drainTx);
}

VirtualBusClient::~VirtualBusClient() {
    reconnectTimer_.stop();
    sendWindow_.stop();
    if (local_) host_->leave(local_);
    channel_->setLinkUp(false);
    closeSocket();
}

int VirtualBusClient::open() {
    if (channel_->info.port == 0) return canERR_PARAM;
    connectToHost();
    return canOK;
}

void VirtualBusClient::connectToHost() {
    if (fd_ >= 0 || local_) return;
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
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        onDisconnected();
        return;
    }
    sockaddr_in host{};
    host.sin_family = AF_INET;
    host.sin_port = htons(channel_->info.port);
    host.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int result;
    do {
        result = ::connect(fd_, reinterpret_cast<const sockaddr*>(&host), sizeof host);
    } while (result < 0 && errno == EINTR);
    if (result == 0) {
        onConnected();
        return;
    }
    if (errno != EINPROGRESS) {
        onDisconnected();
        return;
    }
    // The connect ends when the socket becomes writable.
    watchWritable();
}

void VirtualBusClient::watchWritable() {
    if (!writeNotifier_) {
        writeNotifier_.emplace(fd_, QSocketNotifier::Write);
        connect(&*writeNotifier_, &QSocketNotifier::activated, this, &VirtualBusClient::onWritable);
    }
    writeNotifier_->setEnabled(true);
}

void VirtualBusClient::onWritable() {
    if (connected_) {
        flush();
        return;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) < 0 || error != 0) {
        onDisconnected();  // refused: nobody listens yet, or the host is going
        return;
    }
    onConnected();
}

void VirtualBusClient::onConnected() {
    connected_ = true;
    if (writeNotifier_) writeNotifier_->setEnabled(false);
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    lines_ = vbus::LineSplitter();
    hostStamps_ = false;
    channel_->readHold.attach(fd_);
    readNotifier_.emplace(fd_, QSocketNotifier::Read);
    connect(&*readNotifier_, &QSocketNotifier::activated, this, &VirtualBusClient::onReadable);
    // Frames the host has to skip for us are counted as dropped, not
    // answered by closing the connection; and they come with their stamps.
    const std::string hello = "options:lostcount\n" + std::string(vbus::kStampsOption) + "\nconnect:" +
                              channel_->info.interface + "\n";
    write(hello.data(), hello.size());
    channel_->setLinkUp(true);
}

void VirtualBusClient::onDisconnected() {
    closeSocket();
    channel_->setLinkUp(false);
    if (!reconnectTimer_.isActive()) reconnectTimer_.start();
}

void VirtualBusClient::closeSocket() {
    // The notifiers go before the descriptor they watch.
    readNotifier_.reset();
    writeNotifier_.reset();
    channel_->readHold.detach();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    connected_ = false;
    pending_.clear();
}

void VirtualBusClient::onReadable() {
    char chunk[kReadChunk];
    batch_.clear();
    uint64_t lost = 0;
    bool closed = false;
    for (int turn = 0; turn < kReadsPerTurn; ++turn) {
        const ssize_t got = ::read(fd_, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            closed = got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
            break;
        }
        const int64_t arrivalUs = steadyMicros();
        lines_.feed(
            chunk, static_cast<size_t>(got),
            [&](std::string_view line) {
                Frame frame;
                const vbus::Reject reason = vbus::parseFrame(line, frame);
                if (reason == vbus::Reject::None) {
                    frame.arrivalUs = vbus::believedStamp(frame.arrivalUs, arrivalUs);
                    batch_.push_back(frame);
                    return;
                }
                if (uint64_t count = 0; vbus::parseLost(line, count)) {
                    lost += count;
                    return;
                }
                if (line == vbus::kStampsOption) {
                    hostStamps_ = true;
                    return;
                }
                VirtualBusServer::countRejected(reason);
            },
            [] { VirtualBusServer::countRejected(vbus::Reject::TooLong); });
        // Less than asked for: the socket held no more (a read to find that
        // out would only say so). Anything newer wakes us again.
        if (static_cast<size_t>(got) < sizeof chunk) break;
    }
    // Before the frames go on: the reader they wake may hold the socket again.
    channel_->readHold.readDone();
    // Counted with the kernel's drops: the frames the host skipped for us.
    if (lost > 0) channel_->rx.addDropped(lost);
    channel_->rx.pushBatch(batch_.data(), batch_.size());
    if (closed) onDisconnected();
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
    if (!connected_) return;
    out_.clear();
    for (const Frame& frame : txBatch_) {
        out_ += sendPrefix_;
        vbus::appendFrame(out_, frame);
        if (hostStamps_ && frame.arrivalUs > 0) vbus::appendStamp(out_, frame);
        out_ += '\n';
    }
    write(out_.data(), out_.size());
}

size_t VirtualBusClient::sendNow(const char* bytes, size_t size) {
    for (;;) {
        const ssize_t sent = ::send(fd_, bytes, size, MSG_NOSIGNAL);
        if (sent >= 0) return static_cast<size_t>(sent);
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) onDisconnected();
        return 0;
    }
}

void VirtualBusClient::write(const char* bytes, size_t size) {
    if (!connected_) return;
    if (!pending_.empty()) {
        // Whole lines only: a write is kept entire or lost entire.
        if (pending_.size() < kMaxPendingBytes) pending_.append(bytes, size);
        return;
    }
    const size_t sent = sendNow(bytes, size);
    if (!connected_ || sent == size) return;
    // The rest goes when the host has read enough to make room.
    pending_.assign(bytes + sent, size - sent);
    watchWritable();
}

void VirtualBusClient::flush() {
    while (connected_ && !pending_.empty()) {
        const size_t sent = sendNow(pending_.data(), pending_.size());
        if (sent == 0) return;  // the write notifier stays on until room comes free
        pending_.erase(0, sent);
    }
    // While connecting, the notifier waits for the connect to end.
    if (connected_ && writeNotifier_) writeNotifier_->setEnabled(false);
}

}  // namespace kolvar::can
