// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/status/bus_status.h"

#include <cstdio>

#include "can/lost_frames.h"
#include "platform/canlib.h"

namespace {

template <typename... Args>
std::string format(const char* pattern, Args... args) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, args...);
    return text;
}

// The layer names the virtual bus's channels "virtual N"; the line says
// "virtual bus N" so that it reads as a bus, not an adjective.
std::string shownName(const std::string& channelName) {
    const std::string prefix = "virtual ";
    if (channelName.compare(0, prefix.size(), prefix) == 0)
        return "virtual bus " + channelName.substr(prefix.size());
    return channelName;
}

const char* stateText(int busState) {
    switch (busState) {
    case canBUSSTATE_ERROR_ACTIVE: return "error active";
    case canBUSSTATE_ERROR_WARNING: return "error warning";
    case canBUSSTATE_ERROR_PASSIVE: return "error passive";
    case canBUSSTATE_BUS_OFF: return "bus off";
    case canBUSSTATE_DOWN: return "interface down";
    case canBUSSTATE_GONE: return "interface deleted";
    case canBUSSTATE_UNREACHABLE: return "unreachable";
    case canBUSSTATE_CONNECTING: return "connecting";
    default: return "unknown state";
    }
}

// Why no value can be live whatever the worker took, or empty.
std::string busReason(const BusStatusInputs& in, const std::string& name) {
    if (!in.statusKnown) return "the CAN layer gives no status for " + name;
    switch (in.busState) {
    case canBUSSTATE_BUS_OFF: return "bus off";
    case canBUSSTATE_DOWN: return name + " is down";
    case canBUSSTATE_GONE: return name + " no longer exists";
    case canBUSSTATE_UNREACHABLE: return name + " cannot be reached";
    case canBUSSTATE_CONNECTING: return "connecting to " + name;
    default: return {};
    }
}

bool rateDenied(const BusStatusInputs& in) {
    return (in.setupDenied & canSETUP_BITRATE_DENIED) && in.bitRate != in.chosenBitRate;
}

std::string rateLine(const BusStatusInputs& in, const std::string& name) {
    if (in.bitRate <= 0) return name + " · bit rate —";
    if (in.bitRate == in.chosenBitRate) return name + " · " + bitRateText(in.bitRate);
    // A SocketCAN controller's rate is set only by a privileged process, or
    // the controller may not run at the chosen one.
    return name + " · " + bitRateText(in.bitRate) + " (chosen " + bitRateText(in.chosenBitRate) +
           (rateDenied(in) ? " not applied: only root may set it)" : " not applied)");
}

// The commands a privileged user runs for what switching on was not
// permitted to do, while it still shows; empty otherwise.
std::string rootAdvice(const BusStatusInputs& in) {
    const std::string link = "ip link set " + in.channelName;
    if (rateDenied(in))
        return "to run at " + bitRateText(in.chosenBitRate) + ", as root: " + link + " down; " + link +
               format(" type can bitrate %ld; ", in.chosenBitRate) + link + " up";
    if ((in.setupDenied & canSETUP_RESTART_DENIED) && in.busState == canBUSSTATE_BUS_OFF)
        return "to restart the controller, as root: " + link + " down; " + link + " up";
    return {};
}

// "4.2 s" below kAgeInTenthsBelowMs, "42 s" from there on.
std::string ageText(int64_t ageMs) {
    if (ageMs < kAgeInTenthsBelowMs) return format("%.1f s", ageMs / 1000.0);
    return format("%lld s", static_cast<long long>(ageMs / 1000));
}

}  // namespace

std::string bitRateText(long bitsPerSecond) {
    if (bitsPerSecond >= 1000000 && bitsPerSecond % 1000000 == 0)
        return format("%ld Mbit/s", bitsPerSecond / 1000000);
    if (bitsPerSecond % 1000 == 0) return format("%ld kbit/s", bitsPerSecond / 1000);
    return format("%.1f kbit/s", bitsPerSecond / 1000.0);
}

BusStatusView describeBusStatus(const BusStatusInputs& in) {
    const std::string name = shownName(in.channelName);
    BusStatusView view;
    view.noValue = in.everOn && !in.frameEverShown;
    if (in.vectorChosen) {
        view.text = in.buttonOn ? "Vector: ON BUS opens no channel in this build; choose Kvaser to connect"
                                : "Off bus · Vector: the bus button opens no channel in this build";
        return view;
    }
    if (!in.on) {
        view.text = in.channelName.empty()
                        ? "Off bus"
                        : "Off bus · next: " + name + " at " + bitRateText(in.chosenBitRate);
        return view;
    }
    const std::string id = format("0x%03X", static_cast<unsigned>(in.chosenId));
    const bool ofChosenId = in.last.any && in.last.id == in.chosenId;
    const int64_t ageMs = ofChosenId ? in.nowMs - in.last.atMs : 0;

    std::string reason = busReason(in, name);
    if (reason.empty()) {
        if (!ofChosenId) reason = "no frame of " + id + " yet";
        else if (ageMs > kStaleAfterMs) reason = "no frame of " + id + " for " + ageText(ageMs);
    }
    if (reason.empty()) {
        view.channel1Stale = channelWords(in.last.dlc) < 1;
        view.channel2Stale = channelWords(in.last.dlc) < 2;
        if (view.channel1Stale) reason = format("%s carries %u data bytes: no channel word", id.c_str(), in.last.dlc);
        else if (view.channel2Stale) reason = format("%s carries %u data bytes: no channel-2 word", id.c_str(), in.last.dlc);
        else reason = "live";
    }

    view.text = rateLine(in, name);
    if (!in.nextChannelName.empty()) view.text += " · next: " + shownName(in.nextChannelName);
    view.text += "\n";
    view.text += in.statusKnown ? stateText(in.busState) : "unknown state";
    view.text += format(" · bus %.0f frames/s · %s %.0f frames/s\n", in.busFramesPerSecond, id.c_str(),
                        in.idFramesPerSecond);
    view.text += format("error frames %llu · ", static_cast<unsigned long long>(in.errorFrames));
    if (in.lostFrames > 0) view.text += "lost " + groupedCount(in.lostFrames) + " · ";
    if (in.sendErrors > 0) view.text += "send errors " + groupedCount(in.sendErrors) + " · ";
    if (in.shortReads > 0) view.text += "short reads " + groupedCount(in.shortReads) + " · ";
    view.text += "last " + id + " ";
    view.text += ofChosenId ? ageText(ageMs) + " ago" : std::string("none yet");
    view.text += "\n" + reason;
    if (in.statusKnown) {
        if (const std::string advice = rootAdvice(in); !advice.empty()) view.text += "\n" + advice;
    }
    return view;
}
