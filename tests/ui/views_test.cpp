// Whole paints of the card grid, the download panel and the completion banner into a
// memory canvas: the hit rectangles they record and pixels probed at the layout's
// coordinates. A failed probe leaves a PNG of the canvas in the test's build folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "paint_support.h"
#include "ui/looks.h"
#include "ui/palette.h"

namespace {

using painttest::blend;
using painttest::Canvas;
using painttest::describe;
using painttest::near;

constexpr COLORREF kBackground = RGB(245, 246, 248);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr int64_t kMarch7 = 1709812800000LL;

// The fill of an opaque ARGB colour as a text colour, for probes.
COLORREF opaque(uint32_t argb) { return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF); }

App makeApp(int id, const std::wstring& name, const std::wstring& version = L"1.2", bool hasPackage = true) {
    App app;
    app.id = id;
    app.name = name;
    app.version = version;
    app.description = L"一款好用的软件";
    app.packageSize = 1572864;
    app.updatedAt = kMarch7;
    app.hasPackage = hasPackage;
    app.iconState = 3;  // never fetched
    return app;
}

std::vector<const App*> pointers(const CatalogLists& lists) {
    std::vector<const App*> out;
    for (const App& app : lists.apps) out.push_back(&app);
    return out;
}

TaskInfo makeTask(int id, int state, int64_t done = 0, int64_t total = 0) {
    TaskInfo t;
    t.appId = id;
    t.name = L"任务" + std::to_wstring(id);
    t.state = state;
    t.downloadedBytes = done;
    t.totalBytes = total;
    return t;
}

void saveFailureShot(const Canvas& canvas) {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string("fail_") + info->test_suite_name() + "_" + info->name() + ".png";
    canvas.savePng(std::wstring(name.begin(), name.end()));
}

void expectPixel(const Canvas& canvas, int x, int y, COLORREF want, const std::string& what, int tolerance = 3) {
    const COLORREF got = canvas.pixel(x, y);
    if (!near(got, want, tolerance)) {
        ADD_FAILURE() << what << " at (" << x << "," << y << "): " << describe(got) << ", want " << describe(want);
        saveFailureShot(canvas);
    }
}

// Text pixels on a white card: clearly darker than the fill.
bool ink(COLORREF c) { return GetRValue(c) < 200 || GetGValue(c) < 200 || GetBValue(c) < 200; }

bool sameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string show(const HitRect& h) {
    return "kind " + std::to_string(h.kind) + " id " + std::to_string(h.id) + " (" + std::to_string(h.rect.left) + "," +
           std::to_string(h.rect.top) + "," + std::to_string(h.rect.right) + "," + std::to_string(h.rect.bottom) + ")";
}

void expectHits(const std::vector<HitRect>& want) {
    ASSERT_EQ(gApp.hitRects.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        const HitRect& got = gApp.hitRects[i];
        EXPECT_TRUE(got.kind == want[i].kind && got.id == want[i].id && sameRect(got.rect, want[i].rect))
            << "#" << i << ": " << show(got) << ", want " << show(want[i]);
    }
}

// Every recorded rectangle is non-empty and lies inside `bounds`.
void expectConsistent(const RECT& bounds, const char* what) {
    for (const HitRect& h : gApp.hitRects) {
        EXPECT_LT(h.rect.left, h.rect.right) << what << " " << show(h);
        EXPECT_LT(h.rect.top, h.rect.bottom) << what << " " << show(h);
        EXPECT_GE(h.rect.left, bounds.left) << what << " " << show(h);
        EXPECT_GE(h.rect.top, bounds.top) << what << " " << show(h);
        EXPECT_LE(h.rect.right, bounds.right) << what << " " << show(h);
        EXPECT_LE(h.rect.bottom, bounds.bottom) << what << " " << show(h);
    }
}

class Views : public testing::Test {
protected:
    void SetUp() override {
        painttest::ensureGraphics();
        painttest::resetViewState();
    }
    void TearDown() override { painttest::resetViewState(); }

    void paintGrid(const Canvas& canvas, const RECT& area, const std::vector<const App*>& apps,
                   const std::wstring* title, const PaintFrame& frame) {
        gApp.hitRects.clear();
        auto graphics = canvas.graphics();
        drawAppGrid(*graphics, canvas.dc(), area, apps, title, frame);
        graphics->Flush(Gdiplus::FlushIntentionSync);
    }
    void paintPanel(const Canvas& canvas, const PaintFrame& frame) {
        gApp.hitRects.clear();
        auto graphics = canvas.graphics();
        drawDownloadPanel(*graphics, canvas.dc(), canvas.width(), canvas.height(), frame);
        graphics->Flush(Gdiplus::FlushIntentionSync);
    }
    void paintBanner(const Canvas& canvas, const PaintFrame& frame) {
        gApp.hitRects.clear();
        auto graphics = canvas.graphics();
        drawCompletionBanner(*graphics, canvas.dc(), canvas.width(), canvas.height(), frame);
        graphics->Flush(Gdiplus::FlushIntentionSync);
    }
};

const RECT kArea{212, 78, 1168, 780};  // the content area of a 1180 x 780 window
const std::wstring kTitle = L"办公软件 · 7 款";

// Card i of the 4-column grid below a title: left and top.
// Places come from the layout functions, whose figures are tabled in looks_test.
RECT cardRect(int i) {
    const GridGeometry g = gridGeometry(kArea, true, i + 1, 0);
    return gridCardRect(g, kArea, i);
}
int cardLeft(int i) { return cardRect(i).left; }
int cardTop(int i) { return cardRect(i).top; }
RECT cardButton(int i) { return gridButtonRect(gridGeometry(kArea, true, i + 1, 0), cardRect(i)); }

TEST_F(Views, GridRecordsEveryCardButtonInOrder) {
    auto lists = std::make_shared<CatalogLists>();
    for (int i = 0; i < 7; ++i) lists->apps.push_back(makeApp(100 + i, L"应用" + std::to_wstring(i), L"1.0", i != 1));
    Canvas canvas(1180, 780);
    gApp.gridScroll = 50;  // nothing to scroll: pulled back to 0
    paintGrid(canvas, kArea, pointers(*lists), &kTitle, painttest::frameWith(lists));

    std::vector<HitRect> want;
    for (int i = 0; i < 7; ++i) want.push_back(HitRect{cardButton(i), HitCardButton, 100 + i});
    expectHits(want);
    EXPECT_EQ(gApp.gridScroll, 0);
    EXPECT_FALSE(gApp.gridScrollbar.visible);
    expectPixel(canvas, 1163, 400, kBackground, "no scrollbar");
}

TEST_F(Views, GridCardsAndButtonsTakeTheColoursOfTheirState) {
    auto lists = std::make_shared<CatalogLists>();
    for (int i = 0; i < 7; ++i) lists->apps.push_back(makeApp(i + 1, L"应用", L"1.0", i != 1));
    PaintFrame frame = painttest::frameWith(lists);
    frame.tasks[3] = makeTask(3, 0, 40, 100);   // card 2: downloading 40 %
    frame.tasks[4] = makeTask(4, 5, 100, 100);  // card 3: installed
    frame.tasks[6] = makeTask(6, 0, 0, 100);    // card 5: downloading 0 %
    frame.tasks[7] = makeTask(7, 2, 100, 100);  // card 6: finished archive
    frame.tasks[7].isArchive = true;
    gApp.hoverValid = true;
    gApp.hoverKind = HitCardButton;
    gApp.hoverId = 5;  // card 4
    Canvas canvas(1180, 780);
    paintGrid(canvas, kArea, pointers(*lists), &kTitle, frame);

    const struct {
        int card;
        COLORREF fill;
        const char* what;
    } buttons[] = {
        {0, opaque(Accent), "install"},
        {1, opaque(Neutral), "coming soon"},
        {3, blend(SuccessWash, kWhite), "installed"},
        {4, opaque(AccentHot), "install, hovered"},
        {5, opaque(Neutral), "downloading 0 %"},
        {6, opaque(Accent), "open folder"},
    };
    for (const auto& b : buttons) {
        const int bl = cardButton(b.card).left, top = cardButton(b.card).top;
        // Above the label's glyphs, and left of them in the straight part of the edge.
        expectPixel(canvas, bl + 50, top + 3, b.fill, b.what);
        expectPixel(canvas, bl + 8, top + 16, b.fill, b.what);
        expectPixel(canvas, cardLeft(b.card) + 10, cardTop(b.card) + 60, kWhite, "card fill");
    }
    // 40 pixels of wash over the neutral button; its rounded end is at 34.6 three pixels down.
    const int bl = cardButton(2).left, top = cardButton(2).top;
    expectPixel(canvas, bl + 22, top + 3, blend(AccentWash, opaque(Neutral)), "progress");
    expectPixel(canvas, bl + 30, top + 3, blend(AccentWash, opaque(Neutral)), "progress");
    expectPixel(canvas, bl + 40, top + 3, opaque(Neutral), "beyond the progress");
    expectPixel(canvas, bl + 60, top + 3, opaque(Neutral), "beyond the progress");
    // Between the cards and around them, the window's background.
    expectPixel(canvas, cardLeft(0) - 6, cardTop(0) + 100, kBackground, "margin");
    expectPixel(canvas, cardLeft(1) - 7, cardTop(0) + 100, kBackground, "gap");
    expectPixel(canvas, cardLeft(0) + 100, cardTop(0) + 241, kBackground, "row gap");
}

TEST_F(Views, GridProgressFillIsOnePixelPerPercent) {
    auto lists = std::make_shared<CatalogLists>();
    lists->apps.push_back(makeApp(1, L"应用"));
    for (int percent : {95, 100}) {
        PaintFrame frame = painttest::frameWith(lists);
        frame.tasks[1] = makeTask(1, 0, percent, 100);
        Canvas canvas(1180, 780);
        paintGrid(canvas, kArea, pointers(*lists), &kTitle, frame);
        const int bl = cardButton(0).left, mid = (cardButton(0).top + cardButton(0).bottom) / 2;
        const COLORREF wash = blend(AccentWash, opaque(Neutral));
        expectPixel(canvas, bl + 92, mid, wash, "inside the bar");
        expectPixel(canvas, bl + 98, mid, percent == 100 ? wash : opaque(Neutral), "at the bar's end");
    }
}

TEST_F(Views, LongNameIsCutWhileTheVersionTagStaysWholeAtTheRightEdge) {
    auto lists = std::make_shared<CatalogLists>();
    lists->apps.push_back(makeApp(1, std::wstring(10000, L'长'), L"12.5"));
    lists->apps.push_back(makeApp(2, L"记事本", L"1.2"));
    Canvas canvas(1180, 780);
    paintGrid(canvas, kArea, pointers(*lists), &kTitle, painttest::frameWith(lists));

    const int tagW = textWidth(canvas.dc(), L"v12.5", gApp.fontName);
    ASSERT_GT(tagW, 10);
    const auto inkColumns = [&](int card, int from, int to) {
        std::vector<int> columns;
        for (int x = from; x < to; ++x) {
            for (int y = cardTop(card) + 104; y < cardTop(card) + 128; ++y) {
                if (ink(canvas.pixel(x, y))) {
                    columns.push_back(x);
                    break;
                }
            }
        }
        return columns;
    };
    const int TL = cardLeft(0) + 8, TR = cardLeft(0) + 221 - 8;
    const std::vector<int> all = inkColumns(0, TL - 4, TR + 4);
    ASSERT_FALSE(all.empty());
    EXPECT_LE(all.front(), TL + 3) << "the name starts at the left";
    EXPECT_GE(all.back(), TR - 4) << "the tag ends at the right edge";
    EXPECT_LT(all.back(), TR) << "nothing beyond the text inset";
    EXPECT_FALSE(inkColumns(0, TR - tagW, TR).empty()) << "the tag";
    EXPECT_TRUE(inkColumns(0, TR - tagW - 4, TR - tagW).empty()) << "the gap before the tag";
    if (HasFailure()) saveFailureShot(canvas);

    // A name that fits is centred together with its tag.
    const int TL1 = cardLeft(1) + 8, TR1 = cardLeft(1) + 221 - 8;
    const std::vector<int> fit = inkColumns(1, TL1, TR1);
    ASSERT_FALSE(fit.empty());
    EXPECT_NEAR((fit.front() + fit.back()) / 2.0, (TL1 + TR1) / 2.0, 4.0);
}

TEST_F(Views, ScrolledGridDrawsNothingAboveItsTopAndShowsItsScrollbar) {
    auto lists = std::make_shared<CatalogLists>();
    for (int i = 0; i < 40; ++i) lists->apps.push_back(makeApp(i, L"应用"));
    Canvas canvas(1180, 780);
    gApp.gridScroll = 100;
    paintGrid(canvas, kArea, pointers(*lists), &kTitle, painttest::frameWith(lists));

    // 10 rows: 2480 pixels in a 654-pixel view.
    ASSERT_TRUE(gApp.gridScrollbar.visible);
    EXPECT_EQ(gApp.gridScroll, 100);
    EXPECT_EQ(gApp.gridScrollbar.maxScroll, 2480 - 654 + 14);
    const int thumbH = 654 * 654 / 2480;
    EXPECT_EQ(gApp.gridScrollbar.thumbTop, 126 + (654 - thumbH) * 100 / 1840);
    EXPECT_EQ(gApp.gridScrollbar.thumbBottom - gApp.gridScrollbar.thumbTop, thumbH);
    const COLORREF track = blend(ScrollTrack, kBackground);
    expectPixel(canvas, 1163, gApp.gridScrollbar.thumbTop + thumbH / 2, blend(ScrollThumb, track), "thumb");
    expectPixel(canvas, 1163, 700, track, "track");

    // Card 0 now starts at y 26: only its part below the grid's top is painted.
    for (int x = 212; x < 1168; x += 3) {
        const COLORREF c = canvas.pixel(x, 124);
        if (!near(c, kBackground)) {
            ADD_FAILURE() << "drawn above the grid at x " << x << ": " << describe(c);
            saveFailureShot(canvas);
            break;
        }
    }
    expectPixel(canvas, cardLeft(0) + 10, 128, kWhite, "visible part of card 0");
    // Its button (y 214 .. 246) is still recorded; nothing lies above the grid's top.
    ASSERT_FALSE(gApp.hitRects.empty());
    EXPECT_EQ(gApp.hitRects.front().rect.top, 214);
    expectConsistent(RECT{212, 126, 1168, 780}, "scrolled");
}

TEST_F(Views, PartlyHiddenButtonsAreRecordedOnlyWhereTheyShow) {
    auto lists = std::make_shared<CatalogLists>();
    for (int i = 0; i < 20; ++i) lists->apps.push_back(makeApp(i, L"应用"));
    Canvas canvas(1180, 780);
    // Card tops at 126 - 200 = -74: the buttons (114 .. 146) straddle the grid's top.
    gApp.gridScroll = 200;
    paintGrid(canvas, RECT{212, 78, 1168, 500}, pointers(*lists), &kTitle, painttest::frameWith(lists));
    ASSERT_EQ(gApp.gridScroll, 200);
    ASSERT_GE(gApp.hitRects.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(gApp.hitRects[i].rect.top, 126) << i;
        EXPECT_EQ(gApp.hitRects[i].rect.bottom, 146) << i;
    }
    expectConsistent(RECT{212, 126, 1168, 500}, "straddling");
}

TEST_F(Views, EmptyGridDrawsOnlyItsTitle) {
    auto lists = std::make_shared<CatalogLists>();
    Canvas canvas(1180, 780);
    gApp.gridScroll = 300;
    gApp.gridScrollbar.visible = true;
    paintGrid(canvas, kArea, {}, &kTitle, painttest::frameWith(lists));
    EXPECT_TRUE(gApp.hitRects.empty());
    EXPECT_EQ(gApp.gridScroll, 0);
    EXPECT_FALSE(gApp.gridScrollbar.visible);
    expectPixel(canvas, 300, 300, kBackground, "no card");
}

TEST_F(Views, TenThousandAppsDrawAndRecordOnlyTheVisibleCards) {
    auto lists = std::make_shared<CatalogLists>();
    lists->apps.reserve(10000);
    for (int i = 0; i < 10000; ++i) lists->apps.push_back(makeApp(i, L"应用" + std::to_wstring(i)));
    const std::vector<const App*> apps = pointers(*lists);
    Canvas canvas(1180, 780);

    paintGrid(canvas, kArea, apps, &kTitle, painttest::frameWith(lists));
    // Rows 0 and 1 show their buttons; row 2 (from y 622) shows its top, not its buttons.
    ASSERT_EQ(gApp.hitRects.size(), 8u);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(gApp.hitRects[i].id, i);
    expectPixel(canvas, cardLeft(8) + 10, 700, kWhite, "row 2 drawn");

    gApp.gridScroll = 248 * 1000 + 100;
    paintGrid(canvas, kArea, apps, &kTitle, painttest::frameWith(lists));
    ASSERT_EQ(gApp.hitRects.size(), 12u);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(gApp.hitRects[i].id, 4000 + i);
    expectConsistent(RECT{212, 126, 1168, 780}, "deep");
    ASSERT_TRUE(gApp.gridScrollbar.visible);
    EXPECT_EQ(gApp.gridScrollbar.thumbBottom - gApp.gridScrollbar.thumbTop, 36);

    gApp.gridScroll = INT_MAX;
    paintGrid(canvas, kArea, apps, &kTitle, painttest::frameWith(lists));
    EXPECT_EQ(gApp.gridScroll, 2500 * 248 - 654 + 14);
    EXPECT_EQ(gApp.gridScrollbar.thumbBottom, 780);
    ASSERT_FALSE(gApp.hitRects.empty());
    EXPECT_EQ(gApp.hitRects.back().id, 9999);
}

const std::wstring kAwkwardTexts[] = {
    L"",
    std::wstring(10000, L'x'),
    L"\x01\x02\t\r\n\x1b\x7f",
    L"\x200F\x202E" L"abc\x202C\x200E",
    L"\xD83D\xDE00\xD83C\xDF89 表情",
    L"\xD800 lone surrogate \xDC00",
    L"A&B &&& &",
};

TEST_F(Views, GridSurvivesAwkwardTextsAndRepeatedIds) {
    auto lists = std::make_shared<CatalogLists>();
    for (const std::wstring& a : kAwkwardTexts) {
        for (const std::wstring& b : {std::wstring(), std::wstring(L"2.0"), std::wstring(3000, L'9')}) {
            App app = makeApp(1, a, b);  // every card has the same id
            app.description = a;
            lists->apps.push_back(std::move(app));
        }
    }
    PaintFrame frame = painttest::frameWith(lists);
    frame.tasks[1] = makeTask(1, 0, 50, 100);
    Canvas canvas(1180, 1600);
    const RECT area{212, 78, 1168, 1600};
    paintGrid(canvas, area, pointers(*lists), &kTitle, frame);
    // 21 cards in 6 rows, all inside the 1474-pixel view.
    ASSERT_EQ(gApp.hitRects.size(), lists->apps.size());
    for (const HitRect& h : gApp.hitRects) EXPECT_EQ(h.id, 1);
    expectConsistent(RECT{212, 126, 1168, 1600}, "awkward");
    expectPixel(canvas, cardLeft(4) + 10, cardTop(4) + 60, kWhite, "card fill");
}

TEST_F(Views, GridInAWindowNarrowerThanTheMinimum) {
    auto lists = std::make_shared<CatalogLists>();
    for (int i = 0; i < 5; ++i) lists->apps.push_back(makeApp(i, L"很长的应用名称", L"1.0"));
    for (int width : {300, 230, 150}) {
        Canvas canvas(width, 200);
        const RECT area{212, 78, width - 12, 200};
        gApp.gridScroll = 1000;
        paintGrid(canvas, area, pointers(*lists), &kTitle, painttest::frameWith(lists));
        if (area.right > area.left) expectConsistent(RECT{212, 126, width - 12, 200}, "narrow");
        else EXPECT_TRUE(gApp.hitRects.empty()) << width;
        EXPECT_GE(gApp.gridScroll, 0);
    }
}

TEST_F(Views, PanelRecordsHeaderAndRowButtonsPerState) {
    auto lists = std::make_shared<CatalogLists>();
    PaintFrame frame = painttest::frameWith(lists);
    frame.tasks[3] = makeTask(3, 0, 40, 100);
    frame.tasks[5] = makeTask(5, 2, 100, 100);
    frame.tasks[8] = makeTask(8, 3, 10, 100);
    frame.tasks[9] = makeTask(9, 2, 100, 100);
    frame.tasks[9].isArchive = true;
    frame.tasks[11] = makeTask(11, 5, 100, 100);
    Canvas canvas(1180, 780);
    paintPanel(canvas, frame);
    expectHits({
        {RECT{1060, 86, 1156, 112}, HitPanelClear, 0},
        {RECT{1078, 120, 1156, 146}, HitPanelOpenDir, 0},
        {RECT{992, 120, 1070, 146}, HitPanelChangeDir, 0},
        {RECT{1068, 186, 1144, 216}, HitPanelCancel, 3},
        {RECT{982, 282, 1058, 312}, HitPanelFolder, 5},
        {RECT{1068, 282, 1144, 312}, HitPanelInstall, 5},
        {RECT{1068, 378, 1144, 408}, HitPanelRetry, 8},
        {RECT{1044, 474, 1144, 504}, HitPanelFolder, 9},
        {RECT{1044, 570, 1144, 600}, HitPanelFolder, 11},
    });
    EXPECT_FALSE(gApp.panelScrollbar.visible);
    EXPECT_EQ(gApp.panelScroll, 0);
}

TEST_F(Views, PanelWithoutTasksHasOnlyItsHeader) {
    auto lists = std::make_shared<CatalogLists>();
    Canvas canvas(1180, 780);
    gApp.panelScroll = 90;
    gApp.panelScrollbar.visible = true;
    paintPanel(canvas, painttest::frameWith(lists));
    ASSERT_EQ(gApp.hitRects.size(), 3u);
    EXPECT_EQ(gApp.panelScroll, 0);
    EXPECT_FALSE(gApp.panelScrollbar.visible);
    expectPixel(canvas, 400, 200, kBackground, "no row");
    expectPixel(canvas, 1064, 99, kWhite, "clear button");
}

TEST_F(Views, PanelRowsShowTheirBarsAndButtons) {
    auto lists = std::make_shared<CatalogLists>();
    PaintFrame frame = painttest::frameWith(lists);
    frame.tasks[1] = makeTask(1, 0, 40, 100);    // row 0: 248-pixel accent bar
    frame.tasks[2] = makeTask(2, 2, 100, 100);   // row 1: full green bar, "安装"
    frame.tasks[3] = makeTask(3, 3, 10, 100);    // row 2: faint red bar, "重试"
    frame.tasks[4] = makeTask(4, 4, 10, 100);    // row 3: empty track
    frame.tasks[5] = makeTask(5, 0, 0, 0);       // row 4: nothing known yet
    Canvas canvas(1180, 780);
    paintPanel(canvas, frame);

    const auto T = [](int row) { return 158 + 96 * row; };
    const COLORREF track = opaque(Track);
    expectPixel(canvas, 300, T(0) + 49, opaque(Accent), "bar start");
    expectPixel(canvas, 298 + 244, T(0) + 49, opaque(Accent), "bar end");
    expectPixel(canvas, 298 + 252, T(0) + 49, track, "after the bar");
    expectPixel(canvas, 900, T(0) + 49, track, "track end");
    expectPixel(canvas, 600, T(1) + 49, opaque(Success), "finished");
    expectPixel(canvas, 600, T(2) + 49, blend(DangerWash, track), "failed");
    expectPixel(canvas, 600, T(3) + 49, track, "cancelled");
    expectPixel(canvas, 320, T(4) + 49, track, "0 %");

    // Primary buttons are accent, above their label.
    expectPixel(canvas, 1068 + 38, T(1) + 31, opaque(Accent), "install button");
    expectPixel(canvas, 1068 + 38, T(2) + 31, opaque(Accent), "retry button");
    expectPixel(canvas, 1068 + 38, T(0) + 31, kWhite, "cancel button");

    // The row's white stops at its border; the scrollbar's place is empty.
    expectPixel(canvas, 223, T(0) + 43, kWhite, "row left");
    expectPixel(canvas, 216, T(0) + 43, kBackground, "left of the row");
    expectPixel(canvas, 1157, T(0) + 43, kWhite, "row right");
    expectPixel(canvas, 1163, T(0) + 43, kBackground, "right of the row");
    expectPixel(canvas, 600, T(0) + 91, kBackground, "gap between rows");
}

TEST_F(Views, PanelRowsThatDoNotFitScroll) {
    auto lists = std::make_shared<CatalogLists>();
    PaintFrame frame = painttest::frameWith(lists);
    for (int id = 1; id <= 10; ++id) frame.tasks[id] = makeTask(id, 0, 50, 100);
    Canvas canvas(1180, 780);
    paintPanel(canvas, frame);

    ASSERT_TRUE(gApp.panelScrollbar.visible);
    EXPECT_EQ(gApp.panelScrollbar.maxScroll, 342);
    EXPECT_EQ(gApp.panelScrollbar.thumbTop, 158);
    EXPECT_EQ(gApp.panelScrollbar.thumbBottom, 565);
    const COLORREF track = blend(ScrollTrack, kBackground);
    expectPixel(canvas, 1163, 300, blend(ScrollThumb, track), "thumb");
    expectPixel(canvas, 1163, 700, track, "track");
    // Rows 0..6 have their buttons in the band (row 6's, from y 762, cut at the bottom).
    ASSERT_EQ(gApp.hitRects.size(), 3u + 7u);
    EXPECT_EQ(gApp.hitRects.back().id, 7);

    gApp.panelScroll = 100000;
    paintPanel(canvas, frame);
    EXPECT_EQ(gApp.panelScroll, 342);
    EXPECT_EQ(gApp.panelScrollbar.thumbTop, 373);
    EXPECT_EQ(gApp.panelScrollbar.thumbBottom, 780);
    // Row 3 (104 .. 190) shows below the header only; its button pokes into the band by 4.
    ASSERT_EQ(gApp.hitRects.size(), 3u + 7u);
    EXPECT_EQ(gApp.hitRects[3].id, 4);
    EXPECT_TRUE(sameRect(gApp.hitRects[3].rect, RECT{1068, 158, 1144, 162}));
    EXPECT_EQ(gApp.hitRects.back().id, 10);
    EXPECT_TRUE(sameRect(gApp.hitRects.back().rect, RECT{1068, 708, 1144, 738}));
    expectConsistent(RECT{0, 0, 1180, 780}, "scrolled panel");

    Canvas scrolled(1180, 780);
    paintPanel(scrolled, frame);
    expectPixel(scrolled, 250, 152, kBackground, "nothing between header and rows");
    expectPixel(scrolled, 700, 165, kWhite, "row 3's visible part");
    expectPixel(scrolled, 1163, 250, track, "track above the thumb");
    expectPixel(scrolled, 1163, 600, blend(ScrollThumb, track), "thumb at the end");
}

TEST_F(Views, PanelSurvivesAwkwardTextsAndTinyWindows) {
    auto lists = std::make_shared<CatalogLists>();
    lists->apps.push_back(makeApp(2, L""));
    PaintFrame frame = painttest::frameWith(lists);
    frame.downloadDir = std::wstring(5000, L'\\') + L"a&b";
    int id = 0;
    for (const std::wstring& text : kAwkwardTexts) {
        for (int state = 0; state < 9; ++state) {
            TaskInfo t = makeTask(++id, state, 5, 10);
            t.name = text;
            t.errorText = text;
            t.md5Ok = false;
            t.retryCount = 1;
            frame.tasks[id] = t;
        }
    }
    const struct {
        int w, h;
    } sizes[] = {{1180, 780}, {1000, 660}, {600, 400}, {300, 200}, {150, 100}};
    for (const auto& s : sizes) {
        Canvas canvas(s.w, s.h);
        gApp.panelScroll = 3000;
        paintPanel(canvas, frame);
        ASSERT_GE(gApp.hitRects.size(), 3u) << s.w;
        // The header keeps its place even where the window is too short to show it.
        expectConsistent(RECT{-200, 0, s.w, std::max(s.h, 158)}, "panel");
        for (size_t i = 3; i < gApp.hitRects.size(); ++i) {
            EXPECT_GE(gApp.hitRects[i].rect.top, 158) << s.w << " " << show(gApp.hitRects[i]);
            EXPECT_TRUE(frame.tasks.count(gApp.hitRects[i].id)) << show(gApp.hitRects[i]);
        }
        EXPECT_GE(gApp.panelScroll, 0);
    }
}

TEST_F(Views, BannerFillsItsCornerAndIsOneHitRectangle) {
    auto lists = std::make_shared<CatalogLists>();
    lists->apps.push_back(makeApp(4, L"压缩工具"));
    gApp.bannerText = L"压缩工具";
    gApp.bannerTaskId = 4;
    gApp.bannerVerified = false;
    gApp.bannerIsArchive = true;
    Canvas canvas(1000, 700);
    paintBanner(canvas, painttest::frameWith(lists));
    expectHits({{RECT{644, 596, 980, 680}, HitBanner, 0}});
    const COLORREF fill = blend(BannerFill, kBackground);
    expectPixel(canvas, 652, 638, fill, "banner fill");
    expectPixel(canvas, 975, 675, fill, "banner fill");
    expectPixel(canvas, 640, 638, kBackground, "left of the banner");
    expectPixel(canvas, 800, 690, kBackground, "below the banner");
    // The placeholder of id 4: the 14 % tint of RGB(236,72,153).
    expectPixel(canvas, 663, 621, tint(PlaceholderColours[4], 14), "icon placeholder");
}

TEST_F(Views, BannerForAnAppNoLongerListedShowsTheQuestionMarkPlaceholder) {
    auto lists = std::make_shared<CatalogLists>();
    gApp.bannerText = std::wstring(10000, L'名');
    gApp.bannerTaskId = 77;
    Canvas canvas(1000, 700);
    paintBanner(canvas, painttest::frameWith(lists));
    ASSERT_EQ(gApp.hitRects.size(), 1u);
    expectPixel(canvas, 663, 621, tint(PlaceholderColours[0], 14), "placeholder of a missing app");
    bool titleInk = false;
    for (int x = 714; x < 966 && !titleInk; ++x) titleInk = ink(canvas.pixel(x, 621));
    EXPECT_TRUE(titleInk) << "the title is drawn";
    for (int y = 600; y < 676; ++y) {
        if (ink(canvas.pixel(970, y))) {
            ADD_FAILURE() << "title runs past its end at y " << y;
            saveFailureShot(canvas);
            break;
        }
    }

    for (const auto& s : {SIZE{300, 200}, SIZE{100, 60}}) {
        Canvas tiny(s.cx, s.cy);
        paintBanner(tiny, painttest::frameWith(lists));
        ASSERT_EQ(gApp.hitRects.size(), 1u);
        EXPECT_TRUE(sameRect(gApp.hitRects[0].rect, bannerRect(s.cx, s.cy)));
    }
}

}  // namespace
