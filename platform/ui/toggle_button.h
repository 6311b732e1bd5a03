// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Toggle button: a rectangular two-state button (0 off, 1 on) whose face shows
// the off or the on caption ("offText", "onText" in the definition).

#include <QPushButton>

#include "platform/ui/control_widget.h"

class UiToggleButton : public QPushButton, public ControlWidget {
    Q_OBJECT
public:
    explicit UiToggleButton(QWidget* parent = nullptr);

    ControlKind kind() const override { return ControlKind::ToggleButton; }
    QWidget* asWidget() override { return this; }
    double numericValue() const override { return isChecked() ? 1.0 : 0.0; }
    bool setNumericValue(double value) override;
    QString configureFromProperties() override;

private:
    void showCaption();

    QString offText_ = QStringLiteral("OFF");
    QString onText_ = QStringLiteral("ON");
};
