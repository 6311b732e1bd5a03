// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The virtual bus's line protocol, as Qt's "virtualcan" plugin speaks it, so
// that programs built on that plugin share a bus with ours. Plain C++, no Qt:
// every byte from a socket goes through here first.
//
// Client to host, one command a line ('\n'; a '\r' before it is ignored):
//   connect:can0           subscribe to interface can0 (can0..can9999)
//   disconnect:can0        unsubscribe
//   can0:<frame>           send <frame> to every other client on can0
//   options:lostcount      (our clients only) frames the host cannot deliver
//                          in time are skipped and counted instead of the
//                          connection being closed; Qt's host ignores it
//   options:stamps         (ours only) frames carry the moment they were
//                          written, see below
// Host to client: <frame>, one a line; to a client that asked for the count,
// also "lost:<N>" (N in decimal) before the first frame after N skipped ones.
// <frame> = <identifier in decimal>#<flags>#<payload in hex>, flags a subset
// of "X" (29-bit identifier) and "R" (remote frame; its payload is dlc zero
// bytes). Examples: "512##0080008000000000", "305419896#X#", "2047#R#0000".
//
// Stamps: frames go out in batches of up to a send window, so a receiver
// that stamped them when it read them would put a window's frames at one
// moment. A host of ours answers "options:stamps" with the same line and
// from then on sends that client every frame as "<frame>@<T>", T the moment
// the frame was written to the bus in microseconds of the steady clock
// (CLOCK_MONOTONIC, one clock for all processes of the machine); a client
// that got the answer may stamp what it sends likewise. Qt's host answers
// nothing, and nothing is stamped. A stamp later than the moment it is read,
// or older than kMaxStampAgeUs, is replaced by that moment.
//
// Strict: a line longer than kMaxLineLength, an unknown command, a bad
// identifier, bad or odd-length hex, more than 8 data bytes, any other flag
// (the FD flags "F", "B", "E" included) or a stamp that is not a positive
// decimal is rejected with its reason.

#include "platform/can/can_frame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kolvar::can::vbus {

// "can9999:536870911#XR#", 16 hex digits and a stamp of 19 digits.
constexpr size_t kMaxLineLength = 64;
constexpr int kMaxInterface = 9999;
constexpr std::string_view kStampsOption = "options:stamps";
// A frame may wait at a host while a slow client reads (kMaxBacklogBytes,
// some seconds of a full stream); older stamps are not believed.
constexpr int64_t kMaxStampAgeUs = 10'000'000;

enum class Reject : uint8_t {
    None,
    TooLong,
    UnknownCommand,
    BadInterface,
    BadIdentifier,
    BadHex,
    PayloadTooLong,
    UnknownFlag,
    BadStamp,
};
constexpr size_t kRejectKinds = 9;

// Text for a reason, for logs and reports ("too long", "bad hex", ...).
const char* rejectText(Reject reason);

// Parses "<id>#<flags>#<hex>" into frame (id, flags as canMSG_*, dlc, data),
// and "<id>#<flags>#<hex>@<T>" with T in frame.arrivalUs (0 without a stamp).
Reject parseFrame(std::string_view text, Frame& frame);
// Appends "@<T>", the frame's stamp (frame.arrivalUs).
void appendStamp(std::string& out, const Frame& frame);
// The moment to believe for a frame read at nowUs that carried `stamp` (0
// for none): the stamp, unless it is none, later than nowUs or older than
// kMaxStampAgeUs; then nowUs.
int64_t believedStamp(int64_t stamp, int64_t nowUs);
// Appends the frame as "<id>#<flags>#<hex>" (no line end); allocates only
// when out has no room for kMaxLineLength more bytes.
void appendFrame(std::string& out, const Frame& frame);
// The frame as appendFrame writes it, in a string of its own.
std::string formatFrame(const Frame& frame);

// A line from the host "lost:<N>": true, with N in count. "lost:12" -> 12.
bool parseLost(std::string_view line, uint64_t& count);
// Appends "lost:<N>\n".
void appendLost(std::string& out, uint64_t count);

struct Command {
    enum class Kind : uint8_t { Connect, Disconnect, Send, CountLost, Stamps } kind = Kind::Send;
    int interface = 0;  // the N of canN
    Frame frame;        // Send only
};
// Parses one line sent by a client (without its '\n').
Reject parseCommand(std::string_view line, Command& command);

// Cuts a byte stream into lines with bounded memory: a line longer than
// kMaxLineLength is reported once as TooLong and its remaining bytes are
// skipped up to the next '\n'. A line that arrives whole in one feed is
// handed on where it lies; only a line split across feeds is copied.
class LineSplitter {
public:
    // Feeds bytes; calls onLine(std::string_view line) for each complete
    // line (without '\n' or a trailing '\r') and onTooLong() for each line
    // cut off.
    template <typename OnLine, typename OnTooLong>
    void feed(const char* data, size_t size, OnLine&& onLine, OnTooLong&& onTooLong) {
        const char* const end = data + size;
        while (data < end) {
            const auto* newline = static_cast<const char*>(std::memchr(data, '\n', static_cast<size_t>(end - data)));
            const char* const stop = newline ? newline : end;
            const size_t piece = static_cast<size_t>(stop - data);
            if (!skipping_) {
                if (length_ + piece > buffer_.size()) {
                    skipping_ = true;
                    length_ = 0;
                    onTooLong();
                } else if (newline && length_ == 0) {
                    deliver(data, piece, onLine);
                } else {
                    std::memcpy(buffer_.data() + length_, data, piece);
                    length_ += piece;
                    if (newline) deliver(buffer_.data(), length_, onLine);
                }
            }
            if (!newline) return;
            length_ = 0;
            skipping_ = false;
            data = newline + 1;
        }
    }
    // Bytes of an unfinished line held now (0 while skipping one).
    size_t pending() const { return length_; }

private:
    template <typename OnLine>
    static void deliver(const char* line, size_t length, OnLine& onLine) {
        if (length > 0 && line[length - 1] == '\r') --length;
        onLine(std::string_view(line, length));
    }

    std::array<char, kMaxLineLength + 1> buffer_{};  // + 1 for a '\r'
    size_t length_ = 0;
    bool skipping_ = false;
};

}  // namespace kolvar::can::vbus
