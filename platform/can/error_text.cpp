// SPDX-License-Identifier: GPL-3.0-or-later
// Texts of the layer's statuses (each at most 49 characters).
#include "platform/canlib.h"

#include <algorithm>
#include <cstring>

namespace {

const char* statusText(int status) {
    switch (status) {
    case canOK: return "No error";
    case canERR_PARAM: return "Invalid parameter";
    case canERR_NOMSG: return "No message available";
    case canERR_NOTFOUND: return "Channel not found";
    case canERR_INUSE: return "Channel already open";
    case canERR_NOTINITIALIZED: return "Library not initialised";
    case canERR_INVHANDLE: return "Invalid handle";
    case canERR_OFFBUS: return "Channel is off the bus";
    case canERR_DEVICE: return "Device failure";
    case canERR_TXFULL: return "Transmit queue full";
    default: return "Unknown error";
    }
}

}  // namespace

int canGetErrorText(int status, char* text, unsigned bufsiz) {
    if (text == nullptr || bufsiz == 0) return canERR_PARAM;
    const char* message = statusText(status);
    const size_t length = std::min<size_t>(std::strlen(message), bufsiz - 1);
    std::memcpy(text, message, length);
    text[length] = '\0';
    return canOK;
}
