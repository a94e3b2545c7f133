// What the views read and write while they paint: the shared fonts, hover, the scroll
// offsets and scrollbars they clamp and draw, the completion banner's fields and the hit
// rectangles they record. The application's state is made of it (AppState derives from
// ViewState), and a paint hands it to the views through its PaintFrame.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "scoped.h"

// A clickable area recorded by a paint; later entries win where rectangles overlap.
struct HitRect {
    RECT rect{0, 0, 0, 0};
    int kind = 0;
    int id = 0;
};

// Hit-rectangle kinds and what a press on each does (the window procedure acts on them).
enum HitKind : int {
    HitSidebarRow = 1,
    HitMinimize = 3,
    HitMaximize = 4,
    HitClose = 5,
    HitDownloadsTool = 6,
    HitSettingsTool = 7,
    HitCardButton = 8,
    HitPanelCancel = 11,
    HitPanelInstall = 12,
    HitPanelFolder = 13,
    HitPanelRetry = 14,
    HitPanelClear = 15,
    HitReload = 16,
    HitPanelChangeDir = 18,
    HitPanelOpenDir = 19,
    HitBanner = 20,
};

// A scrollbar as last painted; the mouse handling reads it for thumb drags.
struct ScrollbarGeom {
    bool visible = false;
    int trackLeft = 0, trackTop = 0, trackRight = 0, trackBottom = 0;
    int thumbLeft = 0, thumbTop = 0, thumbRight = 0, thumbBottom = 0;
    int maxScroll = 0;
};

// What the completion banner says of a verified installer: being opened, waiting behind
// another installer, opened, or not started at all.
enum class BannerInstall { Opening, Waiting, Started, NotStarted };

struct ViewState {
    // Scrolling views: offsets clamped by their paint, scrollbars as last painted.
    int gridScroll = 0;
    int panelScroll = 0;  // download panel: rows that do not fit scroll like the grid
    ScrollbarGeom sidebarScrollbar, gridScrollbar, panelScrollbar;
    std::vector<HitRect> hitRects;
    bool hoverValid = false;
    int hoverKind = 0;
    int hoverId = 0;

    // The completion banner.
    std::wstring bannerText;
    int bannerTaskId = 0;
    bool bannerVerified = true;
    bool bannerUnverifiable = false;  // the file could not be read to check it
    bool bannerIsArchive = false;
    uint64_t bannerGeneration = 0;  // the finished job's generation
    BannerInstall bannerInstall = BannerInstall::Opening;

    // The 13 shared fonts at the window's display scale (createFonts): made at start-up and
    // made anew when the window moves to a display of another scale.
    int fontDpi = 96;
    std::vector<ScopedGdiObject> fontHandles;  // owns the 13 below
    HFONT fontHeadline = nullptr;
    HFONT fontTitle = nullptr;
    HFONT fontSmall = nullptr;
    HFONT fontName = nullptr;
    HFONT fontBody = nullptr;
    HFONT fontMeta = nullptr;
    HFONT fontButton = nullptr;
    HFONT fontSection = nullptr;
    HFONT fontSidebar = nullptr;
    HFONT fontRow = nullptr;
    HFONT fontToast = nullptr;
    HFONT fontInitial = nullptr;
    HFONT fontTool = nullptr;
};
