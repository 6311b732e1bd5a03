// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The small sunken value field shared by numeric displays, meters and knobs.

#include <QRect>
#include <QString>

class QPainter;
class QPalette;

// Draws a recessed field in `box` (widget pixels) with `text` right-aligned;
// `greyed` draws the field flat grey and the text in the disabled colour.
void paintDigitalDisplay(QPainter& painter, const QRect& box, const QString& text,
                         const QPalette& palette, bool greyed);
