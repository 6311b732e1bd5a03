// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/can/can_link.h"

#include <linux/can/netlink.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>

namespace kolvar::can {

namespace {

constexpr size_t kReplyBytes = 16384;  // one link's description fits many times
constexpr time_t kReplyTimeoutS = 5;   // a controller's start waits for its adapter

// One rtnetlink request about one interface: a header, the interface message
// and its attributes, nested ones included.
class Request {
public:
    Request(uint16_t type, uint16_t flags, const ifinfomsg& info) {
        header()->nlmsg_len = NLMSG_LENGTH(sizeof info);
        header()->nlmsg_type = type;
        header()->nlmsg_flags = NLM_F_REQUEST | flags;
        std::memcpy(NLMSG_DATA(header()), &info, sizeof info);
    }
    // Appends an attribute; false when it does not fit.
    bool add(uint16_t type, const void* data, size_t size) {
        const size_t at = NLMSG_ALIGN(header()->nlmsg_len);
        if (at + RTA_SPACE(size) > sizeof buffer_) return false;
        auto* attribute = reinterpret_cast<rtattr*>(buffer_ + at);
        attribute->rta_type = type;
        attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
        if (size > 0) std::memcpy(RTA_DATA(attribute), data, size);
        header()->nlmsg_len = static_cast<uint32_t>(at + RTA_SPACE(size));
        return true;
    }
    // A nested attribute: open it, add its members, close it.
    size_t open(uint16_t type) {
        const size_t at = NLMSG_ALIGN(header()->nlmsg_len);
        return add(type, nullptr, 0) ? at : 0;
    }
    void close(size_t at) {
        reinterpret_cast<rtattr*>(buffer_ + at)->rta_len =
            static_cast<unsigned short>(header()->nlmsg_len - at);
    }
    nlmsghdr* header() { return reinterpret_cast<nlmsghdr*>(buffer_); }

private:
    alignas(nlmsghdr) char buffer_[512] = {};
};

// The process's one rtnetlink socket, opened at the first request and kept:
// the status line asks for its link several times a second, and a socket of
// its own for each request cost three more system calls every time. One
// request at a time; each carries a sequence number of its own, so a late
// answer to a request that timed out is told apart and skipped.
struct KeptSocket {
    std::mutex mutex;
    int fd = -1;
    uint32_t sequence = 0;
};

KeptSocket& keptSocket() {
    static KeptSocket kept;
    return kept;
}

// [with the kept socket's mutex] Opens the socket when none is open.
int openKeptSocket(KeptSocket& kept) {
    if (kept.fd >= 0) return 0;
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return -errno;
    const timeval timeout{kReplyTimeoutS, 0};
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
        const int error = errno;
        ::close(fd);
        return -error;
    }
    kept.fd = fd;
    return 0;
}

// [with the kept socket's mutex] Closes it after a failure, so the next
// request starts on a fresh one with nothing left unread.
void closeKeptSocket(KeptSocket& kept) {
    ::close(kept.fd);
    kept.fd = -1;
}

// Sends the request and waits for the kernel's answer: the link message
// (handed to onLink, whose result is returned), or an error or acknowledgement
// (0 or a negative errno).
int exchange(Request& request, const std::function<int(const nlmsghdr*)>& onLink) {
    KeptSocket& kept = keptSocket();
    std::lock_guard lock(kept.mutex);
    if (const int error = openKeptSocket(kept); error != 0) return error;
    const uint32_t sequence = ++kept.sequence;
    request.header()->nlmsg_seq = sequence;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    const size_t length = request.header()->nlmsg_len;
    if (::sendto(kept.fd, request.header(), length, 0, reinterpret_cast<const sockaddr*>(&kernel),
                 sizeof kernel) != static_cast<ssize_t>(length)) {
        const int error = errno;
        closeKeptSocket(kept);
        return -error;
    }
    alignas(nlmsghdr) char reply[kReplyBytes];
    for (;;) {
        ssize_t received = ::recv(kept.fd, reply, sizeof reply, 0);
        if (received < 0 && errno == EINTR) continue;
        if (received < 0) {
            const int error = errno;  // a timeout too: its answer may still come
            closeKeptSocket(kept);
            return -error;
        }
        unsigned left = static_cast<unsigned>(received);
        for (auto* message = reinterpret_cast<const nlmsghdr*>(reply); NLMSG_OK(message, left);
             message = NLMSG_NEXT(message, left)) {
            if (message->nlmsg_seq != sequence) continue;  // an earlier request's
            if (message->nlmsg_type == NLMSG_ERROR) {
                if (message->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) return -EPROTO;
                return static_cast<const nlmsgerr*>(NLMSG_DATA(message))->error;
            }
            if (message->nlmsg_type == NLMSG_DONE) return -ENODEV;
            if (message->nlmsg_type == RTM_NEWLINK && onLink) return onLink(message);
        }
    }
}

// The controller's part of a link's description (IFLA_INFO_DATA of kind "can").
void readControllerData(const rtattr* data, CanLink& out) {
    unsigned left = RTA_PAYLOAD(data);
    for (auto* a = static_cast<const rtattr*>(RTA_DATA(data)); RTA_OK(a, left); a = RTA_NEXT(a, left)) {
        if (a->rta_type == IFLA_CAN_BITTIMING && RTA_PAYLOAD(a) >= sizeof(can_bittiming)) {
            can_bittiming timing{};
            std::memcpy(&timing, RTA_DATA(a), sizeof timing);
            out.bitRate = static_cast<long>(timing.bitrate);
        } else if (a->rta_type == IFLA_CAN_STATE && RTA_PAYLOAD(a) >= sizeof(uint32_t)) {
            uint32_t state = 0;
            std::memcpy(&state, RTA_DATA(a), sizeof state);
            out.state = static_cast<int>(state);
            out.hasState = true;
        }
    }
}

int readLinkMessage(const nlmsghdr* message, CanLink& out) {
    if (message->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) return -EPROTO;
    const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(message));
    out.up = (info->ifi_flags & IFF_UP) != 0;
    const rtattr* controllerData = nullptr;
    unsigned left = IFLA_PAYLOAD(message);
    for (const rtattr* a = IFLA_RTA(info); RTA_OK(a, left); a = RTA_NEXT(a, left)) {
        if (a->rta_type != IFLA_LINKINFO) continue;
        unsigned innerLeft = RTA_PAYLOAD(a);
        for (auto* b = static_cast<const rtattr*>(RTA_DATA(a)); RTA_OK(b, innerLeft); b = RTA_NEXT(b, innerLeft)) {
            if (b->rta_type == IFLA_INFO_KIND)
                out.kind.assign(static_cast<const char*>(RTA_DATA(b)),
                                strnlen(static_cast<const char*>(RTA_DATA(b)), RTA_PAYLOAD(b)));
            else if (b->rta_type == IFLA_INFO_DATA)
                controllerData = b;
        }
    }
    // Only a controller's data carries bit timing and state in this layout.
    if (controllerData && out.kind == "can") readControllerData(controllerData, out);
    return 0;
}

int interfaceIndex(const std::string& name) {
    const unsigned index = ::if_nametoindex(name.c_str());
    return index == 0 ? -ENODEV : static_cast<int>(index);
}

}  // namespace

int readCanLink(const std::string& name, CanLink& out) {
    out = CanLink{};
    if (name.empty() || name.size() >= IFNAMSIZ) return -ENODEV;
    ifinfomsg info{};
    info.ifi_family = AF_UNSPEC;
    Request request(RTM_GETLINK, 0, info);
    if (!request.add(IFLA_IFNAME, name.c_str(), name.size() + 1)) return -ENODEV;
    return exchange(request, [&](const nlmsghdr* message) { return readLinkMessage(message, out); });
}

int setCanLinkUp(const std::string& name, bool up) {
    const int index = interfaceIndex(name);
    if (index < 0) return index;
    ifinfomsg info{};
    info.ifi_family = AF_UNSPEC;
    info.ifi_index = index;
    info.ifi_flags = up ? IFF_UP : 0;
    info.ifi_change = IFF_UP;
    Request request(RTM_NEWLINK, NLM_F_ACK, info);
    return exchange(request, nullptr);
}

int setCanLinkBitRate(const std::string& name, long bitsPerSecond) {
    if (bitsPerSecond <= 0 || bitsPerSecond > UINT32_MAX) return -EINVAL;
    const int index = interfaceIndex(name);
    if (index < 0) return index;
    ifinfomsg info{};
    info.ifi_family = AF_UNSPEC;
    info.ifi_index = index;
    Request request(RTM_NEWLINK, NLM_F_ACK, info);
    can_bittiming timing{};
    timing.bitrate = static_cast<uint32_t>(bitsPerSecond);
    const size_t linkInfo = request.open(IFLA_LINKINFO);
    if (linkInfo == 0 || !request.add(IFLA_INFO_KIND, "can", 4)) return -EMSGSIZE;
    const size_t data = request.open(IFLA_INFO_DATA);
    if (data == 0 || !request.add(IFLA_CAN_BITTIMING, &timing, sizeof timing)) return -EMSGSIZE;
    request.close(data);
    request.close(linkInfo);
    return exchange(request, nullptr);
}

}  // namespace kolvar::can
