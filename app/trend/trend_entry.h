// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The trend window's place in the program: the "Trend" button's callback
// opens or raises it; closing the main panel closes it. [main-thread]

class TrendWindow;

// Callback of TREND_BUTTON: on commit, opens the trend window or raises it.
int trendWindow(int panel, int control, int event, void* callbackData, int eventData1,
                int eventData2);

// The window, or null when it was never opened or, closed, has been
// destroyed (which follows a close once any export has ended).
TrendWindow* trendWindowIfOpen();

// Stops any recording, closes the window and frees what it holds. Called
// after the close-time stop, before the event loop ends.
void closeTrendWindow();
