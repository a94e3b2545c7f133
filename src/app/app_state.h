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
#include "ui/view_state.h"

// The header logo: decoded once from the executable's resources on the first paint.
enum class LogoState { NotTried, Unavailable, Loaded };

namespace Gdiplus {
class Bitmap;
}

// The view fields the painters see (fonts, hover, grid and panel scrolling, scrollbars,
// hit rectangles, banner) come from ViewState under the same names.
struct AppState : ViewState {
    // Configuration and catalog.
    Config config;  // defaults until start-up replaces them with loadConfig()
    bool configUnreadable = false;  // config.json held no JSON: kept aside before the first save
    CatalogState catalog;
    bool catalogLoading = false;  // the content shows the loading state
    bool catalogLoadFailed = false;
    // The lists shown are the cached ones of the last run, until a load replaces them; a
    // load then runs behind them without the loading state.
    bool catalogFromCache = false;

    // View state.
    int viewMode = 0;  // 0 catalog, 1 download manager
    std::wstring selectedCategoryId;
    int sidebarScroll = 0;
    int scrollDrag = 0;  // 0 none, 1 sidebar thumb, 2 grid thumb, 3 panel thumb
    int dragGrabOffset = 0;
    std::wstring toastText;
    int toastKind = 0;  // 0 neutral, 1 success, 2 error
    uint32_t toastTick = 0;
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
};

extern AppState& gApp;

// "Microsoft YaHei" at the given character height and weight, as every font of the
// program is made.
HFONT createUiFont(int height, int weight);
// Creates the 13 shared fonts in their fixed order at the display scale dpi, replacing
// (and deleting) the set of the previous scale; false when any could not be made, and
// then a set that already exists stays.
bool createFonts(AppState& state, int dpi = 96);
