// SPDX-License-Identifier: GPL-3.0-or-later
// Start of the run-time, the event loop and the status texts.
#include "platform/ui/runtime.h"

#include "platform/ui/accessible_controls.h"
#include "platform/ui/deferred_calls.h"
#include "platform/ui/pending_values.h"
#include "platform/ui/screen_refresh.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
std::atomic<bool> initialised{false};
const UiNameTable* nameTable = nullptr;
// QApplication keeps a reference to argc and argv, so they outlive the call.
// Qt gets only the program name: given the program's words it would take
// some ("-reverse", "-platform x") as its own options, act on them and
// remove them from the caller's argv, leaving argv[1] null under argc 2.
int applicationArgc = 1;
char* applicationArgv[2] = {nullptr, nullptr};
// Nested RunUserInterface calls, innermost last, and their return values.
std::vector<QEventLoop*> runningLoops;

QtMessageHandler handlerBeforeStart = nullptr;

// Qt ends the process with abort() (status 134, a core dump on some systems)
// when no platform plugin starts: because there is no display, or because
// the X11 plugin is not installed, which no display can mend. While the
// application object is built, its platform messages are held back; a fatal
// one is replaced by one line that says which of the two failed, and the
// process ends with status 1.
#ifdef KOLVAR_X11_PLUGIN_PACKAGE
constexpr const char* kX11PluginSource = "; it comes with the Debian package " KOLVAR_X11_PLUGIN_PACKAGE;
#else
constexpr const char* kX11PluginSource = "";
#endif

bool x11PluginMissing() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform && std::strcmp(platform, "xcb") != 0) return false;
    return !QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms/libqxcb.so");
}

void startUpMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        if (x11PluginMissing()) {
            std::fprintf(stderr,
                         "user interface: the Qt platform plugin \"xcb\" (platforms/libqxcb.so) is not "
                         "installed%s\n",
                         kX11PluginSource);
        } else {
            const char* display = std::getenv("DISPLAY");
            const std::string which = display && *display ? std::string("the display \"") + display + "\""
                                                          : std::string("a display (DISPLAY is not set)");
            std::fprintf(stderr,
                         "user interface: cannot open %s; run the viewer in a desktop session or under "
                         "xvfb-run\n",
                         which.c_str());
        }
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (context.category && std::strncmp(context.category, "qt.qpa", 6) == 0) return;
    if (handlerBeforeStart) handlerBeforeStart(type, context, message);
    else std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

// Qt's X11 plugin reads window-system events (a window manager's close
// request among them) on a thread of its own and wakes the main thread to
// handle them. Under its GLib event dispatcher, that wake-up is only a
// counter which the dispatch of posted events also consumes: when another
// thread posts an event to the main thread at the moment the X event
// arrives, the counter can be consumed after the check that would have
// handled the X event, and the event then waits in Qt's queue until
// something else wakes the loop -- on an idle panel, never. Qt's plain Unix
// dispatcher handles queued X events on every pass of the loop, so no
// wake-up can be lost. Chosen before the application object exists, which
// is when Qt picks its dispatcher; a value the user set is left alone.
void useDispatcherThatPollsTheWindowSystem() { setenv("QT_NO_GLIB", "1", 0); }

// Qt's X11 backing store hands images to the X server in shared memory when
// it can, and must then wait for a round trip to the server (a request, a
// reply read by its event thread, a wake-up of the main thread) before it
// paints again where the server may still be reading. A meter repainted
// every refresh paints the same few rectangles each time, so every repaint
// paid that round trip; the few kilobytes they hold cost less sent over the
// connection, which needs no reply. Chosen before the application object
// exists; a value the user set is left alone.
void sendImagesOverTheConnection() { setenv("QT_XCB_NO_MITSHM", "1", 0); }

template <typename Pointer>
Pointer findEntry(const char* name, Pointer UiNameEntry::*member) {
    if (!nameTable || !name) return nullptr;
    for (int i = 0; i < nameTable->count; ++i) {
        const UiNameEntry& entry = nameTable->entries[i];
        if (entry.name && std::strcmp(entry.name, name) == 0 && entry.*member) return entry.*member;
    }
    return nullptr;
}
}  // namespace

namespace ui_runtime {

bool isInitialised() { return initialised.load(); }

bool onMainThread() {
    const QCoreApplication* application = QCoreApplication::instance();
    return application && QThread::currentThread() == application->thread();
}

CtrlCallbackPtr findControlCallback(const char* name) {
    return findEntry(name, &UiNameEntry::controlCallback);
}

PanelCallbackPtr findPanelCallback(const char* name) {
    return findEntry(name, &UiNameEntry::panelCallback);
}

void reportError(const char* message) {
    std::fprintf(stderr, "user interface: %s\n", message);
    std::fflush(stderr);
}

}  // namespace ui_runtime

const char* GetUILErrorString(int status) {
    switch (status) {
    case UIE_NO_ERROR: return "No error";
    case UIE_NOT_INITIALISED: return "The user interface is not initialised";
    case UIE_BAD_PANEL: return "Invalid panel handle";
    case UIE_BAD_CONTROL: return "Invalid control";
    case UIE_BAD_ATTRIBUTE: return "Invalid attribute or value";
    case UIE_BAD_VALUE_TYPE: return "Value type does not fit the control";
    case UIE_BAD_INDEX: return "List index out of range";
    case UIE_FILE_NOT_FOUND: return "Panel definition not found";
    case UIE_BAD_DEFINITION: return "Panel definition is invalid";
    case UIE_UNKNOWN_CALLBACK: return "Callback name not in the name table";
    case UIE_OUT_OF_MEMORY: return "Out of memory";
    case UIE_BAD_FORMAT: return "Unsupported format string";
    case UIE_BAD_THREAD_POOL: return "Invalid thread pool or function id";
    case UIE_WRONG_THREAD: return "Called from the wrong thread";
    default: return status >= 0 ? "No error" : "Unknown error";
    }
}

int InitCVIRTE(void*, char** argv, const UiNameTable* names) {
    if (!QApplication::instance()) {
        if (!argv || !argv[0]) return 0;
        applicationArgv[0] = argv[0];
        applicationArgc = 1;
        useDispatcherThatPollsTheWindowSystem();
        sendImagesOverTheConnection();
        // Deliberately never deleted: the application lives as long as the
        // process, like the run-time it stands for.
        handlerBeforeStart = qInstallMessageHandler(startUpMessage);
        new QApplication(applicationArgc, applicationArgv);
        qInstallMessageHandler(handlerBeforeStart);
    } else if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        ui_runtime::reportError("a non-widget application object already exists");
        return 0;
    }
    followScreenRefresh();
    if (!startValueHandOver() || !startDeferredCalls()) return 0;
    installAccessibleControls();
    nameTable = names;
    initialised.store(true);
    return 1;
}

int RunUserInterface() {
    if (!initialised.load()) return UIE_NOT_INITIALISED;
    if (!ui_runtime::onMainThread()) return UIE_WRONG_THREAD;
    QEventLoop loop;
    runningLoops.push_back(&loop);
    const int result = loop.exec();
    runningLoops.pop_back();
    return result;
}

int QuitUserInterface(int returnCode) {
    if (!initialised.load()) return UIE_NOT_INITIALISED;
    if (!ui_runtime::onMainThread()) return UIE_WRONG_THREAD;
    if (!runningLoops.empty()) runningLoops.back()->exit(returnCode);
    return 0;
}
