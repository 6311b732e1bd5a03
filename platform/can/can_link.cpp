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

// Sends the request on `fd` and waits for the kernel's answer to it: the link
// message (handed to onLink, whose result is returned), or an error or
// acknowledgement (0 or a negative errno). Messages of other sequence
// numbers are answers to earlier requests on the same socket, and skipped.
// `socketFailed` tells a failure of the socket (a timeout included) from
// the kernel's answer.
int exchangeOn(int fd, uint32_t sequence, Request& request, const std::function<int(const nlmsghdr*)>& onLink,
               bool& socketFailed) {
    socketFailed = true;
    request.header()->nlmsg_seq = sequence;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    const size_t length = request.header()->nlmsg_len;
    if (::sendto(fd, request.header(), length, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) !=
        static_cast<ssize_t>(length))
        return -errno;
    socketFailed = false;
    alignas(nlmsghdr) char reply[kReplyBytes];
    for (;;) {
        ssize_t received = ::recv(fd, reply, sizeof reply, 0);
        if (received < 0 && errno == EINTR) continue;
        if (received < 0) {
            socketFailed = true;
            return -errno;
        }
        unsigned left = static_cast<unsigned>(received);
        for (auto* message = reinterpret_cast<const nlmsghdr*>(reply); NLMSG_OK(message, left);
             message = NLMSG_NEXT(message, left)) {
            if (message->nlmsg_seq != sequence) continue;
            if (message->nlmsg_type == NLMSG_ERROR) {
                if (message->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) return -EPROTO;
                return static_cast<const nlmsgerr*>(NLMSG_DATA(message))->error;
            }
            if (message->nlmsg_type == NLMSG_DONE) return -ENODEV;
            if (message->nlmsg_type == RTM_NEWLINK && onLink) return onLink(message);
        }
    }
}

// An rtnetlink socket whose answers wait at most kReplyTimeoutS; -errno when
// none can be made.
int openSocket() {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return -errno;
    const timeval timeout{kReplyTimeoutS, 0};
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
        const int error = errno;
        ::close(fd);
        return -error;
    }
    return fd;
}

// A change to a link, on a socket of its own: bringing a controller up can
// take a while, and nothing else waits for it.
int exchange(Request& request, const std::function<int(const nlmsghdr*)>& onLink) {
    const int fd = openSocket();
    if (fd < 0) return fd;
    bool socketFailed = false;
    const int result = exchangeOn(fd, 1, request, onLink, socketFailed);
    ::close(fd);
    return result;
}

// A question about a link, on the process's one socket for questions, opened
// at the first and kept: the status line asks several times a second, and a
// socket of its own each time cost a socket, a setsockopt and a close. The
// kernel answers a question without waiting for a device, so askers wait
// for each other only that long. After a failure of the socket (a timeout
// included: its answer may still come) it is closed, and the next question
// opens a fresh one.
int ask(Request& request, const std::function<int(const nlmsghdr*)>& onLink) {
    static std::mutex mutex;
    static int kept = -1;
    static uint32_t sequence = 0;
    std::lock_guard lock(mutex);
    if (kept < 0) {
        const int fd = openSocket();
        if (fd < 0) return fd;
        kept = fd;
    }
    bool socketFailed = false;
    const int result = exchangeOn(kept, ++sequence, request, onLink, socketFailed);
    if (socketFailed) {
        ::close(kept);
        kept = -1;
    }
    return result;
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
    return ask(request, [&](const nlmsghdr* message) { return readLinkMessage(message, out); });
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
