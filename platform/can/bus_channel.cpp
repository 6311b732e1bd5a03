#include "platform/can/bus_channel.h"

#include "platform/canlib.h"

#include <QCanBus>
#include <QAbstractSocket>
#include <QCanBusFrame>
#include <QVariant>

#include <algorithm>
#include <cstring>

namespace kolvar::can {

namespace {

constexpr int kReconnectDelayMs = 150;

bool toFrame(const QCanBusFrame& in, int64_t arrivalUs, Frame& out) {
    const QByteArray payload = in.payload();
    out.id = static_cast<int32_t>(in.frameId());
    out.flags = in.hasExtendedFrameFormat() ? canMSG_EXT : canMSG_STD;
    out.dlc = static_cast<uint8_t>(std::min<qsizetype>(payload.size(), 8));
    out.arrivalUs = arrivalUs;
    if (in.frameType() == QCanBusFrame::RemoteRequestFrame) {
        out.flags |= canMSG_RTR;
        return true;
    }
    if (in.frameType() != QCanBusFrame::DataFrame) return false;
    std::memcpy(out.data, payload.constData(), out.dlc);
    return true;
}

QCanBusFrame toQtFrame(const Frame& in) {
    QCanBusFrame frame;
    frame.setFrameId(static_cast<quint32>(in.id));
    frame.setExtendedFrameFormat((in.flags & canMSG_EXT) != 0);
    if (in.flags & canMSG_RTR) {
        frame.setFrameType(QCanBusFrame::RemoteRequestFrame);
        frame.setPayload(QByteArray(in.dlc, '\0'));
    } else {
        frame.setPayload(QByteArray(reinterpret_cast<const char*>(in.data), in.dlc));
    }
    return frame;
}

}  // namespace

BusChannel::BusChannel(std::shared_ptr<OpenChannel> channel) : channel_(std::move(channel)) {
    reconnectTimer_.setSingleShot(true);
    reconnectTimer_.setInterval(kReconnectDelayMs);
    connect(&reconnectTimer_, &QTimer::timeout, this, &BusChannel::reconnect);
}

BusChannel::~BusChannel() { close(); }

int BusChannel::open() {
    if (channel_->info.plugin == "virtualcan") {
        virtual_ = std::make_unique<VirtualBusClient>(channel_);
        return virtual_->open();
    }
    QString error;
    device_ = QCanBus::instance()->createDevice(QString::fromStdString(channel_->info.plugin),
                                                QString::fromStdString(channel_->info.interface),
                                                &error);
    if (!device_) return canERR_NOTFOUND;
    device_->setParent(this);
    connect(device_, &QCanBusDevice::framesReceived, this, &BusChannel::onFramesReceived);
    connect(device_, &QCanBusDevice::stateChanged, this, &BusChannel::onStateChanged);
    // Every error frame, so that the bus state can follow them.
    if (channel_->info.plugin == "socketcan")
        device_->setConfigurationParameter(QCanBusDevice::ErrorFilterKey,
                                           QVariant::fromValue(QCanBusFrame::FrameErrors(QCanBusFrame::AnyError)));
    if (!device_->connectDevice()) {
        delete device_;
        device_ = nullptr;
        return canERR_DEVICE;
    }
    channel_->setLinkUp(device_->state() == QCanBusDevice::ConnectedState);
    return canOK;
}

void BusChannel::setBitRate(int bitsPerSecond) {
    // SocketCAN takes a bit rate only on a downed interface and with
    // privileges, and Qt reports no failure; the connection stands either way.
    if (device_) device_->setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant(bitsPerSecond));
}

void BusChannel::close() {
    closing_ = true;
    reconnectTimer_.stop();
    virtual_.reset();
    if (!device_) return;
    device_->disconnect(this);
    channel_->setLinkUp(false);
    device_->disconnectDevice();
    delete device_;
    device_ = nullptr;
}

void BusChannel::onFramesReceived() {
    if (!device_) return;
    while (device_->framesAvailable() > 0) {
        const QList<QCanBusFrame> frames = device_->readAllFrames();
        const int64_t arrivalUs = steadyMicros();
        batch_.clear();
        Frame frame;
        for (const QCanBusFrame& in : frames) {
            if (in.frameType() == QCanBusFrame::ErrorFrame) {
                const QByteArray detail = in.payload();
                // Qt keeps the error class bits in error(); frameId() is 0 here.
                channel_->rx.countErrorFrame(static_cast<uint32_t>(in.error().toInt()),
                                             detail.size() > 1 ? static_cast<uint8_t>(detail[1]) : 0);
                continue;
            }
            if (toFrame(in, arrivalUs, frame)) batch_.push_back(frame);
        }
        channel_->rx.pushBatch(batch_.data(), batch_.size());
    }
}

void BusChannel::onStateChanged(QCanBusDevice::CanBusDeviceState state) {
    channel_->setLinkUp(state == QCanBusDevice::ConnectedState);
    if (state == QCanBusDevice::UnconnectedState && !closing_) reconnectTimer_.start();
}

void BusChannel::reconnect() {
    if (closing_ || !device_) return;
    if (device_->state() != QCanBusDevice::UnconnectedState) return;
    // A failed attempt leaves the device unconnected, which arms the timer again.
    if (!device_->connectDevice()) reconnectTimer_.start();
}

void BusChannel::drainTx() {
    channel_->tx.takeAll(txBatch_);
    if (virtual_) {
        for (const Frame& frame : txBatch_) virtual_->write(frame);
        return;
    }
    if (!device_ || device_->state() != QCanBusDevice::ConnectedState) return;  // lost, as on a bus nobody listens to
    for (const Frame& frame : txBatch_) {
        if (!device_->writeFrame(toQtFrame(frame))) break;  // device error; the rest would fail alike
    }
}

void BusChannel::flush() {
    if (virtual_) virtual_->flush();
    if (!device_) return;
    // The virtual bus writes through a TCP socket that the device owns; its
    // buffer would otherwise be written only when the event loop comes round.
    for (QAbstractSocket* socket : device_->findChildren<QAbstractSocket*>()) socket->flush();
}

}  // namespace kolvar::can
