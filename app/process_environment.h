#pragma once
// Environment the process entry settles before any thread exists.

namespace app {
// The virtual bus stamps every received frame with the local time. With TZ
// unset, glibc checks /etc/localtime on each of those calls (two stat() calls
// per frame, a fifth of the CAN thread's time at full load). Naming the zone
// file once removes that; the viewer shows no times. Call it first thing in
// the process entry: setenv is not thread-safe.
void prepareProcessEnvironment();
}  // namespace app
