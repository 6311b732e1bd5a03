// SPDX-License-Identifier: GPL-3.0-or-later
// LoadPanel, DisplayPanel, DiscardPanel and MessagePopup.
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>

#include "platform/ui/panel_loader.h"
#include "platform/ui/panel_registry.h"
#include "platform/ui/panel_window.h"
#include "platform/ui/runtime.h"

namespace {
// The definition travels inside the program as a resource named after the
// file in capitals; a file of that name is the fallback.
QString definitionPath(const char* fileName) {
    const QString name = QString::fromLocal8Bit(fileName);
    const QString resource = QStringLiteral(":/") + QFileInfo(name).fileName().toUpper();
    return QFile::exists(resource) ? resource : name;
}
}  // namespace

int LoadPanel(int parentPanel, const char* fileName, int panelId) {
    if (!ui_runtime::isInitialised()) return UIE_NOT_INITIALISED;
    if (!ui_runtime::onMainThread()) return UIE_WRONG_THREAD;
    if (parentPanel != 0) return UIE_BAD_PANEL;
    if (!fileName) return UIE_FILE_NOT_FOUND;
    std::shared_ptr<PanelRecord> panel;
    const int status = buildPanel(definitionPath(fileName), QString::fromLocal8Bit(fileName), panelId, &panel);
    if (status < 0) return status;
    return ui_registry::add(std::move(panel));
}

int DisplayPanel(int panel) {
    if (!ui_runtime::onMainThread()) return UIE_WRONG_THREAD;
    const std::shared_ptr<PanelRecord> record = ui_registry::find(panel);
    if (!record || !record->window) return UIE_BAD_PANEL;
    record->window->show();
    record->window->raise();
    record->window->activateWindow();
    return 0;
}

int DiscardPanel(int panel) {
    if (!ui_runtime::onMainThread()) return UIE_WRONG_THREAD;
    const std::shared_ptr<PanelRecord> record = ui_registry::remove(panel);
    if (!record) return UIE_BAD_PANEL;
    UiPanel* window = record->window;
    record->window = nullptr;
    for (auto& [id, control] : record->controls) {
        control->control = nullptr;
        control->widget = nullptr;
        control->label = nullptr;
    }
    if (!window) return 0;
    // A panel discarded from inside one of its own callbacks is deleted once
    // that callback has returned.
    if (record->dispatchDepth > 0) {
        window->setPanelEventHandler(nullptr);
        window->hide();
        window->deleteLater();
    } else {
        delete window;
    }
    return 0;
}

int MessagePopup(const char* title, const char* message) {
    if (!ui_runtime::isInitialised()) return UIE_NOT_INITIALISED;
    if (!ui_runtime::onMainThread()) return UIE_WRONG_THREAD;
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) return 0;
    QMessageBox box(QMessageBox::Critical, QString::fromLocal8Bit(title ? title : ""),
                    QString::fromLocal8Bit(message ? message : ""), QMessageBox::Ok);
    box.exec();  // the window manager's close button closes it as OK does
    return 0;
}
