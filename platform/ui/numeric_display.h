// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Numeric display: an indicator field that shows an unsigned integer in
// decimal or hexadecimal (65535 -> "FFFF"). Definition properties: "format"
// ("decimal" or "hex"), "minimum", "maximum", "value".

#include <QWidget>

#include "platform/ui/control_widget.h"

class UiNumeric : public QWidget, public ControlWidget {
    Q_OBJECT
public:
    explicit UiNumeric(QWidget* parent = nullptr);

    ControlKind kind() const override { return ControlKind::Numeric; }
    QWidget* asWidget() override { return this; }
    double numericValue() const override { return value_; }
    bool setNumericValue(double value) override;
    QString configureFromProperties() override;

    // The text the display shows, e.g. "FFFF".
    QString displayText() const;
    QSize sizeHint() const override { return {52, 21}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double value_ = 0;
    double minimum_ = 0;
    double maximum_ = 65535;
    bool hex_ = false;
};
