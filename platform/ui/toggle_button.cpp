// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/toggle_button.h"

#include <QVariant>

UiToggleButton::UiToggleButton(QWidget* parent) : QPushButton(parent) {
    setCheckable(true);
    connect(this, &QAbstractButton::toggled, this, [this](bool) { showCaption(); });
    // clicked comes only from the user (mouse or space key), never from setChecked.
    connect(this, &QAbstractButton::clicked, this, [this](bool) { notifyCommit(); });
}

bool UiToggleButton::setNumericValue(double value) {
    setChecked(value != 0.0);
    return true;
}

QString UiToggleButton::configureFromProperties() {
    const QVariant off = property("offText");
    const QVariant on = property("onText");
    if (!off.isValid() || !on.isValid()) return QStringLiteral("toggle button needs offText and onText");
    offText_ = off.toString();
    onText_ = on.toString();
    showCaption();
    return {};
}

void UiToggleButton::showCaption() { setText(isChecked() ? onText_ : offText_); }
