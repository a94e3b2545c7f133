// The main window's decisions over plain data: where the window goes, which frame part a
// point is, which hit rectangle a point is on, how a scrollbar thumb follows the pointer,
// where a wheel turn goes, when the timer repaints and which category stays selected
// after a load. The window procedure calls these; tests call them directly.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "download/task.h"

struct WindowRect {
    int x = 0, y = 0, width = 0, height = 0;
};
// Centred 1180 x 780 where the screen allows, else 30 pixels from each edge; every
// threshold, size and offset at the given display scale.
WindowRect mainWindowRect(int screenWidth, int screenHeight, int dpi = 96);
// The minimum tracking size, 1000 x 660 scaled, but never more than the work area.
SIZE minimumWindowSize(int workWidth, int workHeight, int dpi);
// The window's size after its display scale changes from oldDpi to newDpi: the size it has
// (or is about to have) scaled by newDpi / oldDpi, no wider or taller than the work area less
// the window rule's 30-pixel margins, and no smaller than the minimum tracking size.
SIZE dpiScaledWindowSize(SIZE size, int oldDpi, int newDpi, int workWidth, int workHeight);
// The rounded region's corner diameter at the window's scale (14 at 96 DPI).
int windowCornerDiameter();

// The frame part at client point (x, y) of a w x h window; onHitRect tells whether the
// point lies on a recorded hit rectangle (header buttons are client, not caption). The
// bands are those of the window's scale.
LRESULT frameHitTest(int x, int y, int w, int h, bool onHitRect);

// The rectangle a press or hover at (x, y) lands on: the last recorded one containing it.
const HitRect* hitRectAt(const std::vector<HitRect>& rects, int x, int y);

// A press on a scrollbar: whether it starts a thumb drag, the grab offset, and the scroll
// offset after the press (a press beside the thumb centres the thumb on the pointer).
struct ThumbPress {
    bool drag = false;
    int grabOffset = 0;
    int offset = 0;
};
ThumbPress thumbPress(const ScrollbarGeom& bar, int x, int y, int currentOffset);
// The scroll offset while dragging with the pointer at y; currentOffset when the bar
// cannot move.
int thumbDragOffset(const ScrollbarGeom& bar, int y, int grabOffset, int currentOffset);

enum class WheelTarget { None, Sidebar, Grid, Panel };
WheelTarget wheelTarget(int x, int y, int viewMode);

// Timer 1 repaints while something on screen changes by itself.
bool timerNeedsRepaint(bool toastSet, bool bannerSet, int viewMode, const std::map<int32_t, TaskInfo>& tasks);

// The selected category after a load finished; viewModeBefore is the view when it arrived.
std::wstring selectionAfterLoad(int viewModeBefore, const std::wstring& selected,
                                const std::vector<Category>& categories);

// True once the icons asked for so far have all arrived (or failed) and at least one was
// asked for: a catalog frame painted then shows every visible icon.
bool requestedIconsSettled(const std::vector<App>& apps);
