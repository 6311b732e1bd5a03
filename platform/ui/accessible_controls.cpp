// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/accessible_controls.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QWidget>

#include "platform/ui/knob.h"
#include "platform/ui/meter.h"
#include "platform/ui/numeric_display.h"

namespace {

// A control whose value a reader may read; `text` is what it says for it.
template <typename Control>
class AccessibleValueControl : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    AccessibleValueControl(Control* control, QAccessible::Role role) : QAccessibleWidget(control, role) {}

    Control* control() const { return static_cast<Control*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value) return valueText();
        return QAccessibleWidget::text(kind);
    }

    QVariant currentValue() const override { return control()->numericValue(); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return control()->maximum(); }
    QVariant minimumValue() const override { return control()->minimum(); }
    QVariant minimumStepSize() const override { return 1; }

protected:
    virtual QString valueText() const { return control()->displayText(); }
};

class AccessibleKnob : public AccessibleValueControl<UiKnob> {
public:
    explicit AccessibleKnob(UiKnob* knob) : AccessibleValueControl(knob, QAccessible::Dial) {}
    // A reader may turn the knob as the keys do: the change is committed.
    void setCurrentValue(const QVariant& value) override { control()->turnTo(value.toInt()); }
};

// A meter is a dial, as it looks, that the user cannot turn. (Qt's
// Indicator role reaches AT-SPI as "unknown".)
class AccessibleMeter : public AccessibleValueControl<UiMeter> {
public:
    explicit AccessibleMeter(UiMeter* meter) : AccessibleValueControl(meter, QAccessible::Dial) {}

    QAccessible::State state() const override {
        QAccessible::State shown = QAccessibleWidget::state();
        shown.readOnly = true;
        return shown;
    }

    // The reading goes into the description too: AT-SPI carries a value
    // only as a number, and "stale" is half of what a reader must hear.
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Description) return valueText();
        return AccessibleValueControl::text(kind);
    }

protected:
    QString valueText() const override {
        return control()->displayText() +
               (control()->greyed() ? QStringLiteral(", stale") : QStringLiteral(", live"));
    }
};

// Read-only text: a reader reads the shown text ("1A5") through the text
// interface; there is no cursor and no selection.
class AccessibleNumeric : public AccessibleValueControl<UiNumeric>, public QAccessibleTextInterface {
public:
    explicit AccessibleNumeric(UiNumeric* numeric) : AccessibleValueControl(numeric, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return AccessibleValueControl::interface_cast(type);
    }

    QAccessible::State state() const override {
        QAccessible::State shown = QAccessibleWidget::state();
        shown.readOnly = true;
        shown.focusable = false;
        return shown;
    }

    void selection(int, int* startOffset, int* endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int startOffset, int endOffset) const override {
        return control()->displayText().mid(startOffset, endOffset - startOffset);
    }
    using AccessibleValueControl::text;
    int characterCount() const override { return static_cast<int>(control()->displayText().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* startOffset, int* endOffset) const override {
        *startOffset = 0;
        *endOffset = characterCount();
        return {};
    }
};

QAccessibleInterface* accessibleControl(const QString& className, QObject* object) {
    if (className == QLatin1String("UiKnob")) return new AccessibleKnob(static_cast<UiKnob*>(object));
    if (className == QLatin1String("UiMeter")) return new AccessibleMeter(static_cast<UiMeter*>(object));
    if (className == QLatin1String("UiNumeric")) return new AccessibleNumeric(static_cast<UiNumeric*>(object));
    // Reached for a window class only when nothing more specific took it: a
    // plain top-level widget (a panel, the trend) is a frame, not a filler.
    if (className == QLatin1String("QWidget")) {
        auto* widget = static_cast<QWidget*>(object);
        if (widget->windowType() == Qt::Window) return new QAccessibleWidget(widget, QAccessible::Window);
    }
    return nullptr;
}

}  // namespace

void installAccessibleControls() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    QAccessible::installFactory(accessibleControl);
}

void announceValueChange(QWidget* widget, double value) {
    if (!QAccessible::isActive()) return;
    QAccessibleValueChangeEvent event(widget, value);
    QAccessible::updateAccessibility(&event);
}

void announceReadingChange(QWidget* meter, double value) {
    if (!QAccessible::isActive()) return;
    announceValueChange(meter, value);
    QAccessibleEvent event(meter, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
}
