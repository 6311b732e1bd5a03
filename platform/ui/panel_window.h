// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The top-level window of a panel. It turns the window system's activation
// and close request into the run-time's panel events: a close request does
// not close the window, it only reports EVENT_CLOSE; the window stays until
// the panel is discarded. Ctrl+Q, anywhere in the application, is the same
// close request. From its first showing the window draws the keyboard focus
// (the first control of the tab order has it), not only after the first Tab.
// Definition properties: "panelId", "callback",
// "background" (colour name; the panel takes a whole light palette around
// it, see panel_palette.h), "position" (the window's first position from
// the top-left corner of the screen's free area), "fontPixelSize",
// "fontFamilies" (the first one installed is used).

#include <QWidget>
#include <functional>

class UiPanel : public QWidget {
    Q_OBJECT
public:
    explicit UiPanel(QWidget* parent = nullptr);

    // Receives EVENT_GOT_FOCUS and EVENT_CLOSE.
    void setPanelEventHandler(std::function<void(int event)> handler) {
        handler_ = std::move(handler);
    }
    QString configureFromProperties();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    std::function<void(int)> handler_;
};
