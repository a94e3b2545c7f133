// Layout and look decisions of the views as plain functions over plain data: the painters
// call them and the tests call them directly, without a window.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "download/task.h"
#include "ui/view_state.h"

// Icon placeholders.
COLORREF placeholderColour(int32_t appId);      // palette entry id mod 5 (entry 0 for negative ids)
COLORREF tint(COLORREF colour, int percent);    // 255 - ((255 - v) * p) / 100 per channel
int placeholderRadius(int width);               // width * 12 / 64: 84 -> 15, 48 -> 9, 44 -> 8
wchar_t placeholderLetter(const App* app);      // first UTF-16 unit of the name, or '?'

// Card grid.
struct GridGeometry {
    int gridTop = 0;
    int width = 0;
    int viewH = 0;
    int cols = 3;
    int cardW = 0;
    int rows = 0;
    int contentH = 0;
    int maxScroll = 0;
    int scroll = 0;  // the offset after clamping into 0 .. maxScroll
};
// Card, row and button lengths at the window's scale (ui/scale.h).
int gridCardHeight();      // 234
int gridRowPitch();        // 248
int panelRowHeight();      // 86
int panelRowPitch();       // 96
int panelTrackLeft();      // 298: the left edge of a row's name, bar and status line
int panelTrackRight(int width);  // width - 260
int panelButtonTop();      // 28 below the row's top
int panelButtonHeight();   // 30

GridGeometry gridGeometry(const RECT& area, bool hasTitle, int appCount, int scroll);
RECT gridCardRect(const GridGeometry& g, const RECT& area, int index);
bool gridCardVisible(const GridGeometry& g, const RECT& area, const RECT& card);
RECT gridButtonRect(const GridGeometry& g, const RECT& card);
ScrollbarGeom gridScrollbarGeom(const GridGeometry& g, const RECT& area, int appCount);

struct ButtonLook {
    std::wstring label;
    uint32_t fill = 0;         // ARGB of the whole button
    uint32_t progressFill = 0; // ARGB of the progress part (0 = none)
    int progressWidth = 0;     // pixels from the button's left, one per percent
    COLORREF text = 0;
};
// state: the task's state, or -1 without a task.
// interrupted: a failed job of an earlier run whose part file waits to be continued.
ButtonLook cardButtonLook(int state, int percent, bool isArchive, bool hasPackage, bool hot, bool interrupted = false);
int taskPercent(int64_t downloadedBytes, int64_t totalBytes);  // 0 when the total is below 1
std::wstring metaLine(int64_t packageSize, int64_t updatedAt);  // "12.3 MB · 03-07更新"
std::wstring sectionTitle(bool noCategories, const std::wstring& name, size_t count);

// Download panel.
struct PanelGeometry {
    int rowsTop = 158;    // first row's top before scrolling
    int viewTop = 158;    // clip band of the rows
    int viewBottom = 0;
    int contentH = 0;     // n * 96 - 10
    int maxScroll = 0;
    int scroll = 0;       // clamped
};
PanelGeometry panelGeometry(int height, int taskCount, int scroll);
RECT panelRowRect(const PanelGeometry& g, int width, int index);
ScrollbarGeom panelScrollbarGeom(const PanelGeometry& g, int width);

struct PanelButton {
    std::wstring label;
    int kind = 0;
    int left = 0, right = 0;  // x range; 30 high at row top + 28
    bool primary = false;
};
struct RowLook {
    std::wstring name;
    std::wstring nameSuffix;  // kept whole after the name, which alone is cut with an ellipsis
    COLORREF nameColour = 0;
    std::wstring status;
    COLORREF statusColour = 0;
    uint32_t barFill = 0;   // 0 = no bar beyond the track
    int barWidth = 0;       // pixels from the track's left
    std::vector<PanelButton> buttons;
};
RowLook panelRowLook(const TaskInfo& task, int width);
std::wstring panelTitle(size_t taskCount);  // "下载管理 · 3 个任务"

// Completion banner.
RECT bannerRect(int width, int height);
struct BannerMessage {
    std::wstring text;
    COLORREF colour = 0;
};
// unverifiable: the file could not be read to check its digest (verified is false then too).
BannerMessage bannerMessage(bool verified, bool isArchive, BannerInstall install = BannerInstall::Started,
                            bool unverifiable = false);
// The banner's install state as shown: an installer being opened that the queue holds
// behind another one is waiting.
BannerInstall shownBannerInstall(BannerInstall stored, const TaskInfo* task, uint64_t generation);
