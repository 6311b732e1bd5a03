// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Command button: a push button that reports a commit each time the user
// presses it ("text" is its caption). An optional "shortcutKey" in the
// definition (a key sequence such as "Ctrl+T") presses it from the keyboard
// while its panel is the active window. It holds no value.

#include <QPushButton>

#include "platform/ui/control_widget.h"

class UiCommandButton : public QPushButton, public ControlWidget {
    Q_OBJECT
public:
    explicit UiCommandButton(QWidget* parent = nullptr);

    ControlKind kind() const override { return ControlKind::CommandButton; }
    QWidget* asWidget() override { return this; }
    bool hasNumericValue() const override { return false; }
    double numericValue() const override { return 0.0; }
    bool setNumericValue(double) override { return false; }
    QString configureFromProperties() override;
};
