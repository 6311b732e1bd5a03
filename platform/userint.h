// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// User-interface run-time: panels, controls, the event loop, the standard
// output window and a thread pool, built on Qt 6 Widgets.
//
// Status convention (shared by every function here except InitCVIRTE): a
// result >= 0 is success (a handle, an index or 0); a negative result is one
// of the UiStatus codes below, and GetUILErrorString() gives its text.
// InitCVIRTE keeps the run-time's own form: 1 when it started, 0 when not.
//
// Threads: every function is [main-thread] (the thread that called
// InitCVIRTE and runs RunUserInterface) unless its comment says
// [any-thread]. All callbacks run on the main thread, one at a time.

#include <cstddef>

// ---- Status codes ---------------------------------------------------------
enum UiStatus : int {
    UIE_NO_ERROR = 0,
    UIE_NOT_INITIALISED = -1,   // "The user interface is not initialised"
    UIE_BAD_PANEL = -2,         // "Invalid panel handle"
    UIE_BAD_CONTROL = -3,       // "Invalid control"
    UIE_BAD_ATTRIBUTE = -4,     // "Invalid attribute or value"
    UIE_BAD_VALUE_TYPE = -5,    // "Value type does not fit the control"
    UIE_BAD_INDEX = -6,         // "List index out of range"
    UIE_FILE_NOT_FOUND = -7,    // "Panel definition not found"
    UIE_BAD_DEFINITION = -8,    // "Panel definition is invalid"
    UIE_UNKNOWN_CALLBACK = -9,  // "Callback name not in the name table"
    UIE_OUT_OF_MEMORY = -10,    // "Out of memory"
    UIE_BAD_FORMAT = -11,       // "Unsupported format string"
    UIE_BAD_THREAD_POOL = -12,  // "Invalid thread pool or function id"
    UIE_WRONG_THREAD = -13,     // "Called from the wrong thread"
};

// [any-thread] Text for a status; never null.
const char* GetUILErrorString(int status);

// ---- Events, attributes, pools ---------------------------------------------
constexpr int EVENT_COMMIT = 1;     // the user finished changing a control
constexpr int EVENT_GOT_FOCUS = 8;  // panel gained the input focus
constexpr int EVENT_CLOSE = 11;     // the user asked to close the panel

constexpr int ATTR_VISIBLE = 530;   // int: 0 hidden, nonzero shown
// int: nonzero draws the digital display of a meter, numeric or knob greyed
// (its value may be out of date), 0 normally; the value stays. Other
// controls answer UIE_BAD_ATTRIBUTE.
constexpr int ATTR_GREYED = 540;
// int: nonzero makes a meter or numeric show "—" greyed in its digital
// display and a meter draw no needle: no value has come yet. The value is
// kept and shown again at 0. Other controls answer UIE_BAD_ATTRIBUTE.
constexpr int ATTR_NO_VALUE = 541;

constexpr int DEFAULT_THREAD_POOL_HANDLE = -1;

// ---- Callback forms ---------------------------------------------------------
using CtrlCallbackPtr = int (*)(int panel, int control, int event, void* callbackData,
                                int eventData1, int eventData2);
using PanelCallbackPtr = int (*)(int panel, int event, void* callbackData, int eventData1,
                                 int eventData2);
using ThreadFunctionPtr = int (*)(void* functionData);
using TimerCallbackPtr = void (*)(void* callbackData);
using DeferredCallbackPtr = void (*)(void* callbackData);

// ---- Name table -------------------------------------------------------------
// Loading a panel binds each callback name in its definition to the entry of
// this table with the same name. Exactly one of controlCallback and
// panelCallback is set in each entry.
struct UiNameEntry {
    const char* name;
    CtrlCallbackPtr controlCallback;
    PanelCallbackPtr panelCallback;
};
struct UiNameTable {
    const UiNameEntry* entries;
    int count;
};

// ---- Start, panels and the event loop ---------------------------------------
// Starts the run-time: creates the QApplication when none exists yet (argv is
// null-terminated; argv[0] is the program name) and keeps `names` for later
// LoadPanel calls. `instance` is unused (pass 0). Returns 1 on success, 0 when
// the run-time cannot start. May be called again; the last table wins.
int InitCVIRTE(void* instance, char** argv, const UiNameTable* names);

// Loads panel `panelId` from the definition `fileName` and returns its handle
// (> 0), or a negative status. Definitions are looked up first among the
// program's embedded resources (":/<FILENAME IN UPPER CASE>", e.g.
// "KolvarCanView.uir" -> ":/KOLVARCANVIEW.UIR"), then as a file path.
// A definition that names a callback missing from the name table, or a
// control class the run-time cannot build, fails with a message on standard
// error naming it, and nothing is left loaded. parentPanel must be 0.
int LoadPanel(int parentPanel, const char* fileName, int panelId);
int DisplayPanel(int panel);
int DiscardPanel(int panel);  // harmless on an invalid handle

// [main-thread] Shows `message` in a modal box titled `title` and returns
// when the user has closed it. Without a screen (the offscreen and minimal
// platforms), where nobody could read or close it, returns at once.
int MessagePopup(const char* title, const char* message);

// Dispatches events and callbacks on the calling thread until
// QuitUserInterface; returns the value passed to it.
int RunUserInterface();
int QuitUserInterface(int returnCode);

// ---- Controls ---------------------------------------------------------------
int GetCtrlVal(int panel, int control, int* value);
int GetCtrlVal(int panel, int control, double* value);
int GetCtrlIndex(int panel, int control, int* index);
int SetCtrlIndex(int panel, int control, int index);

// [any-thread] Sets a control's value. From the main thread the value is shown
// at once. From any other thread the call never blocks on the main thread and
// never queues without bound: each control keeps only its latest value, and
// the main thread applies pending values in one batch, at screen rate.
int SetCtrlVal(int panel, int control, int value);
int SetCtrlVal(int panel, int control, unsigned value);
int SetCtrlVal(int panel, int control, double value);

// Sets the text of a text message. Only text messages take text; others
// answer UIE_BAD_VALUE_TYPE.
int SetCtrlVal(int panel, int control, const char* text);

int SetCtrlAttribute(int panel, int control, int attribute, int value);
int GetCtrlAttribute(int panel, int control, int attribute, int* value);

// Ring entries. DeleteListItem(panel, ctrl, 0, -1) removes every entry.
int DeleteListItem(int panel, int control, int index, int count);
int InsertListItem(int panel, int control, int index, const char* label, int value);
int GetNumListItems(int panel, int control, int* count);
int GetLabelFromIndex(int panel, int control, int index, char* label, int labelSize);
int GetValueFromIndex(int panel, int control, int index, int* value);

// ---- Timers -------------------------------------------------------------------
// Calls fn(data) on the main thread every intervalMs (1..86400000) while the
// event loop runs, until DiscardTimer; returns a timer id > 0.
int NewTimer(int intervalMs, TimerCallbackPtr fn, void* data);
// Stops and forgets the timer; UIE_BAD_ATTRIBUTE for an unknown id.
int DiscardTimer(int timerId);
// [any-thread] Calls fn(data) once on the main thread, when its event loop
// next runs; returns 0, or UIE_NOT_INITIALISED before InitCVIRTE.
int PostDeferredCall(DeferredCallbackPtr fn, void* data);

// ---- Screen ------------------------------------------------------------------
// [any-thread] Microseconds between two refreshes of the screen: from the
// primary screen's refresh rate (30..240 Hz) once InitCVIRTE has run, else
// those of a 60 Hz screen (16666). Lets a thread that feeds the panel do its
// work once per refresh, which is as often as anyone can see it.
int GetScreenRefreshMicros();

// ---- Formatting -------------------------------------------------------------
// [any-thread] Only the form Fmt(target, "%s<%s%i", text, integer) is
// supported: target = text followed by the integer in decimal. `target` must
// hold the result. Returns the number of pieces used (2), or UIE_BAD_FORMAT.
int Fmt(char* target, const char* format, ...);

// ---- Thread pool ------------------------------------------------------------
// [any-thread] Runs fn(data) once on a thread of the default pool (pool must
// be DEFAULT_THREAD_POOL_HANDLE); stores a positive id in *functionId.
int CmtScheduleThreadPoolFunction(int pool, ThreadFunctionPtr fn, void* data, int* functionId);
// [any-thread] Blocks until the function with that id has returned. Returns 0,
// or UIE_BAD_THREAD_POOL for an unknown or released id.
int CmtWaitForThreadPoolFunctionCompletion(int pool, int functionId);
// [any-thread] Forgets the id; the function itself keeps running if it has
// not returned yet.
int CmtReleaseThreadPoolFunctionID(int pool, int functionId);
// [main-thread] Ends the run-time's threads: waits for every function on the
// default pool to return and joins the pool's threads (named "kolvar-pool").
// Its caller has told every running function to stop first; a function that
// never returns holds it. Returns the number of threads joined. The pool
// starts threads again when a function is scheduled afterwards.
int CloseCVIRTE();
