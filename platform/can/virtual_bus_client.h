// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// [io-thread] One open channel's connection to the virtual bus. It makes sure
// this process hosts the bus when nobody does; in the process that hosts it,
// the channel joins the host directly (frames both ways by direct calls),
// elsewhere it is a TCP client of the host on loopback: it subscribes to the
// channel's interface, checks every line it receives before queuing the
// frame, and reconnects - hosting the bus itself if the port has come free -
// when the connection drops.
//
// The connection is a plain non-blocking socket watched by two notifiers, not
// a QTcpSocket: a frame from the host then costs one wake-up and one read,
// split and parsed straight from the read's buffer, with no copy into a
// socket buffer of Qt's, no size query and no signal.
//
// Frames written go out at once unless frames went out less than
// kSendWindowUs ago; then they wait for the end of that window and go out
// together. A stream of a frame a millisecond or more thus costs the sender,
// the host and every client one wake-up and one write or read per window
// instead of per frame; a frame waits at most about one window, a quarter of
// a screen refresh. Each frame carries the moment it was written, so the
// wait does not show in the receivers' stamps (virtual_bus_protocol.h).

#include "platform/can/open_channel.h"
#include "platform/can/virtual_bus_protocol.h"
#include "platform/can/virtual_bus_server.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kolvar::can {

class VirtualBusClient : public QObject {
public:
    static constexpr int64_t kSendWindowUs = 4000;
    // What waits for the host to read, at most; frames beyond are lost, as
    // on a bus nobody listens to. Far more than a healthy host ever leaves.
    static constexpr size_t kMaxPendingBytes = 1 << 20;

    explicit VirtualBusClient(std::shared_ptr<OpenChannel> channel);
    ~VirtualBusClient() override;

    // Starts connecting; the link comes up once connected. A canStatus.
    int open();
    // Sends what canWrite queued: drainTx now, or at the end of the send
    // window. The channel's txWakePending stays set until then, so writers
    // do not wake the I/O thread again meanwhile.
    void requestDrain();
    // Writes every frame queued for sending, in one write; lost while not
    // connected, as on a bus nobody listens to.
    void drainTx();
    // Writes what still waits for the socket, as far as it takes it now.
    void flush();

private:
    void connectToHost();
    // The socket became writable: the connect ended, or room came free.
    void onWritable();
    void onConnected();
    // Closes the connection and tries again after a pause.
    void onDisconnected();
    void onReadable();
    // Sends bytes after what still waits, without blocking.
    void write(const char* bytes, size_t size);
    // What the socket takes of bytes now; 0 when it has no room, or when
    // it failed and the connection was closed (connected_ then false).
    size_t sendNow(const char* bytes, size_t size);
    // Wakes onWritable once the socket can take more (or the connect ended).
    void watchWritable();
    void closeSocket();

    std::shared_ptr<OpenChannel> channel_;
    int fd_ = -1;
    bool connected_ = false;
    std::optional<QSocketNotifier> readNotifier_;
    std::optional<QSocketNotifier> writeNotifier_;
    QTimer reconnectTimer_;
    QTimer sendWindow_;          // runs for kSendWindowUs after frames went out
    // Set while this process hosts the bus and the channel has joined it.
    VirtualBusServer* host_ = nullptr;
    VirtualBusServer::Client* local_ = nullptr;
    vbus::LineSplitter lines_;
    bool hostStamps_ = false;    // the host said it takes stamped frames
    std::string sendPrefix_;     // "canN:"
    std::vector<Frame> batch_;   // reused for every receive batch
    std::vector<Frame> txBatch_; // reused for every drain
    std::string out_;            // reused for every drain's one write
    std::string pending_;        // written but not yet taken by the socket
};

}  // namespace kolvar::can
