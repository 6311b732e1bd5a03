// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The loaded panels and their controls, shared between the main thread and
// the threads that set values. A panel record is immutable after loading,
// except for the atomics; widgets are touched on the main thread only.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "platform/userint.h"

class ControlWidget;
class QLabel;
class QWidget;
class UiPanel;

struct ControlRecord {
    int id = 0;
    ControlWidget* control = nullptr;  // [main-thread] owned by the panel window
    QWidget* widget = nullptr;         // [main-thread] the same object as control
    QLabel* label = nullptr;           // [main-thread] may be null
    CtrlCallbackPtr callback = nullptr;
    bool acceptsNumbers = false;

    // The latest value set from another thread, as the bits of a double,
    // waiting for the main thread to apply it.
    std::atomic<std::uint64_t> pendingBits{0};
    std::atomic<bool> pendingDirty{false};
    std::atomic<std::uint64_t> appliedCount{0};
};

struct PanelRecord {
    int handle = 0;
    int panelId = 0;
    UiPanel* window = nullptr;  // [main-thread] owns every widget of the panel
    PanelCallbackPtr callback = nullptr;
    std::map<int, std::unique_ptr<ControlRecord>> controls;
    std::atomic<bool> flushPosted{false};
    int dispatchDepth = 0;  // [main-thread] callbacks of this panel now running

    ControlRecord* control(int id) const {
        const auto found = controls.find(id);
        return found == controls.end() ? nullptr : found->second.get();
    }
};

namespace ui_registry {
// [main-thread] Stores the panel under a new positive handle and returns it.
int add(std::shared_ptr<PanelRecord> panel);
// [any-thread] The panel with that handle, or null. The record stays valid
// for as long as the caller holds it, even if the panel is discarded.
std::shared_ptr<PanelRecord> find(int handle);
// [any-thread] Every loaded panel.
std::vector<std::shared_ptr<PanelRecord>> all();
// [main-thread] Removes and returns the panel, or null.
std::shared_ptr<PanelRecord> remove(int handle);
}  // namespace ui_registry
