// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/radio_button.h"

UiRadioButton::UiRadioButton(QWidget* parent) : QRadioButton(parent) {
    setAutoExclusive(false);
    connect(this, &QAbstractButton::clicked, this, [this](bool) { notifyCommit(); });
}

bool UiRadioButton::setNumericValue(double value) {
    setChecked(value != 0.0);
    return true;
}

QString UiRadioButton::configureFromProperties() {
    // The definition may have set autoExclusive; these buttons stand for
    // independent bits, so it is forced off again.
    setAutoExclusive(false);
    return {};
}
