// Start-up: GDI+, the shared fonts, the window classes, the main window, OLE and the
// shadow; the message loop; and the background catalog load.
#pragma once

#include <windows.h>

// From GDI+ to the placed shadow; false aborts start-up (exit code 1).
bool initWindows(HINSTANCE instance);
// Runs until the quit message and returns its wParam.
int runMessageLoop();

// Starts a background load of the catalog; never blocks. Only one load runs at a time: a
// "重新加载" while one runs is ignored, and the running one decides what is shown.
void startCatalogLoad();
// OLE on the user-interface thread, once: after the first frame, or at the first
// screen-reader request when that comes sooner.
void ensureOleStarted();
// Called for each load-finished message; true when no other load is still running.
bool finishCatalogLoad();
