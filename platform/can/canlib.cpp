// SPDX-License-Identifier: GPL-3.0-or-later
// The CAN driver API: a handle table over open channels, each with its
// receive and transmit queues, and the I/O thread that owns the devices.
#include "platform/canlib.h"

#include "platform/can/bus_health.h"
#include "platform/can/channel_list.h"
#include "platform/can/controller_start.h"
#include "platform/can/io_thread.h"
#include "platform/can/open_channel.h"
#include "platform/can/virtual_bus_client.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

using kolvar::can::ChannelInfo;
using kolvar::can::Frame;
using kolvar::can::IoThread;
using kolvar::can::OpenChannel;
using kolvar::can::SocketCanChannel;
using kolvar::can::SocketReadHold;
using kolvar::can::VirtualBusClient;

namespace {

// How long bus operations wait for the I/O thread before giving up.
constexpr int kIoTimeoutMs = 3000;
constexpr int32_t kMaxStandardId = 0x7FF;
constexpr int32_t kMaxExtendedId = 0x1FFFFFFF;

struct Library {
    std::mutex mutex;
    bool initialized = false;
    std::vector<ChannelInfo> channels;
    // Handles grow monotonically and are never reused, so a stale handle
    // finds nothing instead of someone else's channel.
    std::map<int, std::shared_ptr<OpenChannel>> open;
    int nextHandle = 0;
    int64_t startUs = 0;
};

Library& library() {
    static Library instance;
    return instance;
}

std::shared_ptr<OpenChannel> findChannel(int handle) {
    Library& lib = library();
    std::lock_guard lock(lib.mutex);
    auto it = lib.open.find(handle);
    return it == lib.open.end() ? nullptr : it->second;
}

// Takes the channel off the bus, wakes its readers and destroys its device
// on the I/O thread (waiting for that, bounded).
void shutDownChannel(const std::shared_ptr<OpenChannel>& channel) {
    channel->rx.close();
    channel->tx.clear();
    if (channel->socketCan) {
        // The socket is closed with the channel's last reference, once no
        // call is using it any more.
        channel->socketCan->wakeWaiters();
        return;
    }
    IoThread* io = IoThread::instance();
    if (!io) return;
    io->run(
        [channel] {
            delete channel->virtualBus;
            channel->virtualBus = nullptr;
        },
        kIoTimeoutMs);
}

void closeAllChannels() {
    Library& lib = library();
    std::vector<std::shared_ptr<OpenChannel>> closing;
    {
        std::lock_guard lock(lib.mutex);
        for (auto& [handle, channel] : lib.open) closing.push_back(channel);
        lib.open.clear();
        lib.initialized = false;
    }
    for (auto& channel : closing) shutDownChannel(channel);
}

void fillOutputs(const Frame& frame, int32_t* id, void* msg, unsigned* dlc, unsigned* flags,
                 unsigned long* time) {
    if (id) *id = frame.id;
    if (msg && !(frame.flags & canMSG_RTR)) std::memcpy(msg, frame.data, frame.dlc);
    if (dlc) *dlc = frame.dlc;
    if (flags) *flags = frame.flags;
    if (time) *time = static_cast<unsigned long>((frame.arrivalUs - library().startUs) / 1000);
}

}  // namespace

int canInitializeLibrary() {
    IoThread* io = IoThread::instance();
    if (!io) return canERR_NOTINITIALIZED;  // no QCoreApplication yet
    IoThread::setShutdownHook(&closeAllChannels);
    // The only thing the caller can get wrong here: a virtual bus port that
    // is not one, which must not fall back silently to the shared bus.
    if (kolvar::can::virtualPort(std::getenv("KOLVAR_VIRTUALCAN_PORT")) == 0) return canERR_PARAM;
    Library& lib = library();
    std::lock_guard lock(lib.mutex);
    if (lib.initialized) return canOK;
    lib.channels = kolvar::can::enumerateChannels();
    lib.startUs = kolvar::steadyMicros();
    lib.initialized = true;
    return canOK;
}

int canUnloadLibrary() {
    closeAllChannels();
    return canOK;
}

int canGetNumberOfChannels(int* count) {
    if (!count) return canERR_PARAM;
    Library& lib = library();
    std::lock_guard lock(lib.mutex);
    if (!lib.initialized) return canERR_NOTINITIALIZED;
    *count = static_cast<int>(lib.channels.size());
    return canOK;
}

int canGetChannelName(int channel, char* name, unsigned nameSize) {
    if (!name || nameSize == 0) return canERR_PARAM;
    Library& lib = library();
    std::lock_guard lock(lib.mutex);
    if (!lib.initialized) return canERR_NOTINITIALIZED;
    if (channel < 0 || channel >= static_cast<int>(lib.channels.size())) return canERR_NOTFOUND;
    const std::string& text = lib.channels[channel].name;
    const size_t length = std::min<size_t>(text.size(), nameSize - 1);
    std::memcpy(name, text.data(), length);
    name[length] = '\0';
    return canOK;
}

int canOpenChannel(int channel, int flags) {
    Library& lib = library();
    std::shared_ptr<OpenChannel> opened;
    int handle = 0;
    {
        std::lock_guard lock(lib.mutex);
        if (!lib.initialized) return canERR_NOTINITIALIZED;
        if (channel < 0 || channel >= static_cast<int>(lib.channels.size())) return canERR_NOTFOUND;
        const bool exclusive = (flags & canOPEN_EXCLUSIVE) != 0;
        for (const auto& [otherHandle, other] : lib.open)
            if (other->index == channel && (exclusive || other->exclusive)) return canERR_INUSE;
        opened = std::make_shared<OpenChannel>(channel, lib.channels[channel], exclusive);
        if (opened->info.kind == "socketcan") {
            // Opening a socket takes no time worth leaving the lock for.
            auto socket = std::make_unique<SocketCanChannel>(opened->info.interface, opened->rx);
            if (const int result = socket->open(); result != canOK) return result;
            opened->socketCan = std::move(socket);
            handle = lib.nextHandle++;
            lib.open.emplace(handle, opened);
            return handle;
        }
        handle = lib.nextHandle++;
        lib.open.emplace(handle, opened);  // reserved: a concurrent open sees it
    }
    auto status = std::make_shared<std::atomic<int>>(canERR_DEVICE);
    IoThread* io = IoThread::instance();
    const bool finished = io && io->run(
        [opened, status] {
            auto bus = std::make_unique<VirtualBusClient>(opened);
            const int result = bus->open();
            if (result == canOK) opened->virtualBus = bus.release();
            status->store(result);
        },
        kIoTimeoutMs);
    const int result = finished ? status->load() : canERR_DEVICE;
    if (result != canOK) {
        {
            std::lock_guard lock(lib.mutex);
            lib.open.erase(handle);
        }
        shutDownChannel(opened);
        return result;
    }
    IoThread::stopAtProcessExit();  // the bus's sockets live on the I/O thread by now
    return handle;
}

int canSetBusParams(int handle, long freq, unsigned, unsigned, unsigned, unsigned, unsigned) {
    auto channel = findChannel(handle);
    if (!channel) return canERR_INVHANDLE;
    // The predefined rates, or a plain rate in bits per second up to 1 Mbit/s.
    const bool known = freq == canBITRATE_500K || freq == canBITRATE_1M || (freq > 0 && freq <= 1000000);
    if (!known) return canERR_PARAM;
    // Applied at the next bus on, as the hardware does; the virtual bus has
    // no bit rate at all.
    channel->chosenBitRate.store(freq == canBITRATE_1M ? 1000000 : freq == canBITRATE_500K ? 500000 : freq);
    return canOK;
}

int canBusOn(int handle) {
    auto channel = findChannel(handle);
    if (!channel) return canERR_INVHANDLE;
    if (channel->socketCan) {
        channel->setupDenied.store(
            kolvar::can::startController(channel->info.interface, channel->chosenBitRate.load()));
        channel->socketCan->pull();  // off the bus still: what came before is discarded
        channel->rx.busOn();
        return canOK;
    }
    channel->rx.busOn();
    return canOK;  // the I/O thread connects; canWaitConnected waits for it
}

int canWaitConnected(int handle, unsigned long timeoutMs) {
    auto channel = findChannel(handle);
    if (!channel) return canERR_INVHANDLE;
    if (channel->socketCan) return canOK;
    const int wait = static_cast<int>(std::min<unsigned long>(timeoutMs, INT32_MAX));
    return channel->waitLinkUp(wait) ? canOK : canERR_DEVICE;
}

int canBusOff(int handle) {
    auto channel = findChannel(handle);
    if (!channel) return canERR_INVHANDLE;
    channel->rx.busOff();
    channel->tx.clear();
    if (channel->socketCan) channel->socketCan->wakeWaiters();
    return canOK;
}

int canClose(int handle) {
    Library& lib = library();
    std::shared_ptr<OpenChannel> channel;
    {
        std::lock_guard lock(lib.mutex);
        auto it = lib.open.find(handle);
        if (it == lib.open.end()) return canERR_INVHANDLE;
        channel = it->second;
        lib.open.erase(it);
    }
    shutDownChannel(channel);
    return canOK;
}

int canReadWait(int handle, int32_t* id, void* msg, unsigned* dlc, unsigned* flags,
                unsigned long* time, unsigned long timeoutMs) {
    auto channel = findChannel(handle);
    if (!channel) return canERR_INVHANDLE;
    Frame frame;
    const int status = channel->socketCan ? channel->socketCan->takeWait(frame, timeoutMs)
                                          : channel->rx.takeWait(frame, timeoutMs);
    if (status == canOK) fillOutputs(frame, id, msg, dlc, flags, time);
    return status;
}

int canReadSpecificSkip(int handle, int32_t id, void* msg, unsigned* dlc, unsigned* flags,
                        unsigned long* time) {
    auto channel = findChannel(handle);
    if (!channel) return canERR_INVHANDLE;
    Frame frame;
    // A SocketCAN channel reads its socket when the queue is empty. Frames
    // still in the socket came after every queued one, so they are left there
    // after a pass over queued frames: the next read finds them. A paced
    // reader that has taken what its wait queued skips the look: the wait's
    // own look was a moment ago, and the next wait takes what came since.
    if (channel->socketCan && channel->rx.size() == 0) channel->socketCan->pullUnlessJustPulled();
    const int status = channel->rx.takeSpecificSkip(id, frame);
    if (status == canOK) fillOutputs(frame, nullptr, msg, dlc, flags, time);
    return status;
}

int canReadSync(int handle, unsigned long timeoutMs) {
    auto channel = findChannel(handle);
    if (!channel) return canERR_INVHANDLE;
    return channel->socketCan ? channel->socketCan->waitAny(timeoutMs) : channel->rx.waitAny(timeoutMs);
}

int canReadSyncPaced(int handle, unsigned long periodUs, unsigned long timeoutMs) {
    auto channel = findChannel(handle);
    if (!channel) return canERR_INVHANDLE;
    SocketCanChannel* socket = channel->socketCan.get();
    // The virtual bus delivers a send window's frames at once: the wait runs
    // on to the first batch after its time, at most a window and a half more
    // (the window's timer and the relay add a little), so what is taken ends
    // with a frame just arrived. Over a connection to a host in another
    // process the I/O thread is kept meanwhile from reading the batches of
    // the quiet part, which nobody looks at: it wakes once a period, for the
    // batch that ends the wait, instead of once a send window, and the wait
    // wakes once more itself, at the end of the quiet part, to let that
    // batch through.
    const auto waitQuietly = [&](int64_t micros) {
        constexpr int64_t kBatchGraceUs = VirtualBusClient::kSendWindowUs * 3 / 2;
        if (socket) return socket->waitQuietly(micros);
        SocketReadHold& hold = channel->readHold;
        if (micros <= VirtualBusClient::kSendWindowUs || !hold.hold())
            return channel->rx.waitQuietlyForBatch(micros, kBatchGraceUs);
        const int status = channel->rx.waitQuietlyForBatch(micros, kBatchGraceUs, [&] { hold.resume(); });
        hold.release();
        return status;
    };
    const int64_t period = static_cast<int64_t>(periodUs);
    int status = canERR_NOMSG;
    if (channel->pacedStream.load(std::memory_order_relaxed)) {
        // Frames are streaming: sleep out the rest of the period without
        // looking at them, then take what came, one wake-up per period.
        const uint64_t interruptions = channel->rx.interruptions();
        const int64_t start = kolvar::steadyMicros();
        const int64_t due = std::max(channel->pacedReturnUs.load(std::memory_order_relaxed) + period, start);
        status = waitQuietly(due - start);
        if (status == canERR_NOMSG) {
            if (channel->rx.interruptions() != interruptions) return canERR_NOMSG;
            channel->pacedStream.store(false, std::memory_order_relaxed);  // a period without frames
        }
        if (status == canOK) {
            // The next period counts from when this one was due, so waiting
            // for a batch does not stretch the periods; after an interruption
            // or a longer delay (a busy machine), from now.
            const int64_t now = kolvar::steadyMicros();
            const bool onTime = now >= due && now - due < period;
            channel->pacedReturnUs.store(onTime ? due : now, std::memory_order_relaxed);
            return status;
        }
    }
    if (status == canERR_NOMSG) {
        status = socket ? socket->waitAny(timeoutMs) : channel->rx.waitAny(timeoutMs);
        if (status != canOK) return status;
        int64_t now = kolvar::steadyMicros();
        const int64_t early = channel->pacedReturnUs.load(std::memory_order_relaxed) + period - now;
        if (early > 0) {
            // Within a period of the last return: a stream has begun. The
            // frames of the rest of the period collect before they are taken.
            channel->pacedStream.store(true, std::memory_order_relaxed);
            status = waitQuietly(early);
            now = kolvar::steadyMicros();
        }
        if (status == canOK) channel->pacedReturnUs.store(now, std::memory_order_relaxed);
    }
    return status;
}

int canWakeReads(int handle) {
    auto channel = findChannel(handle);
    if (!channel) return canERR_INVHANDLE;
    channel->rx.interruptWaits();
    if (channel->socketCan) channel->socketCan->wakeWaiters();
    return canOK;
}

int canWrite(int handle, int32_t id, const void* msg, unsigned dlc, unsigned flags) {
    if (dlc > 8 || (msg == nullptr && dlc > 0 && !(flags & canMSG_RTR))) return canERR_PARAM;
    const bool extended = (flags & canMSG_EXT) != 0;
    if (id < 0 || id > (extended ? kMaxExtendedId : kMaxStandardId)) return canERR_PARAM;
    auto channel = findChannel(handle);
    if (!channel) return canERR_INVHANDLE;
    if (!channel->rx.onBus()) return canERR_OFFBUS;
    Frame frame;
    frame.id = id;
    frame.flags = (extended ? canMSG_EXT : canMSG_STD) | (flags & canMSG_RTR);
    frame.dlc = static_cast<uint8_t>(dlc);
    if (msg && !(flags & canMSG_RTR)) std::memcpy(frame.data, msg, dlc);
    if (channel->socketCan) return channel->socketCan->write(frame);
    // On the virtual bus the frame may wait for its send window; it carries
    // the moment it was written, as a controller's stamp would tell.
    frame.arrivalUs = kolvar::steadyMicros();
    IoThread* io = IoThread::instance();
    if (!io) return canERR_NOTINITIALIZED;
    if (!channel->tx.push(frame)) return canERR_TXFULL;
    // One wake-up drains everything queued until the I/O thread gets to it;
    // the device clears the flag when it takes the frames.
    if (!channel->txWakePending.exchange(true)) {
        io->post([channel] {
            if (channel->virtualBus)
                channel->virtualBus->requestDrain();
            else
                channel->txWakePending.store(false);
        });
    }
    return canOK;
}

int canWriteSync(int handle, unsigned long timeoutMs) {
    auto channel = findChannel(handle);
    if (!channel) return canERR_INVHANDLE;
    if (channel->socketCan) return canOK;  // canWrite hands every frame to the socket at once
    IoThread* io = IoThread::instance();
    if (!io) return canERR_NOTINITIALIZED;
    const bool finished = io->run(
        [channel] {
            if (!channel->virtualBus) return;
            channel->virtualBus->drainTx();
            channel->virtualBus->flush();
        },
        static_cast<int>(std::min<unsigned long>(timeoutMs, INT32_MAX)));
    // Frames handed to a device that is not connected are lost; saying so
    // lets a sender tell an unreachable bus from a delivered write.
    return finished && channel->waitLinkUp(0) ? canOK : canERR_DEVICE;
}

int canGetQueueLevel(int handle, unsigned* count) {
    if (!count) return canERR_PARAM;
    auto channel = findChannel(handle);
    if (!channel) return canERR_INVHANDLE;
    if (channel->socketCan) channel->socketCan->pull();
    *count = static_cast<unsigned>(channel->rx.size());
    return canOK;
}

int canGetDroppedCount(int handle, uint64_t* dropped) {
    if (!dropped) return canERR_PARAM;
    auto channel = findChannel(handle);
    if (!channel) return canERR_INVHANDLE;
    *dropped = channel->rx.droppedCount();
    return canOK;
}

int canGetErrorFrameCount(int handle, uint64_t* count) {
    if (!count) return canERR_PARAM;
    auto channel = findChannel(handle);
    if (!channel) return canERR_INVHANDLE;
    *count = channel->rx.errorFrameCount();
    return canOK;
}

int canGetBusStatus(int handle, canBusStatus* status) {
    if (!status) return canERR_PARAM;
    auto channel = findChannel(handle);
    if (!channel) return canERR_INVHANDLE;
    status->receivedFrames = channel->rx.receivedCount();
    status->errorFrames = channel->rx.errorFrameCount();
    const int fromErrorFrames = channel->rx.errorFrameBusState();
    if (channel->info.kind == "socketcan") {
        const kolvar::can::InterfaceHealth health =
            kolvar::can::socketCanHealth(channel->info.interface, fromErrorFrames);
        status->busState = health.busState;
        status->bitRate = health.bitRate;
    } else {
        const kolvar::can::OpenChannel::Link link = channel->link();
        status->busState = link == kolvar::can::OpenChannel::Link::Up           ? fromErrorFrames
                           : link == kolvar::can::OpenChannel::Link::Connecting ? canBUSSTATE_CONNECTING
                                                                                : canBUSSTATE_UNREACHABLE;
        status->bitRate = 0;
    }
    status->setupDenied = channel->setupDenied.load();
    status->sendErrors = channel->socketCan ? channel->socketCan->sendErrors() : 0;
    status->shortReads = channel->socketCan ? channel->socketCan->shortReads() : 0;
    return canOK;
}

int canGetLastArrivalMicros(int handle, int64_t* micros) {
    if (!micros) return canERR_PARAM;
    auto channel = findChannel(handle);
    if (!channel) return canERR_INVHANDLE;
    *micros = channel->rx.lastTakenArrivalUs();
    return canOK;
}
