// The main view: its decisions as plain functions, whole paints of fixture states into a
// memory DC read back by pixel, bad input, and objects left behind by paints.
#include "app/main_view.h"
#include "app/object_census.h"
#include "app/window_rules.h"
#include "download/format.h"
#include "scratch_folder.h"
#include "ui/paint_support.h"
#include "ui/palette.h"
#include "ui/scale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using painttest::blend;
using painttest::Canvas;
using painttest::describe;
using painttest::frameWith;
using painttest::kContentBg;
using painttest::kSidebarBg;
using painttest::near;
using painttest::rgbOf;

namespace {

struct AppFixture {
    int id;
    std::wstring name;
    std::vector<std::wstring> categoryIds;
};

std::shared_ptr<CatalogLists> makeLists(const std::vector<std::pair<std::wstring, std::wstring>>& categories,
                                        const std::vector<AppFixture>& apps = {}) {
    auto lists = std::make_shared<CatalogLists>();
    for (const auto& c : categories) lists->categories.push_back(Category{c.first, c.second});
    for (const AppFixture& fixture : apps) {
        App app;
        app.id = fixture.id;
        app.name = fixture.name;
        app.version = L"1.0";
        app.categoryIds = fixture.categoryIds;
        app.description = L"说明";
        app.hasPackage = true;
        app.packageSize = 1 << 20;
        lists->apps.push_back(std::move(app));
    }
    return lists;
}

// n categories "c0".."c(n-1)" named by the given function.
std::shared_ptr<CatalogLists> numberedCategories(int n, const std::function<std::wstring(int)>& name) {
    std::vector<std::pair<std::wstring, std::wstring>> categories;
    for (int i = 0; i < n; ++i) categories.emplace_back(L"c" + std::to_wstring(i), name(i));
    return makeLists(categories);
}

TaskInfo task(int id, TaskState state) {
    TaskInfo t;
    t.appId = id;
    t.name = L"任务" + std::to_wstring(id);
    t.state = static_cast<int32_t>(state);
    t.totalBytes = 1000;
    t.downloadedBytes = 400;
    return t;
}

std::vector<int> kindsOf(const std::vector<HitRect>& hits) {
    std::vector<int> kinds;
    for (const HitRect& h : hits) kinds.push_back(h.kind);
    return kinds;
}

bool sameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::wstring failureFolder() {
    const char* binary = std::getenv("KV_BINARY_DIR");
    std::string base = binary ? binary : ".";
    std::wstring path = base[0] == '/' ? L"Z:" : L"";
    for (char c : base) path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    path += L"\\test-failures";
    CreateDirectoryW(path.c_str(), nullptr);
    path += L"\\shell_tests";
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

// Paints fixture states into a canvas; a failed test keeps the canvas as a PNG.
class MainViewPaint : public ::testing::Test {
protected:
    void SetUp() override {
        painttest::ensureGraphics();
        painttest::resetViewState();
        gApp.config.server = L"https://catalog.example.test";
    }
    void TearDown() override {
        if (HasFailure() && canvas_) {
            const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
            std::string name = std::string(info->test_suite_name()) + "." + info->name();
            for (char& c : name) {
                if (c == '/') c = '_';
            }
            const std::wstring path = failureFolder() + L"\\" + std::wstring(name.begin(), name.end()) + L".png";
            canvas_->savePng(path);
        }
    }

    void expectCachedPaintsMatchPlainPaints(int dpi);

    const Canvas& paint(int w, int h, const PaintFrame& frame) {
        canvas_ = std::make_unique<Canvas>(w, h, RGB(0, 0, 0));
        paintMainViewFrame(canvas_->dc(), RECT{0, 0, w, h}, frame);
        return *canvas_;
    }
    const Canvas& paint(int w, int h, std::shared_ptr<const CatalogLists> lists, uint32_t now = 100000) {
        return paint(w, h, frameWith(std::move(lists), now));
    }

    // Pixels within rect that differ from bg by more than the tolerance.
    int ink(const RECT& r, COLORREF bg, int tolerance = 24) const {
        int count = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                if (!near(canvas_->pixel(x, y), bg, tolerance)) ++count;
        return count;
    }
    // The first column of rect holding ink, or rect.right when there is none.
    int firstInkColumn(const RECT& r, COLORREF bg, int tolerance = 24) const {
        for (int x = r.left; x < r.right; ++x)
            for (int y = r.top; y < r.bottom; ++y)
                if (!near(canvas_->pixel(x, y), bg, tolerance)) return x;
        return r.right;
    }
    bool whitish(int x, int y) const {
        for (int dx = -1; dx <= 0; ++dx) {
            const COLORREF c = canvas_->pixel(x + dx, y);
            if (GetRValue(c) >= 200 && GetGValue(c) >= 200 && GetBValue(c) >= 200) return true;
        }
        return false;
    }
    // Whether the canvas shows exactly what drawing the text alone would show there.
    void expectText(const std::wstring& text, const RECT& r, HFONT font, COLORREF colour, UINT flags,
                    COLORREF bg = kContentBg) const {
        Canvas reference(canvas_->width(), canvas_->height(), bg);
        drawText(reference.dc(), text, r, font, colour, flags);
        int differing = 0, inked = 0;
        for (int y = r.top; y < r.bottom; ++y) {
            for (int x = std::max<int>(r.left, 201); x < r.right; ++x) {  // x = 200 is the sidebar divider
                if (!near(reference.pixel(x, y), bg, 24)) ++inked;
                if (!near(reference.pixel(x, y), canvas_->pixel(x, y), 8)) ++differing;
            }
        }
        EXPECT_GT(inked, 20) << "the reference text left no ink";
        EXPECT_EQ(differing, 0) << "pixels that differ from the text alone";
    }

    std::unique_ptr<Canvas> canvas_;
};

// ---------------------------------------------------------------------------------------
// Decisions

TEST(GlyphForCategoryName, FirstGroupInTableOrderWins) {
    const struct {
        const wchar_t* name;
        int kind;
        COLORREF colour;
    } cases[] = {
        {L"驱动工具", 8, 0x8C9E00},     // drivers are checked before system tools
        {L"系统工具", 7, 0x806C60},
        {L"安全浏览器", 0, 0xFF7D34},   // security before browsers
        {L"浏览器", 2, 0xB29100},
        {L"WPS", 4, 0xFA9146},          // Latin keywords match any case
        {L"Microsoft Word", 4, 0xFA9146},
        {L"RAR 工具", 6, 0x3291D2},
        {L"AI Agent", 14, 0x7DA800},
        {L"ChatGPT", 14, 0x7DA800},
        {L"PS 素材", 15, 0xAA64E6},
        {L"聊天社交", 1, 0x78AC26},
        {L"音乐播放", 3, 0x6C58E8},
        {L"远程控制", 9, 0xFF4D5B},
        {L"数据恢复", 10, 0x3C78C8},
        {L"手游", 11, 0xDC6496},
        {L"壁纸", 12, 0xC8A02A},
        {L"录屏", 13, 0x4669EB},
        {L"拼音", 5, 0x918278},
        {L"其他", 16, 0x9B8C82},
        {L"", 16, 0x9B8C82},
    };
    for (const auto& c : cases) {
        const GlyphChoice choice = glyphForCategoryName(c.name);
        EXPECT_EQ(choice.kind, c.kind) << "expected kind " << c.kind;
        EXPECT_EQ(choice.colour, c.colour) << "kind " << c.kind;
    }
}

TEST(GlyphForCategoryName, HighlightDarkensEachChannelByAFifth) {
    EXPECT_EQ(highlightedGlyphColour(RGB(52, 125, 255)), RGB(41, 100, 204));
    EXPECT_EQ(highlightedGlyphColour(RGB(0, 4, 5)), RGB(0, 3, 4));
}

TEST(SidebarGeometry, ContentViewportAndScrollRange) {
    const struct {
        int h, rows, scroll;
        int contentH, viewport, maxScroll, clamped;
    } cases[] = {
        {660, 0, 0, 0, 568, 0, 0},
        {660, 5, 40, 262, 568, 0, 0},
        {660, 12, 0, 640, 568, 72, 0},
        {660, 12, 500, 640, 568, 72, 72},
        {660, 12, -20, 640, 568, 72, 0},
        {780, 1, 0, 46, 688, 0, 0},
        {60, 3, 0, 154, 0, 154, 0},  // lower than the header: no room for rows
    };
    for (const auto& c : cases) {
        const SidebarGeometry g = sidebarGeometry(c.h, c.rows, c.scroll);
        EXPECT_EQ(g.contentH, c.contentH) << c.rows << " rows";
        EXPECT_EQ(g.viewport, c.viewport) << c.rows << " rows";
        EXPECT_EQ(g.maxScroll, c.maxScroll) << c.rows << " rows";
        EXPECT_EQ(g.scroll, c.clamped) << c.rows << " rows";
    }
    EXPECT_EQ(sidebarRowTop(sidebarGeometry(660, 12, 30), 0), 48);
    EXPECT_EQ(sidebarRowTop(sidebarGeometry(660, 12, 30), 2), 156);
}

TEST(SidebarGeometry, ScrollbarOnlyWhenTheRowsDoNotFit) {
    EXPECT_FALSE(sidebarScrollbarGeom(sidebarGeometry(660, 5, 0), 660).visible);

    const ScrollbarGeom top = sidebarScrollbarGeom(sidebarGeometry(660, 12, 0), 660);
    ASSERT_TRUE(top.visible);
    EXPECT_EQ(top.thumbBottom - top.thumbTop, 504);
    EXPECT_EQ(top.maxScroll, 72);
    EXPECT_EQ(top.trackLeft, 193);
    EXPECT_EQ(top.trackRight, 197);
    EXPECT_EQ(top.trackTop, 78);
    EXPECT_EQ(top.trackBottom, 646);
    EXPECT_EQ(top.thumbTop, 78);
    const ScrollbarGeom end = sidebarScrollbarGeom(sidebarGeometry(660, 12, 72), 660);
    EXPECT_EQ(end.thumbBottom, 646);

    const ScrollbarGeom many = sidebarScrollbarGeom(sidebarGeometry(660, 500, 100000), 660);
    ASSERT_TRUE(many.visible);
    EXPECT_EQ(many.thumbBottom - many.thumbTop, 30);  // never shorter
    EXPECT_EQ(many.thumbBottom, many.trackBottom);
}

TEST(SidebarGeometry, NameShiftCentresShortNamesOnly) {
    EXPECT_EQ(sidebarNameShift(0), 74);
    EXPECT_EQ(sidebarNameShift(100), 24);
    EXPECT_EQ(sidebarNameShift(147), 1);
    EXPECT_EQ(sidebarNameShift(148), 0);
    EXPECT_EQ(sidebarNameShift(400), 0);
}

TEST(Overlays, ToastAndBannerLifetimesAcrossTickWrapAround) {
    for (uint32_t t : {100000u, 0xFFFFF000u, 0xFFFFFFFFu}) {
        EXPECT_TRUE(toastShowing(t, t));
        EXPECT_TRUE(toastShowing(t + 2199, t)) << t;
        EXPECT_FALSE(toastShowing(t + 2200, t)) << t;
        EXPECT_TRUE(bannerShowing(t + 4999, t)) << t;
        EXPECT_FALSE(bannerShowing(t + 5000, t)) << t;
    }
    EXPECT_EQ(toastFill(0), 0xE81D2129u);
    EXPECT_EQ(toastFill(1), 0xE800B42Au);
    EXPECT_EQ(toastFill(2), 0xE8F53F3Fu);
    EXPECT_EQ(toastFill(9), 0xE81D2129u);
}

TEST(Badge, CountsOnlyDownloadingTasks) {
    std::map<int32_t, TaskInfo> tasks;
    const TaskState states[] = {TaskState::Downloading, TaskState::Verifying, TaskState::Installing,
                                TaskState::Downloading, TaskState::Completed, TaskState::Failed};
    for (int i = 0; i < 6; ++i) tasks[i] = task(i, states[i]);
    EXPECT_EQ(activeDownloadCount(tasks), 2);
    EXPECT_EQ(activeDownloadCount({}), 0);
}

TEST(CatalogSection, TitleAppsAndEmptyTexts) {
    EXPECT_EQ(connectionErrorTitle(L"http://a:1"), L"无法连接服务器（http://a:1）");

    const CatalogSection none = catalogSection(CatalogLists(), L"");
    EXPECT_EQ(none.title, L"暂无分类");
    EXPECT_TRUE(none.apps.empty());
    EXPECT_EQ(none.emptyText, L"暂无分类，请在管理后台添加");

    auto lists = makeLists({{L"1", L"办公软件"}, {L"2", L"空分类"}, {L"1", L"办公"}},
                           {{5, L"甲", {L"1"}}, {3, L"乙", {L"10"}}, {9, L"丙", {L"2x", L"1"}}, {1, L"丁", {L"1"}}});
    const CatalogSection office = catalogSection(*lists, L"1");
    EXPECT_EQ(office.title, L"办公 · 3 款");  // the last category with the id names it
    ASSERT_EQ(office.apps.size(), 3u);
    EXPECT_EQ(office.apps[0]->id, 5);  // catalog order, exact id matches only
    EXPECT_EQ(office.apps[1]->id, 9);
    EXPECT_EQ(office.apps[2]->id, 1);
    EXPECT_TRUE(office.emptyText.empty());

    const CatalogSection empty = catalogSection(*lists, L"2");
    EXPECT_EQ(empty.title, L"空分类 · 0 款");
    EXPECT_EQ(empty.emptyText, L"该分类暂无应用");
}

TEST(Logo, DecodedFromTheResourceOrUnavailable) {
    painttest::ensureGraphics();
    auto logo = loadLogoImage(GetModuleHandleW(nullptr));
    ASSERT_TRUE(logo);
    EXPECT_EQ(logo->GetWidth(), 256u);
    EXPECT_EQ(logo->GetHeight(), 256u);
    EXPECT_FALSE(loadLogoImage(GetModuleHandleW(L"kernel32.dll")));
}

// ---------------------------------------------------------------------------------------
// Whole paints

TEST_F(MainViewPaint, HitRectanglesInPaintOrder) {
    auto lists = makeLists({{L"1", L"办公"}, {L"2", L"游戏"}, {L"3", L"工具"}},
                           {{7, L"甲", {L"1"}}, {8, L"乙", {L"1"}}});
    gApp.selectedCategoryId = L"1";
    gApp.bannerText = L"甲";
    gApp.bannerTaskId = 7;
    gApp.bannerTick = 100000;
    const int w = 1180, h = 780;
    paint(w, h, lists);

    const std::vector<int> expected = {3, 4, 5, 6, 7, 1, 1, 1, 8, 8, 20};
    ASSERT_EQ(kindsOf(gApp.hitRects), expected);
    const auto& hits = gApp.hitRects;
    EXPECT_TRUE(sameRect(hits[0].rect, RECT{w - 138, 0, w - 92, 64}));
    EXPECT_TRUE(sameRect(hits[1].rect, RECT{w - 92, 0, w - 46, 64}));
    EXPECT_TRUE(sameRect(hits[2].rect, RECT{w - 46, 0, w, 64}));
    EXPECT_TRUE(sameRect(hits[3].rect, RECT{w - 370, 14, w - 266, 50}));
    EXPECT_TRUE(sameRect(hits[4].rect, RECT{w - 256, 14, w - 152, 50}));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(hits[5 + i].id, i);
        EXPECT_TRUE(sameRect(hits[5 + i].rect, RECT{12, 78 + 54 * i, 188, 124 + 54 * i})) << i;
    }
    EXPECT_EQ(hits[8].id, 7);
    EXPECT_EQ(hits[9].id, 8);
    EXPECT_TRUE(sameRect(hits[10].rect, RECT{w - 356, h - 104, w - 20, h - 20}));
    for (const HitRect& hit : hits) {
        if (hit.kind >= 3 && hit.kind <= 7) {
            EXPECT_EQ(hit.id, 0);
        }
    }
}

TEST_F(MainViewPaint, HeaderSidebarAndContentColours) {
    auto lists = makeLists({{L"1", L"办公"}, {L"2", L"游戏"}});
    gApp.selectedCategoryId = L"1";
    const int w = 1180, h = 780;
    const Canvas& c = paint(w, h, lists);

    EXPECT_TRUE(near(c.pixel(0, 4), rgbOf(0xFF4F46E5), 3)) << describe(c.pixel(0, 4));
    EXPECT_TRUE(near(c.pixel(w - 1, 4), rgbOf(0xFF7C3AED), 3)) << describe(c.pixel(w - 1, 4));
    EXPECT_TRUE(near(c.pixel(100, 700), kSidebarBg, 1)) << describe(c.pixel(100, 700));
    EXPECT_TRUE(near(c.pixel(100, 65), kSidebarBg, 1)) << describe(c.pixel(100, 65));
    EXPECT_TRUE(near(c.pixel(700, 700), kContentBg, 1)) << describe(c.pixel(700, 700));
    EXPECT_TRUE(near(c.pixel(203, 700), kContentBg, 1)) << describe(c.pixel(203, 700));
    // The 1-pixel divider at x = 200 darkens the column beside it or itself.
    const COLORREF divider = RGB(0xE5, 0xE6, 0xEB);
    const COLORREF a = c.pixel(199, 400), b = c.pixel(200, 400);
    EXPECT_TRUE(near(a, divider, 2) || near(b, divider, 2) ||
                (near(a, blend(0x80E5E6EB, kSidebarBg), 4) && near(b, blend(0x80E5E6EB, kContentBg), 4)))
        << describe(a) << " " << describe(b);

    // Selected row: fill, accent bar; the next row is plain.
    EXPECT_TRUE(near(c.pixel(100, 81), RGB(0xEE, 0xED, 0xFF), 1)) << describe(c.pixel(100, 81));
    EXPECT_TRUE(near(c.pixel(13, 78 + 20), rgbOf(Accent), 1)) << describe(c.pixel(13, 98));
    EXPECT_TRUE(near(c.pixel(16, 78 + 20), RGB(0xEE, 0xED, 0xFF), 2)) << describe(c.pixel(16, 98));
    EXPECT_TRUE(near(c.pixel(100, 135), kSidebarBg, 1)) << describe(c.pixel(100, 135));
    // No scrollbar with two rows.
    EXPECT_TRUE(near(c.pixel(195, 300), kSidebarBg, 1));
    EXPECT_FALSE(gApp.sidebarScrollbar.visible);
}

TEST_F(MainViewPaint, HoveredRowAndNoSelectionInTheDownloadView) {
    auto lists = makeLists({{L"1", L"办公"}, {L"2", L"游戏"}});
    gApp.selectedCategoryId = L"1";
    gApp.hoverValid = true;
    gApp.hoverKind = HitSidebarRow;
    gApp.hoverId = 1;
    const Canvas& c = paint(1180, 780, lists);
    EXPECT_TRUE(near(c.pixel(100, 135), rgbOf(Neutral), 1)) << describe(c.pixel(100, 135));

    gApp.viewMode = 1;
    paint(1180, 780, lists);
    EXPECT_TRUE(near(canvas_->pixel(100, 81), kSidebarBg, 1)) << describe(canvas_->pixel(100, 81));
    EXPECT_TRUE(near(canvas_->pixel(13, 98), kSidebarBg, 1)) << describe(canvas_->pixel(13, 98));
    EXPECT_TRUE(near(canvas_->pixel(100, 135), rgbOf(Neutral), 1)) << describe(canvas_->pixel(100, 135));

    gApp.hoverValid = false;  // kind and id stay, but nothing is hovered
    paint(1180, 780, lists);
    EXPECT_TRUE(near(canvas_->pixel(100, 135), kSidebarBg, 1)) << describe(canvas_->pixel(100, 135));
}

TEST_F(MainViewPaint, CaptionHoverFills) {
    const int w = 1180, h = 780;
    paint(w, h, nullptr);
    const COLORREF plainMin = canvas_->pixel(w - 130, 5), plainMax = canvas_->pixel(w - 84, 5),
                   plainClose = canvas_->pixel(w - 40, 5);
    const struct {
        int kind;
        int x;
        COLORREF expected;
    } cases[] = {
        {HitMinimize, w - 130, blend(0x26FFFFFF, plainMin)},
        {HitMaximize, w - 84, blend(0x26FFFFFF, plainMax)},
        {HitClose, w - 40, rgbOf(0xFFE83F4F)},
    };
    for (const auto& k : cases) {
        gApp.hoverValid = true;
        gApp.hoverKind = k.kind;
        paint(w, h, nullptr);
        EXPECT_TRUE(near(canvas_->pixel(k.x, 5), k.expected, 2)) << k.kind << " " << describe(canvas_->pixel(k.x, 5));
        // The other cells stay as they were.
        if (k.kind != HitMinimize) {
            EXPECT_TRUE(near(canvas_->pixel(w - 130, 5), plainMin, 1)) << k.kind;
        }
        if (k.kind != HitClose) {
            EXPECT_TRUE(near(canvas_->pixel(w - 40, 5), plainClose, 1)) << k.kind;
        }
    }
}

TEST_F(MainViewPaint, MaximizeAndRestoreGlyphs) {
    const int w = 1180, h = 780;
    PaintFrame frame = frameWith(nullptr);
    frame.maximized = false;
    paint(w, h, frame);
    EXPECT_TRUE(whitish(w - 76, 32));  // left edge of the 14 × 14 square
    EXPECT_TRUE(whitish(w - 62, 32));  // its right edge
    EXPECT_TRUE(whitish(w - 115, 39)); // minimize bar
    EXPECT_TRUE(whitish(w - 23, 32));  // the close cross meets in the middle
    EXPECT_FALSE(whitish(w - 69, 32)); // inside the square

    frame.maximized = true;
    paint(w, h, frame);
    EXPECT_TRUE(whitish(w - 77, 33));  // left edge of the 10 × 10 square
    EXPECT_TRUE(whitish(w - 64, 30));  // the back window's right edge
    EXPECT_TRUE(whitish(w - 70, 25));  // and its top
    EXPECT_FALSE(whitish(w - 61, 32)); // no 14 × 14 square
    EXPECT_FALSE(whitish(w - 72, 33)); // inside the small square
}

TEST_F(MainViewPaint, BadgeShowsWhileSomethingDownloads) {
    const int w = 1180, h = 780;
    PaintFrame frame = frameWith(nullptr);
    frame.tasks[1] = task(1, TaskState::Verifying);
    frame.tasks[2] = task(2, TaskState::Installing);
    paint(w, h, frame);
    EXPECT_FALSE(near(canvas_->pixel(w - 277, 22), rgbOf(0xFFF53F3F), 10)) << describe(canvas_->pixel(w - 277, 22));

    frame.tasks[3] = task(3, TaskState::Downloading);
    paint(w, h, frame);
    EXPECT_TRUE(near(canvas_->pixel(w - 277, 22), rgbOf(0xFFF53F3F), 2)) << describe(canvas_->pixel(w - 277, 22));
    EXPECT_TRUE(near(canvas_->pixel(w - 270, 13), rgbOf(0xFFF53F3F), 2)) << describe(canvas_->pixel(w - 270, 13));
    EXPECT_GT(ink(RECT{w - 274, 16, w - 266, 29}, rgbOf(0xFFF53F3F), 60), 3) << "the count";
}

TEST_F(MainViewPaint, ToastColoursAndLifetime) {
    auto lists = makeLists({});
    const int w = 1180, h = 780;
    const uint32_t fills[] = {0xE81D2129, 0xE800B42A, 0xE8F53F3F};
    for (int kind = 0; kind < 3; ++kind) {
        gApp.toastText = L"已加入下载队列";
        gApp.toastKind = kind;
        gApp.toastTick = 50000;
        paint(w, h, lists, 50000 + 2199);
        const COLORREF expected = blend(fills[kind], kContentBg);
        EXPECT_TRUE(near(canvas_->pixel(w / 2 - 150, 101), expected, 2))
            << kind << " " << describe(canvas_->pixel(w / 2 - 150, 101)) << " want " << describe(expected);
        EXPECT_GT(ink(RECT{w / 2 - 60, 90, w / 2 + 60, 112}, expected, 60), 20) << "white text";
        EXPECT_EQ(gApp.toastText, L"已加入下载队列");
    }
    paint(w, h, lists, 50000 + 2200);
    EXPECT_TRUE(near(canvas_->pixel(w / 2 - 150, 101), kContentBg, 1)) << describe(canvas_->pixel(w / 2 - 150, 101));
    EXPECT_TRUE(gApp.toastText.empty());
}

TEST_F(MainViewPaint, BannerLifetime) {
    auto lists = makeLists({{L"1", L"办公"}});
    gApp.selectedCategoryId = L"1";
    gApp.bannerText = L"某软件";
    gApp.bannerTaskId = 1;
    gApp.bannerTick = 0xFFFFFF00u;  // across the wrap-around of the tick count
    const int w = 1000, h = 700;
    paint(w, h, lists, 0xFFFFFF00u + 4999);
    EXPECT_TRUE(near(canvas_->pixel(w - 30, h - 30), blend(BannerFill, kContentBg), 2))
        << describe(canvas_->pixel(w - 30, h - 30));
    ASSERT_FALSE(gApp.hitRects.empty());
    EXPECT_EQ(gApp.hitRects.back().kind, HitBanner);
    EXPECT_TRUE(sameRect(gApp.hitRects.back().rect, RECT{644, 596, 980, 680}));

    paint(w, h, lists, 0xFFFFFF00u + 5000);
    EXPECT_TRUE(near(canvas_->pixel(w - 30, h - 30), kContentBg, 1)) << describe(canvas_->pixel(w - 30, h - 30));
    EXPECT_TRUE(gApp.bannerText.empty());
    EXPECT_NE(gApp.hitRects.back().kind, HitBanner);
}

TEST_F(MainViewPaint, SidebarScrollbarTrackAndThumb) {
    auto lists = numberedCategories(12, [](int i) { return L"分类" + std::to_wstring(i); });
    const int w = 1000, h = 660;
    gApp.sidebarScroll = 1000;  // clamped to the range
    paint(w, h, lists);
    EXPECT_EQ(gApp.sidebarScroll, 72);
    const ScrollbarGeom& bar = gApp.sidebarScrollbar;
    ASSERT_TRUE(bar.visible);
    EXPECT_EQ(bar.thumbTop, 78 + 64);
    EXPECT_EQ(bar.thumbBottom, 646);
    const COLORREF track = blend(ScrollTrack, kSidebarBg);
    EXPECT_TRUE(near(canvas_->pixel(195, 100), track, 1)) << describe(canvas_->pixel(195, 100));
    EXPECT_TRUE(near(canvas_->pixel(195, 400), blend(ScrollThumb, track), 2)) << describe(canvas_->pixel(195, 400));

    // Rows partly above the band are recorded cut to it.
    int rows = 0;
    for (const HitRect& hit : gApp.hitRects) {
        if (hit.kind != HitSidebarRow) continue;
        ++rows;
        EXPECT_GE(hit.rect.top, 78);
        EXPECT_LE(hit.rect.bottom, h - 14);
    }
    EXPECT_EQ(rows, 11);  // row 0 ends at 52 and is skipped; rows 1..11 show at least in part
}

TEST_F(MainViewPaint, ConnectionErrorWithReloadButton) {
    gApp.catalogLoadFailed = true;
    const int w = 1180, h = 780;
    paint(w, h, makeLists({{L"1", L"办公"}}));
    const int cx = (w + 200) / 2;
    ASSERT_FALSE(gApp.hitRects.empty());
    const HitRect& reload = gApp.hitRects.back();
    EXPECT_EQ(reload.kind, HitReload);
    EXPECT_TRUE(sameRect(reload.rect, RECT{cx - 60, 294, cx + 60, 326}));
    EXPECT_TRUE(near(canvas_->pixel(cx - 52, 310), rgbOf(Accent), 2)) << describe(canvas_->pixel(cx - 52, 310));
    EXPECT_GT(ink(RECT{cx - 40, 300, cx + 40, 320}, rgbOf(Accent), 60), 20) << "the label";
    expectText(connectionErrorTitle(gApp.config.server), RECT{200, 184, w, 214}, gApp.fontName, TextPrimary,
               DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    expectText(L"请检查网络连接后点击「重新加载」", RECT{200, 220, w, 244}, gApp.fontBody, TextSecondary,
               DT_SINGLELINE | DT_VCENTER | DT_CENTER);
}

TEST_F(MainViewPaint, LoadingText) {
    gApp.catalogLoading = true;
    gApp.catalogLoadFailed = true;  // loading is shown first
    const int w = 1180, h = 780;
    paint(w, h, makeLists({{L"1", L"办公"}}));
    expectText(L"正在加载应用列表...", RECT{200, 184, w, 224}, gApp.fontBody, TextSecondary,
               DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    EXPECT_EQ(ink(RECT{201, 70, w, 184}, kContentBg, 4), 0);
    EXPECT_EQ(ink(RECT{201, 224, w, h}, kContentBg, 4), 0);
    EXPECT_NE(gApp.hitRects.back().kind, HitReload);
}

TEST_F(MainViewPaint, EmptyCatalogTexts) {
    const int w = 1180, h = 780;
    paint(w, h, makeLists({}));
    expectText(L"暂无分类", RECT{212, 78, w - 12, 118}, gApp.fontSection, TextPrimary, DT_SINGLELINE | DT_VCENTER);
    expectText(L"暂无分类，请在管理后台添加", RECT{200, 184, w, 214}, gApp.fontBody, TextSecondary,
               DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    EXPECT_EQ(kindsOf(gApp.hitRects), (std::vector<int>{3, 4, 5, 6, 7}));

    gApp.selectedCategoryId = L"1";
    paint(w, h, makeLists({{L"1", L"办公"}}));
    expectText(L"办公 · 0 款", RECT{212, 78, w - 12, 118}, gApp.fontSection, TextPrimary, DT_SINGLELINE | DT_VCENTER);
    expectText(L"该分类暂无应用", RECT{200, 184, w, 214}, gApp.fontBody, TextSecondary,
               DT_SINGLELINE | DT_VCENTER | DT_CENTER);
}

TEST_F(MainViewPaint, LongNameStartsAt39ShortNameIsCentred) {
    auto lists = makeLists({{L"1", L"系统工具与驱动程序大全合集"}, {L"2", L"游戏"}});
    const int w = 1180, h = 780;
    paint(w, h, lists);
    const int longWidth = textWidth(canvas_->dc(), L"系统工具与驱动程序大全合集", gApp.fontSidebar);
    ASSERT_GE(longWidth, 148);
    const RECT longRow{33, 78 + 4, 188, 78 + 42};
    const int textStart = firstInkColumn(longRow, kSidebarBg);
    EXPECT_GE(textStart, 39);
    EXPECT_LE(textStart, 44);
    EXPECT_GT(ink(RECT{12, 78 + 13, 32, 78 + 33}, kSidebarBg), 20) << "glyph at x = 12";
    EXPECT_EQ(ink(RECT{0, 78, 12, 124}, kSidebarBg, 4), 0);

    const int shortWidth = textWidth(canvas_->dc(), L"游戏", gApp.fontSidebar);
    const int shift = sidebarNameShift(shortWidth);
    ASSERT_GT(shift, 20);
    const RECT shortRow{0, 132 + 4, 188, 132 + 42};
    const int glyphStart = firstInkColumn(shortRow, kSidebarBg);
    EXPECT_GE(glyphStart, shift + 12);
    EXPECT_LE(glyphStart, shift + 16);
    EXPECT_GT(ink(RECT{shift + 39, 136, shift + 39 + shortWidth, 172}, kSidebarBg), 20) << "name beside the glyph";
    EXPECT_EQ(ink(RECT{shift + 39 + shortWidth + 3, 136, 188, 172}, kSidebarBg, 4), 0);
}

TEST_F(MainViewPaint, AScrollbarThatIsNotDrawnTakesNoPress) {
    std::vector<AppFixture> apps;
    for (int i = 1; i <= 40; ++i) apps.push_back({i, L"应用" + std::to_wstring(i), {L"1"}});
    auto lists = makeLists({{L"1", L"办公"}}, apps);
    gApp.selectedCategoryId = L"1";
    const int w = 1180, h = 780;
    paint(w, h, lists);
    ASSERT_TRUE(gApp.gridScrollbar.visible) << "40 cards need a bar";
    const ScrollbarGeom drawn = gApp.gridScrollbar;

    // The loading and error states draw no grid, and so no bar where it was.
    for (bool loading : {true, false}) {
        gApp.catalogLoading = loading;
        gApp.catalogLoadFailed = !loading;
        paint(w, h, lists);
        EXPECT_FALSE(gApp.gridScrollbar.visible) << loading;
        EXPECT_FALSE(thumbPress(gApp.gridScrollbar, drawn.thumbLeft + 1, drawn.thumbTop + 1, 0).drag) << loading;
    }
    gApp.catalogLoading = gApp.catalogLoadFailed = false;
    gApp.viewMode = 1;
    paint(w, h, lists);
    EXPECT_FALSE(gApp.gridScrollbar.visible) << "the download view";
}

TEST_F(MainViewPaint, ThePanelPaintsTheFolderTextWithoutMakingTheFolder) {
    ScratchFolder scratch(L"nodisk");
    const std::wstring missing = scratch / L"没有的目录";
    setDownloadDirectory(missing);
    gApp.viewMode = 1;
    paint(1180, 780, currentFrame());
    EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);
    setDownloadDirectory(std::wstring());
}

TEST_F(MainViewPaint, DownloadViewHitsAndActiveTool) {
    auto lists = makeLists({{L"1", L"办公"}}, {{1, L"甲", {L"1"}}, {2, L"乙", {L"1"}}});
    gApp.viewMode = 1;
    PaintFrame frame = frameWith(lists);
    frame.downloadDir = L"C:\\Downloads";
    frame.tasks[1] = task(1, TaskState::Downloading);
    frame.tasks[2] = task(2, TaskState::Failed);
    const int w = 1180, h = 780;
    paint(w, h, frame);
    const std::vector<int> kinds = kindsOf(gApp.hitRects);
    ASSERT_GE(kinds.size(), 6u + 3u + 2u);
    EXPECT_EQ(std::vector<int>(kinds.begin(), kinds.begin() + 6), (std::vector<int>{3, 4, 5, 6, 7, 1}));
    int cancel = 0, retry = 0;
    for (const HitRect& hit : gApp.hitRects) {
        if (hit.kind == HitPanelCancel && hit.id == 1) ++cancel;
        if (hit.kind == HitPanelRetry && hit.id == 2) ++retry;
        EXPECT_NE(hit.kind, HitCardButton);
    }
    EXPECT_EQ(cancel, 1);
    EXPECT_EQ(retry, 1);
    // The active tool button is lighter than the plain header behind the settings button.
    const COLORREF active = canvas_->pixel(w - 330, 16), plain = canvas_->pixel(w - 216, 16);
    EXPECT_GT(GetRValue(active) + GetGValue(active), GetRValue(plain) + GetGValue(plain) + 10)
        << describe(active) << " " << describe(plain);
}

// The caches must never show an older state: a run of state changes painted with them
// looks exactly like the same run painted without them.
// Paints each step with the caches on and then off, at dpi, and compares every pixel.
void MainViewPaint::expectCachedPaintsMatchPlainPaints(int dpi) {
    setUiDpi(dpi);
    createFonts(gApp, dpi);
    auto first = makeLists({{L"1", L"办公"}, {L"2", L"游戏"}, {L"3", L"系统工具与驱动程序大全合集"}},
                           {{1, L"甲", {L"1"}}, {2, L"乙", {L"1"}}, {3, L"丙", {L"2"}}});
    auto second = makeLists({{L"1", L"影音"}, {L"2", L"聊天"}, {L"3", L"安全"}}, {{1, L"甲", {L"1"}}});
    // Every pictogram and enough cards to scroll: kept rows and cards are shown at many offsets.
    std::vector<AppFixture> many;
    for (int i = 1; i <= 30; ++i) many.push_back({i, L"应用" + std::to_wstring(i), {L"1"}});
    auto third = makeLists({{L"1", L"装机必备"}, {L"2", L"安全杀毒"}, {L"3", L"聊天社交"}, {L"4", L"浏览器"},
                            {L"5", L"影音播放"}, {L"6", L"办公文档"}, {L"7", L"输入法"}, {L"8", L"压缩解压"},
                            {L"9", L"系统工具"}, {L"10", L"驱动硬件"}, {L"11", L"远程控制"}, {L"12", L"数据备份"},
                            {L"13", L"游戏娱乐"}, {L"14", L"图形图像"}, {L"15", L"视频剪辑"}, {L"16", L"机器人"},
                            {L"17", L"编程开发"}, {L"18", L"其他"}},
                           many);
    const int w = MulDiv(1180, dpi, 96), h = MulDiv(780, dpi, 96);
    std::vector<std::function<void(PaintFrame&)>> steps = {
        [](PaintFrame&) { gApp.selectedCategoryId = L"1"; },
        [](PaintFrame&) { gApp.selectedCategoryId = L"2"; },
        [](PaintFrame&) { gApp.hoverValid = true; gApp.hoverKind = HitSidebarRow; gApp.hoverId = 0; },
        [](PaintFrame&) { gApp.hoverId = 2; },
        [](PaintFrame&) { gApp.hoverKind = HitClose; },
        [](PaintFrame&) { gApp.hoverKind = HitDownloadsTool; },
        [](PaintFrame&) { gApp.hoverValid = false; },
        [](PaintFrame& f) { f.maximized = true; },
        [](PaintFrame& f) { f.tasks[1] = task(1, TaskState::Downloading); },
        [](PaintFrame& f) { f.tasks[2] = task(2, TaskState::Downloading); },
        [](PaintFrame&) { gApp.viewMode = 1; },
        [](PaintFrame& f) { f.tasks[1].downloadedBytes = 700; },
        [](PaintFrame& f) {
            f.tasks[3] = task(3, TaskState::Completed);
            f.tasks[4] = task(4, TaskState::Failed);
            f.tasks[5] = task(5, TaskState::Installed);
        },
        [](PaintFrame& f) { f.tasks[3].isArchive = true; },
        [](PaintFrame&) { gApp.hoverValid = true; gApp.hoverKind = HitPanelOpenDir; },
        [](PaintFrame&) { gApp.viewMode = 0; gApp.hoverKind = HitCardButton; gApp.hoverId = 1; gApp.selectedCategoryId = L"1"; },
        [](PaintFrame& f) { f.tasks[1].downloadedBytes = 900; },
        [](PaintFrame&) { gApp.hoverValid = false; },
        [](PaintFrame&) { gApp.viewMode = 0; gApp.sidebarScroll = 40; },
        [&](PaintFrame& f) { f.lists = second; },
        [](PaintFrame&) { gApp.selectedCategoryId = L"3"; },
        [&](PaintFrame& f) { f.lists = third; gApp.sidebarScroll = 0; gApp.selectedCategoryId = L"1"; },
    };
    for (int offset : {30, 7, 1, 45, 13, 100, 3}) {
        steps.push_back([offset](PaintFrame&) { gApp.sidebarScroll = offset; });
        steps.push_back([offset](PaintFrame&) { gApp.gridScroll = offset * 3; });
    }
    steps.push_back([](PaintFrame&) { gApp.hoverValid = true; gApp.hoverKind = HitSidebarRow; gApp.hoverId = 7; });
    steps.push_back([](PaintFrame&) { gApp.sidebarScroll = 11; });
    PaintFrame frame = frameWith(first);
    Canvas plain(w, h, RGB(0, 0, 0));
    for (size_t i = 0; i < steps.size(); ++i) {
        steps[i](frame);
        paint(w, h, frame);
        setPaintCaching(false);
        paintMainViewFrame(plain.dc(), RECT{0, 0, w, h}, frame);
        setPaintCaching(true);
        const std::vector<uint32_t> cached = canvas_->readBack(), uncached = plain.readBack();
        int differing = 0;
        for (size_t p = 0; p < cached.size(); ++p)
            if (!near(cached[p], uncached[p], 2)) ++differing;
        EXPECT_EQ(differing, 0) << "step " << i << " at " << dpi;
        if (differing) break;
    }
    painttest::resetViewState();
    setUiDpi(96);
    createFonts(gApp, 96);
}

TEST_F(MainViewPaint, CachedPaintsMatchPlainPaints) {
    for (int dpi : {96, 144}) expectCachedPaintsMatchPlainPaints(dpi);
}

// ---------------------------------------------------------------------------------------
// Bad input: every paint completes and leaves consistent hit rectangles.

void expectConsistentHits(int w, int h, size_t categories) {
    const auto& hits = gApp.hitRects;
    ASSERT_GE(hits.size(), 5u);
    const int header[] = {3, 4, 5, 6, 7};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(hits[i].kind, header[i]);
    EXPECT_TRUE(sameRect(hits[2].rect, RECT{w - 46, 0, w, 64}));
    int lastRow = -1;
    bool pastRows = false;
    for (size_t i = 5; i < hits.size(); ++i) {
        const HitRect& hit = hits[i];
        EXPECT_LE(hit.rect.left, hit.rect.right) << i;
        EXPECT_LE(hit.rect.top, hit.rect.bottom) << i;
        if (hit.kind == HitSidebarRow) {
            EXPECT_FALSE(pastRows) << "sidebar rows come together, before the content";
            EXPECT_GT(hit.id, lastRow);
            EXPECT_LT(static_cast<size_t>(hit.id), categories);
            lastRow = hit.id;
            EXPECT_EQ(hit.rect.left, 12);
            EXPECT_EQ(hit.rect.right, 188);
            EXPECT_GE(hit.rect.top, 78);
            EXPECT_LE(hit.rect.bottom, h - 14);
        } else {
            pastRows = true;
        }
    }
}

TEST_F(MainViewPaint, BadInputPaintsCompletely) {
    const std::wstring huge(10000, L'长');
    const struct {
        const char* what;
        std::shared_ptr<CatalogLists> lists;
        int w, h, scroll;
    } cases[] = {
        {"500 categories", numberedCategories(500, [](int i) { return L"分类" + std::to_wstring(i); }), 1180, 780, 0},
        {"500 categories scrolled far", numberedCategories(500, [](int i) { return L"工具" + std::to_wstring(i); }),
         1180, 780, 1 << 30},
        {"names of 10,000 characters", numberedCategories(20, [&](int i) { return huge + std::to_wstring(i); }), 1180,
         780, 0},
        {"control characters", numberedCategories(8, [](int i) { return std::wstring(L"a\tb\r\n\x01\x7f&x", 10) + std::to_wstring(i); }),
         1180, 780, 0},
        {"right-to-left marks", numberedCategories(8, [](int) { return std::wstring(L"\x202e\x200f\x05E9\x05DC\x05D5\x05DD 安全"); }),
         1180, 780, 0},
        {"emoji and lone surrogates", numberedCategories(8, [](int) { return std::wstring(L"\xD83D\xDE00 游戏 \xD800 \xDFFF"); }),
         1180, 780, 0},
        {"repeated ids", makeLists({{L"1", L"甲"}, {L"1", L"乙"}, {L"1", L"丙"}}, {{1, L"一", {L"1", L"1"}}}), 1180, 780, 0},
        {"narrower than the minimum", numberedCategories(12, [](int i) { return L"办公" + std::to_wstring(i); }), 300, 200, 0},
        {"lower than the header", numberedCategories(12, [](int i) { return L"办公" + std::to_wstring(i); }), 640, 40, 0},
        {"one pixel", numberedCategories(3, [](int i) { return L"办公" + std::to_wstring(i); }), 1, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        painttest::resetViewState();
        gApp.selectedCategoryId = L"1";
        gApp.sidebarScroll = c.scroll;
        gApp.hoverValid = true;
        gApp.hoverKind = HitSidebarRow;
        gApp.hoverId = 1;
        gApp.toastText = std::wstring(5000, L'吐');
        gApp.toastTick = 100000;
        gApp.bannerText = huge;
        gApp.bannerTick = 100000;
        for (int mode = 0; mode < 2; ++mode) {
            gApp.viewMode = mode;
            paint(c.w, c.h, c.lists);
            expectConsistentHits(c.w, c.h, c.lists->categories.size());
            const SidebarGeometry g = sidebarGeometry(c.h, static_cast<int>(c.lists->categories.size()), c.scroll);
            EXPECT_EQ(gApp.sidebarScroll, g.scroll);
            EXPECT_EQ(gApp.hitRects.back().kind, HitBanner);
        }
    }
    // Nothing to paint into: the old rectangles go all the same.
    paint(1180, 780, makeLists({{L"1", L"a"}}));
    canvas_ = std::make_unique<Canvas>(10, 10);
    paintMainViewFrame(canvas_->dc(), RECT{0, 0, 0, 0}, frameWith(nullptr));
    EXPECT_TRUE(gApp.hitRects.empty());
}

// ---------------------------------------------------------------------------------------
// Objects left behind

// A ready 256-pixel icon as the icon fetcher makes it.
HBITMAP makeIcon(int seed) {
    Gdiplus::Bitmap image(256, 256, PixelFormat32bppARGB);
    {
        Gdiplus::Graphics g(&image);
        g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        g.Clear(Gdiplus::Color(0, 0, 0, 0));
        Gdiplus::SolidBrush brush(Gdiplus::Color(255, static_cast<BYTE>(40 * seed), 120, 200));
        g.FillEllipse(&brush, 16, 16, 224, 224);
    }
    HBITMAP bitmap = nullptr;
    image.GetHBITMAP(Gdiplus::Color(255, 255, 255, 255), &bitmap);
    return bitmap;
}

std::shared_ptr<CatalogLists> busyLists() {
    std::vector<AppFixture> apps;
    for (int i = 0; i < 12; ++i) apps.push_back(AppFixture{i + 1, L"应用" + std::to_wstring(i), {L"c0"}});
    auto lists = makeLists({}, apps);
    for (int i = 0; i < 13; ++i) lists->categories.push_back(Category{L"c" + std::to_wstring(i), L"办公" + std::to_wstring(i)});
    for (size_t i = 0; i < lists->apps.size(); ++i) {
        if (i % 3 == 2) continue;  // a few placeholders among the icons
        painttest::keepIconOf(lists->apps[i], makeIcon(static_cast<int>(i)));
    }
    return lists;
}

// Every state at once: hover, toast, banner, badge, sidebar scrollbar, maximized glyph.
struct BusyScene {
    PaintFrame catalog, panel;
    explicit BusyScene(std::shared_ptr<CatalogLists> lists) {
        catalog = frameWith(lists);
        catalog.maximized = true;
        for (int i = 1; i <= 6; ++i) catalog.tasks[i] = task(i, static_cast<TaskState>(i % 8));
        catalog.tasks[7] = task(7, TaskState::Downloading);
        panel = catalog;
        panel.downloadDir = L"C:\\Downloads";
    }
    void set(int viewMode) const {
        gApp.viewMode = viewMode;
        gApp.selectedCategoryId = L"c0";
        gApp.hoverValid = true;
        gApp.hoverKind = viewMode == 0 ? HitCardButton : HitSidebarRow;
        gApp.hoverId = 2;
        gApp.toastText = L"提示";
        gApp.toastTick = catalog.now;
        gApp.bannerText = L"应用";
        gApp.bannerTaskId = 1;
        gApp.bannerTick = catalog.now;
    }
};

class PaintObjects : public MainViewPaint {
protected:
    void paintBoth(const BusyScene& scene, int times) {
        for (int i = 0; i < times; ++i) {
            scene.set(i % 2);
            paintMainViewFrame(canvas_->dc(), RECT{0, 0, 1180, 780}, i % 2 ? scene.panel : scene.catalog);
        }
    }
};

TEST_F(PaintObjects, NothingSurvivesAThousandPaints) {
    BusyScene scene(busyLists());
    canvas_ = std::make_unique<Canvas>(1180, 780);
    paintBoth(scene, 20);  // the logo, back buffer and scaled icons are made once
    const ObjectCensus before = takeCensus();
    paintBoth(scene, 1000);
    const ObjectCensus after = takeCensus();
    std::printf("census (%s): GDI objects %ld -> %ld, heap blocks %zu -> %zu, heap bytes %zu -> %zu\n",
                gdiCountMethod(), before.gdiObjects, after.gdiObjects, before.heapBlocks, after.heapBlocks,
                before.heapBytes, after.heapBytes);
    EXPECT_GT(before.gdiObjects, 20) << "the count sees the fonts, canvas and icons";
    EXPECT_EQ(after.gdiObjects, before.gdiObjects);
    EXPECT_LT(after.heapBlocks, before.heapBlocks + 100);  // a leak per paint would be 1000
    EXPECT_LT(after.heapBytes, before.heapBytes + 64 * 1024);
}

TEST_F(PaintObjects, ReleasedCachesLeaveNothing) {
    auto lists = makeLists({{L"1", L"办公"}}, {{1, L"甲", {L"1"}}});
    gApp.selectedCategoryId = L"1";
    canvas_ = std::make_unique<Canvas>(1180, 780);
    paintMainViewFrame(canvas_->dc(), RECT{0, 0, 1180, 780}, frameWith(lists));  // decodes the logo
    releasePaintCaches();
    const ObjectCensus before = takeCensus();
    for (int i = 0; i < 5; ++i) paintMainViewFrame(canvas_->dc(), RECT{0, 0, 1180, 780}, frameWith(lists));
    paintMainViewFrame(canvas_->dc(), RECT{0, 0, 900, 700}, frameWith(lists));  // a new size replaces the buffer
    EXPECT_GT(takeCensus().gdiObjects, before.gdiObjects) << "the back buffer and the layers are kept";
    releasePaintCaches();
    EXPECT_EQ(takeCensus().gdiObjects, before.gdiObjects);
}

// The census is only worth something if it sees a paint that leaks: each kind of object a
// paint makes, leaked once per paint, must show.
TEST_F(PaintObjects, CensusCatchesALeakingPaint) {
    auto lists = makeLists({{L"1", L"办公"}}, {{1, L"甲", {L"1"}}});
    gApp.selectedCategoryId = L"1";
    canvas_ = std::make_unique<Canvas>(1180, 780);
    const PaintFrame frame = frameWith(lists);
    std::vector<HGDIOBJ> leakedGdi;
    // GDI+ objects through the flat interface, so that only GDI+'s own memory is counted.
    std::vector<Gdiplus::GpPath*> leakedPaths;
    std::vector<Gdiplus::GpSolidFill*> leakedBrushes;
    std::vector<Gdiplus::GpPen*> leakedPens;
    using namespace Gdiplus::DllExports;
    const struct {
        const char* what;
        bool gdi;
        std::function<void()> leak;
    } leaks[] = {
        {"GDI pen", true, [&] { leakedGdi.push_back(CreatePen(PS_SOLID, 1, RGB(1, 2, 3))); }},
        {"GDI brush", true, [&] { leakedGdi.push_back(CreateSolidBrush(RGB(1, 2, 3))); }},
        {"GDI region", true, [&] { leakedGdi.push_back(CreateRectRgn(0, 0, 5, 5)); }},
        {"GDI bitmap", true, [&] { leakedGdi.push_back(CreateCompatibleBitmap(canvas_->dc(), 4, 4)); }},
        {"memory DC", true, [&] { leakedGdi.push_back(CreateCompatibleDC(canvas_->dc())); }},
        {"GDI+ path", false, [&] {
             Gdiplus::GpPath* path = nullptr;
             GdipCreatePath(Gdiplus::FillModeAlternate, &path);
             GdipAddPathEllipseI(path, 0, 0, 10, 10);
             leakedPaths.push_back(path);
         }},
        {"GDI+ brush", false, [&] {
             Gdiplus::GpSolidFill* brush = nullptr;
             GdipCreateSolidFill(0xFF010203, &brush);
             leakedBrushes.push_back(brush);
         }},
        {"GDI+ pen", false, [&] {
             Gdiplus::GpPen* pen = nullptr;
             GdipCreatePen1(0xFF010203, 1.0f, Gdiplus::UnitPixel, &pen);
             leakedPens.push_back(pen);
         }},
    };
    constexpr int kPaints = 50;
    for (const auto& l : leaks) {
        SCOPED_TRACE(l.what);
        paintMainViewFrame(canvas_->dc(), RECT{0, 0, 1180, 780}, frame);
        leakedPaths.reserve(leakedPaths.size() + kPaints);
        leakedBrushes.reserve(leakedBrushes.size() + kPaints);
        leakedPens.reserve(leakedPens.size() + kPaints);
        leakedGdi.reserve(leakedGdi.size() + kPaints);
        const ObjectCensus before = takeCensus();
        for (int i = 0; i < kPaints; ++i) {
            paintMainViewFrame(canvas_->dc(), RECT{0, 0, 1180, 780}, frame);
            l.leak();
        }
        const ObjectCensus after = takeCensus();
        if (l.gdi) {
            EXPECT_EQ(after.gdiObjects - before.gdiObjects, kPaints);
        } else {
            EXPECT_GE(after.heapBlocks, before.heapBlocks + kPaints);
            EXPECT_EQ(after.gdiObjects, before.gdiObjects);
        }
    }
    for (Gdiplus::GpPath* p : leakedPaths) GdipDeletePath(p);
    for (Gdiplus::GpSolidFill* b : leakedBrushes) GdipDeleteBrush(b);
    for (Gdiplus::GpPen* p : leakedPens) GdipDeletePen(p);
    for (HGDIOBJ o : leakedGdi) {
        if (GetObjectType(o) == OBJ_MEMDC) {
            DeleteDC(static_cast<HDC>(o));
        } else {
            DeleteObject(o);
        }
    }
}

}  // namespace
