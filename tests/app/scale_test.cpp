#include "app/app_state.h"
#include "ui/layout.h"
#include "ui/looks.h"
#include "ui/scale.h"

#include <gtest/gtest.h>

namespace {

const int kDpis[] = {96, 120, 144, 192};

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

TEST(DisplayScale, SidebarThumbIsNeverShorterThanItsScaledMinimum) {
    for (int dpi : kDpis) {
        SCOPED_TRACE(dpi);
        ScopedUiDpi scale(dpi);
        const int h = scalePx(700, dpi);
        const ScrollbarGeom side = sidebarScrollbarGeom(sidebarGeometry(h, 5000, 0), h);
        ASSERT_TRUE(side.visible);
        EXPECT_EQ(side.thumbBottom - side.thumbTop, scalePx(30, dpi));
        EXPECT_EQ(side.trackRight - side.trackLeft, scalePx(197, dpi) - scalePx(193, dpi));
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
    const ButtonLook half = cardButtonLook(0, 50, false, true, false);
    EXPECT_EQ(half.progressWidth, 75);  // half of the 150-pixel button
}

TEST(DisplayScale, At96DpiEveryFigureIsTheSpecifiedOne) {
    ScopedUiDpi scale(96);
    EXPECT_EQ(headerHeight(), 64);
    EXPECT_EQ(sidebarWidth(), 200);
    const RECT toast = toastRect(1180);
    EXPECT_EQ(toast.left, 410);
    EXPECT_EQ(toast.right, 770);
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

}  // namespace
