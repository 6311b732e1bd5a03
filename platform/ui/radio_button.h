// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Radio button: a small round two-state button with its caption to the right.
// Not exclusive: each one keeps its state when another is switched.

#include <QRadioButton>

#include "platform/ui/control_widget.h"

class UiRadioButton : public QRadioButton, public ControlWidget {
    Q_OBJECT
public:
    explicit UiRadioButton(QWidget* parent = nullptr);

    ControlKind kind() const override { return ControlKind::RadioButton; }
    QWidget* asWidget() override { return this; }
    double numericValue() const override { return isChecked() ? 1.0 : 0.0; }
    bool setNumericValue(double value) override;
    QString configureFromProperties() override;
};
