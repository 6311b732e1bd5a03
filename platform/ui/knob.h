#pragma once
// Knob: an integer control drawn as a rotary knob on a scale, with a small
// digital display of its value below the dial. The user turns it by dragging
// or clicking with the mouse, with the wheel or with the arrow keys; each
// finished change is committed (mouse release, wheel step, key step). The
// value never leaves minimum..maximum. Definition properties: "minimum",
// "maximum", "value", "format" ("hex" or "decimal", for the scale and the
// display), "dialRect", "displayRect".

#include <QPixmap>
#include <QRect>
#include <QWidget>

#include "platform/ui/control_widget.h"

class UiKnob : public QWidget, public ControlWidget {
    Q_OBJECT
public:
    explicit UiKnob(QWidget* parent = nullptr);

    ControlKind kind() const override { return ControlKind::Knob; }
    QWidget* asWidget() override { return this; }
    double numericValue() const override { return value_; }
    bool setNumericValue(double value) override;
    QString configureFromProperties() override;

    QString displayText() const { return textFor(value_); }
    QRect dialRect() const { return dialRect_; }
    QSize sizeHint() const override { return {84, 110}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString textFor(int value) const;
    double angleFor(double value) const;  // degrees from straight up, clockwise
    int valueAt(const QPointF& position) const;
    // Sets the value from a user action; commits when it changed.
    void stepBy(int steps);
    void paintScale(QPainter& painter) const;
    void paintKnob(QPainter& painter) const;

    int value_ = 0;
    int minimum_ = 0;
    int maximum_ = 15;
    bool hex_ = true;
    QRect dialRect_{16, 23, 48, 48};
    QRect displayRect_{30, 87, 20, 21};
    bool dragging_ = false;
    int valueAtPress_ = 0;
    QPixmap scaleCache_;
};
