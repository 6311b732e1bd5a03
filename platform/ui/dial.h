// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the meter and the knob share: a dial inside the widget ("dialRect")
// with a digital display below it ("displayRect"), a scale that sweeps
// symmetrically about straight up, and a cached drawing of the static parts
// that is dropped when the size, palette or font changes.

#include <QPixmap>
#include <QPointF>
#include <QRect>
#include <QWidget>

// The point at `radius` from the centre, `degrees` clockwise from straight
// up (y grows downwards): onDial(10, 90) is (10, 0).
QPointF onDial(double radius, double degrees);

class UiDial : public QWidget {
public:
    UiDial(QWidget* parent, QRect dialRect, QRect displayRect, double halfSweepDegrees);

    QRect dialRect() const { return dialRect_; }
    QRect displayRect() const { return displayRect_; }

protected:
    // Reads "dialRect" and "displayRect" when given; returns what is wrong,
    // or an empty string.
    QString configureRects();
    // Degrees from straight up, clockwise: minimum lies at -halfSweep,
    // maximum at +halfSweep.
    double angleFor(double value, double minimum, double maximum) const;
    // The inverse for a point of the widget, limited to the sweep: the
    // fraction 0..1 of the way from minimum to maximum.
    double fractionAt(const QPointF& position) const;

    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

    QRect dialRect_;
    QRect displayRect_;
    QPixmap staticCache_;  // empty when it must be drawn again

private:
    double halfSweepDegrees_;
};
