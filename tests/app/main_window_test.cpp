#include "app/early_load.h"
#include "app/startup.h"
#include "catalog/catalog_cache.h"
#include "scratch_folder.h"
#include "window_support.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

testing::Environment* const windowEnvironment = testing::AddGlobalTestEnvironment(new WindowEnvironment);

using MainWindow = MainWindowTest;

// The bands themselves are tabled with the window rules; here the window answers
// WM_NCHITTEST from screen points and takes its header buttons from what it painted.
TEST_F(MainWindow, HitTestAnswersBandsAndLeavesThePaintedHeaderButtonsToTheClient) {
    open();
    const int w = 1180, h = 780;
    const struct {
        int x, y;
        LRESULT expected;
    } cases[] = {
        {6, 300, HTLEFT},          {w - 2, h - 2, HTBOTTOMRIGHT}, {100, 30, HTCAPTION},
        {w - 20, 30, HTCLIENT},    {w - 115, 30, HTCLIENT},       // close, minimize
        {w - 300, 30, HTCLIENT},   {w - 200, 30, HTCLIENT},       // the two tools
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "(" << c.x << ", " << c.y << ")");
        EXPECT_EQ(hitTest(c.x, c.y), c.expected);
    }
}

TEST_F(MainWindow, MinimumTrackingSizeIs1000By660) {
    open();
    MINMAXINFO info = {};
    SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 1000);
    EXPECT_EQ(info.ptMinTrackSize.y, 660);
}

TEST_F(MainWindow, RoundedRegionFollowsTheSizeAndGoesWhenMaximized) {
    open();
    auto regionCorners = [&](int w, int h) {
        ScopedGdiObject region(CreateRectRgn(0, 0, 0, 0));
        if (GetWindowRgn(window, static_cast<HRGN>(region.get())) == ERROR) return std::string("none");
        HRGN r = static_cast<HRGN>(region.get());
        std::string out;
        for (POINT p : {POINT{0, 0}, POINT{w - 1, 0}, POINT{0, h - 1}, POINT{w - 1, h - 1}})
            out += PtInRegion(r, p.x, p.y) ? "in " : "out ";
        for (POINT p : {POINT{w / 2, 0}, POINT{w / 2, h - 1}, POINT{0, h / 2}, POINT{w - 1, h / 2}, POINT{7, 7}})
            out += PtInRegion(r, p.x, p.y) ? "in " : "out ";
        return out;
    };
    const std::string rounded = "out out out out in in in in in ";
    EXPECT_EQ(regionCorners(1180, 780), rounded);
    SetWindowPos(window, nullptr, 60, 60, 1000, 700, SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(regionCorners(1000, 700), rounded);
    ShowWindow(window, SW_MAXIMIZE);
    EXPECT_EQ(regionCorners(1000, 700), "none");
    ShowWindow(window, SW_RESTORE);
    EXPECT_EQ(regionCorners(1000, 700), rounded);
}

TEST_F(MainWindow, ShadowSitsBelowAndAroundTheWindowAndHidesWhenMaximized) {
    open(50, 122, 1180, 780, true);
    ASSERT_NE(gApp.shadowWindow, nullptr);
    RECT shadow = {};
    GetWindowRect(gApp.shadowWindow, &shadow);
    EXPECT_EQ(shadow.left, 32);
    EXPECT_EQ(shadow.top, 104);
    EXPECT_EQ(shadow.right - shadow.left, 1216);
    EXPECT_EQ(shadow.bottom - shadow.top, 816);
    EXPECT_TRUE(IsWindowVisible(gApp.shadowWindow));
    const LONG_PTR ex = GetWindowLongPtrW(gApp.shadowWindow, GWL_EXSTYLE);
    EXPECT_EQ(ex & (WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE),
              WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE);

    SetWindowPos(window, nullptr, 100, 140, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    GetWindowRect(gApp.shadowWindow, &shadow);
    EXPECT_EQ(shadow.left, 82);
    EXPECT_EQ(shadow.top, 122);

    ShowWindow(window, SW_MAXIMIZE);
    EXPECT_FALSE(IsWindowVisible(gApp.shadowWindow));
    ShowWindow(window, SW_RESTORE);
    EXPECT_TRUE(IsWindowVisible(gApp.shadowWindow));
    ShowWindow(window, SW_MINIMIZE);
    EXPECT_FALSE(IsWindowVisible(gApp.shadowWindow));
    ShowWindow(window, SW_RESTORE);
    EXPECT_TRUE(IsWindowVisible(gApp.shadowWindow));

    DestroyWindow(window);
    EXPECT_EQ(gApp.shadowWindow, nullptr);
}

TEST(ShadowPixels, RingsFadeOutwardsAroundATransparentMiddle) {
    const int w = 200, h = 100, bw = w + 36, bh = h + 36;
    std::vector<uint32_t> px(size_t(bw) * bh);
    ASSERT_TRUE(renderShadowPixels(w, h, px.data()));
    auto alpha = [&](int x, int y) { return int(px[size_t(y) * bw + x] >> 24); };
    EXPECT_EQ(alpha(bw / 2, bh / 2), 0);  // under the window
    EXPECT_EQ(alpha(0, 0), 0);            // outside the outermost ring's corner
    EXPECT_GT(alpha(17, bh / 2), alpha(8, bh / 2));
    EXPECT_GT(alpha(8, bh / 2), alpha(2, bh / 2));
    EXPECT_GT(alpha(bw / 2, 17), 30);
    EXPECT_LE(alpha(bw / 2, 17), 128);
    EXPECT_EQ(alpha(20, bh / 2), 0);  // inside the window edge
    for (uint32_t p : px) {
        const uint32_t a = p >> 24;
        ASSERT_LE((p >> 16) & 0xFF, a);  // premultiplied: no channel above alpha
        ASSERT_LE((p >> 8) & 0xFF, a);
        ASSERT_LE(p & 0xFF, a);
    }
    const uint32_t edge = px[size_t(bh / 2) * bw + 17];
    EXPECT_LE((edge >> 16) & 0xFF, (edge & 0xFF));  // bluish: red 30 below blue 48
}

TEST(ShadowPixels, AStretchedShadowMatchesOneDrawnWholeWithinALevelOrTwo) {
    const SIZE sizes[] = {{1180, 780}, {1770, 1170}, {900, 60}, {60, 500}, {111, 111}, {40, 30}};
    for (const SIZE& size : sizes) {
        SCOPED_TRACE(testing::Message() << size.cx << "x" << size.cy);
        const size_t count = size_t(size.cx + 36) * size_t(size.cy + 36);
        std::vector<uint32_t> stretched(count, 0xFFFFFFFFu), whole(count);
        ASSERT_TRUE(renderShadowPixels(size.cx, size.cy, stretched.data()));
        ASSERT_TRUE(drawShadowRings(size.cx, size.cy, whole.data()));
        size_t differing = 0;
        int worst = 0;
        for (size_t i = 0; i < count; ++i) {
            for (int shift : {0, 8, 16, 24}) {
                const int d = std::abs(int((stretched[i] >> shift) & 0xFF) - int((whole[i] >> shift) & 0xFF));
                worst = std::max(worst, d);
                if (d > 1) ++differing;
            }
        }
        // The far corners' curves round a little differently where they sit: a few values
        // a few levels apart, never a seam or a shifted ring.
        EXPECT_LE(worst, 8);
        EXPECT_LE(differing, 32u);
    }
}

TEST_F(MainWindow, CatalogLoadedSelectsTheFirstCategoryWhenComingFromTheDownloadManager) {
    open();
    auto lists = gApp.catalog.lists();
    ASSERT_GE(lists->categories.size(), 2u);
    const std::wstring first = lists->categories[0].id, second = lists->categories[1].id;
    EXPECT_EQ(gApp.selectedCategoryId, first);

    gApp.selectedCategoryId = second;
    SendMessageW(window, kMsgCatalogLoaded, 1, 0);
    EXPECT_EQ(gApp.selectedCategoryId, second);
    EXPECT_FALSE(gApp.catalogLoading);
    EXPECT_FALSE(gApp.catalogLoadFailed);

    gApp.viewMode = 1;
    SendMessageW(window, kMsgCatalogLoaded, 1, 0);
    EXPECT_EQ(gApp.viewMode, 0);
    EXPECT_EQ(gApp.selectedCategoryId, first);

    gApp.selectedCategoryId = L"no such id";
    SendMessageW(window, kMsgCatalogLoaded, 0, 0);
    EXPECT_TRUE(gApp.catalogLoadFailed);
    EXPECT_EQ(gApp.selectedCategoryId, first);
}

TEST_F(MainWindow, AReloadWhileALoadRunsIsIgnored) {
    open();
    const std::string okStep =
        R"({"delay_ms":1500,"content_type":"application/json","body":"{\"data\":{\"categories\":[{\"id\":\"only\",)"
        R"(\"name\":\"x\"}],\"apps\":[]}}"})";
    const std::string prefix = testserver::uniquePath("loads");
    ASSERT_TRUE(testserver::script(prefix + "/api/client/bootstrap", "[" + okStep + R"(,{"status":500}])"));
    gApp.config.server = server + std::wstring(prefix.begin(), prefix.end());

    startCatalogLoad();
    ASSERT_TRUE(pumpUntil([&] { return testserver::requests(prefix).size() == 1; }, 10000));
    for (int i = 0; i < 5; ++i) startCatalogLoad();
    pumpFor(300);
    EXPECT_EQ(testserver::requests(prefix).size(), 1u) << "reloads while the load runs start nothing";
    EXPECT_TRUE(gApp.catalogLoading);
    ASSERT_TRUE(pumpUntil([] { return !gApp.catalogLoading; }, 15000));
    EXPECT_FALSE(gApp.catalogLoadFailed);
    ASSERT_EQ(gApp.catalog.lists()->categories.size(), 1u);
    EXPECT_EQ(gApp.catalog.lists()->categories[0].id, L"only");

    // Once it has ended, the next reload runs.
    startCatalogLoad();
    ASSERT_TRUE(pumpUntil([] { return !gApp.catalogLoading; }, 15000));
    EXPECT_EQ(testserver::requests(prefix).size(), 2u);
    EXPECT_TRUE(gApp.catalogLoadFailed);
}

TEST_F(MainWindow, AStartUpLoadStillRunningWhenTheWindowIsMadeIsTakenOverAndReportedOnce) {
    // The one start-up load of this process: its answer comes only after the window exists.
    const std::string prefix = testserver::uniquePath("early");
    ASSERT_TRUE(testserver::script(prefix + "/api/client/bootstrap",
                                   R"([{"delay_ms":1500,"content_type":"application/json",)"
                                   R"("body":"{\"data\":{\"categories\":[{\"id\":\"early\",)"
                                   R"(\"name\":\"x\"}],\"apps\":[]}}"}])"));
    const std::wstring base = server + std::wstring(prefix.begin(), prefix.end());
    EXPECT_FALSE(waitForEarlyCatalogLoad(0)) << "none started yet";
    ASSERT_TRUE(startEarlyCatalogLoad(gApp.catalog, base));
    EXPECT_FALSE(waitForEarlyCatalogLoad(0)) << "still waiting for its answer";
    EXPECT_FALSE(startEarlyCatalogLoad(gApp.catalog, base));
    ASSERT_TRUE(pumpUntil([&] { return testserver::requests(prefix).size() == 1; }, 10000));

    gApp.config.server = base;
    open();  // returns once the window's loading state has ended
    EXPECT_TRUE(waitForEarlyCatalogLoad(0)) << "ended";
    EXPECT_FALSE(gApp.catalogLoadFailed);
    const auto lists = gApp.catalog.lists();
    ASSERT_EQ(lists->categories.size(), 1u);
    EXPECT_EQ(gApp.selectedCategoryId, L"early");
    pumpFor(300);
    EXPECT_EQ(testserver::requests(prefix).size(), 1u) << "the window started a load of its own";
    EXPECT_EQ(adoptEarlyCatalogLoad(window), EarlyLoad::None);
}

// The disk cache in a scratch folder, holding the catalog of the last run for base; the
// store empty, as at a start.
class CachedCatalog {
public:
    explicit CachedCatalog(const std::wstring& base) : folder_(L"window_cache") {
        setCacheFolder(folder_.path());
        CatalogLists last;
        last.categories = {{L"a", L"甲"}, {L"b", L"乙"}};
        App app;
        app.id = 1;
        app.name = L"上次的应用";
        app.categoryIds = {L"b"};
        last.apps.push_back(std::move(app));
        saved = saveCatalogCache(last, base, gApp.config.channel);
        gApp.catalog.publish(nullptr);
        gApp.catalogFromCache = false;
    }
    ~CachedCatalog() {
        setCacheFolder(std::wstring());
        gApp.catalogFromCache = false;
    }
    bool saved = false;

private:
    ScratchFolder folder_;
};

const char kFreshCatalogStep[] =
    R"({"content_type":"application/json","body":"{\"data\":{\"categories\":[{\"id\":\"a\",\"name\":\"甲\"},)"
    R"({\"id\":\"b\",\"name\":\"乙二\"},{\"id\":\"c\",\"name\":\"丙\"}],\"apps\":[]}}"})";

TEST_F(MainWindow, TheCachedCatalogShowsAtOnceAndTheLoadBehindItKeepsTheViewAndSelection) {
    const std::string prefix = testserver::uniquePath("cached");
    std::string held = kFreshCatalogStep;
    held.insert(1, "\"delay_ms\":2500,");
    ASSERT_TRUE(testserver::script(prefix + "/api/client/bootstrap", "[" + held + "]"));
    gApp.config.server = server + std::wstring(prefix.begin(), prefix.end());
    CachedCatalog cache(gApp.config.server);
    ASSERT_TRUE(cache.saved);

    open();
    EXPECT_TRUE(gApp.catalogFromCache);
    EXPECT_FALSE(gApp.catalogLoadFailed);
    ASSERT_EQ(gApp.catalog.lists()->categories.size(), 2u) << "the last run's catalog, while the server holds its answer";
    EXPECT_EQ(gApp.selectedCategoryId, L"a");
    EXPECT_EQ(testserver::requests(prefix).size(), 1u) << "the load still runs";

    gApp.selectedCategoryId = L"b";
    gApp.viewMode = 1;
    ASSERT_TRUE(pumpUntil([] { return !gApp.catalogFromCache; }, 15000)) << "the fresh catalog never arrived";
    const auto lists = gApp.catalog.lists();
    ASSERT_EQ(lists->categories.size(), 3u);
    EXPECT_EQ(lists->categories[1].name, L"乙二");
    EXPECT_EQ(gApp.viewMode, 1) << "the download-manager view stays";
    EXPECT_EQ(gApp.selectedCategoryId, L"b");
    EXPECT_FALSE(gApp.catalogLoading);
    EXPECT_FALSE(gApp.catalogLoadFailed);
    EXPECT_TRUE(gApp.toastText.empty());
    gApp.viewMode = 0;
}

TEST_F(MainWindow, AFailedLoadKeepsTheCachedCatalogWithOneToastAndF5LoadsAgain) {
    const std::string prefix = testserver::uniquePath("offline");
    ASSERT_TRUE(testserver::script(prefix + "/api/client/bootstrap",
                                   std::string(R"([{"status":500,"body":"down"},)") + kFreshCatalogStep + "]"));
    gApp.config.server = server + std::wstring(prefix.begin(), prefix.end());
    CachedCatalog cache(gApp.config.server);
    ASSERT_TRUE(cache.saved);

    open();
    ASSERT_TRUE(pumpUntil([] { return !gApp.toastText.empty(); }, 15000));
    EXPECT_EQ(gApp.toastText, L"无法连接服务器，当前显示上次获取的目录");
    EXPECT_EQ(gApp.toastKind, 0);
    EXPECT_FALSE(gApp.catalogLoadFailed) << "no error state over the shown catalog";
    EXPECT_FALSE(gApp.catalogLoading);
    EXPECT_TRUE(gApp.catalogFromCache);
    EXPECT_EQ(gApp.catalog.lists()->categories.size(), 2u);

    SetFocus(window);
    SendMessageW(window, WM_KEYDOWN, VK_F5, 0);
    ASSERT_TRUE(pumpUntil([] { return !gApp.catalogFromCache; }, 15000)) << "F5 reloads over the cached catalog";
    EXPECT_EQ(testserver::requests(prefix).size(), 2u);
    EXPECT_EQ(gApp.catalog.lists()->categories.size(), 3u);
    EXPECT_FALSE(gApp.catalogLoadFailed);
}

TEST_F(MainWindow, WheelScrollsTheSidebarTheGridOrTheDownloadPanel) {
    open();
    const POINT sidebar = screenPoint(100, 400), content = screenPoint(600, 400);
    const struct {
        int view;
        POINT at;
        int sidebar, grid, panel;
    } cases[] = {{0, sidebar, 120, 0, 0}, {0, content, 0, 120, 0}, {1, sidebar, 120, 0, 0}, {1, content, 0, 0, 120}};
    for (const auto& c : cases) {
        gApp.viewMode = c.view;
        gApp.sidebarScroll = gApp.gridScroll = gApp.panelScroll = 0;
        gApp.hoverValid = true;
        SendMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)), MAKELPARAM(c.at.x, c.at.y));
        EXPECT_EQ(gApp.sidebarScroll, c.sidebar);
        EXPECT_EQ(gApp.gridScroll, c.grid);
        EXPECT_EQ(gApp.panelScroll, c.panel);
        EXPECT_FALSE(gApp.hoverValid);
    }
    gApp.viewMode = 0;
}

TEST_F(MainWindow, ThumbDragsWithCaptureOnTheGridAndThePanel) {
    open();
    for (int view : {0, 1}) {
        SCOPED_TRACE(view);
        gApp.viewMode = view;
        ScrollbarGeom bar;
        bar.visible = true;
        bar.trackLeft = 1160, bar.trackRight = 1164, bar.trackTop = 100, bar.trackBottom = 500;
        bar.thumbLeft = 1160, bar.thumbRight = 1164, bar.thumbTop = 100, bar.thumbBottom = 200;
        bar.maxScroll = 600;
        (view == 0 ? gApp.gridScrollbar : gApp.panelScrollbar) = bar;
        int& offset = view == 0 ? gApp.gridScroll : gApp.panelScroll;
        offset = 0;
        SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1162, 150));
        EXPECT_EQ(gApp.scrollDrag, view == 0 ? 2 : 3);
        EXPECT_EQ(GetCapture(), window);
        EXPECT_EQ(offset, 0);
        SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(1162, 300));  // thumb top 250 of 300
        EXPECT_EQ(offset, 300);
        SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(1162, 2000));
        EXPECT_EQ(offset, 600);
        SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(1162, 2000));
        EXPECT_EQ(gApp.scrollDrag, 0);
        EXPECT_NE(GetCapture(), window);
        pumpFor(50);
    }
    gApp.viewMode = 0;
}

TEST_F(MainWindow, PressesOnIdsThatNoLongerExistDoNothing) {
    open();
    const size_t categories = gApp.catalog.lists()->categories.size();
    const std::wstring selected = gApp.selectedCategoryId;
    const int kinds[] = {HitSidebarRow, HitCardButton, HitPanelCancel, HitPanelInstall, HitPanelFolder,
                         HitPanelRetry, 2, 9, 17, 99};
    for (int kind : kinds) {
        for (int id : {-1, static_cast<int>(categories), 987654}) {
            gApp.hitRects = {{{300, 300, 400, 400}, kind, id}};
            SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(350, 350));
            SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(350, 350));
        }
    }
    EXPECT_EQ(gApp.viewMode, 0);
    EXPECT_EQ(gApp.selectedCategoryId, selected);
    EXPECT_TRUE(DownloadManager::instance().snapshot().empty());
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(MainWindow, PressesActByKind) {
    open();
    gApp.hitRects = {{{300, 300, 400, 400}, HitSidebarRow, 1}};
    gApp.gridScroll = 50;
    click(350, 350);
    EXPECT_EQ(gApp.selectedCategoryId, gApp.catalog.lists()->categories[1].id);
    EXPECT_EQ(gApp.gridScroll, 0);

    gApp.hitRects = {{{300, 300, 400, 400}, HitDownloadsTool, 0}};
    click(350, 350);
    EXPECT_EQ(gApp.viewMode, 1);

    gApp.bannerText = L"x";
    gApp.hitRects = {{{300, 300, 400, 400}, HitBanner, 0}};
    click(350, 350);
    EXPECT_TRUE(gApp.bannerText.empty());

    gApp.hitRects = {{{300, 300, 400, 400}, HitMaximize, 0}};
    click(350, 350);
    EXPECT_TRUE(IsZoomed(window));
    gApp.hitRects = {{{300, 300, 400, 400}, HitMaximize, 0}};
    click(350, 350);
    EXPECT_FALSE(IsZoomed(window));

    gApp.hitRects = {{{300, 300, 400, 400}, HitMinimize, 0}};
    click(350, 350);
    EXPECT_TRUE(IsIconic(window));
    // With a window manager the restore completes when it answers, after ShowWindow returns,
    // and a request made while it still handles the minimize can go unanswered: asked again.
    DWORD asked = 0;
    ASSERT_TRUE(pumpUntil([&] {
        if (IsIconic(window) && GetTickCount() - asked > 1000) {
            asked = GetTickCount();
            ShowWindow(window, SW_RESTORE);
        }
        return !IsIconic(window);
    }));

    gApp.hitRects = {{{300, 300, 400, 400}, HitReload, 0}};
    click(350, 350);
    EXPECT_TRUE(gApp.catalogLoading);
    ASSERT_TRUE(pumpUntil([] { return !gApp.catalogLoading; }));
    EXPECT_FALSE(gApp.catalogLoadFailed);
    EXPECT_EQ(gApp.viewMode, 0);

    repaintNow();
    RECT client{};
    GetClientRect(window, &client);
    const HitRect* close = hitRectAt(gApp.hitRects, client.right - 20, 30);
    ASSERT_NE(close, nullptr) << "client width " << client.right;
    EXPECT_EQ(close->kind, HitClose);
    click(client.right - 20, 30);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(gApp.mainWindow, nullptr);
    MSG quit;
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 0u);
}

TEST_F(MainWindow, HoverFollowsTheLastRectangleAndClearsOnLeave) {
    open();
    gApp.hitRects = {{{300, 300, 400, 400}, HitCardButton, 4}, {{350, 350, 380, 380}, HitPanelRetry, 5}};
    SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(310, 310));
    EXPECT_TRUE(gApp.hoverValid);
    EXPECT_EQ(gApp.hoverKind, HitCardButton);
    EXPECT_EQ(gApp.hoverId, 4);
    SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(360, 360));
    EXPECT_EQ(gApp.hoverKind, HitPanelRetry);
    EXPECT_EQ(gApp.hoverId, 5);
    SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(10, 500));
    EXPECT_FALSE(gApp.hoverValid);
    EXPECT_EQ(gApp.hoverKind, HitPanelRetry);  // kept
    SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(310, 310));
    SendMessageW(window, WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(gApp.hoverValid);
}

// One tick of timer 1 as the window handled it: whether a toast was up when it came and
// whether the window asked to be repainted while handling it.
struct TimerTick {
    bool toastShown;
    bool repainted;
};

// Dispatches messages until done() holds or the time runs out, noting each tick of timer 1.
// Every tick is dispatched with no paint pending, so a repaint request seen after it is the
// tick's own.
bool pumpNotingTicks(HWND window, std::vector<TimerTick>& ticks, const std::function<bool()>& done,
                     DWORD timeoutMs = 20000) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;
            const bool tick = msg.message == WM_TIMER && msg.hwnd == window && msg.wParam == 1;
            if (tick) UpdateWindow(window);
            const bool shown = !gApp.toastText.empty();
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            if (tick) ticks.push_back({shown, GetUpdateRect(window, nullptr, FALSE) != FALSE});
            if (done()) return true;
        }
        if (done()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

TEST_F(MainWindow, TimerRepaintsOnlyWhileAToastShows) {
    open();
    std::vector<TimerTick> idle;
    ASSERT_TRUE(pumpNotingTicks(window, idle, [&] { return idle.size() >= 3; })) << "the timer never ticked";
    for (const TimerTick& t : idle) EXPECT_FALSE(t.repainted) << "repainted with nothing changing";

    showToast(L"测试", 0);
    EXPECT_NE(GetUpdateRect(window, nullptr, FALSE), FALSE) << "the toast did not ask for its own repaint";
    std::vector<TimerTick> during;
    ASSERT_TRUE(pumpNotingTicks(window, during, [] { return gApp.toastText.empty(); }, 10000))
        << "the toast was never cleared";
    size_t shown = 0;
    for (const TimerTick& t : during) {
        EXPECT_EQ(t.repainted, t.toastShown);
        if (t.toastShown) ++shown;
    }
    EXPECT_GE(shown, 1u) << "no tick came while the toast was up";

    std::vector<TimerTick> after;
    ASSERT_TRUE(pumpNotingTicks(window, after, [&] { return after.size() >= 3; }));
    for (const TimerTick& t : after) EXPECT_FALSE(t.repainted) << "repainted after the toast had gone";
}

}  // namespace
