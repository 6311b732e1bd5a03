// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Decoration: a recessed frame drawn behind other controls; no value.

#include <QWidget>

#include "platform/ui/control_widget.h"

class UiDecoration : public QWidget, public ControlWidget {
    Q_OBJECT
public:
    explicit UiDecoration(QWidget* parent = nullptr);

    ControlKind kind() const override { return ControlKind::Decoration; }
    QWidget* asWidget() override { return this; }
    bool hasNumericValue() const override { return false; }
    double numericValue() const override { return 0.0; }
    bool setNumericValue(double) override { return false; }

protected:
    void paintEvent(QPaintEvent* event) override;
};
