// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The top-level window of a panel. It turns the window system's activation
// and close request into the run-time's panel events: a close request does
// not close the window, it only reports EVENT_CLOSE; the window stays until
// the panel is discarded. Definition properties: "panelId", "callback",
// "background" (colour name), "position" (the window's first position from
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

private:
    std::function<void(int)> handler_;
};
