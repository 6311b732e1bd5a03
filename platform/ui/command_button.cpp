// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/command_button.h"

#include <QKeySequence>
#include <QVariant>

UiCommandButton::UiCommandButton(QWidget* parent) : QPushButton(parent) {
    // clicked comes from the mouse, the space key and the shortcut alike.
    connect(this, &QAbstractButton::clicked, this, [this](bool) { notifyCommit(); });
}

QString UiCommandButton::configureFromProperties() {
    const QVariant key = property("shortcutKey");
    if (!key.isValid()) return {};
    const QKeySequence sequence(key.toString(), QKeySequence::PortableText);
    if (sequence.isEmpty()) return QStringLiteral("shortcutKey '%1' is not a key sequence").arg(key.toString());
    setShortcut(sequence);
    return {};
}
