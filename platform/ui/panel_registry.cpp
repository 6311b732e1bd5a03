// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/panel_registry.h"

#include <mutex>
#include <shared_mutex>

namespace {
std::shared_mutex registryMutex;
std::map<int, std::shared_ptr<PanelRecord>> panels;
int lastHandle = 0;
}  // namespace

namespace ui_registry {

int add(std::shared_ptr<PanelRecord> panel) {
    std::unique_lock lock(registryMutex);
    panel->handle = ++lastHandle;
    panels[panel->handle] = std::move(panel);
    return lastHandle;
}

std::shared_ptr<PanelRecord> find(int handle) {
    std::shared_lock lock(registryMutex);
    const auto found = panels.find(handle);
    return found == panels.end() ? nullptr : found->second;
}

std::vector<std::shared_ptr<PanelRecord>> all() {
    std::shared_lock lock(registryMutex);
    std::vector<std::shared_ptr<PanelRecord>> loaded;
    loaded.reserve(panels.size());
    for (const auto& [handle, panel] : panels) loaded.push_back(panel);
    return loaded;
}

std::shared_ptr<PanelRecord> remove(int handle) {
    std::unique_lock lock(registryMutex);
    const auto found = panels.find(handle);
    if (found == panels.end()) return nullptr;
    std::shared_ptr<PanelRecord> panel = std::move(found->second);
    panels.erase(found);
    return panel;
}

}  // namespace ui_registry
