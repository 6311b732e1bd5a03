// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/ring.h"

#include <QStringList>
#include <QVariant>

UiRing::UiRing(QWidget* parent) : QComboBox(parent) {
    // activated is emitted only for the user's choices, not for ours, but
    // also when the user picks from the list the entry that is already
    // selected. That changes nothing and must not commit: the callback would
    // redo its work (e.g. re-initialise a driver under an open channel). A
    // choice by key or wheel always changes the index; one from the list
    // does so only after showPopup has cleared the note.
    connect(this, &QComboBox::currentIndexChanged, this, [this](int index) { changedTo_ = index; });
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (index != changedTo_) return;
        changedTo_ = -1;
        notifyCommit();
    });
}

void UiRing::showPopup() {
    changedTo_ = -1;
    QComboBox::showPopup();
}

int UiRing::entryValue(int index) const { return itemData(index).toInt(); }

double UiRing::numericValue() const {
    const int index = currentIndex();
    return index < 0 ? 0.0 : entryValue(index);
}

bool UiRing::setNumericValue(double value) {
    for (int i = 0; i < count(); ++i) {
        if (entryValue(i) == static_cast<int>(value)) {
            setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

QString UiRing::configureFromProperties() {
    const QStringList values = property("ringValues").toStringList();
    if (values.size() != count())
        return QStringLiteral("ring has %1 entries but %2 ringValues").arg(count()).arg(values.size());
    for (int i = 0; i < values.size(); ++i) {
        bool ok = false;
        const int value = values[i].toInt(&ok);
        if (!ok) return QStringLiteral("ring value '%1' is not an integer").arg(values[i]);
        setItemData(i, value);
    }
    return {};
}

bool UiRing::insertEntry(int index, const QString& label, int value) {
    if (index == -1) index = count();
    if (index < 0 || index > count()) return false;
    insertItem(index, label, value);
    return true;
}

bool UiRing::removeEntries(int index, int count) {
    const int total = QComboBox::count();
    if (index < 0 || index > total) return false;
    const int end = count < 0 ? total : index + count;
    if (end > total) return false;
    for (int i = end - 1; i >= index; --i) removeItem(i);
    return true;
}
