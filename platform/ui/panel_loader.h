// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Builds a panel from its definition: a Qt Designer .ui file whose top-level
// widget is a UiPanel and whose direct children are the controls. Each
// control carries its settings in dynamic properties: "ctrlId" (the control
// constant), "callback", "label" and "labelPos", "visibleAtLoad", and the
// kind's own properties (see the widget headers).

#include <memory>

#include <QString>

struct PanelRecord;

// [main-thread] Loads panel `panelId` from the .ui file at `path` into a new
// record (not yet registered). On failure writes one line naming what is
// wrong to standard error, leaves nothing behind and returns a negative
// status; `shownName` is the name used in that line.
int buildPanel(const QString& path, const QString& shownName, int panelId,
               std::shared_ptr<PanelRecord>* built);
