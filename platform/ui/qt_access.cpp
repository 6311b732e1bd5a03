// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/qt_access.h"

#include "platform/ui/control_widget.h"
#include "platform/ui/panel_registry.h"
#include "platform/ui/panel_window.h"
#include "platform/ui/pending_values.h"

QWidget* uiPanelWidget(int panel) {
    const std::shared_ptr<PanelRecord> record = ui_registry::find(panel);
    return record ? record->window : nullptr;
}

QWidget* uiControlWidget(int panel, int control) {
    const std::shared_ptr<PanelRecord> record = ui_registry::find(panel);
    const ControlRecord* found = record ? record->control(control) : nullptr;
    return found ? found->widget : nullptr;
}

QLabel* uiControlLabel(int panel, int control) {
    const std::shared_ptr<PanelRecord> record = ui_registry::find(panel);
    const ControlRecord* found = record ? record->control(control) : nullptr;
    return found ? found->label : nullptr;
}

std::uint64_t uiAppliedValueCount(int panel, int control) {
    const std::shared_ptr<PanelRecord> record = ui_registry::find(panel);
    const ControlRecord* found = record ? record->control(control) : nullptr;
    return found ? found->appliedCount.load() : 0;
}

std::uint64_t uiPaintCount(int panel, int control) {
    const std::shared_ptr<PanelRecord> record = ui_registry::find(panel);
    const ControlRecord* found = record ? record->control(control) : nullptr;
    return found && found->control ? found->control->paintCount() : 0;
}

int uiPendingFlushCount() { return pendingFlushCount(); }
