#include "platform/ui/text_message.h"

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
    return {};
}
