// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The viewer's window icon: the installed theme icon "kolvar-can-viewer"
// (the package puts it into the hicolor theme at every size), or, where no
// theme has it (a build run from its tree), the icon file that ships with
// the program. Qt's X11 platform hands it to the window manager as
// _NET_WM_ICON. [main-thread, after the application object exists]
void setViewerWindowIcon();
