// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Knob: an integer control drawn as a rotary knob on a scale, with a small
// digital display of its value below the dial. The user turns it by dragging
// or clicking with the mouse, with the wheel or with the arrow keys; each
// finished change is committed (mouse release, wheel step, key step). The
// value never leaves minimum..maximum. Definition properties: "minimum",
// "maximum", "value", "format" ("hex" or "decimal", for the scale and the
// display), "dialRect", "displayRect".

#include "platform/ui/control_widget.h"
#include "platform/ui/dial.h"

class UiKnob : public UiDial, public ControlWidget {
    Q_OBJECT
public:
    explicit UiKnob(QWidget* parent = nullptr);

    ControlKind kind() const override { return ControlKind::Knob; }
    QWidget* asWidget() override { return this; }
    double numericValue() const override { return value_; }
    bool setNumericValue(double value) override;
    QString configureFromProperties() override;

    QString displayText() const { return textFor(value_); }
    QSize sizeHint() const override { return {84, 110}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString textFor(int value) const;
    int valueAt(const QPointF& position) const;
    // Whether a press at `position` lands on the dial (a little beyond the
    // drawn circle), not on the digital display or the scale's corners.
    bool onDialFace(const QPointF& position) const;
    // Sets the value from a user action; commits when it changed.
    void stepBy(int steps);
    void paintScale(QPainter& painter) const;
    void paintKnob(QPainter& painter) const;

    int value_ = 0;
    int minimum_ = 0;
    int maximum_ = 15;
    bool hex_ = true;
    bool dragging_ = false;
    int valueAtPress_ = 0;
};
