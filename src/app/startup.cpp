#include "app/startup.h"

#include <ole2.h>

#include <algorithm>

#include "app/app_state.h"
#include "app/early_load.h"
#include "app/dpi.h"
#include "app/main_window.h"
#include "app/settings_dialog.h"
#include "app/shadow.h"
#include "app/warm_up.h"
#include "app/window_rules.h"
#include "catalog/catalog_cache.h"
#include "startup_marks.h"
#include "ui/layout.h"
#include "ui/gdiplus.h"
#include "ui/scale.h"

namespace {

// Loads started and not yet reported back; user-interface thread only.
int loadsRunning = 0;

// How long the window's creation waits for the start-up load to have read the cached
// catalog: reading it takes milliseconds; a disk that takes longer gets the loading state.
constexpr DWORD kCacheWaitMs = 1500;

// The cached catalog is on screen: the content shows it (not the loading state) while the
// load runs behind it, with the first category selected.
void showCachedCatalog() {
    gApp.catalogFromCache = true;
    gApp.catalogLoading = false;
    gApp.selectedCategoryId = selectionAfterLoad(0, gApp.selectedCategoryId, gApp.catalog.lists()->categories);
}

// The icons of the cards the first frame shows (the first category's): those read from the
// disk cache while the display started are kept at once, the others asked for while the
// window is being made.
void requestFirstFrameIcons() {
    const std::shared_ptr<const CatalogLists> lists = gApp.catalog.lists();
    if (lists->categories.empty()) return;
    const RECT r = cardIconRect(0, 0, 0);
    const std::vector<IconSize> sizes{IconSize{r.right - r.left, r.bottom - r.top}};
    const std::vector<IconCacheEntry> read = takeEarlyIconEntries();
    size_t asked = 0;
    for (const App* app : lists->categoryIndex()->appsOf(lists->categories.front().id)) {
        if (asked++ == kFirstFrameCards) break;
        const AppRef ref(lists, app);
        const std::wstring url = gApp.config.server + app->icon;
        const auto entry = std::find_if(read.begin(), read.end(), [&](const IconCacheEntry& e) { return e.url == url; });
        if (entry != read.end() && keepIconFromEntry(ref, gApp.config.server, *entry, sizes)) continue;
        requestIcon(gApp.catalog, nullptr, ref, gApp.config.server, sizes);
    }
}

}  // namespace

void startCatalogLoad() {
    // One load at a time: a reload asked for while one runs would fetch the same answer
    // again beside it (a held key asks about 30 times a second), and the running load
    // cannot be stopped, so replacing it would not end it either.
    if (loadsRunning > 0) return;
    // A shown cached catalog stays while the load runs; otherwise the loading state.
    gApp.catalogLoading = !gApp.catalogFromCache;
    gApp.catalogLoadFailed = false;
    requestRepaint();
    const EarlyLoad early = adoptEarlyCatalogLoad(gApp.mainWindow);
    if (early != EarlyLoad::None) {
        loadsRunning++;
        if (earlyCatalogCacheShown(kCacheWaitMs)) showCachedCatalog();
        // Answered before the window existed: taken in now, so that the first paint
        // already shows the catalog.
        if (early != EarlyLoad::Running)
            SendMessageW(gApp.mainWindow, kMsgCatalogLoaded, early == EarlyLoad::Succeeded ? 1 : 0, 0);
        return;
    }
    // No start-up load (or it was taken): the cache is read here, once, while nothing is shown.
    if (!gApp.catalogFromCache && gApp.catalog.lists()->categories.empty() &&
        publishCachedCatalog(gApp.catalog, gApp.config.server, gApp.config.channel))
        showCachedCatalog();
    if (startCatalogLoadThread(gApp.catalog, gApp.mainWindow, gApp.config.server, gApp.config.channel)) {
        loadsRunning++;
    } else if (loadsRunning == 0) {
        // No thread, so no answer will come: show the error state with its reload button
        // rather than a loading text that never ends.
        gApp.catalog.setLastError(L"无法启动加载");
        PostMessageW(gApp.mainWindow, kMsgCatalogLoaded, 0, 0);
        loadsRunning++;
    }
}

void ensureOleStarted() {
    static bool started = false;
    if (started) return;
    started = true;
    OleInitialize(nullptr);
    markStartup(StartupMark::OleStarted);
}

bool finishCatalogLoad() {
    if (loadsRunning > 0) loadsRunning--;
    return loadsRunning == 0;
}

bool initWindows(HINSTANCE instance) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return false;
    markStartup(StartupMark::GdiplusStarted);
    // The primary display's scale until the window knows its own.
    setUiDpi(systemDpi());
    const WindowRect r = mainWindowRect(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), uiDpi());
    markStartup(StartupMark::DisplayStarted);  // the first screen query waits for the display driver
    createFonts(gApp, uiDpi());
    markStartup(StartupMark::FontsCreated);
    // Beside the classes and the main window. Not before the display driver has started (the
    // first call above that needs the screen): the worker's calls could only wait for that
    // start and compete with it. The shadow is drawn after the first frame for the same reason.
    startFirstPaintWarmUp(r.width, r.height);
    if (!registerMainWindowClass(instance)) return false;
    registerSettingsClass(instance);
    markStartup(StartupMark::ClassesRegistered);

    adoptWarmedLogo();
    if (earlyCatalogCacheShown(0)) requestFirstFrameIcons();
    HWND window = CreateWindowExW(WS_EX_APPWINDOW, kMainWindowClass, kMainWindowTitle, WS_POPUP | WS_OVERLAPPEDWINDOW,
                                  r.x, r.y, r.width, r.height, nullptr, nullptr, instance, nullptr);
    if (!window) return false;
    markStartup(StartupMark::WindowCreated);
    ShowWindow(window, SW_SHOW);
    markStartup(StartupMark::WindowShown);
    UpdateWindow(window);
    earlyLoadFrameShown();
    // Only screen readers and the folder picker need OLE: not on the way to the first frame.
    ensureOleStarted();

    // The shadow comes after the first frame: nothing on the way to it waits for the shadow's
    // window or its picture.
    if (registerShadowClass(instance) && createShadowWindow(instance, nullptr)) {
        markStartup(StartupMark::ShadowWindowCreated);
        prerenderShadow(r.width, r.height);
        markStartup(StartupMark::ShadowPrerendered);
        updateShadow(window);
        if (GetPropW(window, kCatalogFrameProp)) showStartupMarks(window);  // the shadow's marks too
    }
    return true;
}

int runMessageLoop() {
    MSG msg = {};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (gApp.settingsWindow && settingsDialogMessage(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
