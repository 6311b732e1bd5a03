#pragma once
// What the layer can tell about the health of a channel's bus beyond its
// frames: the bus state that error frames report, and for a SocketCAN
// interface what the kernel says about it (up or down, present or deleted,
// controller state and bit timing). Plain C++, no Qt.

#include <cstdint>
#include <string>

namespace kolvar::can {

// [any-thread] The bus state (a canBUSSTATE_ code) after an error frame with
// error class `errorClass` (the class bits of its identifier) and controller
// detail `controller` (its data byte 1), starting from `current`. Bus off
// wins; a restart or a recovery report returns to error active; controller
// reports of passive or warning level set that level.
// Example: (active, 0x04 controller, 0x10 rx passive) -> error passive.
int busStateAfterErrorFrame(int current, uint32_t errorClass, uint8_t controller);

struct InterfaceHealth {
    int busState;  // canBUSSTATE_ code
    long bitRate;  // bits per second; 0 where the kernel reports no bit timing (vcan)
};

// [any-thread] Asks the kernel about SocketCAN interface `name`: deleted ->
// canBUSSTATE_GONE, administratively down -> canBUSSTATE_DOWN, else the
// controller's state where the kernel reports one, and `errorFrameState`
// where it does not (vcan has no controller). A few system calls, no waiting.
InterfaceHealth socketCanHealth(const std::string& name, int errorFrameState);

}  // namespace kolvar::can
