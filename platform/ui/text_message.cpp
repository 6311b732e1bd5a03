// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/text_message.h"

#include <QFontMetrics>
#include <QVariant>

QString UiTextMessage::configureFromProperties() {
    QFont text = font();
    if (property("fontPixelSize").isValid()) {
        const int size = property("fontPixelSize").toInt();
        if (size <= 0) return QStringLiteral("text fontPixelSize must be positive");
        text.setPixelSize(size);
    }
    if (property("bold").isValid()) text.setBold(property("bold").toBool());
    setFont(text);
    // Like a label, the message is as wide as its text: it grows to the
    // right, or about its centre when the text is centred.
    if (property("sizeToText").toBool()) {
        const int needed = QFontMetrics(text).horizontalAdvance(this->text()) + 2 * margin() + 4;
        if (needed > width()) {
            const int grow = needed - width();
            const int left = (alignment() & Qt::AlignHCenter) ? x() - grow / 2 : x();
            setGeometry(left, y(), needed, height());
        }
    }
    return {};
}
