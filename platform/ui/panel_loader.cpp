// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/panel_loader.h"

#include <QFile>
#include <QLabel>
#include <QSet>
#include <QUiLoader>
#include <QVariant>

#include "platform/ui/command_button.h"
#include "platform/ui/decoration.h"
#include "platform/ui/knob.h"
#include "platform/ui/meter.h"
#include "platform/ui/numeric_display.h"
#include "platform/ui/panel_registry.h"
#include "platform/ui/panel_window.h"
#include "platform/ui/radio_button.h"
#include "platform/ui/ring.h"
#include "platform/ui/runtime.h"
#include "platform/ui/text_message.h"
#include "platform/ui/toggle_button.h"

namespace {

// QUiLoader would silently build an unknown custom class as its base class;
// this loader builds only the run-time's own classes and notes every other
// class it is asked for, so that the load can fail instead.
class PanelUiLoader : public QUiLoader {
public:
    QStringList problems;

    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        QWidget* widget = makeKnownWidget(className, parent);
        if (!widget) {
            problems << QStringLiteral("control class '%1' of '%2' cannot be built").arg(className, name);
            widget = new QWidget(parent);
        }
        widget->setObjectName(name);
        return widget;
    }

private:
    static QWidget* makeKnownWidget(const QString& className, QWidget* parent) {
        if (className == QLatin1String("UiPanel")) return new UiPanel(parent);
        if (className == QLatin1String("UiRing")) return new UiRing(parent);
        if (className == QLatin1String("UiToggleButton")) return new UiToggleButton(parent);
        if (className == QLatin1String("UiCommandButton")) return new UiCommandButton(parent);
        if (className == QLatin1String("UiRadioButton")) return new UiRadioButton(parent);
        if (className == QLatin1String("UiKnob")) return new UiKnob(parent);
        if (className == QLatin1String("UiMeter")) return new UiMeter(parent);
        if (className == QLatin1String("UiNumeric")) return new UiNumeric(parent);
        if (className == QLatin1String("UiTextMessage")) return new UiTextMessage(parent);
        if (className == QLatin1String("UiDecoration")) return new UiDecoration(parent);
        return nullptr;
    }
};

void dispatchPanelEvent(const std::weak_ptr<PanelRecord>& weakPanel, int event) {
    const std::shared_ptr<PanelRecord> panel = weakPanel.lock();
    if (!panel || !panel->callback) return;
    ++panel->dispatchDepth;
    panel->callback(panel->handle, event, nullptr, 0, 0);
    --panel->dispatchDepth;
}

void dispatchControlEvent(const std::weak_ptr<PanelRecord>& weakPanel, int controlId, int event) {
    const std::shared_ptr<PanelRecord> panel = weakPanel.lock();
    if (!panel) return;
    const ControlRecord* control = panel->control(controlId);
    if (!control || !control->callback) return;
    ++panel->dispatchDepth;
    control->callback(panel->handle, controlId, event, nullptr, 0, 0);
    --panel->dispatchDepth;
}

// Turns the definition's children into control records; returns what is
// wrong, or an empty string. Sets *status for a missing callback name.
QString collectControls(UiPanel& window, const std::shared_ptr<PanelRecord>& panel, int* status) {
    const std::weak_ptr<PanelRecord> weakPanel = panel;
    QList<QWidget*> labelled;
    const QObjectList children = window.children();
    for (QObject* child : children) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget) continue;
        auto* control = dynamic_cast<ControlWidget*>(widget);
        const QString name = widget->objectName();
        if (!control) return QStringLiteral("'%1' is not a control").arg(name);
        bool idOk = false;
        const int id = widget->property("ctrlId").toInt(&idOk);
        if (!idOk || id <= 0) return QStringLiteral("control '%1' has no positive ctrlId").arg(name);
        if (panel->control(id)) return QStringLiteral("control '%1' repeats ctrlId %2").arg(name).arg(id);

        auto record = std::make_unique<ControlRecord>();
        record->id = id;
        record->control = control;
        record->widget = widget;
        record->acceptsNumbers = control->hasNumericValue();
        const QString callbackName = widget->property("callback").toString();
        if (!callbackName.isEmpty()) {
            record->callback = ui_runtime::findControlCallback(callbackName.toUtf8().constData());
            if (!record->callback) {
                *status = UIE_UNKNOWN_CALLBACK;
                return QStringLiteral("callback '%1' of control '%2' (%3) is not in the name table")
                    .arg(callbackName, name)
                    .arg(id);
            }
        }
        const QString problem = control->configureFromProperties();
        if (!problem.isEmpty()) return QStringLiteral("control '%1': %2").arg(name, problem);

        const QString labelText = widget->property("label").toString();
        if (!labelText.isEmpty()) {
            auto* label = new QLabel(labelText, &window);
            label->setObjectName(name + QStringLiteral("_label"));
            label->move(widget->property("labelPos").toPoint());
            label->adjustSize();
            // A label beside its control, level with its top, is centred on
            // the control's height, so the texts of both share a line.
            if (label->y() == widget->y() && label->x() < widget->x()) {
                label->resize(label->width(), widget->height());
                label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            }
            record->label = label;
        }
        if (widget->property("visibleAtLoad").isValid() && !widget->property("visibleAtLoad").toBool()) {
            widget->setHidden(true);
            if (record->label) record->label->setHidden(true);
        }
        control->setCommitHandler([weakPanel, id] { dispatchControlEvent(weakPanel, id, EVENT_COMMIT); });
        panel->controls.emplace(id, std::move(record));
    }
    // Labels lie on top of their controls' areas (a meter's label is inside
    // its frame); decorations stay behind everything.
    for (const auto& [id, record] : panel->controls) {
        if (record->label) record->label->raise();
        if (record->control->kind() == ControlKind::Decoration) record->widget->lower();
    }
    return {};
}

}  // namespace

int buildPanel(const QString& path, const QString& shownName, int panelId,
               std::shared_ptr<PanelRecord>* built) {
    auto fail = [&](int status, const QString& what) {
        ui_runtime::reportError(
            QStringLiteral("cannot load panel %1 from \"%2\": %3").arg(panelId).arg(shownName, what).toUtf8().constData());
        return status;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return fail(UIE_FILE_NOT_FOUND, file.errorString());

    PanelUiLoader loader;
    std::unique_ptr<QWidget> root(loader.load(&file, nullptr));
    if (!root) return fail(UIE_BAD_DEFINITION, loader.errorString());
    if (!loader.problems.isEmpty()) return fail(UIE_BAD_DEFINITION, loader.problems.join(QStringLiteral("; ")));
    auto* window = qobject_cast<UiPanel*>(root.get());
    if (!window) return fail(UIE_BAD_DEFINITION, QStringLiteral("the top-level widget is not a UiPanel"));
    if (window->property("panelId").toInt() != panelId)
        return fail(UIE_BAD_PANEL, QStringLiteral("the definition holds panel %1").arg(window->property("panelId").toInt()));

    auto panel = std::make_shared<PanelRecord>();
    panel->panelId = panelId;
    const QString panelCallback = window->property("callback").toString();
    if (!panelCallback.isEmpty()) {
        panel->callback = ui_runtime::findPanelCallback(panelCallback.toUtf8().constData());
        if (!panel->callback)
            return fail(UIE_UNKNOWN_CALLBACK,
                        QStringLiteral("panel callback '%1' is not in the name table").arg(panelCallback));
    }
    QString problem = window->configureFromProperties();
    if (!problem.isEmpty()) return fail(UIE_BAD_DEFINITION, problem);
    int status = UIE_BAD_DEFINITION;
    problem = collectControls(*window, panel, &status);
    if (!problem.isEmpty()) return fail(status, problem);

    const std::weak_ptr<PanelRecord> weakPanel = panel;
    window->setPanelEventHandler([weakPanel](int event) { dispatchPanelEvent(weakPanel, event); });
    panel->window = window;
    root.release();
    *built = std::move(panel);
    return 0;
}
