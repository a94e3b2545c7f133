// The main view: paints the whole client area (header, sidebar, content, toast, banner)
// off-screen on every WM_PAINT and copies it in one BitBlt, recording gApp.hitRects.
// The main view's own decisions are plain functions below, so tests can call them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "ui/layout.h"
#include "ui/ui.h"

// The real paint: takes the frame (lists, one task snapshot, the time) and paints.
void paintMainView(HDC hdc, const RECT& clientRect);
// Paints a given frame; tests and the snapshot tool call it with fixture frames.
void paintMainViewFrame(HDC hdc, const RECT& clientRect, const PaintFrame& frame);
// The frame the real paint uses: published lists, a snapshot, GetTickCount, the window's state.
PaintFrame currentFrame();

struct GlyphChoice {
    int kind = 16;
    COLORREF colour = 0x9B8C82;
};
GlyphChoice glyphForCategoryName(const std::wstring& name);
COLORREF highlightedGlyphColour(COLORREF colour);  // each channel * 4 / 5

uint32_t toastFill(int kind);
std::wstring connectionErrorTitle(const std::wstring& server);

// The header logo decoded from the module's resource data 2; null when it is missing or
// cannot be decoded. The first paint stores the result in gApp (decoded once per run).
std::shared_ptr<Gdiplus::Bitmap> loadLogoImage(HMODULE module);
// The logo's box at the window's scale.
SIZE logoSize();
// User-interface thread, before the first paint: the logo as drawn at logoSize() (kept on
// disk, or scaled by the start-up worker); the paint copies it while the scale stays.
void keepDrawnLogo(std::unique_ptr<Gdiplus::Bitmap> drawn);

// Paint caches: the back buffer of the last client size, the logo scaled to its box, the
// header and sidebar as last drawn (copied while the state they show is unchanged), and
// the kept faces of cards and outlined boxes (ui/face_cache.h).
// Disabling them makes every paint draw everything itself, as a baseline for measurements;
// what they hold stays until releasePaintCaches and is checked again when they are enabled.
void setPaintCaching(bool enabled);
void releasePaintCaches();  // frees what the caches hold (tests of leaked objects)

// Any thread, before the first paint: the back buffer for a client of width x height made
// and filled ahead; the first paint of that size takes it instead of making its own.
// discardPreparedBackBuffer frees it when no paint took it.
void prepareBackBuffer(int width, int height);
void discardPreparedBackBuffer();

// Where a paint's time goes: when a sink is set, every paint adds its sections' times.
struct PaintTimings {
    double buffer = 0;    // back buffer, background fill, graphics object
    double header = 0;    // gradient, logo, texts, caption and tool buttons, badge
    double sidebar = 0;   // background, rows, scrollbar
    double content = 0;   // status texts, card grid or download panel
    double overlays = 0;  // toast and banner
    double copy = 0;      // the one copy to the target DC
    int paints = 0;
};
void setPaintTimings(PaintTimings* sink);  // null stops the timing
