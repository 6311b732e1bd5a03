// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a control of a loaded panel shows, read off its widget.

#include <QString>

// The text shown by a control's widget: a ring's entry, a button's caption,
// a knob's, meter's or numeric's digital display, a text message. Empty for
// a control that shows no text.
QString shownText(int panel, int control);
