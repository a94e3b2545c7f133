// The one global state of the user-interface thread: configuration, catalog store, load
// flags, view mode, selection, scroll offsets and scrollbar geometry, hover, toast,
// completion banner, window handles and the shared fonts. Only the user-interface thread
// reads or writes it (the catalog store publishes whole lists under its own lock);
// background threads reach the window by posting messages.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/config.h"
#include "catalog/catalog.h"
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

// The header logo: decoded once from the executable's resources on the first paint.
enum class LogoState { NotTried, Unavailable, Loaded };

namespace Gdiplus {
class Bitmap;
}

struct AppState {
    // Configuration and catalog.
    Config config;  // defaults until start-up replaces them with loadConfig()
    bool configUnreadable = false;  // config.json held no JSON: kept aside before the first save
    CatalogState catalog;
    bool catalogLoading = false;
    bool catalogLoadFailed = false;

    // View state.
    int viewMode = 0;  // 0 catalog, 1 download manager
    std::wstring selectedCategoryId;
    int sidebarScroll = 0;
    int gridScroll = 0;
    int panelScroll = 0;  // download panel: rows that do not fit scroll like the grid
    ScrollbarGeom sidebarScrollbar, gridScrollbar, panelScrollbar;
    int scrollDrag = 0;  // 0 none, 1 sidebar thumb, 2 grid thumb, 3 panel thumb
    int dragGrabOffset = 0;
    std::vector<HitRect> hitRects;
    bool hoverValid = false;
    int hoverKind = 0;
    int hoverId = 0;
    std::wstring toastText;
    int toastKind = 0;  // 0 neutral, 1 success, 2 error
    uint32_t toastTick = 0;
    std::wstring bannerText;
    int bannerTaskId = 0;
    bool bannerVerified = true;
    bool bannerIsArchive = false;
    uint64_t bannerGeneration = 0;  // the finished job's generation
    BannerInstall bannerInstall = BannerInstall::Opening;
    uint32_t bannerTick = 0;
    LogoState logoState = LogoState::NotTried;
    std::shared_ptr<Gdiplus::Bitmap> logoImage;  // set when logoState is Loaded

    // Windows.
    HWND mainWindow = nullptr;
    HWND shadowWindow = nullptr;
    bool inSizeMove = false;
    bool shadowHiddenForSizing = false;
    SIZE shadowSize{0, 0};
    HWND settingsWindow = nullptr;
    HWND settingsEdit = nullptr;
    HWND settingsCredit = nullptr;

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

extern AppState& gApp;

// "Microsoft YaHei" at the given character height and weight, as every font of the
// program is made.
HFONT createUiFont(int height, int weight);
// Creates the 13 shared fonts in their fixed order at the display scale dpi, replacing
// (and deleting) the set of the previous scale; false when any could not be made, and
// then a set that already exists stays.
bool createFonts(AppState& state, int dpi = 96);
