// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the run-time needs of every control widget on a panel, whatever its
// kind: its value as a number, the range and a commit notification.
// [main-thread] like every widget.

#include <cstdint>
#include <functional>

#include <QString>
#include <QWidget>

// Reads a display "format" property of a panel definition: "hex" sets
// *hex, "decimal" clears it; anything else returns false.
inline bool parseDisplayFormat(const QString& format, bool* hex) {
    if (format == QLatin1String("hex")) *hex = true;
    else if (format == QLatin1String("decimal")) *hex = false;
    else return false;
    return true;
}

enum class ControlKind {
    Ring, ToggleButton, RadioButton, Knob, Meter, Numeric, TextMessage, Decoration, CommandButton
};

class ControlWidget {
public:
    virtual ~ControlWidget() = default;

    virtual ControlKind kind() const = 0;
    virtual QWidget* asWidget() = 0;

    // Controls without a numeric value (texts, decorations) answer false and
    // ignore setNumericValue.
    virtual bool hasNumericValue() const { return true; }
    virtual double numericValue() const = 0;
    // Shows `value`, limited to the control's range. Returns false when the
    // control cannot take it (e.g. a ring without an entry of that value).
    virtual bool setNumericValue(double value) = 0;

    // Reads the control's settings from the dynamic properties the panel
    // definition gave it. Returns an empty string, or what is wrong.
    virtual QString configureFromProperties() { return {}; }

    // Called after each change the user has finished.
    void setCommitHandler(std::function<void()> handler) { commitHandler_ = std::move(handler); }

    // A greyed control draws its digital display dimmed, saying that the
    // value may be out of date; the value itself stays as it is.
    void setGreyed(bool greyed) {
        if (greyed == greyed_) return;
        greyed_ = greyed;
        asWidget()->update();
        greyedChanged();
    }
    bool greyed() const { return greyed_; }

    // A control without a value shows "—" instead of a number (and a meter
    // no needle): nothing has been measured yet.
    void setNoValue(bool noValue) {
        if (noValue == noValue_) return;
        noValue_ = noValue;
        asWidget()->update();
    }
    bool noValue() const { return noValue_; }

    // How often the widget has painted itself; benchmarks compare it with
    // the number of values applied.
    std::uint64_t paintCount() const { return paintCount_; }

protected:
    void notifyCommit() {
        if (commitHandler_) commitHandler_();
    }
    void countPaint() { ++paintCount_; }
    // Called after the greyed state changed, for controls that say it.
    virtual void greyedChanged() {}

private:
    std::function<void()> commitHandler_;
    std::uint64_t paintCount_ = 0;
    bool greyed_ = false;
    bool noValue_ = false;
};
