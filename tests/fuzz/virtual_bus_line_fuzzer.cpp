// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: every byte a virtual bus peer can send. The input is cut
// into chunks of varying size (as TCP delivers it), split into lines and
// parsed as a client's command and as a host's frame line. Whatever is
// accepted must be a frame the layer can carry, and must survive being
// written out and read back unchanged; a line held by the splitter never
// exceeds its bound.
#include <cstdint>
#include <cstring>

#include "platform/can/virtual_bus_protocol.h"
#include "platform/canlib.h"

using namespace kolvar::can;

namespace {

void check(bool holds) {
    if (!holds) __builtin_trap();  // libFuzzer reports the input that got here
}

void checkCarried(const Frame& frame) {
    const bool extended = (frame.flags & canMSG_EXT) != 0;
    check(extended != ((frame.flags & canMSG_STD) != 0));
    check((frame.flags & ~(canMSG_EXT | canMSG_STD | canMSG_RTR)) == 0);
    check(frame.id >= 0 && frame.id <= (extended ? 0x1FFFFFFF : 0x7FF));
    check(frame.dlc <= 8);
    Frame again;
    check(vbus::parseFrame(vbus::formatFrame(frame), again) == vbus::Reject::None);
    check(again.id == frame.id && again.flags == frame.flags && again.dlc == frame.dlc);
    if (!(frame.flags & canMSG_RTR)) check(std::memcmp(again.data, frame.data, frame.dlc) == 0);
}

void checkLine(std::string_view line) {
    check(line.size() <= vbus::kMaxLineLength + 1);
    vbus::Command command;
    if (vbus::parseCommand(line, command) == vbus::Reject::None) {
        check(command.interface >= 0 && command.interface <= vbus::kMaxInterface);
        if (command.kind == vbus::Command::Kind::Send) checkCarried(command.frame);
    }
    Frame frame;
    if (vbus::parseFrame(line, frame) == vbus::Reject::None) checkCarried(frame);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte sets the chunk size, so lines also arrive in pieces.
    const size_t chunk = 1 + data[0] % 23;
    const char* text = reinterpret_cast<const char*>(data + 1);
    size_t left = size - 1;
    vbus::LineSplitter lines;
    while (left > 0) {
        const size_t now = left < chunk ? left : chunk;
        lines.feed(text, now, checkLine, [] {});
        check(lines.pending() <= vbus::kMaxLineLength + 1);
        text += now;
        left -= now;
    }
    return 0;
}
