// Whole paints of the main view at 96, 120, 144 and 192 DPI, probed at the scaled
// coordinates: the header, the selected sidebar row, a card, the toast, the banner, the
// scrollbars and the focus ring land where their 96-DPI places times dpi / 96 are, one-pixel
// outlines stay one sharp column, and a large icon is drawn from its source into the
// scaled box.
#include "app/keyboard.h"
#include "app/main_view.h"
#include "ui/looks.h"
#include "ui/paint_support.h"
#include "ui/palette.h"
#include "ui/scale.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
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

constexpr COLORREF kSelectedRow = RGB(0xEE, 0xED, 0xFF);
constexpr COLORREF kWhite = RGB(255, 255, 255);


std::shared_ptr<CatalogLists> listsOf(int categories, int apps) {
    auto lists = std::make_shared<CatalogLists>();
    for (int i = 0; i < categories; ++i)
        lists->categories.push_back(Category{L"c" + std::to_wstring(i), L"分类" + std::to_wstring(i)});
    for (int i = 0; i < apps; ++i) {
        App app;
        app.id = 10 + i;
        app.name = L"应用" + std::to_wstring(i);
        app.version = L"1.0";
        app.description = L"说明";
        app.categoryIds = {L"c0"};
        app.hasPackage = true;
        app.packageSize = 1 << 20;
        lists->apps.push_back(std::move(app));
    }
    return lists;
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

// Paints at the display scale of the test's parameter with fonts made for it; a failed
// test keeps the canvas as a PNG.
class ScaledPaint : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        painttest::ensureGraphics();
        painttest::resetViewState();
        gApp.config.server = L"https://catalog.example.test";
        releasePaintCaches();
        scale_ = std::make_unique<ScopedUiDpi>(GetParam());
        ASSERT_TRUE(createFonts(gApp, GetParam()));
    }
    void TearDown() override {
        if (HasFailure() && canvas_) {
            const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
            std::string name = std::string(info->test_suite_name()) + "." + info->name();
            for (char& c : name) {
                if (c == '/') c = '_';
            }
            canvas_->savePng(failureFolder() + L"\\" + std::wstring(name.begin(), name.end()) + L".png");
        }
        releasePaintCaches();
        scale_.reset();
        createFonts(gApp, 96);
        gApp.catalog.publish(nullptr);
    }

    int s(int n) const { return scalePx(n, GetParam()); }

    const Canvas& paint(int w, int h, const PaintFrame& frame) {
        canvas_ = std::make_unique<Canvas>(w, h, RGB(0, 0, 0));
        paintMainViewFrame(canvas_->dc(), RECT{0, 0, w, h}, frame);
        return *canvas_;
    }
    const Canvas& paint(int w, int h, std::shared_ptr<const CatalogLists> lists, uint32_t now = 100000) {
        return paint(w, h, frameWith(std::move(lists), now));
    }
    COLORREF at(int x, int y) const { return canvas_->pixel(x, y); }

    const HitRect* hit(int kind, int id) const {
        for (const HitRect& h : gApp.hitRects) {
            if (h.kind == kind && h.id == id) return &h;
        }
        return nullptr;
    }

    // One probe: a point given in 96-DPI coordinates from a corner, and what it must show.
    struct Probe {
        const char* what;
        int x, y;          // 96-DPI offsets
        bool fromRight;    // x counts back from the right edge (w - x)
        bool fromBottom;   // y counts back from the bottom edge (h - y)
        int dx, dy;        // whole device pixels added after scaling
        COLORREF colour;
        int tolerance;
    };
    void expectProbes(const std::vector<Probe>& probes, int w, int h) const {
        for (const Probe& p : probes) {
            const int x = (p.fromRight ? w - s(p.x) : s(p.x)) + p.dx;
            const int y = (p.fromBottom ? h - s(p.y) : s(p.y)) + p.dy;
            EXPECT_TRUE(near(at(x, y), p.colour, p.tolerance))
                << p.what << " at (" << x << ", " << y << "): " << describe(at(x, y)) << ", want " << describe(p.colour);
        }
    }

    std::unique_ptr<ScopedUiDpi> scale_;
    std::unique_ptr<Canvas> canvas_;
};

INSTANTIATE_TEST_SUITE_P(Dpi, ScaledPaint, ::testing::Values(96, 120, 144, 192),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param); });

TEST_P(ScaledPaint, HeaderGradientSelectedRowAndAccentBar) {
    gApp.selectedCategoryId = L"c0";
    const int w = s(1180), h = s(780);
    paint(w, h, listsOf(3, 0));
    const int bar = s(78) + s(10) + s(13);  // the accent bar's middle row
    expectProbes({
                     {"gradient start", 0, 4, false, false, 0, 0, rgbOf(0xFF4F46E5), 3},
                     {"gradient end", 0, 4, true, false, -1, 0, rgbOf(0xFF7C3AED), 3},
                     {"header's last row", 150, 64, false, false, 0, -1, rgbOf(0xFF4F46E5), 40},
                     {"sidebar below the header", 100, 64, false, false, 0, 0, kSidebarBg, 1},
                     {"selected row", 100, 81, false, false, 0, 0, kSelectedRow, 1},
                     {"selected row's bottom", 100, 124, false, false, 0, -1, kSelectedRow, 1},
                     {"below the selected row", 100, 124, false, false, 0, 1, kSidebarBg, 1},
                     {"next row, not selected", 100, 135, false, false, 0, 0, kSidebarBg, 1},
                     {"content", 700, 700, false, false, 0, 0, kContentBg, 1},
                 },
                 w, h);
    // The bar is 3 pixels at 96 DPI, as many times the scale, in the accent colour.
    EXPECT_TRUE(near(at(s(12), bar), rgbOf(Accent), 1)) << describe(at(s(12), bar));
    EXPECT_TRUE(near(at(s(15) - 1, bar), rgbOf(Accent), 1)) << describe(at(s(15) - 1, bar));
    EXPECT_TRUE(near(at(s(15) + 1, bar), kSelectedRow, 2)) << describe(at(s(15) + 1, bar));
    EXPECT_FALSE(near(at(s(12), s(78) + s(10) - 2), rgbOf(Accent), 40)) << "the bar starts 10 pixels down";
    EXPECT_FALSE(near(at(s(12), s(78) + s(36) + 1), rgbOf(Accent), 40)) << "and is 26 long";
}

TEST_P(ScaledPaint, CardFillOutlineAndButton) {
    gApp.selectedCategoryId = L"c0";
    const int w = s(1180), h = s(780);
    paint(w, h, listsOf(1, 2));

    const RECT area = gridArea(w, h);
    const GridGeometry g = gridGeometry(area, true, 2, 0);
    const RECT card = gridCardRect(g, area, 0);
    EXPECT_EQ(card.top, s(78) + s(48));
    EXPECT_EQ(card.bottom - card.top, s(234));
    const int midY = card.top + s(120);
    EXPECT_TRUE(near(at(card.left + s(4), midY), kWhite, 0)) << "card fill " << describe(at(card.left + s(4), midY));
    EXPECT_TRUE(near(at(card.left + s(40), card.bottom - 2), kWhite, 0)) << "the card reaches 234 down";
    EXPECT_TRUE(near(at(card.left + s(40), card.bottom + 2), kContentBg, 1)) << "and no further";

    // The recorded button is the drawn one: 100 × 32 at 96 DPI, 188 below the card's top.
    const HitRect* button = hit(HitCardButton, 10);
    ASSERT_NE(button, nullptr);
    const RECT b = button->rect;
    EXPECT_EQ(b.top, card.top + s(188));
    EXPECT_EQ(b.bottom - b.top, s(32));
    EXPECT_EQ(b.right - b.left, s(100));
    const int bx = (b.left + b.right) / 2, by = (b.top + b.bottom) / 2;
    EXPECT_TRUE(near(at(b.left + s(8), by), rgbOf(Accent), 2)) << describe(at(b.left + s(8), by));
    EXPECT_TRUE(near(at(b.right - s(8), by), rgbOf(Accent), 2)) << describe(at(b.right - s(8), by));
    EXPECT_TRUE(near(at(bx, b.top + 1), rgbOf(Accent), 2)) << describe(at(bx, b.top + 1));
    EXPECT_TRUE(near(at(bx, b.bottom - 2), rgbOf(Accent), 2)) << describe(at(bx, b.bottom - 2));
    EXPECT_TRUE(near(at(bx, b.top - 2), kWhite, 0)) << describe(at(bx, b.top - 2));
    EXPECT_TRUE(near(at(bx, b.bottom + 1), kWhite, 0)) << describe(at(bx, b.bottom + 1));
}

// A 1-pixel outline or separator is one sharp column or row at every scale: the pixels
// beside it are exactly the colours on either side, never a blurred pair of greys.
TEST_P(ScaledPaint, OutlinesAndSeparatorsStayOneSharpPixel) {
    gApp.selectedCategoryId = L"c0";
    const int w = s(1180), h = s(780);
    paint(w, h, listsOf(1, 1));
    const RECT area = gridArea(w, h);
    const GridGeometry g = gridGeometry(area, true, 1, 0);
    const RECT card = gridCardRect(g, area, 0);
    const COLORREF outline = blend(Hairline, kWhite);
    const struct {
        const char* what;
        int x, y, stepX, stepY;  // the line's pixel and the step across it
        COLORREF before, line, after;
    } lines[] = {
        {"card's left outline", card.left, card.top + s(120), 1, 0, kContentBg, outline, kWhite},
        {"card's top outline", card.left + s(60), card.top, 0, 1, kContentBg, outline, kWhite},
        {"card's separator", card.left + s(60), card.top + s(180), 0, 1, kWhite, outline, kWhite},
    };
    for (const auto& l : lines) {
        const COLORREF before = at(l.x - l.stepX, l.y - l.stepY), line = at(l.x, l.y),
                       after = at(l.x + l.stepX, l.y + l.stepY);
        EXPECT_TRUE(near(before, l.before, 1)) << l.what << ": before " << describe(before);
        EXPECT_TRUE(near(line, l.line, 2)) << l.what << ": line " << describe(line);
        EXPECT_TRUE(near(after, l.after, 1)) << l.what << ": after " << describe(after);
    }
}

TEST_P(ScaledPaint, ToastBoxAndText) {
    const int w = s(1180), h = s(780);
    const uint32_t fills[] = {0xE81D2129, 0xE800B42A, 0xE8F53F3F};
    for (int kind = 0; kind < 3; ++kind) {
        gApp.toastText = L"已加入下载队列";
        gApp.toastKind = kind;
        gApp.toastTick = 50000;
        paint(w, h, listsOf(0, 0), 50000 + 100);
        const COLORREF fill = blend(fills[kind], kContentBg);
        const int left = (w - s(360)) / 2, x = w / 2 - s(150);
        expectProbes({
                         {"toast middle", 0, 101, false, false, x, 0, fill, 2},
                         {"toast top", 0, 80, false, false, x, 1, fill, 2},
                         {"above the toast", 0, 80, false, false, x, -2, kContentBg, 1},
                         {"toast bottom", 0, 122, false, false, x, -2, fill, 2},
                         {"below the toast", 0, 122, false, false, x, 1, kContentBg, 1},
                         {"toast's left end", 0, 101, false, false, left + 2, 0, fill, 2},
                         {"left of the toast", 0, 101, false, false, left - 2, 0, kContentBg, 1},
                         {"toast's right end", 0, 101, false, false, left + s(360) - 3, 0, fill, 2},
                         {"right of the toast", 0, 101, false, false, left + s(360) + 1, 0, kContentBg, 1},
                     },
                     w, h);
        int ink = 0;
        for (int y = s(88); y < s(114); ++y)
            for (int xx = w / 2 - s(60); xx < w / 2 + s(60); ++xx)
                if (!near(at(xx, y), fill, 60)) ++ink;
        EXPECT_GT(ink, s(20)) << "white text in toast kind " << kind;
    }
}

TEST_P(ScaledPaint, BannerBoxIconAndHitRectangle) {
    auto lists = listsOf(1, 1);
    gApp.selectedCategoryId = L"c0";
    gApp.bannerText = L"应用0";
    gApp.bannerTaskId = 10;
    gApp.bannerTick = 100000;
    const int w = s(1000), h = s(700);
    paint(w, h, lists, 100000 + 10);
    const COLORREF fill = blend(BannerFill, kContentBg);
    const COLORREF iconFill = tint(placeholderColour(10), 14);
    expectProbes({
                     {"banner fill", 30, 30, true, true, 0, 0, fill, 2},
                     {"banner's top", 200, 104, true, true, 0, 2, fill, 2},
                     {"above the banner", 200, 104, true, true, 0, -2, kContentBg, 1},
                     {"banner's right", 20, 60, true, true, -2, 0, fill, 2},
                     {"right of the banner", 20, 60, true, true, 1, 0, kContentBg, 1},
                     {"icon placeholder", 342, 62, true, true, 2, 0, iconFill, 3},
                     {"icon's right edge", 298, 62, true, true, -3, 0, iconFill, 3},
                     {"right of the icon", 298, 62, true, true, 2, 0, fill, 2},
                 },
                 w, h);
    ASSERT_FALSE(gApp.hitRects.empty());
    const HitRect& banner = gApp.hitRects.back();
    EXPECT_EQ(banner.kind, HitBanner);
    EXPECT_EQ(banner.rect.left, w - s(356));
    EXPECT_EQ(banner.rect.top, h - s(104));
    EXPECT_EQ(banner.rect.right, w - s(20));
    EXPECT_EQ(banner.rect.bottom, h - s(20));
}

TEST_P(ScaledPaint, SidebarAndGridScrollbars) {
    // 12 categories in a 660-high window: at 96 DPI 640 of rows in a 568 view, the thumb
    // 504 high, the range 72; at other scales the same from the scaled row pitch and height.
    auto lists = listsOf(12, 12);
    gApp.selectedCategoryId = L"c0";
    gApp.sidebarScroll = s(1000);
    gApp.gridScroll = s(100);
    const int w = s(1000), h = s(660);
    paint(w, h, lists);
    const int content = 11 * s(54) + s(46), view = h - s(14) - s(78);
    EXPECT_EQ(gApp.sidebarScroll, content - view);
    const ScrollbarGeom& side = gApp.sidebarScrollbar;
    ASSERT_TRUE(side.visible);
    EXPECT_EQ(side.trackLeft, s(193));
    EXPECT_EQ(side.trackRight, s(197));
    EXPECT_EQ(side.trackTop, s(78));
    EXPECT_EQ(side.trackBottom, h - s(14));
    EXPECT_EQ(side.thumbBottom, side.trackBottom);
    EXPECT_EQ(side.thumbBottom - side.thumbTop, view * view / content);
    const COLORREF track = blend(ScrollTrack, kSidebarBg);
    const COLORREF thumb = blend(ScrollThumb, track);
    const int mid = (s(193) + s(197)) / 2;
    EXPECT_TRUE(near(at(mid, s(100)), track, 1)) << describe(at(mid, s(100)));
    EXPECT_TRUE(near(at(mid, s(400)), thumb, 2)) << describe(at(mid, s(400)));
    EXPECT_TRUE(near(at(s(193) - 1, s(400)), kSidebarBg, 1)) << describe(at(s(193) - 1, s(400)));
    EXPECT_TRUE(near(at(s(197), s(400)), kSidebarBg, 1)) << describe(at(s(197), s(400)));

    const ScrollbarGeom& grid = gApp.gridScrollbar;
    ASSERT_TRUE(grid.visible);
    EXPECT_EQ(gApp.gridScroll, s(100));
    const int gx = (grid.trackLeft + grid.trackRight) / 2;
    EXPECT_EQ(grid.trackRight - grid.trackLeft, side.trackRight - side.trackLeft) << "both bars are equally thin";
    EXPECT_TRUE(near(at(gx, (grid.thumbTop + grid.thumbBottom) / 2), blend(ScrollThumb, blend(ScrollTrack, kContentBg)), 2))
        << describe(at(gx, (grid.thumbTop + grid.thumbBottom) / 2));
    EXPECT_TRUE(near(at(grid.trackLeft - 1, (grid.thumbTop + grid.thumbBottom) / 2), kContentBg, 1));
}

// The ring after Tab: on a card's button it is the accent 2 pixels (at 96 DPI) outside
// the button, inside stays as it was.
TEST_P(ScaledPaint, FocusRingAroundACardButton) {
    const int w = s(1180), h = s(780);
    auto lists = listsOf(1, 2);
    gApp.selectedCategoryId = L"c0";
    gApp.catalog.publish(lists);

    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KVScaledRingTest";
    RegisterClassW(&wc);
    RECT frame{0, 0, w, h};
    AdjustWindowRect(&frame, WS_POPUP, FALSE);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    resetKeyboardFocus();

    const PaintFrame plain = frameWith(gApp.catalog.lists());
    paint(w, h, plain);
    const HitRect* found = hit(HitCardButton, 10);
    ASSERT_NE(found, nullptr);
    const RECT b = found->rect;
    const int midY = (b.top + b.bottom) / 2, midX = (b.left + b.right) / 2;
    const COLORREF beforeLeft = at(b.left - s(2), midY), beforeInside = at(midX, midY);

    bool focused = false;
    for (int i = 0; i < 30 && !focused; ++i) {
        onKeyboardKey(window, VK_TAB, false);
        focused = keyboardFocus().kind == HitCardButton && keyboardFocus().id == 10;
    }
    ASSERT_TRUE(focused);
    paint(w, h, plain);
    EXPECT_TRUE(focusRingShown());
    EXPECT_FALSE(near(beforeLeft, rgbOf(Accent), 40));
    EXPECT_TRUE(near(at(b.left - s(2), midY), rgbOf(Accent), 2)) << describe(at(b.left - s(2), midY));
    EXPECT_TRUE(near(at(b.right - 1 + s(2), midY), rgbOf(Accent), 2)) << describe(at(b.right - 1 + s(2), midY));
    EXPECT_TRUE(near(at(midX, b.top - s(2)), rgbOf(Accent), 2)) << describe(at(midX, b.top - s(2)));
    EXPECT_TRUE(near(at(midX, b.bottom - 1 + s(2)), rgbOf(Accent), 2)) << describe(at(midX, b.bottom - 1 + s(2)));
    EXPECT_TRUE(near(at(b.left - s(6), midY), kWhite, 0)) << "the ring is thin: " << describe(at(b.left - s(6), midY));
    EXPECT_EQ(at(midX, midY), beforeInside);

    resetKeyboardFocus();
    DestroyWindow(window);
    UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

// A real PNG icon of 256 pixels, a red frame around green with thin white stripes, decoded
// as the icon fetcher decodes it.
HBITMAP decodedTestIcon() {
    Canvas image(256, 256, RGB(200, 30, 30));
    {
        auto g = image.graphics();
        fillRectArgb(*g, RECT{16, 16, 240, 240}, 0xFF1E8C3C);
        for (int x = 16; x < 240; x += 6) fillRectArgb(*g, RECT{x, 96, x + 3, 160}, 0xFFFFFFFF);
    }
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"kv_scaled_icon.png";
    if (!image.savePng(path)) return nullptr;
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    DeleteFileW(path.c_str());
    bool noMemory = false;
    return decodeIconImage(bytes, noMemory);
}

TEST_P(ScaledPaint, LargeIconIsDrawnFromItsSourceIntoTheScaledBox) {
    HBITMAP source = decodedTestIcon();
    ASSERT_NE(source, nullptr);
    BITMAP info{};
    ASSERT_NE(GetObjectW(source, sizeof info, &info), 0);
    EXPECT_EQ(info.bmWidth, 256);
    EXPECT_EQ(info.bmHeight, 256);

    auto lists = listsOf(1, 1);
    ScopedGdiObject owned(source);
    painttest::keepIconOf(lists->apps[0], decodedTestIcon());
    gApp.selectedCategoryId = L"c0";
    const int w = s(1180), h = s(780);
    paint(w, h, lists);

    const RECT area = gridArea(w, h);
    const GridGeometry g = gridGeometry(area, true, 1, 0);
    const RECT card = gridCardRect(g, area, 0);
    const int box = s(84);  // 126 at 144 DPI, 168 at 192
    const int left = card.left + (g.cardW - box) / 2, top = card.top + s(16);
    const COLORREF red = RGB(200, 30, 30), green = RGB(0x1E, 0x8C, 0x3C);
    const int midY = top + box / 4;  // inside the frame, above the stripes
    const struct {
        const char* what;
        int x, y;
        COLORREF colour;
        int tolerance;
    } probes[] = {
        {"frame at the box's left", left + 1, midY, red, 24},
        {"frame at the box's right", left + box - 2, midY, red, 24},
        {"frame at the box's bottom", left + box / 2, top + box - 2, red, 24},
        {"inside, past the 96-DPI size", left + box - s(10), midY, green, 24},
        {"card right of the box", left + box + 1, midY, kWhite, 0},
        {"card below the box", left + box / 2, top + box + 1, kWhite, 0},
    };
    for (const auto& p : probes) {
        EXPECT_TRUE(near(at(p.x, p.y), p.colour, p.tolerance))
            << p.what << " (" << p.x << ", " << p.y << "): " << describe(at(p.x, p.y));
    }
    // Pixel for pixel what drawing the source into the box puts down: the thin stripes of
    // the source, one pixel or so at this size, are there as they are at paint time. A copy
    // made at 84 pixels and enlarged would have smeared them.
    Canvas reference(w, h, kWhite);
    {
        auto graphics = reference.graphics();
        Gdiplus::Bitmap wrapped(source, nullptr);
        ASSERT_EQ(Gdiplus::Ok, wrapped.GetLastStatus());
        graphics->DrawImage(&wrapped, left, top, box, box);
    }
    int same = 0, off = 0;
    std::string where;
    for (int y = top + 1; y < top + box; ++y) {  // the first row and column may sample the edge
        for (int x = left + 1; x < left + box; ++x) {
            if (near(at(x, y), reference.pixel(x, y), 2)) {
                ++same;
            } else if (++off <= 6) {
                where += " (" + std::to_string(x) + "," + std::to_string(y) + ") " + describe(at(x, y)) + " vs " +
                         describe(reference.pixel(x, y));
            }
        }
    }
    // An interpolation weight may round the other way now and then.
    EXPECT_GE(same, (box - 1) * (box - 1) * 99 / 100) << off << " pixels differ:" << where;
}

}  // namespace
