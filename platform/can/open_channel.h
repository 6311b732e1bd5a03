// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// State of one open channel, shared between the callers of the API (through
// the handle table) and the I/O thread. It outlives the handle while a call
// still holds it, so a read racing a close sees a closed queue, never freed
// memory.

#include "platform/can/channel_list.h"
#include "platform/can/rx_queue.h"
#include "platform/can/socket_read_hold.h"
#include "platform/can/socketcan_channel.h"
#include "platform/can/tx_queue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace kolvar::can {

class VirtualBusClient;

struct OpenChannel {
    OpenChannel(int channelIndex, ChannelInfo channelInfo, bool exclusiveOpen)
        : index(channelIndex), info(std::move(channelInfo)), exclusive(exclusiveOpen) {}

    const int index;         // position in the channel list
    const ChannelInfo info;
    const bool exclusive;
    RxQueue rx;
    // Set for a SocketCAN channel before its handle is handed out, then
    // fixed: its readers and writers use the socket directly, and tx,
    // virtualBus and the I/O thread stay unused.
    std::unique_ptr<SocketCanChannel> socketCan;
    TxQueue tx;
    std::atomic<bool> txWakePending{false};  // a drain of tx is queued, or waits for the send window, on the I/O thread
    VirtualBusClient* virtualBus = nullptr;  // [io-thread] the connection to the bus; null once closed
    // The connection's socket, for a reader to keep the I/O thread from
    // reading batches it does not want yet.
    SocketReadHold readHold;
    // Bits per second chosen by canSetBusParams for the next bus on; 0 for none.
    std::atomic<long> chosenBitRate{0};
    // canSETUP_ bits: what the last bus on could not do to the controller.
    std::atomic<int> setupDenied{0};
    // The rhythm of canReadSyncPaced: when it last returned with frames
    // (steadyMicros), and whether frames are coming as a stream, each within
    // one period of the return before it.
    std::atomic<int64_t> pacedReturnUs{0};
    std::atomic<bool> pacedStream{false};

    // Whether the device is connected; set by the I/O thread.
    void setLinkUp(bool up) {
        {
            std::lock_guard lock(linkMutex_);
            linkUp_ = up;
            everUp_ = everUp_ || up;
        }
        linkChanged_.notify_all();
    }
    // Connecting until the first connection stands; lost after it dropped.
    enum class Link { Connecting, Up, Lost };
    Link link() {
        std::lock_guard lock(linkMutex_);
        return linkUp_ ? Link::Up : everUp_ ? Link::Lost : Link::Connecting;
    }
    // Waits up to timeoutMs for the device to be connected.
    bool waitLinkUp(int timeoutMs) {
        std::unique_lock lock(linkMutex_);
        return linkChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return linkUp_; });
    }

private:
    std::mutex linkMutex_;
    std::condition_variable linkChanged_;
    bool linkUp_ = false;
    bool everUp_ = false;
};

}  // namespace kolvar::can
