// The drawing toolkit and views: palette, primitives, glyph icons, card grid, download
// panel and completion banner. Everything is painted by hand into the paint pass's memory
// DC; each painter appends its clickable areas to the frame's view state. The look and layout
// decisions are plain functions (ui/looks.h) that the painters call and tests call directly.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "download/task.h"
#include "ui/palette.h"
#include "ui/view_state.h"

namespace Gdiplus {
class Graphics;
class GraphicsPath;
}  // namespace Gdiplus

// What one paint reads, taken once at the start of the paint so that every painter sees
// the same lists, tasks and time, and the view state the painters read and write.
struct PaintFrame {
    ViewState* view = nullptr;                  // fonts, hover, scrolling, banner; hit rectangles go here
    std::shared_ptr<const CatalogLists> lists;  // never null
    std::map<int32_t, TaskInfo> tasks;          // one snapshot of the download manager
    uint32_t now = 0;                           // GetTickCount() at the start of the paint
    bool maximized = false;                     // main window maximized (restore glyph)
    std::wstring downloadDir;                   // the download panel's directory line
    HWND iconNotify = nullptr;                  // window told when a fetched icon arrives
    bool fetchIcons = true;                     // start icon fetches for never-requested icons
    CatalogState* catalog = nullptr;            // the store icon fetches report to; none without it
    std::wstring server;                        // the server icon fetches ask

    const TaskInfo* task(int32_t appId) const {
        auto found = tasks.find(appId);
        return found == tasks.end() ? nullptr : &found->second;
    }
    // A record of `lists` kept alive together with them (for an icon fetch).
    AppRef ref(const App* app) const { return AppRef(lists, app); }
};

// Primitives.
void addRoundRectPath(Gdiplus::GraphicsPath& path, const RECT& rect, int radius);
void addRoundRectPath(Gdiplus::GraphicsPath& path, float left, float top, float right, float bottom, float radius);
void fillRoundRect(Gdiplus::Graphics& graphics, const RECT& rect, int radius, uint32_t argb);
void strokeRoundRect(Gdiplus::Graphics& graphics, const RECT& rect, int radius, uint32_t argb);
void fillRectArgb(Gdiplus::Graphics& graphics, const RECT& rect, uint32_t argb);
// Single-line GDI text in one of the shared fonts; the DC's font is restored after.
void drawText(HDC hdc, const std::wstring& text, RECT rect, HFONT font, COLORREF colour, UINT flags);
int textWidth(HDC hdc, const std::wstring& text, HFONT font);
// The kept icon when ready, otherwise the tinted placeholder with the first letter;
// starts the icon fetch for a never-requested icon, kept at the size drawn. app may be null.
void drawAppIcon(Gdiplus::Graphics& graphics, const App* app, const RECT& rect, const PaintFrame& frame);
void drawToolButton(Gdiplus::Graphics& graphics, HDC hdc, const RECT& rect, const std::wstring& label,
                    bool gearGlyph, bool hovered, bool active, HFONT font);

// The sidebar's pictograms: kinds 0..15, anything else the neutral four discs.
void drawGlyphIcon(Gdiplus::Graphics& graphics, int kind, const RECT& rect, COLORREF colour);

// Views. Each records its hit rectangles and writes its scroll clamp and scrollbar.
void drawAppGrid(Gdiplus::Graphics& graphics, HDC hdc, const RECT& area, const std::vector<const App*>& apps,
                 const std::wstring* sectionTitle, const PaintFrame& frame);
void drawDownloadPanel(Gdiplus::Graphics& graphics, HDC hdc, int width, int height, const PaintFrame& frame);
void drawCompletionBanner(Gdiplus::Graphics& graphics, HDC hdc, int width, int height, const PaintFrame& frame);
