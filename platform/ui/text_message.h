// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Text message: static text; it has no numeric value.

#include <QLabel>

#include "platform/ui/control_widget.h"

class UiTextMessage : public QLabel, public ControlWidget {
    Q_OBJECT
public:
    explicit UiTextMessage(QWidget* parent = nullptr) : QLabel(parent) {}

    ControlKind kind() const override { return ControlKind::TextMessage; }
    QWidget* asWidget() override { return this; }
    bool hasNumericValue() const override { return false; }
    double numericValue() const override { return 0.0; }
    bool setNumericValue(double) override { return false; }
    // "fontPixelSize" and "bold" set the text's size and weight; with
    // "sizeToText" the message widens to fit its text.
    QString configureFromProperties() override;
};
