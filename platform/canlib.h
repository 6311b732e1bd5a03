// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// CAN driver layer: numbered channels over SocketCAN interfaces (raw CAN
// sockets) and a virtual bus shared by the processes of one machine (over
// loopback TCP).
//
// Status convention (shared by every function here): 0 (canOK) is success,
// a negative value is one of the canStatus codes below; canGetErrorText gives
// its text (at most 49 characters). canOpenChannel returns a handle >= 0.
//
// Channels, in a fixed order: the machine's SocketCAN interfaces sorted by
// name, then the two channels of the virtual bus. The environment variable
// KOLVAR_CAN_CHANNELS narrows the list: "virtual" offers only the virtual
// bus, "socketcan" only the SocketCAN interfaces; any other value, or none,
// offers both. The list is read by canInitializeLibrary.
// KOLVAR_VIRTUALCAN_PORT=N moves the virtual bus from its default loopback
// port 35468 to port N (1..65535), giving a group of processes (a test) a
// bus of its own; any other value makes canInitializeLibrary fail with
// canERR_PARAM rather than fall back to the shared port.
// Example: vcan0 and vcan1 present -> 0 "vcan0", 1 "vcan1", 2 "virtual 0",
// 3 "virtual 1"; with KOLVAR_CAN_CHANNELS=virtual -> 0 "virtual 0", 1 "virtual 1".
//
// Receive queue: one per open channel, filled from bus on, holding at most
// 65536 frames; when full, the oldest frames are dropped and counted
// (canGetDroppedCount). Standard and extended data frames and remote frames
// are queued; error frames are only counted (canGetErrorFrameCount) and
// followed for the bus state (canGetBusStatus). Only
// standard-identifier data frames match an identifier in canReadSpecificSkip.
// On a SocketCAN channel, frames wait in the channel's socket until a call
// moves them into the queue: a waiting read, canGetQueueLevel, or
// canReadSpecificSkip finding the queue empty. Frames the kernel dropped
// because that socket was full, and the controller's receive overruns that
// its error frames report, count as dropped.
//
// Threads: every function is [any-thread]. A QCoreApplication must exist
// before canInitializeLibrary. The virtual bus's devices live on one I/O
// thread owned by the layer; callers never block it. A SocketCAN channel is
// read by the thread that reads: a waiting read sleeps on the channel's raw
// CAN socket and takes everything queued there at once.

#include <cstdint>

enum canStatus : int {
    canOK = 0,
    canERR_PARAM = -1,           // "Invalid parameter"
    canERR_NOMSG = -2,           // "No message available"
    canERR_NOTFOUND = -3,        // "Channel not found"
    canERR_INUSE = -4,           // "Channel already open"
    canERR_NOTINITIALIZED = -5,  // "Library not initialised"
    canERR_INVHANDLE = -6,       // "Invalid handle"
    canERR_OFFBUS = -7,          // "Channel is off the bus"
    canERR_DEVICE = -8,          // "Device failure"
    canERR_TXFULL = -9,          // "Transmit queue full"
};

// Open flags.
constexpr int canOPEN_EXCLUSIVE = 8;  // exclusive within this process

// Predefined bit-rate codes, passed as the frequency of canSetBusParams.
constexpr long canBITRATE_1M = -1;
constexpr long canBITRATE_500K = -2;

// Message flags, reported by the reads and taken by canWrite.
constexpr unsigned canMSG_RTR = 0x01;          // remote frame
constexpr unsigned canMSG_STD = 0x02;          // 11-bit identifier
constexpr unsigned canMSG_EXT = 0x04;          // 29-bit identifier
constexpr unsigned canMSG_ERROR_FRAME = 0x20;  // error frame

int canInitializeLibrary();
// Closes every channel still open, then releases the library.
int canUnloadLibrary();
int canGetNumberOfChannels(int* count);
// Writes the channel's name ("vcan0", "virtual 0", ...) into name.
int canGetChannelName(int channel, char* name, unsigned nameSize);

// Returns a handle >= 0, or a negative status (unknown channel, already open).
int canOpenChannel(int channel, int flags);
// Chooses the bit rate (a predefined code, or bits per second up to 1
// Mbit/s) that the next canBusOn gives the channel's controller; the timing
// arguments are ignored. The virtual bus and vcan have no bit rate.
int canSetBusParams(int handle, long freq, unsigned tseg1, unsigned tseg2, unsigned sjw,
                    unsigned noSamp, unsigned syncmode);
// Bus on starts filling the channel's receive queue and returns at once; bus
// off empties it and wakes every read waiting on the channel. A virtual bus
// channel is still connecting then (over loopback, in the background):
// canGetBusStatus says canBUSSTATE_CONNECTING until it stands.
// On a SocketCAN controller (link kind "can"; not vcan) bus on first gives
// it the rate chosen by canSetBusParams and restarts it out of bus off:
// where it runs at another rate, is bus off or is down, it is taken down,
// set and brought up. A process that may not (no CAP_NET_ADMIN) goes on
// the bus as the controller is; canGetBusStatus says what it could not do.
// Never fails over it.
int canBusOn(int handle);
// [any-thread] Waits up to timeoutMs until a channel on the bus is connected
// to it: at once for SocketCAN, when the loopback connection stands for the
// virtual bus. canOK when connected, canERR_DEVICE otherwise (it goes on
// trying). For a program that sends or listens right after bus on.
int canWaitConnected(int handle, unsigned long timeoutMs);
int canBusOff(int handle);
// Closes the channel (taking it off the bus first) and wakes waiting reads.
int canClose(int handle);

// Takes the oldest queued frame of any identifier, waiting up to timeoutMs
// for one. Fills *id, the data bytes of msg (only the frame's dlc bytes are
// written; a remote frame leaves msg untouched), *dlc, *flags and *time (ms since the library started) for each
// pointer that is not null. canERR_NOMSG after the time-out; returns at once
// with canERR_OFFBUS when the channel is, or goes, off the bus.
int canReadWait(int handle, int32_t* id, void* msg, unsigned* dlc, unsigned* flags,
                unsigned long* time, unsigned long timeoutMs);

// Returns at once. Takes the next queued standard-identifier data frame with
// identifier `id`, discarding every queued frame ahead of it. When there is
// none, every queued frame is discarded, msg is left untouched and the result
// is canERR_NOMSG.
// Example: queue 0x100, 0x1A5(a), 0x1A5(b) -> read 0x1A5 gives a, queue 0x1A5(b).
int canReadSpecificSkip(int handle, int32_t id, void* msg, unsigned* dlc, unsigned* flags,
                        unsigned long* time);

// Waits up to timeoutMs until the receive queue holds at least one frame,
// without taking it. canOK when a frame is queued, canERR_NOMSG after the
// time-out, canERR_OFFBUS at once when the channel is or goes off the bus.
int canReadSync(int handle, unsigned long timeoutMs);

// canReadSync for a reader that takes everything queued each time it returns
// and wants to wake at most once per `periodUs` (a screen refresh) while
// frames stream. After a silence of a period or more, the first frame
// returns at once. A frame that comes sooner after the last return canOK
// starts a stream: the call then sleeps until a period has passed since that
// return, without waking for frames (on SocketCAN they collect in the socket
// and are read with one recvmmsg), and returns canOK with all of them
// queued. A frame therefore waits at most one period to be returned. A
// stream ends with a period that brings no frame. A wake-up (canWakeReads),
// bus off or close ends every wait at once, as in canReadSync.
// Example, period 16667 us, one frame a millisecond: the first returns at
// once; then one return every 16.7 ms with about 16 frames queued.
int canReadSyncPaced(int handle, unsigned long periodUs, unsigned long timeoutMs);

// Wakes every read waiting on the channel (canReadWait, canReadSync,
// canReadSyncPaced): each returns canERR_NOMSG at once, or canOK when a
// frame is queued. Lets a reader that sleeps until the next frame look at
// new settings.
int canWakeReads(int handle);

// Queues one frame for sending; never blocks. canERR_TXFULL when the
// transmit queue is full.
int canWrite(int handle, int32_t id, const void* msg, unsigned dlc, unsigned flags);

// Waits up to timeoutMs until every frame queued by canWrite has been handed
// to the device. canOK, or canERR_DEVICE when the I/O thread did not finish
// in time or the device is not connected (frames written meanwhile are lost).
int canWriteSync(int handle, unsigned long timeoutMs);

// Frames waiting in the receive queue now.
int canGetQueueLevel(int handle, unsigned* count);

// Frames lost since bus on: dropped because the receive queue was full,
// dropped by the kernel because the channel's socket was full, and, for
// each controller error frame that reports a receive overrun, one frame the
// controller itself could not take.
int canGetDroppedCount(int handle, uint64_t* dropped);

// Error frames received since bus on (they are never queued).
int canGetErrorFrameCount(int handle, uint64_t* count);

// Bus states, as canGetBusStatus reports them.
enum canBusState : int {
    canBUSSTATE_ERROR_ACTIVE = 0,   // taking part normally (also: nothing known against it)
    canBUSSTATE_ERROR_WARNING = 1,
    canBUSSTATE_ERROR_PASSIVE = 2,
    canBUSSTATE_BUS_OFF = 3,
    canBUSSTATE_DOWN = 4,           // SocketCAN interface set down
    canBUSSTATE_GONE = 5,           // SocketCAN interface deleted
    canBUSSTATE_UNREACHABLE = 6,    // virtual bus: no connection to it
    canBUSSTATE_CONNECTING = 7,     // virtual bus: bus on, not yet connected
};

// What bus on could not do to a SocketCAN controller for want of
// privileges (CAP_NET_ADMIN), as canBusStatus.setupDenied reports it.
constexpr int canSETUP_BITRATE_DENIED = 0x01;  // the chosen bit rate was not set
constexpr int canSETUP_RESTART_DENIED = 0x02;  // the bus-off controller was not restarted

struct canBusStatus {
    uint64_t receivedFrames;  // data and remote frames received since bus on
    uint64_t errorFrames;     // error frames received since bus on
    int busState;             // a canBusState
    // Bits per second the interface really runs at, as the kernel reports
    // it; 0 where no bit rate exists (vcan, the virtual bus).
    long bitRate;
    int setupDenied;          // canSETUP_ bits, from the last bus on
    // SocketCAN only, since the channel was opened (0 elsewhere): frames the
    // socket refused to send other than for a full queue (they are lost),
    // and reads that brought something other than one whole frame.
    uint64_t sendErrors;
    uint64_t shortReads;
};

// What a channel's bus looks like now. Counts come from the receive path;
// the bus state from the error frames received (bus off, restarted,
// controller warning/passive/active) and, for a SocketCAN interface, from
// the kernel: deleted, down, or the controller's own state where the kernel
// reports one. The virtual bus is connecting from bus on until its first
// connection stands, and unreachable while a connection is lost.
// Never waits for the I/O thread; a few system calls at most.
int canGetBusStatus(int handle, canBusStatus* status);

// Arrival time of the frame that the last successful read on the handle
// took, in microseconds of CLOCK_MONOTONIC (std::chrono::steady_clock; the
// same clock in every process of the machine), 0 before the first. Lets a
// benchmark measure the latency from a sender's clock reading to arrival.
int canGetLastArrivalMicros(int handle, int64_t* micros);

// Text for a status, truncated to bufsiz - 1 characters; canOK or
// canERR_PARAM (null text or zero size).
int canGetErrorText(int status, char* text, unsigned bufsiz);
