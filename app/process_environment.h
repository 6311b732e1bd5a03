// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Environment the process entry settles before any thread exists.

namespace app {
// Names the zone file in TZ when it is unset: with TZ unset, glibc checks
// /etc/localtime on every local-time conversion (two stat() calls each),
// which costs a thread that converts per frame a fifth of its time. Nothing
// on the receive path converts times now; this keeps it so for whatever
// library does. Call it first thing in the process entry: setenv is not
// thread-safe.
void prepareProcessEnvironment();
}  // namespace app
