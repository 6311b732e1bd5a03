// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// [io-thread] One open channel's connection to the virtual bus: a TCP client
// of the host on loopback (in this process or another). It makes sure this
// process hosts the bus when nobody does, subscribes to the channel's
// interface, checks every line it receives before queuing the frame, and
// reconnects - hosting the bus itself if the port has come free - when the
// connection drops.

#include "platform/can/open_channel.h"
#include "platform/can/virtual_bus_protocol.h"

#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

namespace kolvar::can {

class VirtualBusClient : public QObject {
public:
    explicit VirtualBusClient(std::shared_ptr<OpenChannel> channel);
    ~VirtualBusClient() override;

    // Starts connecting; the link comes up once connected. A canStatus.
    int open();
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
    vbus::LineSplitter lines_;
    std::string sendPrefix_;     // "canN:"
    std::vector<Frame> batch_;   // reused for every receive batch
    std::vector<Frame> txBatch_; // reused for every drain
    std::string out_;            // reused for every drain's one write
};

}  // namespace kolvar::can
