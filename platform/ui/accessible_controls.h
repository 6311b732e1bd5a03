// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a screen reader gets of the run-time's custom-drawn controls and
// windows, through Qt's accessibility interfaces (AT-SPI on Linux):
// - a knob is a dial whose value is its digit ("A"), settable;
// - a meter is a read-only dial named "Channel 1" whose value text and
//   description read "37.00, live" or "37.00, stale";
// - a numeric display is read-only text with its shown text ("1A5") and
//   its number as value;
// - a panel, and any other top-level window of the application, is a frame
//   (a dialog stays a dialog).
// Names come from the controls' labels (the panel loader sets them) or from
// the definition's "accessibleName". [main-thread]

class QWidget;

// Installs the factory that gives the controls above their interfaces.
// Called once when the run-time starts; harmless to call again.
void installAccessibleControls();

// Tells assistive technology that `widget`'s value is now `value`; nothing
// when no assistive technology listens.
void announceValueChange(QWidget* widget, double value);
// The same for a meter, whose description says the reading and whether it
// is live.
void announceReadingChange(QWidget* meter, double value);
