// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Ring: a drop-down selector whose entries each carry an integer value.
// The control's value is the selected entry's value.

#include <QComboBox>
#include <vector>

#include "platform/ui/control_widget.h"

class UiRing : public QComboBox, public ControlWidget {
    Q_OBJECT
public:
    explicit UiRing(QWidget* parent = nullptr);

    ControlKind kind() const override { return ControlKind::Ring; }
    QWidget* asWidget() override { return this; }
    double numericValue() const override;
    // Selects the first entry that carries `value`.
    bool setNumericValue(double value) override;
    // Entry values come from the string-list property "ringValues", one per
    // <item>, because the loader drops the items' own user data.
    QString configureFromProperties() override;

    int entryValue(int index) const;
    // index -1 (or the count) appends; 0 inserts at the top.
    bool insertEntry(int index, const QString& label, int value);
    bool removeEntries(int index, int count);  // count -1: to the end

    void showPopup() override;

private:
    int changedTo_ = -1;  // the index the latest change selected, until committed
};
