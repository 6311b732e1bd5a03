// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: the road from received frames to the values shown.
// The input drives a receive queue (a small one, so that it overflows)
// through batches of frames, filtered and unfiltered reads and bus on/off;
// every frame a read hands out is copied into an 8-byte buffer the way the
// CAN layer's reads fill it, and the buffer is decoded and scaled as the
// receive worker does. A plain model of the queue's rules checks each step.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "can/frame_format.h"
#include "platform/can/rx_queue.h"
#include "platform/canlib.h"

using kolvar::can::Frame;
using kolvar::can::RxQueue;

namespace {

constexpr size_t kCapacity = 8;

// Reads the input a byte at a time; zeros once it runs out.
struct Input {
    const uint8_t* bytes;
    size_t size;
    size_t at = 0;
    bool more() const { return at < size; }
    uint8_t byte() { return at < size ? bytes[at++] : 0; }
    uint32_t word32() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | byte();
        return value;
    }
};

void check(bool holds, const char* what) {
    if (holds) return;
    __builtin_trap();  // libFuzzer reports the input that got here
    (void)what;
}

bool sameFrame(const Frame& a, const Frame& b) {
    return a.id == b.id && a.flags == b.flags && a.dlc == b.dlc &&
           std::memcmp(a.data, b.data, sizeof a.data) == 0;
}

// What the layer's receive side ever queues: a standard or extended data or
// remote frame with 0 to 8 data bytes.
Frame makeFrame(Input& in) {
    Frame frame;
    const uint8_t kind = in.byte();
    const bool extended = kind & 1;
    frame.flags = extended ? canMSG_EXT : canMSG_STD;
    if (kind & 2) frame.flags |= canMSG_RTR;
    frame.id = static_cast<int32_t>(extended ? in.word32() & 0x1FFFFFFF : in.word32() & 0x7FF);
    frame.dlc = static_cast<uint8_t>(in.byte() % 9);
    for (unsigned i = 0; i < frame.dlc; ++i) frame.data[i] = in.byte();
    return frame;
}

// The buffer as a read fills it: the frame's data bytes, nothing for a
// remote frame.
void fillBuffer(unsigned char buffer[8], const Frame& frame) {
    if (!(frame.flags & canMSG_RTR)) std::memcpy(buffer, frame.data, frame.dlc);
}

double meterValue(int32_t word) { return (200.0 * static_cast<double>(word >> 4)) / 4095.0 - 100.0; }

// Decode and scale as the worker does, and what must hold of the result.
void checkDisplayPath(const unsigned char buffer[8]) {
    const ChannelWords low = decodeChannelWords(buffer, 0);
    const ChannelWords high = decodeChannelWords(buffer, 1);
    check(low.word1 == buffer[0] + 256 * buffer[1], "channel 1, low byte first");
    check(low.word2 == buffer[2] + 256 * buffer[3], "channel 2, low byte first");
    check(high.word1 == 256 * buffer[0] + buffer[1], "channel 1, high byte first");
    check(high.word2 == 256 * buffer[2] + buffer[3], "channel 2, high byte first");
    for (const int32_t word : {low.word1, low.word2, high.word1, high.word2}) {
        const double value = scaleChannelWord(word);
        check(word >= 0 && word <= 0xFFFF, "word out of range");
        check(std::isfinite(value) && value >= -100.0 && value <= 100.0, "value off the span");
        check(value == meterValue(word), "value differs from the formula");
        check(scaleChannelWord(word | 0xF) == value, "the low 4 bits changed the value");
    }
    unsigned char altered[8];
    std::memcpy(altered, buffer, 8);
    for (int i = 4; i < 8; ++i) altered[i] = static_cast<unsigned char>(~altered[i]);
    const ChannelWords same = decodeChannelWords(altered, byte_order);
    const ChannelWords original = decodeChannelWords(buffer, byte_order);
    check(same.word1 == original.word1 && same.word2 == original.word2, "bytes 4 to 7 matter");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    RxQueue queue(kCapacity);
    std::deque<Frame> model;
    bool onBus = false;
    uint64_t dropped = 0;
    unsigned char buffer[8] = {};

    while (in.more()) {
        switch (in.byte() % 6) {
        case 0: {  // a batch from the device
            Frame batch[4];
            const size_t count = in.byte() % 5;
            for (size_t i = 0; i < count; ++i) batch[i] = makeFrame(in);
            queue.pushBatch(batch, count);
            if (!onBus) break;
            for (size_t i = 0; i < count; ++i) {
                if (model.size() == kCapacity) {
                    model.pop_front();
                    ++dropped;
                }
                model.push_back(batch[i]);
            }
            break;
        }
        case 1: {  // the worker's filtered read
            const int32_t id = static_cast<int32_t>((in.byte() << 8 | in.byte()) & 0x7FF);
            Frame out;
            const int status = queue.takeSpecificSkip(id, out);
            if (!onBus) {
                check(status == canERR_OFFBUS, "filtered read off the bus");
                break;
            }
            while (!model.empty() && !RxQueue::matchesIdentifier(model.front(), id)) model.pop_front();
            if (model.empty()) {
                check(status == canERR_NOMSG, "filtered read found a frame the model lacks");
                break;
            }
            check(status == canOK, "filtered read missed a frame");
            check(sameFrame(out, model.front()), "filtered read took another frame");
            check(out.id == id && out.flags == canMSG_STD, "filtered read took a frame not of the id");
            model.pop_front();
            fillBuffer(buffer, out);
            checkDisplayPath(buffer);
            break;
        }
        case 2: {  // the first read of a connection, without waiting
            Frame out;
            const int status = queue.takeWait(out, 0);
            if (!onBus) {
                check(status == canERR_OFFBUS, "read off the bus");
            } else if (model.empty()) {
                check(status == canERR_NOMSG, "read found a frame the model lacks");
            } else {
                check(status == canOK && sameFrame(out, model.front()), "read took another frame");
                model.pop_front();
                fillBuffer(buffer, out);
                checkDisplayPath(buffer);
            }
            break;
        }
        case 3:
            queue.busOff();
            onBus = false;
            model.clear();
            break;
        case 4:
            queue.busOn();
            onBus = true;
            model.clear();
            dropped = 0;
            break;
        default:
            checkDisplayPath(buffer);  // a pass that found nothing shows the buffer again
            break;
        }
        check(queue.size() == model.size(), "queue length differs from the model");
        check(queue.droppedCount() == dropped, "dropped count differs from the model");
    }
    return 0;
}
