// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/window_icon.h"

#include <QApplication>
#include <QIcon>

void setViewerWindowIcon() {
    QIcon icon = QIcon::fromTheme(QStringLiteral("kolvar-can-viewer"));
    // The SVG draws only where Qt's SVG plugins are installed; without them
    // the window keeps the window manager's default icon.
    if (icon.isNull()) icon = QIcon(QStringLiteral(":/kolvar-can-viewer.svg"));
    if (!icon.pixmap(32, 32).isNull()) QApplication::setWindowIcon(icon);
}
