// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/panel_palette.h"

QPalette panelPalette(const QColor& background) {
    const QColor ink(0x00, 0x00, 0x00);
    const QColor field(0xFF, 0xFF, 0xFF);
    const QColor button(0xE4, 0xE4, 0xE4);
    const QColor dimmedInk(0x5F, 0x5F, 0x5F);
    const QColor focus(0x1F, 0x5F, 0xBF);  // 5.3 : 1 on the background, white text 6.1 : 1 on it

    QPalette colours;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        const QColor text = disabled ? dimmedInk : ink;
        colours.setColor(group, QPalette::Window, background);
        colours.setColor(group, QPalette::WindowText, text);
        colours.setColor(group, QPalette::Base, disabled ? background : field);
        colours.setColor(group, QPalette::AlternateBase, QColor(0xF7, 0xF7, 0xF7));
        colours.setColor(group, QPalette::Text, text);
        colours.setColor(group, QPalette::PlaceholderText, dimmedInk);
        colours.setColor(group, QPalette::Button, button);
        colours.setColor(group, QPalette::ButtonText, text);
        colours.setColor(group, QPalette::BrightText, field);
        colours.setColor(group, QPalette::Light, field);
        colours.setColor(group, QPalette::Midlight, QColor(0xE3, 0xE3, 0xE3));
        colours.setColor(group, QPalette::Mid, QColor(0xA0, 0xA0, 0xA0));
        colours.setColor(group, QPalette::Dark, QColor(0x69, 0x69, 0x69));
        colours.setColor(group, QPalette::Shadow, QColor(0x40, 0x40, 0x40));
        colours.setColor(group, QPalette::Highlight, disabled ? QColor(0x8A, 0x8A, 0x8A) : focus);
        colours.setColor(group, QPalette::HighlightedText, field);
        colours.setColor(group, QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xDC));
        colours.setColor(group, QPalette::ToolTipText, ink);
        colours.setColor(group, QPalette::Link, QColor(0x0B, 0x57, 0xD0));
        colours.setColor(group, QPalette::LinkVisited, QColor(0x6A, 0x1B, 0x9A));
    }
    return colours;
}
