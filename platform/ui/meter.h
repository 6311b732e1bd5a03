// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Meter: a floating-point indicator drawn as a dial with a needle and a
// scale, with a digital display of the value below the dial. Definition
// properties: "minimum", "maximum", "value", "precision" (decimals shown),
// "dialRect" and "displayRect" (where the dial and the digital display lie
// inside the widget).

#include "platform/ui/control_widget.h"
#include "platform/ui/dial.h"

class UiMeter : public UiDial, public ControlWidget {
    Q_OBJECT
public:
    explicit UiMeter(QWidget* parent = nullptr);

    ControlKind kind() const override { return ControlKind::Meter; }
    QWidget* asWidget() override { return this; }
    double numericValue() const override { return value_; }
    bool setNumericValue(double value) override;
    QString configureFromProperties() override;

    // The digital display's text, e.g. "-100.00".
    QString displayText() const;
    QSize sizeHint() const override { return {181, 125}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintFace(QPainter& painter) const;
    void paintNeedle(QPainter& painter) const;

    double value_ = 0;
    double minimum_ = -100;
    double maximum_ = 100;
    int precision_ = 2;
};
