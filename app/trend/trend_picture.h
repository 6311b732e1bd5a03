// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A picture of the trend for a report: the chart as it is shown (traces,
// marks, cursors, selection) with a caption under it, as PNG, SVG or an
// image on the clipboard. [main-thread]

#include <QImage>
#include <QString>

class QWidget;

// The chart widget drawn at its size on a white page with `caption` (lines
// of text, tabs kept as column gaps) below it.
QImage trendPicture(QWidget* chart, const QString& caption);

// Writes the picture to `path`: SVG when the name ends in .svg, PNG
// otherwise. False, with the reason in *error, when it cannot be written.
bool saveTrendPicture(QWidget* chart, const QString& caption, const QString& path, QString* error);

// Puts the picture on the clipboard, with the caption as its text.
void copyTrendPicture(QWidget* chart, const QString& caption);
