// SPDX-License-Identifier: GPL-3.0-or-later
// kolvar-hostile-sender NAME COUNT SEED
// Sends COUNT random frames on the layer's channel NAME ("virtual 0",
// "vcan0"): random standard and extended identifiers, lengths 0 to 8,
// remote frames, and among them frames of kHostileChosenId in every form
// (standard data, extended data, remote). Only the standard data frames of
// that identifier carry the mark of hostile_words.h, always with at least
// the 4 bytes of the two words; every other frame is kept off the mark.
// Prints "ready" once on the bus, and at the end
// "sent <frames> marked <marked frames>". Exit status 0, or 2 on a usage or
// CAN failure.
#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "platform/canlib.h"
#include "tests/reliability/hostile_words.h"
#include "tests/support/bus_peer.h"

namespace {

constexpr const char* kProgram = "kolvar-hostile-sender";

int fail(const char* what, int status) { return bus_peer::fail(kProgram, what, status); }

// The layer's number of the channel called `wanted`, or a negative status.
int channelNamed(const std::string& wanted) {
    int count = 0;
    if (const int status = canGetNumberOfChannels(&count); status != canOK) return status;
    for (int channel = 0; channel < count; ++channel) {
        char name[64] = "";
        if (canGetChannelName(channel, name, sizeof name) == canOK && wanted == name) return channel;
    }
    return canERR_NOTFOUND;
}

struct OutFrame {
    int32_t id = 0;
    unsigned char bytes[8] = {};
    unsigned dlc = 0;
    unsigned flags = canMSG_STD;
};

void putWords(OutFrame& frame, uint32_t word1, uint32_t word2) {
    frame.bytes[0] = static_cast<unsigned char>(word1 & 0xFF);
    frame.bytes[1] = static_cast<unsigned char>(word1 >> 8);
    frame.bytes[2] = static_cast<unsigned char>(word2 & 0xFF);
    frame.bytes[3] = static_cast<unsigned char>(word2 >> 8);
}

uint32_t wordsOf(const OutFrame& frame) {
    const uint32_t word1 = frame.bytes[0] + 256u * frame.bytes[1];
    const uint32_t word2 = frame.bytes[2] + 256u * frame.bytes[3];
    return word1 << 16 | word2;
}

class FrameMaker {
public:
    explicit FrameMaker(uint32_t seed) : random_(seed) {}

    OutFrame next(bool& marked) {
        OutFrame frame;
        frame.dlc = pick(9);
        for (unsigned char& byte : frame.bytes) byte = static_cast<unsigned char>(pick(256));
        const unsigned kind = pick(100);
        if (kind < 10) {  // what the device sends: standard data, chosen identifier
            frame.id = kHostileChosenId;
            frame.dlc = 4 + pick(5);
            const uint32_t word1 = pick(65536);
            putWords(frame, word1, markedWord2(word1));
        } else if (kind < 15) {  // the chosen identifier, extended
            frame.id = kHostileChosenId;
            frame.flags = canMSG_EXT;
        } else if (kind < 20) {  // the chosen identifier, remote
            frame.id = kHostileChosenId;
            frame.flags = canMSG_STD | canMSG_RTR;
        } else {
            const bool extended = pick(2) == 0;
            frame.flags = extended ? canMSG_EXT : canMSG_STD;
            frame.id = static_cast<int32_t>(extended ? pick(0x20000000) : pick(0x800));
            if (pick(8) == 0) frame.flags |= canMSG_RTR;
        }
        const bool chosenData = frame.id == kHostileChosenId && frame.flags == canMSG_STD;
        if (chosenData && kind >= 10) {  // a random standard frame hit the identifier
            frame.dlc = 4 + pick(5);
            const uint32_t word1 = pick(65536);
            putWords(frame, word1, markedWord2(word1));
        } else if (!chosenData && carriesMark(wordsOf(frame))) {
            frame.bytes[2] ^= 0x01;  // off the mark
        }
        marked = chosenData;
        return frame;
    }

private:
    unsigned pick(unsigned bound) { return static_cast<unsigned>(random_() % bound); }
    std::mt19937 random_;
};

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: kolvar-hostile-sender NAME COUNT SEED\n");
        return 2;
    }
    const std::string name = argv[1];
    const long long count = std::atoll(argv[2]);
    const auto seed = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));

    int status = canInitializeLibrary();
    if (status != canOK) return fail("canInitializeLibrary", status);
    const int channel = channelNamed(name);
    if (channel < 0) {
        canUnloadLibrary();
        return fail("canOpenChannel", channel);
    }
    const int handle = bus_peer::goOnBus(kProgram, channel);
    if (handle < 0) return 2;
    std::printf("ready\n");
    std::fflush(stdout);

    // Paced, by default at 25,000 frames/s: three times what a 1 Mbit/s bus
    // carries. Unpaced bursts of a million frames overrun the virtual bus's
    // own transport, which loses frames before any receiver sees them.
    const char* rateText = std::getenv("KOLVAR_HOSTILE_RATE");
    const long long rate = rateText ? std::atoll(rateText) : 25000;
    constexpr long long kPaceBatch = 250;
    const auto started = std::chrono::steady_clock::now();

    const char* syncText = std::getenv("KOLVAR_HOSTILE_SYNC_EVERY");
    const long long syncEvery = syncText ? std::atoll(syncText) : 0;
    FrameMaker maker(seed);
    long long marked = 0;
    int result = 0;
    for (long long sent = 0; sent < count; ++sent) {
        bool isMarked = false;
        const OutFrame frame = maker.next(isMarked);
        status = bus_peer::writeFrame(handle, frame.id, frame.bytes, frame.dlc, frame.flags, 100);
        if (status != canOK) {
            result = fail("canWrite", status);
            break;
        }
        if (isMarked) ++marked;
        if (syncEvery > 0 && sent % syncEvery == syncEvery - 1) canWriteSync(handle, 10000);
        if (rate > 0 && sent % kPaceBatch == kPaceBatch - 1) {
            const auto due = started + std::chrono::microseconds((sent + 1) * 1000000 / rate);
            std::this_thread::sleep_until(due);
        }
    }
    if (result == 0 && (status = canWriteSync(handle, 10000)) != canOK)
        result = fail("canWriteSync", status);
    // Frames handed to the device still leave through its socket.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::printf("sent %lld marked %lld\n", count, marked);
    std::fflush(stdout);
    canClose(handle);
    canUnloadLibrary();
    return result;
}
