#include "app/object_census.h"
#include "app/settings_dialog.h"
#include "ui/layout.h"
#include "ui/looks.h"
#include "ui/scale.h"
#include "window_support.h"

#include <cstdio>

#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

namespace {

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
// minimum tracking size, which fits the tests' 1600 x 1000 screen. The first card's button
// is where the layout puts it at that scale and size.
struct ScaleFigures {
    int dpi;
    RECT suggested;
    LONG headline, sidebar, body;  // fonts of 22, 18 and 14 pixels at 96 DPI
    RECT close;                    // the close button's hit rectangle
    RECT firstRow;                 // the first category row
    SIZE shadow;                   // the shadow picture, the window and its rings
};

const ScaleFigures kFigures[] = {
    {144, {20, 5, 20 + 1500, 5 + 990}, -33, -27, -21, {1500 - 69, 0, 1500, 96}, {18, 117, 282, 186},
     {1500 + 54, 990 + 54}},
    {96, {50, 122, 1230, 902}, -22, -18, -14, {1180 - 46, 0, 1180, 64}, {12, 78, 188, 124},
     {1180 + 36, 780 + 36}},
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
        const RECT area = gridArea(f.suggested.right - f.suggested.left, f.suggested.bottom - f.suggested.top);
        const GridGeometry grid = gridGeometry(area, true, 1, 0);
        EXPECT_EQ(rectText(button->rect), rectText(gridButtonRect(grid, gridCardRect(grid, area, 0))));

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
        LONG heading;
    } steps[] = {
        {144, {20, 5, 20 + 1500, 5 + 990}, -23},
        {96, {50, 122, 1230, 902}, -15},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.dpi);
        change(s.dpi, s.suggested);
        RECT frame = {};
        GetWindowRect(gApp.settingsWindow, &frame);
        const SIZE dialog = settingsWindowSize(s.dpi);
        EXPECT_EQ(frame.right - frame.left, dialog.cx);
        EXPECT_EQ(frame.bottom - frame.top, dialog.cy);
        HWND save = GetDlgItem(gApp.settingsWindow, kIdSave);
        ASSERT_NE(save, nullptr);
        RECT r = {};
        GetWindowRect(save, &r);
        MapWindowPoints(nullptr, gApp.settingsWindow, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(rectText(r), rectText(settingsControlRect(6, s.dpi)));  // the save button
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
