// The process's DPI awareness and the display scale of a window. The calls that newer
// systems offer are looked up at run time, so the program still starts where they are
// missing (and under Wine, which refuses per-monitor awareness v2).
#pragma once

#include <windows.h>

// Per-monitor awareness v2, else per-monitor v1, else system awareness; which one held.
enum class DpiAwareness { PerMonitorV2, PerMonitor, System, None };
DpiAwareness makeProcessDpiAware();

// The window's DPI, else the system's, else the screen's logical pixels, else 96.
int windowDpi(HWND window);
int systemDpi();
