// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The colours of a panel. A panel definition fixes its background; the rest
// of its colours must agree with it whatever the desktop's palette is, or a
// dark desktop theme puts white text on the light grey background. So a
// panel with a background gets a whole palette of its own, every role in
// every group, chosen for a light background: every text, the disabled and
// greyed text included, has a contrast of at least 4.5 : 1 against the
// background, the fields and the buttons it is drawn on.
// Windows of their own (the trend, dialogs) keep the desktop's palette.

#include <QColor>
#include <QPalette>

// A complete light palette around `background`, e.g. #F0F0F0: text black,
// fields white, disabled text #5F5F5F (5.6 : 1 on #F0F0F0).
QPalette panelPalette(const QColor& background);
