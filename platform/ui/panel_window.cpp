// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/panel_window.h"

#include <QCloseEvent>
#include <QColor>
#include <QGuiApplication>
#include <QScreen>
#include <QVariant>

#include "platform/userint.h"

UiPanel::UiPanel(QWidget* parent) : QWidget(parent) {}

QString UiPanel::configureFromProperties() {
    if (property("background").isValid()) {
        const QColor background(property("background").toString());
        if (!background.isValid())
            return QStringLiteral("panel background '%1' is not a colour").arg(property("background").toString());
        QPalette colours = palette();
        colours.setColor(QPalette::Window, background);
        setPalette(colours);
        setAutoFillBackground(true);
    }
    QFont text = font();
    if (property("fontPixelSize").isValid()) text.setPixelSize(property("fontPixelSize").toInt());
    // The first installed family of the list wins.
    if (property("fontFamilies").isValid()) text.setFamilies(property("fontFamilies").toStringList());
    setFont(text);
    // The client area is fixed, as the layout is given in pixels.
    setFixedSize(size());
    // The window opens where the definition puts it, measured from the
    // top-left corner of the screen's free area (clear of panels and docks),
    // not wherever the window manager would choose.
    if (property("position").isValid()) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QPoint origin = screen ? screen->availableGeometry().topLeft() : QPoint();
        move(origin + property("position").toPoint());
    }
    return {};
}

bool UiPanel::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate && handler_) handler_(EVENT_GOT_FOCUS);
    return QWidget::event(event);
}

void UiPanel::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (handler_) handler_(EVENT_CLOSE);
}
