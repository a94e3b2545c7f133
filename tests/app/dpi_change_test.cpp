#include "app/object_census.h"
#include "ui/scale.h"
#include "window_support.h"

#include <cstdio>

#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

namespace {

// The size asked for at a new display scale: scaled from the old one, inside the work area
// less the window rule's margins, never under the minimum tracking size.
TEST(DpiScaledSize, ScalesByNewOverOldAndClampsAsTheWindowRuleDoes) {
    const struct {
        SIZE size;
        int oldDpi, newDpi, workW, workH;
        SIZE expected;
    } cases[] = {
        {{1180, 780}, 96, 96, 1920, 1160, {1180, 780}},
        {{1180, 780}, 96, 120, 1920, 1160, {1475, 975}},
        {{1180, 780}, 96, 144, 1920, 1160, {1770, 1070}},    // 1170 high: 1160 less 2 x 45
        {{1180, 780}, 96, 192, 1920, 1160, {1920, 1160}},    // the minimum 2000 x 1320 fills the work area
        {{1180, 780}, 96, 144, 3840, 2160, {1770, 1170}},
        {{1770, 1170}, 144, 96, 3840, 2160, {1180, 780}},
        {{2360, 1560}, 192, 96, 3840, 2160, {1180, 780}},
        {{1475, 975}, 120, 192, 3840, 2160, {2360, 1560}},
        {{1770, 1110}, 144, 96, 1920, 1200, {1180, 740}},
        {{1001, 661}, 96, 144, 3840, 2160, {1502, 992}},     // MulDiv rounds halves up
        {{1000, 660}, 144, 96, 1920, 1200, {1000, 660}},     // 667 x 440 is under the minimum
        {{1180, 780}, 96, 192, 1280, 984, {1280, 984}},      // a minimum larger than the screen is the screen
        {{900, 600}, 96, 120, 1280, 1024, {1250, 825}},
        {{1180, 780}, 0, 144, 3840, 2160, {1770, 1170}},     // an unknown old scale is 96
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size.cx << "x" << c.size.cy << " " << c.oldDpi << " -> " << c.newDpi
                                        << " on " << c.workW << "x" << c.workH);
        const SIZE got = dpiScaledWindowSize(c.size, c.oldDpi, c.newDpi, c.workW, c.workH);
        EXPECT_EQ(got.cx, c.expected.cx);
        EXPECT_EQ(got.cy, c.expected.cy);
    }
}

// The real main window in this process, told its display scale changed.
class DpiChange : public MainWindowTest {
protected:
    void TearDown() override {
        MainWindowTest::TearDown();
        setUiDpi(96);
        createFonts(gApp, 96);
    }

    void change(int dpi, const RECT& suggested) {
        RECT copy = suggested;
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&copy));
    }

    static LONG fontHeight(HFONT font) {
        LOGFONTW logFont = {};
        if (GetObjectW(font, sizeof logFont, &logFont) != sizeof logFont) return 0;
        return logFont.lfHeight;
    }

    const HitRect* firstHit(int kind) {
        for (const HitRect& hit : gApp.hitRects) {
            if (hit.kind == kind) return &hit;
        }
        return nullptr;
    }
};

std::string rectText(const RECT& r) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "(%ld, %ld)-(%ld, %ld)", r.left, r.top, r.right, r.bottom);
    return buf;
}

// What the window shows at each scale of a 96 -> 144 -> 96 change: client points and sizes
// in that scale's pixels, font heights as LOGFONT heights. The rectangle at 144 is the
// minimum tracking size, which fits the tests' 1600 x 1000 screen; its grid has 3 columns.
struct ScaleFigures {
    int dpi;
    RECT suggested;
    LONG headline, sidebar, body;  // fonts of 22, 18 and 14 pixels at 96 DPI
    RECT close;                    // the close button's hit rectangle
    RECT firstRow;                 // the first category row
    RECT firstButton;              // the first card's button
    POINT captionPoint;            // the empty header: caption
    POINT resizePoint;             // inside the left resize band
    SIZE shadow;                   // the shadow picture, the window and its rings
};

const ScaleFigures kFigures[] = {
    {144, {20, 5, 20 + 1500, 5 + 990}, -33, -27, -21, {1500 - 69, 0, 1500, 96}, {18, 117, 282, 186},
     {444, 471, 594, 519}, {900, 94}, {9, 500}, {1500 + 54, 990 + 54}},
    {96, {50, 122, 1230, 902}, -22, -18, -14, {1180 - 46, 0, 1180, 64}, {12, 78, 188, 124},
     {286, 314, 386, 346}, {600, 63}, {5, 500}, {1180 + 36, 780 + 36}},
};

TEST_F(DpiChange, TheWindowTakesTheSuggestedRectangleAndFontsLayoutAndShadowFollow) {
    open(50, 122, 1180, 780, true);
    ASSERT_NE(gApp.shadowWindow, nullptr);
    for (const ScaleFigures& f : kFigures) {
        SCOPED_TRACE(f.dpi);
        change(f.dpi, f.suggested);
        RECT frame = {};
        GetWindowRect(window, &frame);
        EXPECT_EQ(rectText(frame), rectText(f.suggested));

        EXPECT_EQ(gApp.fontDpi, f.dpi);
        EXPECT_EQ(fontHeight(gApp.fontHeadline), f.headline);
        EXPECT_EQ(fontHeight(gApp.fontSidebar), f.sidebar);
        EXPECT_EQ(fontHeight(gApp.fontBody), f.body);

        repaintNow();
        const HitRect* close = firstHit(HitClose);
        const HitRect* row = firstHit(HitSidebarRow);
        const HitRect* button = firstHit(HitCardButton);
        ASSERT_NE(close, nullptr);
        ASSERT_NE(row, nullptr);
        ASSERT_NE(button, nullptr) << "the test catalog's first category has applications";
        EXPECT_EQ(rectText(close->rect), rectText(f.close));
        EXPECT_EQ(rectText(row->rect), rectText(f.firstRow));
        EXPECT_EQ(rectText(button->rect), rectText(f.firstButton));
        EXPECT_EQ(hitTest(f.captionPoint.x, f.captionPoint.y), HTCAPTION);
        EXPECT_EQ(hitTest(f.resizePoint.x, f.resizePoint.y), HTLEFT);

        EXPECT_EQ(gApp.shadowSize.cx, f.shadow.cx);
        EXPECT_EQ(gApp.shadowSize.cy, f.shadow.cy);
        RECT shadow = {};
        GetWindowRect(gApp.shadowWindow, &shadow);
        const int margin = (f.shadow.cx - (f.suggested.right - f.suggested.left)) / 2;
        EXPECT_EQ(rectText(shadow), rectText(RECT{f.suggested.left - margin, f.suggested.top - margin,
                                                  f.suggested.right + margin, f.suggested.bottom + margin}));
        EXPECT_TRUE(IsWindowVisible(gApp.shadowWindow));
    }
}

TEST_F(DpiChange, TheWindowAsksForItsSizeScaledToTheNewDpiOnItsMonitor) {
    open();
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor));
    const int workW = monitor.rcWork.right - monitor.rcWork.left, workH = monitor.rcWork.bottom - monitor.rcWork.top;
    for (int dpi : {96, 120, 144, 192}) {
        SCOPED_TRACE(dpi);
        SIZE size{1180, 780};
        EXPECT_TRUE(SendMessageW(window, WM_GETDPISCALEDSIZE, dpi, reinterpret_cast<LPARAM>(&size)));
        const SIZE expected = dpiScaledWindowSize(SIZE{1180, 780}, 96, dpi, workW, workH);
        EXPECT_EQ(size.cx, expected.cx);
        EXPECT_EQ(size.cy, expected.cy);
    }
    EXPECT_FALSE(SendMessageW(window, WM_GETDPISCALEDSIZE, 144, 0));
}

TEST_F(DpiChange, AnOpenSettingsDialogIsLaidOutAgain) {
    open();
    openSettingsDialog();
    ASSERT_NE(gApp.settingsWindow, nullptr);
    const struct {
        int dpi;
        RECT suggested;
        SIZE dialog;
        RECT save;
        LONG heading;
    } steps[] = {
        {144, {20, 5, 20 + 1500, 5 + 990}, {717, 408}, {513, 234, 639, 285}, -23},
        {96, {50, 122, 1230, 902}, {478, 272}, {342, 156, 426, 190}, -15},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.dpi);
        change(s.dpi, s.suggested);
        RECT frame = {};
        GetWindowRect(gApp.settingsWindow, &frame);
        EXPECT_EQ(frame.right - frame.left, s.dialog.cx);
        EXPECT_EQ(frame.bottom - frame.top, s.dialog.cy);
        HWND save = GetDlgItem(gApp.settingsWindow, kIdSave);
        ASSERT_NE(save, nullptr);
        RECT r = {};
        GetWindowRect(save, &r);
        MapWindowPoints(nullptr, gApp.settingsWindow, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(rectText(r), rectText(s.save));
        HWND heading = GetWindow(gApp.settingsWindow, GW_CHILD);
        ASSERT_NE(heading, nullptr);
        EXPECT_EQ(fontHeight(reinterpret_cast<HFONT>(SendMessageW(heading, WM_GETFONT, 0, 0))), s.heading);
    }
}

TEST_F(DpiChange, AHundredChangesLeaveNoObjectBehind) {
    open(50, 122, 1180, 780, true);
    const RECT at144{20, 5, 20 + 1500, 5 + 990}, at96{50, 122, 1230, 902};
    // One round first: the paint caches, icons and GDI+ state of both scales are made once.
    change(144, at144);
    repaintNow();
    change(96, at96);
    repaintNow();
    pumpFor(100);
    const ObjectCensus before = takeCensus();
    for (int i = 0; i < 100; ++i) {
        const bool up = i % 2 == 0;
        change(up ? 144 : 96, up ? at144 : at96);
        repaintNow();
    }
    pumpFor(100);
    const ObjectCensus after = takeCensus();
    std::printf("census over 100 scale changes (%s): GDI objects %ld -> %ld, heap blocks %zu -> %zu, "
                "heap bytes %zu -> %zu\n",
                gdiCountMethod(), before.gdiObjects, after.gdiObjects, before.heapBlocks, after.heapBlocks,
                before.heapBytes, after.heapBytes);
    EXPECT_EQ(gApp.fontDpi, 96);
    EXPECT_GT(before.gdiObjects, 13) << "the count sees at least the fonts";
    // A leak per change would be 100 or more; a region or bitmap the window manager's answers
    // have in flight at either count is a few.
    EXPECT_LE(after.gdiObjects, before.gdiObjects + 5);
    EXPECT_LT(after.heapBlocks, before.heapBlocks + 100);  // a leak per change would be 100 or more
    EXPECT_LT(after.heapBytes, before.heapBytes + 256 * 1024);
}

}  // namespace
