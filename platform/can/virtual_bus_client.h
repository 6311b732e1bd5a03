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
// Frames written go out at once unless frames went out less than
// kSendWindowUs ago; then they wait for the end of that window and go out
// together. A stream of several frames a millisecond thus costs the host one
// pass, and one write to each client, per millisecond instead of per frame,
// with no wake-up of the I/O thread per frame; a frame waits at most about
// one window, well within one screen refresh.

#include "platform/can/open_channel.h"
#include "platform/can/virtual_bus_protocol.h"
#include "platform/can/virtual_bus_server.h"

#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

namespace kolvar::can {

class VirtualBusClient : public QObject {
public:
    static constexpr int64_t kSendWindowUs = 1000;

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
    // Hands what the socket has buffered to the system without waiting.
    void flush();

private:
    void connectToHost();
    void onConnected();
    void onDisconnected();
    void onReadyRead();

    std::shared_ptr<OpenChannel> channel_;
    QTcpSocket socket_;
    QTimer reconnectTimer_;
    QTimer sendWindow_;          // runs for kSendWindowUs after frames went out
    // Set while this process hosts the bus and the channel has joined it.
    VirtualBusServer* host_ = nullptr;
    VirtualBusServer::Client* local_ = nullptr;
    vbus::LineSplitter lines_;
    std::string sendPrefix_;     // "canN:"
    std::vector<Frame> batch_;   // reused for every receive batch
    std::vector<Frame> txBatch_; // reused for every drain
    std::string out_;            // reused for every drain's one write
};

}  // namespace kolvar::can
