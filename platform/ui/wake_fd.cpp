// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/wake_fd.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <string>

#include <sys/eventfd.h>

#include "platform/ui/runtime.h"

int watchedWakeFd(QObject* owner, const char* what, std::function<void()> onWake) {
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        ui_runtime::reportError((std::string("cannot create ") + what + ": " + std::strerror(errno)).c_str());
        return -1;
    }
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, std::move(onWake));
    return fd;
}
