#pragma once
// [io-thread] Owner of one channel's QCanBusDevice: connects it, moves the
// received frames into the channel's receive queue in batches, writes the
// transmit queue, and reconnects a device that drops while the channel is
// open (the virtual bus loses every client when the process hosting its
// server exits; nothing in Qt reconnects them).

#include "platform/can/open_channel.h"
#include "platform/can/virtual_bus_client.h"

#include <QCanBusDevice>
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

namespace kolvar::can {

class BusChannel : public QObject {
public:
    explicit BusChannel(std::shared_ptr<OpenChannel> channel);
    ~BusChannel() override;

    // Creates and connects the device; a canStatus.
    int open();
    // Applies a bit rate as far as the device allows; never fails.
    void setBitRate(int bitsPerSecond);
    // Writes every frame queued for sending.
    void drainTx();
    // Pushes what the device has buffered towards the bus without waiting.
    void flush();
    // Disconnects the device; the object is deleted afterwards by the caller.
    void close();

private:
    void onFramesReceived();
    void onStateChanged(QCanBusDevice::CanBusDeviceState state);
    void reconnect();

    std::shared_ptr<OpenChannel> channel_;
    QCanBusDevice* device_ = nullptr;
    // The virtual bus is the layer's own, not a QtSerialBus plugin.
    std::unique_ptr<VirtualBusClient> virtual_;
    QTimer reconnectTimer_;
    bool closing_ = false;
    std::vector<Frame> batch_;  // reused for every receive batch
    std::vector<Frame> txBatch_;
};

}  // namespace kolvar::can
