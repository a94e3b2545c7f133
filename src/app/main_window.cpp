#include "app/main_window.h"

#include <windowsx.h>
#include <shellapi.h>

#include "app/app_state.h"
#include "app/dpi.h"
#include "app/install_flow.h"
#include "app/keyboard.h"
#include "app/main_view.h"
#include "app/settings_dialog.h"
#include "app/shadow.h"
#include "app/startup.h"
#include "app/window_rules.h"
#include "catalog/catalog_cache.h"
#include "download/format.h"
#include "download/manager.h"
#include "download/shell_open.h"
#include "install/install.h"
#include "startup_marks.h"
#include "ui/scale.h"

#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

namespace {

uintptr_t paintCount = 0;
bool catalogFrameSeen = false;
bool iconsFrameSeen = false;

POINT clientPoint(LPARAM lParam) { return POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}; }

ScrollbarGeom* barOfDrag(int drag) {
    switch (drag) {
    case 1:
        return &gApp.sidebarScrollbar;
    case 2:
        return &gApp.gridScrollbar;
    case 3:
        return &gApp.panelScrollbar;
    default:
        return nullptr;
    }
}

int* offsetOfDrag(int drag) {
    switch (drag) {
    case 1:
        return &gApp.sidebarScroll;
    case 2:
        return &gApp.gridScroll;
    case 3:
        return &gApp.panelScroll;
    default:
        return nullptr;
    }
}

LRESULT onSize(HWND window);

RECT workAreaOf(HWND window) {
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) work = monitor.rcWork;
    return work;
}

// Everything drawn at the window's scale follows a new one: the fonts, the paint caches,
// the shadow and an open settings dialog.
void applyDisplayScale(int dpi) {
    setUiDpi(dpi);
    createFonts(gApp, uiDpi());
    releasePaintCaches();
    gApp.shadowSize = SIZE{0, 0};
    relayoutSettingsDialog(uiDpi());
    requestRepaint();
}

LRESULT onCreate(HWND window) {
    gApp.mainWindow = window;
    gApp.catalog.notifyWindow = window;
    DownloadManager::instance().window = window;
    if (!gApp.config.downloadDir.empty()) setDownloadDirectory(gApp.config.downloadDir);
    // Found and made on a worker: the panel paints the text, never waits for the folder.
    refreshDownloadDirectory(window, WM_DOWNLOAD_CHANGED);
    SetTimer(window, kTimerId, kTimerPeriodMs, nullptr);
    // The monitor the window opened on may have another scale than the primary one.
    const int dpi = windowDpi(window);
    if (dpi != uiDpi()) applyDisplayScale(dpi);
    startCatalogLoad();
    return 0;
}

LRESULT onDpiChanged(HWND window, WPARAM wParam, LPARAM lParam) {
    applyDisplayScale(LOWORD(wParam));
    if (const auto* suggested = reinterpret_cast<const RECT*>(lParam)) {
        SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    onSize(window);
    updateShadow(window);
    return 0;
}

// The size Windows should give the window at the DPI it is moving to, so that the rectangle
// WM_DPICHANGED then suggests keeps the window's layout whole.
LRESULT onGetDpiScaledSize(HWND window, WPARAM wParam, LPARAM lParam) {
    auto* size = reinterpret_cast<SIZE*>(lParam);
    if (!size) return FALSE;
    const RECT work = workAreaOf(window);
    *size = dpiScaledWindowSize(*size, uiDpi(), LOWORD(wParam), work.right - work.left, work.bottom - work.top);
    return TRUE;
}

LRESULT onDestroy(HWND window) {
    if (gApp.shadowWindow) {
        DestroyWindow(gApp.shadowWindow);
        gApp.shadowWindow = nullptr;
    }
    KillTimer(window, kTimerId);
    RemovePropW(window, kPaintCountProp);
    RemovePropW(window, kCatalogFrameProp);
    RemovePropW(window, kCatalogIconsFrameProp);
    removeStartupMarks(window);
    PostQuitMessage(0);
    return 0;
}

void onNcDestroy(HWND window) {
    if (gApp.mainWindow == window) gApp.mainWindow = nullptr;
    if (gApp.catalog.notifyWindow.load() == window) gApp.catalog.notifyWindow = nullptr;
    HWND expected = window;
    DownloadManager::instance().window.compare_exchange_strong(expected, nullptr);
}

LRESULT onSize(HWND window) {
    if (IsZoomed(window)) {
        SetWindowRgn(window, nullptr, FALSE);
    } else {
        RECT r = {};
        GetWindowRect(window, &r);
        HRGN region = CreateRoundRectRgn(0, 0, r.right - r.left + 1, r.bottom - r.top + 1, windowCornerDiameter(),
                                         windowCornerDiameter());
        // The system owns the region once it is set.
        if (region && !SetWindowRgn(window, region, gApp.inSizeMove ? FALSE : TRUE)) DeleteObject(region);
    }
    requestRepaint();
    return 0;
}

LRESULT onPaint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client = {};
    GetClientRect(window, &client);
    if (dc) paintMainView(dc, client);
    EndPaint(window, &ps);
    announceAfterPaint(window);
    markStartup(StartupMark::FirstPaint);

    SetPropW(window, kPaintCountProp, reinterpret_cast<HANDLE>(++paintCount));
    if (!catalogFrameSeen && !gApp.catalogLoading && !gApp.catalogLoadFailed && gApp.viewMode == 0 &&
        !gApp.catalog.lists()->apps.empty()) {
        catalogFrameSeen = true;
        SetPropW(window, kCatalogFrameProp, reinterpret_cast<HANDLE>(msSinceProcessStart()));
        showStartupMarks(window);
    }
    if (catalogFrameSeen && !iconsFrameSeen && !gApp.catalogLoading && !gApp.catalogLoadFailed && gApp.viewMode == 0 &&
        requestedIconsSettled(gApp.catalog.lists()->apps)) {
        iconsFrameSeen = true;
        SetPropW(window, kCatalogIconsFrameProp, reinterpret_cast<HANDLE>(msSinceProcessStart()));
    }
    return 0;
}

LRESULT onSetCursor(HWND window, WPARAM wParam, LPARAM lParam) {
    if (LOWORD(lParam) == HTCLIENT) {
        POINT p = {};
        GetCursorPos(&p);
        ScreenToClient(window, &p);
        if (hitRectAt(gApp.hitRects, p.x, p.y)) {
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
    }
    return DefWindowProcW(window, WM_SETCURSOR, wParam, lParam);
}

LRESULT onGetMinMaxInfo(HWND window, LPARAM lParam) {
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    const RECT work = workAreaOf(window);
    const SIZE minimum = minimumWindowSize(work.right - work.left, work.bottom - work.top, uiDpi());
    info->ptMinTrackSize.x = minimum.cx;
    info->ptMinTrackSize.y = minimum.cy;
    return 0;
}

LRESULT onWindowPosChanged(HWND window, WPARAM wParam, LPARAM lParam) {
    if (!gApp.shadowHiddenForSizing) updateShadow(window);
    DefWindowProcW(window, WM_WINDOWPOSCHANGED, wParam, lParam);
    return 0;
}

LRESULT onNcCalcSize(HWND window, WPARAM wParam, LPARAM lParam) {
    if (wParam && IsZoomed(window)) {
        // A maximized window hangs its frame off-screen; keep the view inside the screen.
        auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam);
        const int inset = GetSystemMetrics(SM_CXFRAME) + GetSystemMetrics(SM_CXPADDEDBORDER);
        InflateRect(&params->rgrc[0], -inset, -inset);
    }
    return 0;
}

LRESULT onNcHitTest(HWND window, WPARAM wParam, LPARAM lParam) {
    const LRESULT answer = DefWindowProcW(window, WM_NCHITTEST, wParam, lParam);
    if (answer != HTCLIENT) return answer;
    POINT p = clientPoint(lParam);
    ScreenToClient(window, &p);
    RECT client = {};
    GetClientRect(window, &client);
    return frameHitTest(p.x, p.y, client.right, client.bottom, hitRectAt(gApp.hitRects, p.x, p.y) != nullptr);
}

LRESULT onTimer(WPARAM id) {
    if (id != kTimerId) return 0;
    DownloadManager& manager = DownloadManager::instance();
    manager.tick();
    if (timerNeedsRepaint(!gApp.toastText.empty(), !gApp.bannerText.empty(), gApp.viewMode, manager.snapshot()))
        requestRepaint();
    return 0;
}

LRESULT onMouseMove(HWND window, LPARAM lParam) {
    TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, window, 0};
    TrackMouseEvent(&track);
    const POINT p = clientPoint(lParam);
    if (gApp.scrollDrag != 0) {
        ScrollbarGeom* bar = barOfDrag(gApp.scrollDrag);
        int* offset = offsetOfDrag(gApp.scrollDrag);
        if (bar && offset) *offset = thumbDragOffset(*bar, p.y, gApp.dragGrabOffset, *offset);
        gApp.hoverValid = false;
        requestRepaint();
        return 0;
    }
    const bool wasValid = gApp.hoverValid;
    const int oldKind = gApp.hoverKind, oldId = gApp.hoverId;
    if (const HitRect* hit = hitRectAt(gApp.hitRects, p.x, p.y)) {
        gApp.hoverValid = true;
        gApp.hoverKind = hit->kind;
        gApp.hoverId = hit->id;
    } else {
        gApp.hoverValid = false;
    }
    if (wasValid != gApp.hoverValid || oldKind != gApp.hoverKind || oldId != gApp.hoverId) requestRepaint();
    return 0;
}

LRESULT onMouseLeave() {
    gApp.hoverValid = false;
    requestRepaint();
    return 0;
}

// Offers the press to each scrollbar that is on screen; true when one took it.
bool pressScrollbars(HWND window, POINT p) {
    int bars[2] = {1, gApp.viewMode == 0 ? 2 : (gApp.viewMode == 1 ? 3 : 0)};
    for (int drag : bars) {
        ScrollbarGeom* bar = barOfDrag(drag);
        int* offset = offsetOfDrag(drag);
        if (!bar || !offset) continue;
        const ThumbPress press = thumbPress(*bar, p.x, p.y, *offset);
        if (!press.drag) continue;
        gApp.scrollDrag = drag;
        gApp.dragGrabOffset = press.grabOffset;
        *offset = press.offset;
        SetCapture(window);
        gApp.hoverValid = false;
        requestRepaint();
        return true;
    }
    return false;
}

void pressHitRect(HWND window, int kind, int id) {
    DownloadManager& manager = DownloadManager::instance();
    switch (kind) {
    case HitSidebarRow: {
        auto lists = gApp.catalog.lists();
        if (id < 0 || size_t(id) >= lists->categories.size()) return;
        gApp.viewMode = 0;
        gApp.selectedCategoryId = lists->categories[size_t(id)].id;
        gApp.gridScroll = 0;
        requestRepaint();
        return;
    }
    case HitMinimize:
        ShowWindow(window, SW_MINIMIZE);
        return;
    case HitMaximize:
        ShowWindow(window, IsZoomed(window) ? SW_RESTORE : SW_MAXIMIZE);
        return;
    case HitClose:
        DestroyWindow(window);
        return;
    case HitDownloadsTool:
        gApp.viewMode = 1;
        requestRepaint();
        return;
    case HitSettingsTool:
    case HitPanelChangeDir:
        openSettingsDialog();
        return;
    case HitCardButton:
        onCardButton(id);
        return;
    case HitPanelCancel:
        manager.cancel(id);
        requestRepaint();
        return;
    case HitPanelInstall:
        onPanelInstall(id);
        return;
    case HitPanelFolder:
        manager.openInFolder(id);
        return;
    case HitPanelRetry: {
        AppRef app = findApp(gApp.catalog, id);
        if (app)
            startInstallFlow(*app);
        else
            manager.startAgain(id);
        requestRepaint();
        return;
    }
    case HitPanelClear:
        manager.clearFinished();
        requestRepaint();
        return;
    case HitReload:
        startCatalogLoad();
        return;
    case HitPanelOpenDir: {
        openFolderDetached(downloadDirectory());
        return;
    }
    case HitBanner:
        gApp.bannerText.clear();
        requestRepaint();
        return;
    default:
        return;
    }
}

LRESULT onLButtonDown(HWND window, LPARAM lParam) {
    const POINT p = clientPoint(lParam);
    const HitRect* under = hitRectAt(gApp.hitRects, p.x, p.y);
    onMousePress(under ? under->kind : 0, under ? under->id : 0);
    if (pressScrollbars(window, p)) return 0;
    if (const HitRect* hit = hitRectAt(gApp.hitRects, p.x, p.y)) {
        // The action may repaint and so rebuild hitRects: take the values first.
        const int kind = hit->kind, id = hit->id;
        pressHitRect(window, kind, id);
    }
    return 0;
}

LRESULT onLButtonUp(HWND window) {
    if (gApp.scrollDrag == 0) return 0;
    gApp.scrollDrag = 0;
    if (GetCapture() == window) ReleaseCapture();
    gApp.hoverValid = false;
    requestRepaint();
    return 0;
}

LRESULT onMouseWheel(HWND window, WPARAM wParam, LPARAM lParam) {
    const int delta = GET_WHEEL_DELTA_WPARAM(wParam);
    POINT p = clientPoint(lParam);
    ScreenToClient(window, &p);
    switch (wheelTarget(p.x, p.y, gApp.viewMode)) {
    case WheelTarget::Sidebar:
        gApp.sidebarScroll -= delta;
        break;
    case WheelTarget::Grid:
        gApp.gridScroll -= delta;
        break;
    case WheelTarget::Panel:
        gApp.panelScroll -= delta;
        break;
    case WheelTarget::None:
        return 0;
    }
    gApp.hoverValid = false;
    requestRepaint();
    return 0;
}

LRESULT onSizing(HWND window, WPARAM wParam, LPARAM lParam) {
    if (gApp.shadowWindow && IsWindowVisible(gApp.shadowWindow) && !IsZoomed(window)) {
        ShowWindow(gApp.shadowWindow, SW_HIDE);
        gApp.shadowHiddenForSizing = true;
    }
    return DefWindowProcW(window, WM_SIZING, wParam, lParam);
}

LRESULT onExitSizeMove(HWND window) {
    gApp.inSizeMove = false;
    if (gApp.shadowHiddenForSizing) {
        gApp.shadowHiddenForSizing = false;
        updateShadow(window);
    }
    return 0;
}

LRESULT onCatalogLoaded(WPARAM wParam) {
    const bool othersRunning = !finishCatalogLoad();
    const bool behindCache = gApp.catalogFromCache;
    const LoadView view = viewAfterLoad(wParam != 0, behindCache);
    gApp.catalogLoadFailed = view == LoadView::Error;
    if (view == LoadView::Fresh) gApp.catalogFromCache = false;
    gApp.catalogLoading = othersRunning && !gApp.catalogFromCache;
    auto lists = gApp.catalog.lists();
    if (behindCache) {
        // A refresh behind the shown catalog: the view, the selected category (while it
        // exists) and the scroll position (clamped by the grid) stay.
        const std::wstring before = gApp.selectedCategoryId;
        gApp.selectedCategoryId = selectionAfterLoad(0, before, lists->categories);
        if (gApp.selectedCategoryId != before) gApp.gridScroll = 0;
        if (view == LoadView::Cached) showToast(kCachedCatalogToast, 0);
    } else {
        const int viewBefore = gApp.viewMode;
        gApp.viewMode = 0;
        gApp.selectedCategoryId = selectionAfterLoad(viewBefore, gApp.selectedCategoryId, lists->categories);
    }
    requestRepaint();
    return 0;
}

}  // namespace

void requestRepaint() {
    if (gApp.mainWindow) InvalidateRect(gApp.mainWindow, nullptr, FALSE);
}

void showToast(const std::wstring& text, int kind) {
    gApp.toastText = text;
    gApp.toastKind = kind;
    gApp.toastTick = GetTickCount();
    requestRepaint();
}

bool registerMainWindowClass(HINSTANCE instance) {
    setAreaPress(pressHitRect);  // keys and screen readers press areas the way the mouse does
    WNDCLASSW wc = {};
    wc.lpfnWndProc = mainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kMainWindowClass;
    return RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        switch (message) {
        case WM_CREATE:
            return onCreate(window);
        case WM_DESTROY:
            return onDestroy(window);
        case WM_NCDESTROY:
            releaseAccessibility();
            onNcDestroy(window);
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_SIZE:
            return onSize(window);
        case WM_PAINT:
            return onPaint(window);
        case WM_ERASEBKGND:
            return 1;
        case WM_SETCURSOR:
            return onSetCursor(window, wParam, lParam);
        case WM_GETMINMAXINFO:
            return onGetMinMaxInfo(window, lParam);
        case WM_WINDOWPOSCHANGED:
            return onWindowPosChanged(window, wParam, lParam);
        case WM_NCCALCSIZE:
            return onNcCalcSize(window, wParam, lParam);
        case WM_NCHITTEST:
            return onNcHitTest(window, wParam, lParam);
        case WM_NCACTIVATE:
            return DefWindowProcW(window, message, wParam, -1);
        case WM_TIMER:
            return onTimer(wParam);
        case WM_MOUSEMOVE:
            return onMouseMove(window, lParam);
        case WM_MOUSELEAVE:
            return onMouseLeave();
        case WM_LBUTTONDOWN:
            return onLButtonDown(window, lParam);
        case WM_LBUTTONUP:
            return onLButtonUp(window);
        case WM_CAPTURECHANGED:
            gApp.scrollDrag = 0;
            return 0;
        case WM_MOUSEWHEEL:
            return onMouseWheel(window, wParam, lParam);
        case WM_SIZING:
            return onSizing(window, wParam, lParam);
        case WM_ENTERSIZEMOVE:
            gApp.inSizeMove = true;
            return 0;
        case WM_EXITSIZEMOVE:
            return onExitSizeMove(window);
        case WM_DOWNLOAD_CHANGED:
        case kMsgIconReady:
            requestRepaint();
            return 0;
        case WM_DOWNLOAD_FINISHED:
            onDownloadFinished(static_cast<int>(wParam), static_cast<uint64_t>(lParam));
            return 0;
        case kMsgInstallerStarted:
            onInstallerStarted(static_cast<int>(wParam), static_cast<uint64_t>(lParam));
            return 0;
        case kMsgInstallerNotStarted:
            onInstallerNotStarted(static_cast<int>(wParam), static_cast<uint64_t>(lParam));
            return 0;
        case kMsgCatalogLoaded:
            return onCatalogLoaded(wParam);
        case WM_DPICHANGED:
            return onDpiChanged(window, wParam, lParam);
        case WM_GETDPISCALEDSIZE:
            return onGetDpiScaledSize(window, wParam, lParam);
        case WM_KEYDOWN:
            // Bit 30: the key was already down, so this is an automatic repeat.
            return onKeyboardKey(window, wParam, (lParam & (LPARAM(1) << 30)) != 0) ? 0
                                                                                    : DefWindowProcW(window, message, wParam, lParam);
        case WM_GETOBJECT:
            ensureOleStarted();
            return onGetObject(window, wParam, lParam);
        default:
            return DefWindowProcW(window, message, wParam, lParam);
        }
    } catch (...) {
        // Nothing thrown may cross into the system's message dispatch; an allocation
        // failure in one handler only loses that message.
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
