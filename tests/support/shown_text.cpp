// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/shown_text.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>

#include "platform/ui/knob.h"
#include "platform/ui/meter.h"
#include "platform/ui/numeric_display.h"
#include "platform/ui/qt_access.h"

QString shownText(int panel, int control) {
    QWidget* widget = uiControlWidget(panel, control);
    if (auto* ring = qobject_cast<QComboBox*>(widget)) return ring->currentText();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* knob = qobject_cast<UiKnob*>(widget)) return knob->displayText();
    if (auto* meter = qobject_cast<UiMeter*>(widget)) return meter->displayText();
    if (auto* numeric = qobject_cast<UiNumeric*>(widget)) return numeric->displayText();
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    return {};
}
