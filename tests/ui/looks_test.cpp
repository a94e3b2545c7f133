// The views' layout and look decisions, called directly without a window.
#include <gtest/gtest.h>

#include <climits>

#include "ui/layout.h"
#include "ui/looks.h"
#include "ui/palette.h"
#include "ui/scale.h"

namespace {

bool sameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string show(const RECT& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + ")";
}

// Noon UTC on 7 March 2024: 7 March in every time zone from UTC-11 to UTC+11.
constexpr int64_t kMarch7 = 1709812800000LL;

// Columns come from the area's width in 96-DPI pixels, so every scale has the columns of 96 DPI.
TEST(GridGeometry, ColumnsAndCardWidthFollowTheAreaWidthAtEveryScale) {
    const struct {
        int dpi, width96, cols, cardW;
    } cases[] = {
        {96, 600, 3, 181},   {96, 907, 3, 283},   {96, 908, 4, 209},   {96, 956, 4, 221},
        {96, 1127, 4, 264},  {96, 1128, 5, 208},  {96, 1347, 5, 252},  {96, 1348, 6, 208},
        {120, 907, 3, 354},  {120, 908, 4, 261},  {120, 1127, 4, 329}, {120, 1128, 5, 260}, {120, 1348, 6, 259},
        {144, 907, 3, 425},  {144, 908, 4, 314},  {144, 1127, 4, 396}, {144, 1128, 5, 313}, {144, 1348, 6, 312},
        {192, 907, 3, 567},  {192, 908, 4, 419},  {192, 1127, 4, 528}, {192, 1128, 5, 417}, {192, 1348, 6, 416},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width96 << " at " << c.dpi);
        ScopedUiDpi scale(c.dpi);
        const RECT area{scalePx(212, c.dpi), scalePx(78, c.dpi), scalePx(212 + c.width96, c.dpi), scalePx(780, c.dpi)};
        const GridGeometry g = gridGeometry(area, true, 10, 0);
        EXPECT_EQ(g.cols, c.cols);
        EXPECT_EQ(g.cardW, c.cardW);
    }
}

// The window's grid at its first size, at each scale: where the cards, the first card's
// button and the scrollbar lie. Other tests take these places from the same functions.
TEST(GridGeometry, CardsButtonsAndScrollbarAtEveryScale) {
    const struct {
        int dpi;
        RECT area, card0, card5, button0, track;
        int thumbMin;
    } cases[] = {
        {96, {212, 78, 1168, 780}, {226, 126, 447, 360}, {461, 374, 682, 608}, {286, 314, 386, 346},
         {1161, 126, 1165, 780}, 36},
        {120, {265, 98, 1460, 975}, {283, 158, 559, 451}, {577, 468, 853, 761}, {358, 393, 483, 433},
         {1451, 158, 1456, 975}, 45},
        {144, {318, 117, 1752, 1170}, {339, 189, 671, 540}, {692, 561, 1024, 912}, {430, 471, 580, 519},
         {1741, 189, 1747, 1170}, 54},
        {192, {424, 156, 2336, 1560}, {452, 252, 895, 720}, {923, 748, 1366, 1216}, {573, 628, 773, 692},
         {2322, 252, 2330, 1560}, 72},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dpi);
        ScopedUiDpi scale(c.dpi);
        const RECT area = gridArea(scalePx(1180, c.dpi), scalePx(780, c.dpi));
        EXPECT_EQ(show(area), show(c.area));
        const GridGeometry g = gridGeometry(area, true, 16, 0);
        EXPECT_EQ(show(gridCardRect(g, area, 0)), show(c.card0));
        EXPECT_EQ(show(gridCardRect(g, area, 5)), show(c.card5));
        EXPECT_EQ(show(gridButtonRect(g, gridCardRect(g, area, 0))), show(c.button0));
        const ScrollbarGeom bar = gridScrollbarGeom(g, area, 16);
        ASSERT_TRUE(bar.visible);
        EXPECT_EQ(show(RECT{bar.trackLeft, bar.trackTop, bar.trackRight, bar.trackBottom}), show(c.track));
        const GridGeometry many = gridGeometry(area, true, 10000, 0);
        const ScrollbarGeom least = gridScrollbarGeom(many, area, 10000);
        EXPECT_EQ(least.thumbBottom - least.thumbTop, c.thumbMin);
    }
}

// Every width, not only the table's: equal gaps between cards and rows, the last card
// inside the area, each button inside its card.
TEST(GridGeometry, CardsKeepEqualGapsAndTheLastStaysInsideTheAreaAtEveryScale) {
    for (int dpi : {96, 120, 144, 192}) {
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
                }
                const RECT button = gridButtonRect(g, card);
                EXPECT_GE(button.left, card.left);
                EXPECT_LE(button.right, card.right);
                EXPECT_LE(button.bottom, card.bottom);
            }
        }
    }
}

TEST(GridGeometry, TitleMovesTheGridDown) {
    const RECT area{212, 78, 1168, 780};
    EXPECT_EQ(gridGeometry(area, true, 1, 0).gridTop, 126);
    EXPECT_EQ(gridGeometry(area, true, 1, 0).viewH, 654);
    EXPECT_EQ(gridGeometry(area, false, 1, 0).gridTop, 78);
}

TEST(GridGeometry, EmptyListHasNoScrollAndNoScrollbar) {
    // Also in a view too short for even the extra room below the last row.
    for (int bottom : {780, 130, 100}) {
        const RECT area{212, 78, 1168, bottom};
        const GridGeometry g = gridGeometry(area, true, 0, 500);
        EXPECT_EQ(g.rows, 0);
        EXPECT_EQ(g.maxScroll, 0);
        EXPECT_EQ(g.scroll, 0);
        EXPECT_FALSE(gridScrollbarGeom(g, area, 0).visible);
    }
}

TEST(GridGeometry, ScrollbarAppearsFromTheFirstPixelOfOverflow) {
    // Six apps in three columns: two rows, 496 pixels; the view must hold them plus 14.
    const struct {
        int viewH, maxScroll;
        bool bar;
    } cases[] = {{600, 0, false}, {510, 0, false}, {509, 1, true}, {400, 110, true}};
    for (const auto& c : cases) {
        const RECT area{212, 78, 812, 126 + c.viewH};
        const GridGeometry g = gridGeometry(area, true, 6, 0);
        EXPECT_EQ(g.contentH, 496);
        EXPECT_EQ(g.maxScroll, c.maxScroll) << c.viewH;
        EXPECT_EQ(gridScrollbarGeom(g, area, 6).visible, c.bar) << c.viewH;
    }
}

TEST(GridGeometry, ScrollIsClampedIntoRange) {
    const RECT area{212, 78, 812, 526};  // viewH 400
    EXPECT_EQ(gridGeometry(area, true, 6, -30).scroll, 0);
    EXPECT_EQ(gridGeometry(area, true, 6, 50).scroll, 50);
    EXPECT_EQ(gridGeometry(area, true, 6, 111).scroll, 110);
    EXPECT_EQ(gridGeometry(area, true, 6, INT_MAX).scroll, 110);
}

TEST(GridGeometry, ThumbIsProportionalButNeverUnder36) {
    const RECT area{212, 78, 1168, 780};  // 4 columns, viewH 654
    const struct {
        int apps, scroll, thumbTop, thumbH;
    } cases[] = {
        {16, 0, 126, 654 * 654 / 992},          // 4 rows
        {16, 352, 780 - 654 * 654 / 992, 654 * 654 / 992},
        {10000, 0, 126, 36},
        {10000, INT_MAX, 780 - 36, 36},
    };
    for (const auto& c : cases) {
        const GridGeometry g = gridGeometry(area, true, c.apps, c.scroll);
        const ScrollbarGeom bar = gridScrollbarGeom(g, area, c.apps);
        ASSERT_TRUE(bar.visible) << c.apps;
        EXPECT_EQ(bar.trackLeft, 1161);
        EXPECT_EQ(bar.trackRight, 1165);
        EXPECT_EQ(bar.trackTop, 126);
        EXPECT_EQ(bar.trackBottom, 780);
        EXPECT_EQ(bar.thumbLeft, 1161);
        EXPECT_EQ(bar.thumbRight, 1165);
        EXPECT_EQ(bar.thumbTop, c.thumbTop) << c.apps << " @" << c.scroll;
        EXPECT_EQ(bar.thumbBottom - bar.thumbTop, c.thumbH) << c.apps;
        EXPECT_EQ(bar.maxScroll, g.maxScroll);
    }
}

TEST(GridGeometry, LastColumnAndVisibility) {
    const RECT area{212, 78, 1168, 780};
    const GridGeometry g = gridGeometry(area, true, 9, 0);
    EXPECT_TRUE(sameRect(gridCardRect(g, area, 3), RECT{931, 126, 1152, 360}));  // the last column
    EXPECT_TRUE(gridCardVisible(g, area, gridCardRect(g, area, 8)));  // top 622 < 780

    const GridGeometry deep = gridGeometry(RECT{212, 78, 1168, 300}, true, 12, 248);
    EXPECT_EQ(deep.scroll, 248);
    EXPECT_FALSE(gridCardVisible(deep, area, RECT{0, 126 - 234 - 1, 0, 125}));
    EXPECT_FALSE(gridCardVisible(deep, RECT{212, 78, 1168, 300}, gridCardRect(deep, area, 0)));  // bottom 112
    EXPECT_TRUE(gridCardVisible(deep, RECT{212, 78, 1168, 300}, gridCardRect(deep, area, 4)));   // 126..360
}

struct CardCase {
    const char* what;
    int state, percent;
    bool archive, package, hot;
    const wchar_t* label;
    uint32_t fill, progress;
    int progressWidth;
    COLORREF text;
};

TEST(CardButtonLook, FollowsTheTaskState) {
    const CardCase cases[] = {
        {"no package", -1, 0, false, false, false, L"敬请期待", Neutral, 0, 0, TextDisabled},
        {"no package hot", -1, 0, false, false, true, L"敬请期待", Neutral, 0, 0, TextDisabled},
        {"installable", -1, 0, false, true, false, L"安 装", Accent, 0, 0, TextOnAccent},
        {"installable hot", -1, 0, false, true, true, L"安 装", AccentHot, 0, 0, TextOnAccent},
        {"downloading 0", 0, 0, false, true, false, L"下载中 0%", Neutral, 0, 0, TextAccent},
        {"downloading 1", 0, 1, false, true, false, L"下载中 1%", Neutral, AccentWash, 1, TextAccent},
        {"downloading 40", 0, 40, false, true, true, L"下载中 40%", Neutral, AccentWash, 40, TextAccent},
        {"downloading 100", 0, 100, false, true, false, L"下载中 100%", Neutral, AccentWash, 100, TextAccent},
        {"downloading over", 0, 250, false, true, false, L"下载中 100%", Neutral, AccentWash, 100, TextAccent},
        {"verifying", 1, 100, false, true, false, L"校验中", Neutral, AccentWash, 100, TextAccent},
        {"verifying 0", 1, 0, false, true, false, L"校验中", Neutral, 0, 0, TextAccent},
        {"completed installer", 2, 100, false, true, false, L"立即安装", Accent, 0, 0, TextOnAccent},
        {"completed installer hot", 2, 100, false, true, true, L"立即安装", AccentHot, 0, 0, TextOnAccent},
        {"completed archive", 2, 100, true, true, false, L"打开文件夹", Accent, 0, 0, TextOnAccent},
        {"install failed", 7, 100, false, true, false, L"立即安装", Accent, 0, 0, TextOnAccent},
        {"install failed archive hot", 7, 100, true, true, true, L"打开文件夹", AccentHot, 0, 0, TextOnAccent},
        {"failed", 3, 30, false, true, false, L"重试", Accent, 0, 0, TextOnAccent},
        {"failed hot", 3, 30, false, true, true, L"重试", AccentHot, 0, 0, TextOnAccent},
        {"cancelled", 4, 30, false, false, false, L"重新下载", Accent, 0, 0, TextOnAccent},
        {"cancelled hot", 4, 30, false, true, true, L"重新下载", AccentHot, 0, 0, TextOnAccent},
        {"installed", 5, 100, false, true, true, L"已安装", SuccessWash, 0, 0, TextSuccess},
        {"installing", 6, 100, false, true, false, L"安装中", SuccessWash, 0, 0, TextSuccess},
    };
    for (const CardCase& c : cases) {
        const ButtonLook look = cardButtonLook(c.state, c.percent, c.archive, c.package, c.hot);
        EXPECT_EQ(look.label, c.label) << c.what;
        EXPECT_EQ(look.fill, c.fill) << c.what;
        EXPECT_EQ(look.progressFill, c.progress) << c.what;
        EXPECT_EQ(look.progressWidth, c.progressWidth) << c.what;
        EXPECT_EQ(look.text, c.text) << c.what;
    }
}

TEST(TaskPercent, IsWholePercentsWithinZeroToHundred) {
    const struct {
        int64_t done, total;
        int percent;
    } cases[] = {
        {0, 0, 0},     {5, 0, 0},          {5, -1, 0},         {0, 100, 0},
        {1, 101, 0},   {40, 100, 40},      {99, 100, 99},      {100, 100, 100},
        {300, 100, 100}, {-5, 100, 0},     {INT64_MAX - 1, INT64_MAX, 99},
        {INT64_MAX / 2, INT64_MAX, 49},
    };
    for (const auto& c : cases) EXPECT_EQ(taskPercent(c.done, c.total), c.percent) << c.done << "/" << c.total;
}

TEST(MetaLine, JoinsSizeAndDateWithASeparatorOnlyWhenBothExist) {
    EXPECT_EQ(metaLine(0, kMarch7), L"03-07更新");
    EXPECT_EQ(metaLine(-3, kMarch7), L"03-07更新");
    EXPECT_EQ(metaLine(1572864, kMarch7), L"1.5 MB · 03-07更新");
    EXPECT_EQ(metaLine(1572864, 0), L"1.5 MB");
    EXPECT_EQ(metaLine(1, 0), L"1 B");
    EXPECT_EQ(metaLine(0, 0), L"");
}

TEST(SectionTitle, NamesTheCategoryAndCountsItsApps) {
    EXPECT_EQ(sectionTitle(true, L"", 0), L"暂无分类");
    EXPECT_EQ(sectionTitle(false, L"办公软件", 12), L"办公软件 · 12 款");
    EXPECT_EQ(sectionTitle(false, L"空", 0), L"空 · 0 款");
}

TEST(PanelGeometry, RowsThatFitDoNotScroll) {
    for (int n : {0, 1, 6}) {
        const PanelGeometry g = panelGeometry(780, n, 100);
        EXPECT_EQ(g.contentH, n == 0 ? 0 : n * 96 - 10) << n;
        EXPECT_EQ(g.maxScroll, 0) << n;
        EXPECT_EQ(g.scroll, 0) << n;
        EXPECT_FALSE(panelScrollbarGeom(g, 1180).visible) << n;
    }
    const PanelGeometry g = panelGeometry(780, 6, 0);
    EXPECT_TRUE(sameRect(panelRowRect(g, 1180, 0), RECT{220, 158, 1160, 244}));
    EXPECT_TRUE(sameRect(panelRowRect(g, 1180, 5), RECT{220, 638, 1160, 724}));
}

TEST(PanelGeometry, TenRowsInA780WindowScrollLikeTheGrid) {
    // 950 pixels of rows in a 622-pixel band, plus the grid's 14 of room below the last.
    const PanelGeometry top = panelGeometry(780, 10, 0);
    EXPECT_EQ(top.contentH, 950);
    EXPECT_EQ(top.maxScroll, 342);
    const ScrollbarGeom bar = panelScrollbarGeom(top, 1180);
    ASSERT_TRUE(bar.visible);
    EXPECT_TRUE(sameRect(RECT{bar.trackLeft, bar.trackTop, bar.trackRight, bar.trackBottom}, RECT{1161, 158, 1165, 780}));
    EXPECT_TRUE(sameRect(RECT{bar.thumbLeft, bar.thumbTop, bar.thumbRight, bar.thumbBottom}, RECT{1161, 158, 1165, 565}));
    EXPECT_EQ(bar.maxScroll, 342);

    const PanelGeometry end = panelGeometry(780, 10, 5000);
    EXPECT_EQ(end.scroll, 342);
    const ScrollbarGeom endBar = panelScrollbarGeom(end, 1180);
    EXPECT_EQ(endBar.thumbTop, 373);
    EXPECT_EQ(endBar.thumbBottom, 780);
    EXPECT_TRUE(sameRect(panelRowRect(end, 1180, 9), RECT{220, 680, 1160, 766})) << show(panelRowRect(end, 1180, 9));
    EXPECT_EQ(panelGeometry(780, 10, -7).scroll, 0);

    // A thousand rows still leave a thumb that can be grabbed.
    const ScrollbarGeom many = panelScrollbarGeom(panelGeometry(780, 1000, 0), 1180);
    EXPECT_EQ(many.thumbBottom - many.thumbTop, 36);
}

TEST(PanelGeometry, WindowShorterThanTheHeaderHasAnEmptyBand) {
    const PanelGeometry g = panelGeometry(120, 3, 50);
    EXPECT_EQ(g.viewBottom, g.viewTop);
    EXPECT_FALSE(panelScrollbarGeom(g, 1180).visible);
}

TaskInfo task(int state, int64_t done = 0, int64_t total = 0) {
    TaskInfo t;
    t.appId = 7;
    t.name = L"测试软件";
    t.state = state;
    t.downloadedBytes = done;
    t.totalBytes = total;
    return t;
}

struct ButtonWant {
    const wchar_t* label;
    int kind, left, right;
    bool primary;
};

void expectButtons(const RowLook& look, std::initializer_list<ButtonWant> want, const char* what) {
    ASSERT_EQ(look.buttons.size(), want.size()) << what;
    size_t i = 0;
    for (const ButtonWant& w : want) {
        const PanelButton& b = look.buttons[i++];
        EXPECT_EQ(b.label, w.label) << what;
        EXPECT_EQ(b.kind, w.kind) << what;
        EXPECT_EQ(b.left, w.left) << what;
        EXPECT_EQ(b.right, w.right) << what;
        EXPECT_EQ(b.primary, w.primary) << what;
    }
}

TEST(PanelRowLook, DownloadingShowsSizesSpeedAndAProportionalBar) {
    TaskInfo t = task(0, 419431, 1048576);  // 40 %
    t.speed = 2048;
    RowLook look = panelRowLook(t, 1180);
    EXPECT_EQ(look.name, L"测试软件");
    EXPECT_EQ(look.nameColour, TextPrimary);
    EXPECT_EQ(look.status, L"409 KB / 1.0 MB · 2 KB/s");
    EXPECT_EQ(look.statusColour, TextSecondary);
    EXPECT_EQ(look.barFill, Accent);
    EXPECT_EQ(look.barWidth, 622 * 40 / 100);
    expectButtons(look, {{L"取消", HitPanelCancel, 1068, 1144, false}}, "downloading");

    t.retryCount = 2;
    EXPECT_EQ(panelRowLook(t, 1180).status, L"409 KB / 1.0 MB · 2 KB/s · 网络波动，正在重试");

    // Stalled at 0 %, or without a known size: an empty track and no speed.
    for (int64_t total : {int64_t(1000), int64_t(0)}) {
        const RowLook idle = panelRowLook(task(0, 0, total), 1180);
        EXPECT_EQ(idle.barFill, 0u);
        EXPECT_EQ(idle.barWidth, 0);
        EXPECT_EQ(idle.status, L"0 B / " + std::wstring(total ? L"1000 B" : L"0 B"));  // no speed, no separator
    }
    // 1 % of a track narrower than 100 pixels rounds to nothing.
    EXPECT_EQ(panelRowLook(task(0, 1, 100), 650).barFill, 0u);
    EXPECT_EQ(panelRowLook(task(0, 2, 100), 650).barWidth, 1);
}

TEST(PanelRowLook, EveryStateHasItsStatusBarAndButtons) {
    const int W = 1000;
    const int full = W - 558;
    struct Case {
        const char* what;
        int state;
        bool archive, md5Ok;
        const wchar_t* status;
        COLORREF colour;
        uint32_t bar;
        int barWidth;
    };
    const Case cases[] = {
        {"verifying", 1, false, true, L"正在校验文件...", TextSecondary, 0, 0},
        {"completed", 2, false, true, L"下载完成", TextSuccess, Success, full},
        {"completed archive", 2, true, true, L"下载成功 · 压缩包已保存", TextSuccess, Success, full},
        {"failed", 3, false, true, L"下载失败：HTTP 404", TextDanger, DangerWash, full},
        {"cancelled", 4, false, true, L"已取消", TextSecondary, 0, 0},
        {"installed", 5, false, true, L"安装完成", TextSuccess, Success, full},
        {"installing", 6, false, true, L"正在安装，请稍候...", TextSuccess, Success, full},
        {"install failed", 7, false, true, L"安装已取消，可点击右侧按钮重新安装", TextDanger, Success, full},
        {"installer not started", 7, false, true, L"安装程序未能启动，可点击右侧按钮重试", TextDanger, Success, full},
        {"waiting for another installer", 6, false, true, L"等待其他安装完成", TextSuccess, Success, full},
    };
    for (const Case& c : cases) {
        TaskInfo t = task(c.state, 500, 1000);
        t.isArchive = c.archive;
        t.md5Ok = c.md5Ok;
        // Only a download failure or an installer that could not start carries a message.
        t.errorText = c.state == 7 ? L"" : L"HTTP 404";
        if (std::string(c.what) == "installer not started") t.errorText = c.status;
        t.installWaiting = std::string(c.what) == "waiting for another installer";
        const RowLook look = panelRowLook(t, W);
        EXPECT_EQ(look.status, c.status) << c.what;
        EXPECT_EQ(look.statusColour, c.colour) << c.what;
        EXPECT_EQ(look.barFill, c.bar) << c.what;
        EXPECT_EQ(look.barWidth, c.barWidth) << c.what;
        EXPECT_EQ(look.name, L"测试软件") << c.what;
    }

    const auto look = [&](int state, bool archive) {
        TaskInfo t = task(state, 1000, 1000);
        t.isArchive = archive;
        return panelRowLook(t, W);
    };
    expectButtons(look(1, false), {{L"取消", HitPanelCancel, W - 112, W - 36, false}}, "verifying");
    for (int state : {2, 7}) {
        expectButtons(look(state, true), {{L"打开文件夹", HitPanelFolder, W - 136, W - 36, false}}, "archive");
        expectButtons(look(state, false),
                      {{L"打开文件夹", HitPanelFolder, W - 198, W - 122, false},
                       {L"安装", HitPanelInstall, W - 112, W - 36, true}},
                      "installer");
    }
    for (int state : {3, 4}) expectButtons(look(state, false), {{L"重试", HitPanelRetry, W - 112, W - 36, true}}, "retry");
    for (int state : {5, 6}) {
        expectButtons(look(state, false), {{L"打开文件夹", HitPanelFolder, W - 136, W - 36, false}}, "installed");
    }
}

TEST(PanelRowLook, AnInterruptedDownloadShowsWhatItHasAndOffersToContinue) {
    const int W = 1000;
    TaskInfo t = task(3, 1288490189LL, 3435973837LL);
    t.interrupted = true;
    t.errorText = L"下载中断，可继续下载";
    const RowLook look = panelRowLook(t, W);
    EXPECT_EQ(look.status, L"已下载 1.20 GB / 3.20 GB · 下载中断，可继续下载");
    EXPECT_EQ(look.statusColour, TextSecondary);
    EXPECT_EQ(look.barFill, AccentWash);
    EXPECT_EQ(look.barWidth, (panelTrackRight(W) - panelTrackLeft()) * 37 / 100);
    expectButtons(look, {{L"继续", HitPanelRetry, W - 112, W - 36, true}}, "interrupted");
    EXPECT_EQ(cardButtonLook(3, 37, false, true, false, true).label, L"继续下载");
    EXPECT_EQ(cardButtonLook(3, 37, false, true, true, true).fill, AccentHot);
}

TEST(PanelRowLook, ChecksumMismatchMarksTheNameOfACompletedTaskOnly) {
    TaskInfo t = task(2, 10, 10);
    t.md5Ok = false;
    RowLook look = panelRowLook(t, 1180);
    EXPECT_EQ(look.name, L"测试软件");
    EXPECT_EQ(look.nameSuffix, L"  (MD5 校验不一致)");
    EXPECT_EQ(look.nameColour, TextDanger);
    EXPECT_EQ(look.status, L"下载完成");
    EXPECT_EQ(look.statusColour, TextSuccess);
    EXPECT_EQ(look.barFill, Success);
    EXPECT_EQ(look.buttons.size(), 2u);

    t.state = 5;
    look = panelRowLook(t, 1180);
    EXPECT_EQ(look.name, L"测试软件");
    EXPECT_EQ(look.nameColour, TextPrimary);
}

TEST(PanelRowLook, AFileThatCouldNotBeCheckedSaysSoOnItsRowAndBanner) {
    TaskInfo t = task(2, 10, 10);
    t.md5Ok = false;
    t.md5Unverified = true;
    const RowLook look = panelRowLook(t, 1180);
    EXPECT_EQ(look.nameSuffix, L"");
    EXPECT_EQ(look.status, L"无法校验文件，已禁止安装");
    EXPECT_EQ(look.statusColour, TextDanger);
    for (bool archive : {false, true}) {
        const BannerMessage m = bannerMessage(false, archive, BannerInstall::Opening, true);
        EXPECT_EQ(m.text, L"无法校验文件，已禁止安装") << archive;
        EXPECT_EQ(m.colour, TextWarning) << archive;
    }
}

TEST(PanelRowLook, NarrowWindowHasNoBarButKeepsItsButtons) {
    for (int state : {0, 2, 3, 5}) {
        const RowLook look = panelRowLook(task(state, 50, 100), 500);
        EXPECT_EQ(look.barFill, 0u) << state;
        EXPECT_EQ(look.barWidth, 0) << state;
        ASSERT_FALSE(look.buttons.empty()) << state;
        for (const PanelButton& b : look.buttons) EXPECT_LT(b.left, b.right) << state;
    }
}

TEST(PanelTitle, CountsTheTasks) {
    EXPECT_EQ(panelTitle(0), L"下载管理 · 0 个任务");
    EXPECT_EQ(panelTitle(3), L"下载管理 · 3 个任务");
}

TEST(Banner, SitsInTheBottomRightCorner) {
    EXPECT_TRUE(sameRect(bannerRect(1000, 700), RECT{644, 596, 980, 680}));
    EXPECT_TRUE(sameRect(bannerRect(1180, 780), RECT{824, 676, 1160, 760}));
}

TEST(Banner, MessageSaysWhatBecameOfTheFile) {
    const struct {
        bool verified, archive;
        const wchar_t* text;
        COLORREF colour;
    } cases[] = {
        {true, true, L"下载成功，压缩包已保存", TextTertiary},
        {true, false, L"下载完成，已打开安装向导", TextTertiary},
        {false, true, L"下载成功，压缩包已保存", TextWarning},
        {false, false, L"下载完成，校验不一致，请谨慎安装", TextWarning},
    };
    for (const auto& c : cases) {
        const BannerMessage m = bannerMessage(c.verified, c.archive);
        EXPECT_EQ(m.text, c.text) << c.verified << c.archive;
        EXPECT_EQ(m.colour, c.colour) << c.verified << c.archive;
    }
}

TEST(Banner, AnInstallerIsSaidToBeOpenedOnlyOnceItStarted) {
    const struct {
        BannerInstall install;
        const wchar_t* text;
        COLORREF colour;
    } cases[] = {
        {BannerInstall::Opening, L"下载完成，正在打开安装向导", TextTertiary},
        {BannerInstall::Waiting, L"下载完成，等待其他安装完成", TextTertiary},
        {BannerInstall::Started, L"下载完成，已打开安装向导", TextTertiary},
        {BannerInstall::NotStarted, L"下载完成，安装程序未能启动", TextWarning},
    };
    for (const auto& c : cases) {
        const BannerMessage m = bannerMessage(true, false, c.install);
        EXPECT_EQ(m.text, c.text) << static_cast<int>(c.install);
        EXPECT_EQ(m.colour, c.colour) << static_cast<int>(c.install);
        // An archive or a failed check says the same whatever the installer did.
        EXPECT_EQ(bannerMessage(true, true, c.install).text, L"下载成功，压缩包已保存");
        EXPECT_EQ(bannerMessage(false, false, c.install).text, L"下载完成，校验不一致，请谨慎安装");
    }

    TaskInfo queued;
    queued.state = static_cast<int32_t>(TaskState::Installing);
    queued.generation = 4;
    queued.installWaiting = true;
    EXPECT_EQ(shownBannerInstall(BannerInstall::Opening, &queued, 4), BannerInstall::Waiting);
    EXPECT_EQ(shownBannerInstall(BannerInstall::Opening, &queued, 5), BannerInstall::Opening) << "another job";
    EXPECT_EQ(shownBannerInstall(BannerInstall::Started, &queued, 4), BannerInstall::Started);
    EXPECT_EQ(shownBannerInstall(BannerInstall::Opening, nullptr, 4), BannerInstall::Opening);
    queued.installWaiting = false;
    EXPECT_EQ(shownBannerInstall(BannerInstall::Opening, &queued, 4), BannerInstall::Opening);
}

}  // namespace
