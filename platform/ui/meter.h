// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Meter: a floating-point indicator drawn as a dial with a needle and a
// scale, with a digital display of the value below the dial. Definition
// properties: "minimum", "maximum", "value", "precision" (decimals shown),
// "dialRect" and "displayRect" (where the dial and the digital display lie
// inside the widget).

#include <QElapsedTimer>
#include <QPolygonF>
#include <QTransform>

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
    double minimum() const { return minimum_; }
    double maximum() const { return maximum_; }
    QSize sizeHint() const override { return {181, 125}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void greyedChanged() override { announceReading(); }

private:
    // Tells assistive technology the reading, at most 4 times a second: a
    // meter may change at screen rate. A change inside the quiet time is
    // told when it ends.
    void announceReading();

    void paintFace(QPainter& painter) const;
    void paintNeedle(QPainter& painter) const;
    // The dial's height in its drawing's units (kLogicalWidth wide), and
    // the needle's pivot in them, below the face: one geometry for the face,
    // the needle and the test of whether the needle moved.
    double logicalHeight() const;
    QPointF needlePivot() const;
    // Where the needle's tip lies for `value`, in device pixels of the widget.
    QPointF needleTip(double value) const;
    // The needle in its own units (pointing straight up from the pivot),
    // the transform that takes it to its place for `value` in the widget,
    // the clip that hides its root, and the pixels it covers there:
    // one geometry for the paint and for what a new value repaints.
    static QPolygonF needleOutline();
    QTransform needleTransform(double value) const;
    QRectF needleClip() const;
    QRect needleRect(double value) const;

    double value_ = 0;
    double minimum_ = -100;
    double maximum_ = 100;
    int precision_ = 2;
    // What the last paint showed: a new value that would draw the same
    // digits and move the needle's tip by less than a pixel is kept without
    // a repaint.
    QString paintedText_;
    QPointF paintedTip_{-1e9, -1e9};
    QRect paintedNeedle_;
    // The device pixel ratio the last paint used: asking the widget costs a
    // walk to its screen, at every value.
    qreal paintedRatio_ = 1.0;
    // displayText() for the value, precision and no-value state it was
    // formatted for: a value's text is asked when it is set and when it is
    // painted.
    mutable struct {
        double value = 0;
        int precision = -1;
        bool none = false;
        QString text;
    } formatted_;
    QElapsedTimer lastAnnounced_;
    bool announcePending_ = false;
};
