// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Calls other threads ask the main thread to run once (PostDeferredCall).
// They are queued under a mutex and the main thread is woken through an
// eventfd watched by a socket notifier, as for control values: the posting
// thread touches nothing of Qt's and never waits for the main thread.

// [main-thread] Creates the wake-up channel; called by InitCVIRTE once the
// application object exists. Returns false, with a message on standard
// error, when it cannot be created. Harmless when called again.
bool startDeferredCalls();
