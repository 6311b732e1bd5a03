// SPDX-License-Identifier: GPL-3.0-or-later
// Control values, attributes and ring entries.
#include <QLabel>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/ui/control_widget.h"
#include "platform/ui/panel_registry.h"
#include "platform/ui/pending_values.h"
#include "platform/ui/ring.h"
#include "platform/ui/runtime.h"
#include "platform/ui/text_message.h"

namespace {
// [main-thread] Finds a live control; the status tells why not.
int findControl(int panel, int control, std::shared_ptr<PanelRecord>* panelOut,
                ControlRecord** controlOut) {
    if (!ui_runtime::onMainThread()) return UIE_WRONG_THREAD;
    std::shared_ptr<PanelRecord> record = ui_registry::find(panel);
    if (!record || !record->window) return UIE_BAD_PANEL;
    ControlRecord* found = record->control(control);
    if (!found || !found->control) return UIE_BAD_CONTROL;
    *panelOut = std::move(record);
    *controlOut = found;
    return 0;
}

bool hasDigitalDisplay(const ControlWidget& control) {
    const ControlKind kind = control.kind();
    return kind == ControlKind::Meter || kind == ControlKind::Numeric || kind == ControlKind::Knob;
}

// The indicators that show a measured value; a knob always has one.
bool showsMeasuredValue(const ControlWidget& control) {
    return control.kind() == ControlKind::Meter || control.kind() == ControlKind::Numeric;
}

int findRing(int panel, int control, std::shared_ptr<PanelRecord>* panelOut, UiRing** ring) {
    ControlRecord* record = nullptr;
    const int status = findControl(panel, control, panelOut, &record);
    if (status < 0) return status;
    *ring = qobject_cast<UiRing*>(record->widget);
    return *ring ? 0 : UIE_BAD_CONTROL;
}

int setValue(int panel, int control, double value) {
    if (!ui_runtime::onMainThread()) {
        // Off the main thread: only the registry's own lock is taken, and only
        // for the lookup; the widget is left to the main thread.
        const std::shared_ptr<PanelRecord> record = ui_registry::find(panel);
        if (!record) return UIE_BAD_PANEL;
        ControlRecord* found = record->control(control);
        if (!found) return UIE_BAD_CONTROL;
        if (!found->acceptsNumbers) return UIE_BAD_VALUE_TYPE;
        postPendingValue(record, *found, value);
        return 0;
    }
    std::shared_ptr<PanelRecord> record;
    ControlRecord* found = nullptr;
    const int status = findControl(panel, control, &record, &found);
    if (status < 0) return status;
    if (!found->acceptsNumbers) return UIE_BAD_VALUE_TYPE;
    return applyValueNow(*found, value) ? 0 : UIE_BAD_VALUE_TYPE;
}
}  // namespace

int SetCtrlVal(int panel, int control, int value) { return setValue(panel, control, value); }
int SetCtrlVal(int panel, int control, unsigned value) { return setValue(panel, control, value); }
int SetCtrlVal(int panel, int control, double value) { return setValue(panel, control, value); }

int GetCtrlVal(int panel, int control, double* value) {
    std::shared_ptr<PanelRecord> record;
    ControlRecord* found = nullptr;
    const int status = findControl(panel, control, &record, &found);
    if (status < 0) return status;
    if (!found->acceptsNumbers || !value) return UIE_BAD_VALUE_TYPE;
    *value = found->control->numericValue();
    return 0;
}

int GetCtrlVal(int panel, int control, int* value) {
    double number = 0;
    const int status = GetCtrlVal(panel, control, &number);
    if (status < 0) return status;
    if (!value) return UIE_BAD_VALUE_TYPE;
    *value = static_cast<int>(std::lround(number));
    return 0;
}

int GetCtrlIndex(int panel, int control, int* index) {
    std::shared_ptr<PanelRecord> record;
    UiRing* ring = nullptr;
    const int status = findRing(panel, control, &record, &ring);
    if (status < 0) return status;
    if (!index) return UIE_BAD_VALUE_TYPE;
    *index = ring->currentIndex();
    return 0;
}

int SetCtrlIndex(int panel, int control, int index) {
    std::shared_ptr<PanelRecord> record;
    UiRing* ring = nullptr;
    const int status = findRing(panel, control, &record, &ring);
    if (status < 0) return status;
    if (index < 0 || index >= ring->count()) return UIE_BAD_INDEX;
    ring->setCurrentIndex(index);
    return 0;
}

int SetCtrlVal(int panel, int control, const char* text) {
    std::shared_ptr<PanelRecord> record;
    ControlRecord* found = nullptr;
    const int status = findControl(panel, control, &record, &found);
    if (status < 0) return status;
    auto* message = qobject_cast<UiTextMessage*>(found->widget);
    if (!message || !text) return UIE_BAD_VALUE_TYPE;
    const QString shown = QString::fromUtf8(text);
    if (message->text() != shown) message->setText(shown);  // no repaint for the same text
    return 0;
}

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    std::shared_ptr<PanelRecord> record;
    ControlRecord* found = nullptr;
    const int status = findControl(panel, control, &record, &found);
    if (status < 0) return status;
    if (attribute == ATTR_GREYED) {
        if (!hasDigitalDisplay(*found->control)) return UIE_BAD_ATTRIBUTE;
        found->control->setGreyed(value != 0);
        return 0;
    }
    if (attribute == ATTR_NO_VALUE) {
        if (!showsMeasuredValue(*found->control)) return UIE_BAD_ATTRIBUTE;
        found->control->setNoValue(value != 0);
        return 0;
    }
    if (attribute != ATTR_VISIBLE) return UIE_BAD_ATTRIBUTE;
    found->widget->setVisible(value != 0);
    if (found->label) found->label->setVisible(value != 0);
    return 0;
}

int GetCtrlAttribute(int panel, int control, int attribute, int* value) {
    std::shared_ptr<PanelRecord> record;
    ControlRecord* found = nullptr;
    const int status = findControl(panel, control, &record, &found);
    if (status < 0) return status;
    if (!value) return UIE_BAD_ATTRIBUTE;
    if (attribute == ATTR_GREYED) {
        if (!hasDigitalDisplay(*found->control)) return UIE_BAD_ATTRIBUTE;
        *value = found->control->greyed() ? 1 : 0;
        return 0;
    }
    if (attribute == ATTR_NO_VALUE) {
        if (!showsMeasuredValue(*found->control)) return UIE_BAD_ATTRIBUTE;
        *value = found->control->noValue() ? 1 : 0;
        return 0;
    }
    if (attribute != ATTR_VISIBLE) return UIE_BAD_ATTRIBUTE;
    // isHidden, not isVisible: a control counts as shown on a panel that is
    // not displayed yet.
    *value = found->widget->isHidden() ? 0 : 1;
    return 0;
}

int DeleteListItem(int panel, int control, int index, int count) {
    std::shared_ptr<PanelRecord> record;
    UiRing* ring = nullptr;
    const int status = findRing(panel, control, &record, &ring);
    if (status < 0) return status;
    return ring->removeEntries(index, count) ? 0 : UIE_BAD_INDEX;
}

int InsertListItem(int panel, int control, int index, const char* label, int value) {
    std::shared_ptr<PanelRecord> record;
    UiRing* ring = nullptr;
    const int status = findRing(panel, control, &record, &ring);
    if (status < 0) return status;
    if (!label) return UIE_BAD_VALUE_TYPE;
    return ring->insertEntry(index, QString::fromLocal8Bit(label), value) ? 0 : UIE_BAD_INDEX;
}

int GetNumListItems(int panel, int control, int* count) {
    std::shared_ptr<PanelRecord> record;
    UiRing* ring = nullptr;
    const int status = findRing(panel, control, &record, &ring);
    if (status < 0) return status;
    if (!count) return UIE_BAD_VALUE_TYPE;
    *count = ring->count();
    return 0;
}

int GetLabelFromIndex(int panel, int control, int index, char* label, int labelSize) {
    std::shared_ptr<PanelRecord> record;
    UiRing* ring = nullptr;
    const int status = findRing(panel, control, &record, &ring);
    if (status < 0) return status;
    if (index < 0 || index >= ring->count()) return UIE_BAD_INDEX;
    if (!label || labelSize <= 0) return UIE_BAD_VALUE_TYPE;
    const QByteArray text = ring->itemText(index).toLocal8Bit();
    const std::size_t length = std::min<std::size_t>(text.size(), std::size_t(labelSize) - 1);
    std::memcpy(label, text.constData(), length);
    label[length] = '\0';
    return 0;
}

int GetValueFromIndex(int panel, int control, int index, int* value) {
    std::shared_ptr<PanelRecord> record;
    UiRing* ring = nullptr;
    const int status = findRing(panel, control, &record, &ring);
    if (status < 0) return status;
    if (index < 0 || index >= ring->count()) return UIE_BAD_INDEX;
    if (!value) return UIE_BAD_VALUE_TYPE;
    *value = ring->entryValue(index);
    return 0;
}
