#include "app/app_state.h"
#include "app/settings_dialog.h"
#include "app/shadow.h"
#include "app/window_rules.h"
#include "ui/layout.h"
#include "ui/looks.h"
#include "ui/scale.h"

#include <gtest/gtest.h>

namespace {

const int kDpis[] = {96, 120, 144, 192};

struct ScreenCase {
    int screenW, screenH, dpi;
    int x, y, w, h;
};

TEST(DisplayScale, WindowRuleScalesThresholdsSizesAndOffsets) {
    const ScreenCase cases[] = {
        {1280, 1024, 96, 50, 122, 1180, 780},   {1280, 1024, 120, 38, 38, 1205, 949},
        {1280, 1024, 144, 45, 45, 1190, 934},   {1280, 1024, 192, 60, 60, 1160, 904},
        {1920, 1080, 96, 370, 150, 1180, 780},  {1920, 1080, 120, 222, 52, 1475, 975},
        {1920, 1080, 144, 75, 45, 1770, 990},   {1920, 1080, 192, 60, 60, 1800, 960},
        {2560, 1440, 96, 690, 330, 1180, 780},  {2560, 1440, 120, 542, 232, 1475, 975},
        {2560, 1440, 144, 395, 135, 1770, 1170}, {2560, 1440, 192, 100, 60, 2360, 1320},
        {3840, 2160, 96, 1330, 690, 1180, 780}, {3840, 2160, 120, 1182, 592, 1475, 975},
        {3840, 2160, 144, 1035, 495, 1770, 1170}, {3840, 2160, 192, 740, 300, 2360, 1560},
    };
    for (const ScreenCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.screenW << "x" << c.screenH << " at " << c.dpi);
        const WindowRect r = mainWindowRect(c.screenW, c.screenH, c.dpi);
        EXPECT_EQ(r.x, c.x);
        EXPECT_EQ(r.y, c.y);
        EXPECT_EQ(r.width, c.w);
        EXPECT_EQ(r.height, c.h);
    }
    // Every common screen at every usual scale: the window lies on the screen.
    for (int w : {1024, 1280, 1366, 1440, 1600, 1920, 2560, 3840})
        for (int h : {768, 800, 900, 1024, 1080, 1200, 1440, 2160})
            for (int dpi : {96, 120, 144, 168, 192}) {
                const WindowRect r = mainWindowRect(w, h, dpi);
                EXPECT_TRUE(r.x >= 0 && r.y >= 0 && r.x + r.width <= w && r.y + r.height <= h)
                    << w << "x" << h << " at " << dpi << ": " << r.x << "," << r.y << " " << r.width << "x" << r.height;
            }
}

TEST(DisplayScale, MinimumSizeScalesButNeverExceedsTheWorkArea) {
    EXPECT_EQ(minimumWindowSize(1920, 1040, 96).cx, 1000);
    EXPECT_EQ(minimumWindowSize(1920, 1040, 96).cy, 660);
    EXPECT_EQ(minimumWindowSize(1920, 1160, 144).cx, 1500);
    EXPECT_EQ(minimumWindowSize(1920, 1160, 144).cy, 990);
    EXPECT_EQ(minimumWindowSize(1280, 984, 192).cx, 1280);
    EXPECT_EQ(minimumWindowSize(1280, 984, 192).cy, 984);
}

TEST(DisplayScale, ResizeBandsAndCaptionBandFollowTheScale) {
    for (int dpi : kDpis) {
        SCOPED_TRACE(dpi);
        ScopedUiDpi scale(dpi);
        const int w = scalePx(1180, dpi), h = scalePx(780, dpi);
        const int left = scalePx(7, dpi), edge = scalePx(6, dpi), header = scalePx(64, dpi);
        EXPECT_EQ(frameHitTest(left - 1, header + 10, w, h, false), HTLEFT);
        EXPECT_EQ(frameHitTest(left, header + 10, w, h, false), HTCLIENT);
        EXPECT_EQ(frameHitTest(w - edge, header + 10, w, h, false), HTRIGHT);
        EXPECT_EQ(frameHitTest(w - edge - 1, header + 10, w, h, false), HTCLIENT);
        EXPECT_EQ(frameHitTest(w / 2, header - 1, w, h, false), HTCAPTION);
        EXPECT_EQ(frameHitTest(w / 2, header - 1, w, h, true), HTCLIENT);
        EXPECT_EQ(frameHitTest(w / 2, header, w, h, false), HTCLIENT);
        EXPECT_EQ(frameHitTest(w / 2, h - edge, w, h, false), HTBOTTOM);
        EXPECT_EQ(frameHitTest(w / 2, h - edge - 1, w, h, false), HTCLIENT);
        EXPECT_EQ(wheelTarget(scalePx(199, dpi), header + 1, 0), WheelTarget::Sidebar);
        EXPECT_EQ(wheelTarget(scalePx(200, dpi), header + 1, 0), WheelTarget::Grid);
    }
}

TEST(DisplayScale, CardColumnsOfScaledWidthsAreThoseOf96Dpi) {
    struct ColumnCase {
        int width96, cols;
    };
    const ColumnCase cases[] = {{907, 3}, {908, 4}, {1127, 4}, {1128, 5}, {1348, 6}};
    for (int dpi : kDpis) {
        ScopedUiDpi scale(dpi);
        for (const ColumnCase& c : cases) {
            SCOPED_TRACE(testing::Message() << c.width96 << " at " << dpi);
            const RECT area{scalePx(212, dpi), scalePx(78, dpi), scalePx(212 + c.width96, dpi), scalePx(780, dpi)};
            const GridGeometry g = gridGeometry(area, true, 40, 0);
            EXPECT_EQ(g.cols, c.cols);
        }
    }
}

TEST(DisplayScale, CardsKeepEqualGapsAndTheLastStaysInsideTheArea) {
    for (int dpi : kDpis) {
        ScopedUiDpi scale(dpi);
        for (int width = scalePx(700, dpi); width < scalePx(1700, dpi); width += 7) {
            SCOPED_TRACE(testing::Message() << width << " at " << dpi);
            const RECT area{scalePx(212, dpi), scalePx(78, dpi), scalePx(212, dpi) + width, scalePx(900, dpi)};
            const GridGeometry g = gridGeometry(area, true, 40, 0);
            ASSERT_GE(g.cardW, 1);
            for (int i = 0; i + 1 < 2 * g.cols; ++i) {
                const RECT card = gridCardRect(g, area, i);
                EXPECT_LE(card.right, area.right - scalePx(14, dpi));
                if ((i + 1) % g.cols != 0) {
                    const RECT next = gridCardRect(g, area, i + 1);
                    EXPECT_EQ(next.left - card.right, scalePx(14, dpi));
                } else {
                    const RECT below = gridCardRect(g, area, i + 1);
                    EXPECT_EQ(below.top - card.bottom, scalePx(248, dpi) - scalePx(234, dpi));
                    EXPECT_GT(below.top, card.bottom);
                }
                const RECT button = gridButtonRect(g, card);
                EXPECT_GE(button.left, card.left);
                EXPECT_LE(button.right, card.right);
                EXPECT_LE(button.bottom, card.bottom);
            }
        }
    }
}

TEST(DisplayScale, SidebarRowsAndPanelRowsKeepTheirGapsAtEveryScale) {
    for (int dpi : kDpis) {
        SCOPED_TRACE(dpi);
        ScopedUiDpi scale(dpi);
        const SidebarGeometry side = sidebarGeometry(scalePx(780, dpi), 30, 0);
        const PanelGeometry panel = panelGeometry(scalePx(780, dpi), 30, 0);
        for (int i = 0; i + 1 < 30; ++i) {
            const int top = sidebarRowTop(side, i), next = sidebarRowTop(side, i + 1);
            EXPECT_EQ(next - (top + sidebarRowHeight()), scalePx(54, dpi) - scalePx(46, dpi));
            const RECT row = panelRowRect(panel, scalePx(1180, dpi), i);
            const RECT below = panelRowRect(panel, scalePx(1180, dpi), i + 1);
            EXPECT_EQ(below.top - row.bottom, scalePx(96, dpi) - scalePx(86, dpi));
            EXPECT_GT(below.top, row.bottom);
        }
        EXPECT_EQ(sidebarRowTop(side, 0), scalePx(78, dpi));
        EXPECT_EQ(panelRowRect(panel, 1000, 0).top, scalePx(158, dpi));
        // The sidebar rows, its scrollbar and the grid area do not touch or overlap.
        EXPECT_LT(sidebarRowRight(), scalePx(193, dpi));
        EXPECT_LT(sidebarWidth(), gridArea(scalePx(1180, dpi), scalePx(780, dpi)).left);
    }
}

TEST(DisplayScale, ThumbsAreNeverShorterThanTheirScaledMinimum) {
    for (int dpi : kDpis) {
        SCOPED_TRACE(dpi);
        ScopedUiDpi scale(dpi);
        const int h = scalePx(700, dpi);
        const ScrollbarGeom side = sidebarScrollbarGeom(sidebarGeometry(h, 5000, 0), h);
        ASSERT_TRUE(side.visible);
        EXPECT_EQ(side.thumbBottom - side.thumbTop, scalePx(30, dpi));
        EXPECT_EQ(side.trackRight - side.trackLeft, scalePx(197, dpi) - scalePx(193, dpi));
        const RECT area = gridArea(scalePx(1180, dpi), h);
        const GridGeometry g = gridGeometry(area, true, 5000, 0);
        const ScrollbarGeom grid = gridScrollbarGeom(g, area, 5000);
        ASSERT_TRUE(grid.visible);
        EXPECT_EQ(grid.thumbBottom - grid.thumbTop, scalePx(36, dpi));
        EXPECT_EQ(grid.trackLeft, area.right - scalePx(7, dpi));
        EXPECT_EQ(grid.trackRight - grid.trackLeft, scalePx(4, dpi));
    }
}

TEST(DisplayScale, OverlaysAndTheirBoxesScale) {
    ScopedUiDpi scale(144);
    const RECT banner = bannerRect(1500, 1050);
    EXPECT_EQ(banner.left, 1500 - 534);
    EXPECT_EQ(banner.top, 1050 - 156);
    EXPECT_EQ(banner.right, 1470);
    EXPECT_EQ(banner.bottom, 1020);
    const RECT toast = toastRect(1500);
    EXPECT_EQ(toast.right - toast.left, 540);
    EXPECT_EQ(toast.top, 120);
    EXPECT_EQ(toast.bottom, 183);
    EXPECT_EQ(shadowMargin(), 27);
    EXPECT_EQ(windowCornerDiameter(), 21);
    const ButtonLook half = cardButtonLook(0, 50, false, true, false);
    EXPECT_EQ(half.progressWidth, 75);  // half of the 150-pixel button
}

TEST(DisplayScale, At96DpiEveryFigureIsTheSpecifiedOne) {
    ScopedUiDpi scale(96);
    EXPECT_EQ(headerHeight(), 64);
    EXPECT_EQ(sidebarWidth(), 200);
    EXPECT_EQ(shadowMargin(), 18);
    const RECT toast = toastRect(1180);
    EXPECT_EQ(toast.left, 410);
    EXPECT_EQ(toast.right, 770);
    EXPECT_EQ(settingsWindowSize(96).cx, 478);
    EXPECT_EQ(settingsWindowSize(96).cy, 272);
    const RECT edit = settingsControlRect(2, 96);
    EXPECT_EQ(edit.left, 30);
    EXPECT_EQ(edit.top, 76);
    EXPECT_EQ(edit.right, 360);
    EXPECT_EQ(edit.bottom, 106);
}

TEST(DisplayScale, SettingsDialogControlsScaleWithoutOverlapping) {
    for (int dpi : kDpis) {
        SCOPED_TRACE(dpi);
        const SIZE size = settingsWindowSize(dpi);
        EXPECT_EQ(size.cx, scalePx(478, dpi));
        EXPECT_EQ(size.cy, scalePx(272, dpi));
        for (int i = 0; i < kSettingsControlCount; ++i) {
            const RECT a = settingsControlRect(i, dpi);
            EXPECT_LT(a.right, size.cx);
            for (int j = i + 1; j < kSettingsControlCount; ++j) {
                const RECT b = settingsControlRect(j, dpi);
                RECT both;
                EXPECT_FALSE(IntersectRect(&both, &a, &b)) << i << " and " << j;
            }
        }
        const RECT edit = settingsControlRect(2, dpi), browse = settingsControlRect(3, dpi);
        EXPECT_EQ(browse.left - edit.right, scalePx(368, dpi) - scalePx(360, dpi));
        EXPECT_EQ(edit.bottom - edit.top, scalePx(106, dpi) - scalePx(76, dpi));
    }
}

TEST(DisplayScale, FontsAreMadeForTheScaleAndReplaceTheOldSet) {
    AppState state;
    ASSERT_TRUE(createFonts(state, 144));
    LOGFONTW font = {};
    ASSERT_TRUE(GetObjectW(state.fontHeadline, sizeof(font), &font));
    EXPECT_EQ(font.lfHeight, -33);
    ASSERT_TRUE(GetObjectW(state.fontInitial, sizeof(font), &font));
    EXPECT_EQ(font.lfHeight, -48);
    const HFONT before = state.fontBody;
    ASSERT_TRUE(createFonts(state, 96));
    EXPECT_EQ(GetObjectW(before, sizeof(font), &font), 0);  // the old set is gone
    ASSERT_TRUE(GetObjectW(state.fontHeadline, sizeof(font), &font));
    EXPECT_EQ(font.lfHeight, -22);
    EXPECT_EQ(state.fontDpi, 96);
}

TEST(DisplayScale, ShadowRingsFadeOverTheScaledMargin) {
    EXPECT_EQ(shadowRingAlpha(0, 27), 64);
    EXPECT_EQ(shadowRingAlpha(26, 27), 0);
    EXPECT_EQ(shadowRingAlpha(9, 18), shadowRingAlpha(9));
}

}  // namespace
