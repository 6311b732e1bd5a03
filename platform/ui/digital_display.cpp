// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/digital_display.h"

#include <QGlyphRun>
#include <QPainter>
#include <QPalette>
#include <QRawFont>
#include <QVarLengthArray>

namespace {

// A value field changes up to once a screen refresh, and QPainter::drawText
// lays out and shapes its few characters on every paint, which cost more than
// the rest of a meter's paint together. Digits, signs and points need no
// shaping: their glyphs are looked up in the font and placed side by side.
// Returns false, having drawn nothing, for text the font has no glyph for.
// [main-thread]
bool drawGlyphsRightAligned(QPainter& painter, const QRectF& field, const QString& text) {
    static QFont cachedFont;
    static QRawFont rawFont;
    if (!rawFont.isValid() || painter.font() != cachedFont) {
        cachedFont = painter.font();
        rawFont = QRawFont::fromFont(cachedFont);
        if (!rawFont.isValid()) return false;
    }
    int count = static_cast<int>(text.size());
    QVarLengthArray<quint32, 16> glyphs(count);
    if (!rawFont.glyphIndexesForChars(text.constData(), count, glyphs.data(), &count)) return false;
    QVarLengthArray<QPointF, 16> positions(count);
    if (!rawFont.advancesForGlyphIndexes(glyphs.constData(), positions.data(), count)) return false;
    // The advances become positions along the baseline, from the left end.
    qreal x = 0;
    for (int i = 0; i < count; ++i) {
        if (glyphs[i] == 0) return false;  // not in this font: Qt's fallback fonts are needed
        const qreal advance = positions[i].x();
        positions[i] = QPointF(x, 0);
        x += advance;
    }
    // Where drawText puts a single line centred in the field.
    const qreal lineHeight = rawFont.ascent() + rawFont.descent();
    const QPointF origin(field.right() - x, field.top() + (field.height() - lineHeight) / 2 + rawFont.ascent());
    QGlyphRun run;
    run.setRawFont(rawFont);
    run.setRawData(glyphs.constData(), positions.constData(), count);
    painter.drawGlyphRun(origin, run);
    return true;
}

}  // namespace

void paintDigitalDisplay(QPainter& painter, const QRect& box, const QString& text,
                         const QPalette& palette, bool greyed) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QRect field = box.adjusted(0, 0, -1, -1);
    painter.fillRect(box, greyed ? palette.color(QPalette::Window) : palette.color(QPalette::Base));
    // Sunken look: shadow on the top and left edges, light on the others.
    // The edges are filled one-unit strips inside the box, not lines on its
    // border: at a fractional scale (1.5) a line on the border rounds to the
    // pixel row outside the widget and the edge disappears.
    const QColor shadow = palette.color(QPalette::Dark);
    const QColor light = palette.color(QPalette::Midlight);
    painter.fillRect(QRect(box.left(), box.bottom(), box.width(), 1), light);
    painter.fillRect(QRect(box.right(), box.top(), 1, box.height()), light);
    painter.fillRect(QRect(box.left(), box.top(), box.width(), 1), shadow);
    painter.fillRect(QRect(box.left(), box.top(), 1, box.height()), shadow);
    painter.setPen(greyed ? palette.color(QPalette::Disabled, QPalette::Text) : palette.color(QPalette::Text));
    const QRectF textField = QRectF(field.adjusted(2, 0, -3, 0));
    if (!drawGlyphsRightAligned(painter, textField, text))
        painter.drawText(textField, Qt::AlignRight | Qt::AlignVCenter, text);
    painter.restore();
}
