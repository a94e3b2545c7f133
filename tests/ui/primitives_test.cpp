// The shared drawing primitives: placeholder looks, rounded shapes, text, the
// application icon (bitmap, placeholder, icon requests, scaled-icon cache) and the
// header's tool buttons, read back as pixels of a memory canvas.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "paint_support.h"
#include "ui/face_cache.h"
#include "ui/looks.h"
#include "ui/scale.h"

using painttest::blend;
using painttest::Canvas;
using painttest::describe;
using painttest::near;

namespace {

const COLORREF kBackground = RGB(245, 246, 248);

// Where failure screenshots go: the test's working directory in the build tree.
std::wstring failurePath(const char* name) {
    std::wstring path = L"ui_tests_";
    for (const char* p = name; *p; ++p) path.push_back(static_cast<wchar_t>(*p));
    return path + L".png";
}

// Saves the canvas when the current test has failed so far.
void keepScreenshotOnFailure(const Canvas& canvas, const char* name) {
    if (::testing::Test::HasFailure()) canvas.savePng(failurePath(name));
}

#define EXPECT_PIXEL(canvas, x, y, expected, tolerance)                                                   \
    EXPECT_TRUE(near((canvas).pixel(x, y), expected, tolerance))                                          \
        << "at (" << (x) << "," << (y) << ") " << describe((canvas).pixel(x, y)) << " expected " \
        << describe(expected)

// A top-down 32-bit DIB section filled by colourAt(x, y) (opaque).
template <typename F>
HBITMAP makeBitmap(int width, int height, F colourAt) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    auto* pixels = static_cast<uint32_t*>(bits);
    for (int y = 0; pixels && y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const COLORREF c = colourAt(x, y);
            pixels[y * width + x] = 0xFF000000u | GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c);
        }
    }
    GdiFlush();
    return bitmap;
}

HBITMAP twoColourBitmap(int size, COLORREF left, COLORREF right) {
    return makeBitmap(size, size, [=](int x, int) { return x < size / 2 ? left : right; });
}

// A busy picture, so that any difference in resampling shows: gradients, a checkerboard,
// a hard diagonal and a hard circle.
HBITMAP busyBitmap(int size) {
    return makeBitmap(size, size, [=](int x, int y) {
        if ((x / 8 + y / 8) % 2 == 0 && y > size / 2) return RGB(20, 20, 20);
        if ((x - 90) * (x - 90) + (y - 70) * (y - 70) < 3000) return RGB(30, 200, 220);
        if (x > y) return RGB(x * 255 / size, 40, 255 - y * 255 / size);
        return RGB(250, (x * 7 + y * 3) % 256, 90);
    });
}

std::shared_ptr<CatalogLists> listsWithApps(int count) {
    auto lists = std::make_shared<CatalogLists>();
    lists->apps.resize(count);
    for (int i = 0; i < count; ++i) {
        lists->apps[i].id = i;
        lists->apps[i].name = L"应用";
    }
    return lists;
}

void setIcon(const App& app, HBITMAP bitmap) { painttest::keepIconOf(app, bitmap); }

void drawIcon(const Canvas& canvas, const App* app, const RECT& rect, const PaintFrame& frame) {
    auto g = canvas.graphics();
    drawAppIcon(*g, app, rect, frame);
}

// What drawing the bitmap scaled at paint time puts down.
void drawScaledDirectly(const Canvas& canvas, HBITMAP bitmap, const RECT& rect) {
    auto g = canvas.graphics();
    Gdiplus::Bitmap wrapped(bitmap, nullptr);
    ASSERT_EQ(Gdiplus::Ok, wrapped.GetLastStatus());
    g->DrawImage(&wrapped, static_cast<INT>(rect.left), static_cast<INT>(rect.top),
                 static_cast<INT>(rect.right - rect.left), static_cast<INT>(rect.bottom - rect.top));
}

int differingPixels(const Canvas& a, const Canvas& b, int& worst) {
    int count = 0;
    worst = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const COLORREF p = a.pixel(x, y), q = b.pixel(x, y);
            if (p == q) continue;
            ++count;
            worst = std::max({worst, std::abs(GetRValue(p) - GetRValue(q)), std::abs(GetGValue(p) - GetGValue(q)),
                              std::abs(GetBValue(p) - GetBValue(q))});
        }
    }
    return count;
}

class Primitives : public ::testing::Test {
protected:
    void SetUp() override {
        painttest::ensureGraphics();
        painttest::resetViewState();
    }
};

// Placeholder decisions.

TEST(PlaceholderLooks, ColourIsThePaletteEntryOfIdModFive) {
    const struct {
        int32_t id;
        COLORREF colour;
    } cases[] = {{0, RGB(79, 70, 229)},  {5, RGB(79, 70, 229)},   {2, RGB(245, 158, 11)}, {1, RGB(14, 165, 233)},
                 {3, RGB(16, 185, 129)}, {9, RGB(236, 72, 153)},  {-7, RGB(79, 70, 229)}};
    for (const auto& c : cases) EXPECT_EQ(describe(c.colour), describe(placeholderColour(c.id))) << "id " << c.id;
}

TEST(PlaceholderLooks, TintsLightenEveryChannelWithIntegerDivision) {
    const COLORREF indigo = RGB(79, 70, 229);
    EXPECT_EQ(describe(RGB(0xE7, 0xE6, 0xFC)), describe(tint(indigo, 14)));
    EXPECT_EQ(describe(RGB(203, 200, 248)), describe(tint(indigo, 30)));
    EXPECT_EQ(describe(RGB(254, 242, 221)), describe(tint(RGB(245, 158, 11), 14)));
    EXPECT_EQ(describe(RGB(255, 255, 255)), describe(tint(indigo, 0)));
    EXPECT_EQ(describe(indigo), describe(tint(indigo, 100)));
}

TEST(PlaceholderLooks, RadiusIsTwelveSixtyFourthsOfTheWidth) {
    EXPECT_EQ(15, placeholderRadius(84));
    EXPECT_EQ(9, placeholderRadius(48));
    EXPECT_EQ(8, placeholderRadius(44));
    EXPECT_EQ(12, placeholderRadius(64));
    EXPECT_EQ(0, placeholderRadius(5));
}

TEST(PlaceholderLooks, LetterIsTheFirstUnitOfTheNameOrAQuestionMark) {
    App named, empty, surrogate;
    named.name = L"微信";
    surrogate.name = L"\U0001F600 emoji";
    EXPECT_EQ(L'?', placeholderLetter(nullptr));
    EXPECT_EQ(L'?', placeholderLetter(&empty));
    EXPECT_EQ(L'微', placeholderLetter(&named));
    EXPECT_EQ(surrogate.name[0], placeholderLetter(&surrogate));
}

// Shapes and text.

TEST_F(Primitives, RoundedFillLeavesTheCornersAndCoversTheInside) {
    Canvas canvas(120, 80);
    {
        auto g = canvas.graphics();
        fillRoundRect(*g, RECT{10, 10, 110, 70}, 12, 0xFF5B4DFF);
    }
    const COLORREF accent = RGB(0x5B, 0x4D, 0xFF);
    EXPECT_PIXEL(canvas, 60, 40, accent, 1);
    EXPECT_PIXEL(canvas, 60, 11, accent, 1);
    EXPECT_PIXEL(canvas, 11, 40, accent, 1);
    EXPECT_PIXEL(canvas, 108, 68, kBackground, 0) << "inside the box, outside the rounded corner";
    EXPECT_PIXEL(canvas, 11, 11, kBackground, 0);
    EXPECT_PIXEL(canvas, 5, 40, kBackground, 0);
    EXPECT_PIXEL(canvas, 60, 75, kBackground, 0);
    keepScreenshotOnFailure(canvas, "rounded_fill");
}

TEST_F(Primitives, RadiusZeroIsAPlainRectangle) {
    Canvas canvas(60, 60);
    {
        auto g = canvas.graphics();
        fillRoundRect(*g, RECT{10, 10, 50, 50}, 0, 0xFF00B42A);
    }
    EXPECT_PIXEL(canvas, 11, 11, RGB(0, 180, 42), 1);
    EXPECT_PIXEL(canvas, 48, 48, RGB(0, 180, 42), 1);
    EXPECT_PIXEL(canvas, 30, 30, RGB(0, 180, 42), 1);
    EXPECT_PIXEL(canvas, 55, 55, kBackground, 0);
    keepScreenshotOnFailure(canvas, "radius_zero");
}

TEST_F(Primitives, RoundedPathFollowsTheRectangleWithoutClamping) {
    Gdiplus::GraphicsPath path;
    addRoundRectPath(path, RECT{10, 20, 110, 60}, 8);
    Gdiplus::RectF bounds;
    ASSERT_EQ(Gdiplus::Ok, path.GetBounds(&bounds));
    EXPECT_NEAR(10.0, bounds.X, 0.01);
    EXPECT_NEAR(20.0, bounds.Y, 0.01);
    EXPECT_NEAR(100.0, bounds.Width, 0.01);
    EXPECT_NEAR(40.0, bounds.Height, 0.01);

    Gdiplus::GraphicsPath oversized;
    addRoundRectPath(oversized, RECT{0, 0, 20, 20}, 30);  // d = 60: arcs overshoot the box
    ASSERT_EQ(Gdiplus::Ok, oversized.GetBounds(&bounds));
    EXPECT_LT(bounds.X, -1.0f);
}

TEST_F(Primitives, TranslucentFillsAndOutlinesBlendOverTheBackground) {
    Canvas canvas(120, 80);
    {
        auto g = canvas.graphics();
        fillRectArgb(*g, RECT{10, 10, 50, 40}, 0x465B4DFF);
        fillRoundRect(*g, RECT{60, 10, 110, 70}, 10, Surface);
        strokeRoundRect(*g, RECT{60, 10, 110, 70}, 10, 0xFF000000);
    }
    EXPECT_PIXEL(canvas, 10, 10, blend(0x465B4DFF, kBackground), 1) << "first pixel of the rectangle";
    EXPECT_PIXEL(canvas, 49, 39, blend(0x465B4DFF, kBackground), 1) << "last pixel of the rectangle";
    EXPECT_PIXEL(canvas, 50, 25, kBackground, 0) << "right edge is exclusive";
    EXPECT_PIXEL(canvas, 30, 40, kBackground, 0) << "bottom edge is exclusive";
    EXPECT_PIXEL(canvas, 85, 40, RGB(255, 255, 255), 0) << "inside the outline";
    EXPECT_LT(GetGValue(canvas.pixel(85, 10)), 160) << "the outline runs along the top edge";
    EXPECT_LT(GetGValue(canvas.pixel(60, 40)), 160) << "and along the left edge";
    keepScreenshotOnFailure(canvas, "fills");
}

TEST_F(Primitives, TextIsDrawnInItsColourAndTheDcIsLeftAsItWas) {
    Canvas canvas(200, 40, RGB(255, 255, 255));
    HDC dc = canvas.dc();
    SetTextColor(dc, RGB(1, 2, 3));
    SetBkMode(dc, OPAQUE);
    const HGDIOBJ fontBefore = GetCurrentObject(dc, OBJ_FONT);

    drawText(dc, L"下载管理 Test", RECT{10, 5, 190, 35}, gApp.fontName, RGB(200, 0, 0), DT_SINGLELINE | DT_VCENTER);

    EXPECT_EQ(fontBefore, GetCurrentObject(dc, OBJ_FONT));
    EXPECT_EQ(RGB(1, 2, 3), GetTextColor(dc));
    EXPECT_EQ(OPAQUE, GetBkMode(dc));
    int red = 0, outside = 0;
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            const COLORREF p = canvas.pixel(x, y);
            if (near(p, RGB(200, 0, 0), 40)) ++red;
            const bool inRect = x >= 10 && x < 190 && y >= 5 && y < 35;
            if (!inRect && p != RGB(255, 255, 255)) ++outside;
        }
    }
    EXPECT_GT(red, 20) << "strokes in the text colour";
    EXPECT_EQ(0, outside) << "nothing outside the rectangle";
    EXPECT_PIXEL(canvas, 12, 7, RGB(255, 255, 255), 0) << "transparent background";
    keepScreenshotOnFailure(canvas, "text");
}

TEST_F(Primitives, TextWidthMeasuresInTheGivenFont) {
    Canvas canvas(10, 10);
    EXPECT_EQ(0, textWidth(canvas.dc(), L"", gApp.fontBody));
    const int one = textWidth(canvas.dc(), L"下载", gApp.fontBody);
    EXPECT_GT(one, 10);
    EXPECT_GT(textWidth(canvas.dc(), L"下载下载", gApp.fontBody), one + 10);
    EXPECT_GT(textWidth(canvas.dc(), L"下载", gApp.fontInitial), one) << "32 px letters are wider than 14 px ones";
}

// The application icon.

TEST_F(Primitives, PlaceholderIsATintedRoundedSquareWithTheLetter) {
    auto lists = listsWithApps(3);
    const PaintFrame frame = painttest::frameWith(lists);
    const struct {
        int app;
        int size;
    } cases[] = {{0, 84}, {2, 48}, {1, 44}};
    for (const auto& c : cases) {
        Canvas canvas(120, 120);
        const RECT rect{10, 10, 10 + c.size, 10 + c.size};
        drawIcon(canvas, &lists->apps[c.app], rect, frame);
        const COLORREF colour = placeholderColour(c.app);
        const int radius = placeholderRadius(c.size);
        EXPECT_PIXEL(canvas, 10 + c.size / 2, 13, tint(colour, 14), 1) << "fill, size " << c.size;
        EXPECT_PIXEL(canvas, 13, 10 + c.size / 2, tint(colour, 14), 1) << "fill, size " << c.size;
        EXPECT_PIXEL(canvas, 10, 10, kBackground, 0) << "rounded corner, size " << c.size;
        // Beyond the outline's outer edge, which lies half a pixel outside the radius.
        EXPECT_PIXEL(canvas, 10 + radius / 4 - 1, 10 + radius / 4 - 1, kBackground, 3) << "corner of radius " << radius;
        EXPECT_PIXEL(canvas, 10 + radius, 11, tint(colour, 14), 40) << "straight edge starts at the radius";
        // The outline is the 30 % tint: darker than the fill on the edge line.
        EXPECT_LT(GetGValue(canvas.pixel(10 + c.size / 2, 10)), GetGValue(kBackground) - 8) << "outline";
        int letter = 0;
        for (int y = 10; y < 10 + c.size; ++y) {
            for (int x = 10; x < 10 + c.size; ++x) letter += near(canvas.pixel(x, y), colour, 40) ? 1 : 0;
        }
        EXPECT_GT(letter, 15) << "a letter in the palette colour, size " << c.size;
        keepScreenshotOnFailure(canvas, "placeholder");
    }
}

TEST_F(Primitives, MissingAppOrNameShowsAQuestionMark) {
    App unnamed, questionMark;
    questionMark.name = L"?";
    const PaintFrame frame = painttest::frameWith(nullptr);
    Canvas none(100, 100), empty(100, 100), expected(100, 100);
    const RECT rect{8, 8, 92, 92};
    drawIcon(none, nullptr, rect, frame);
    drawIcon(empty, &unnamed, rect, frame);
    drawIcon(expected, &questionMark, rect, frame);
    int worst = 0;
    EXPECT_EQ(0, differingPixels(none, expected, worst)) << "null app";
    EXPECT_EQ(0, differingPixels(empty, expected, worst)) << "empty name";
    keepScreenshotOnFailure(none, "question_mark");
}

TEST_F(Primitives, IconFetchStartsOnlyForANeverRequestedIconWithALocation) {
    auto lists = listsWithApps(4);
    lists->apps[0].icon = L"/icons/0.png";  // never requested
    lists->apps[1].icon = L"/icons/1.png";
    lists->apps[1].iconState.store(1);      // under way
    lists->apps[2].icon.clear();            // no location
    lists->apps[3].icon = L"/icons/3.png";
    lists->apps[3].iconState.store(3);      // failed before
    const std::wstring server = gApp.config.server;
    gApp.config.server = L"http://127.0.0.1:1";  // refused at once

    PaintFrame quiet = painttest::frameWith(lists);
    Canvas canvas(100, 100);
    drawIcon(canvas, &lists->apps[0], RECT{0, 0, 84, 84}, quiet);
    EXPECT_EQ(0, lists->apps[0].iconState.load()) << "no fetch while fetching is off";

    PaintFrame fetching = painttest::frameWith(lists);
    fetching.fetchIcons = true;
    for (int i = 1; i < 4; ++i) drawIcon(canvas, &lists->apps[i], RECT{0, 0, 84, 84}, fetching);
    EXPECT_EQ(1, lists->apps[1].iconState.load());
    EXPECT_EQ(0, lists->apps[2].iconState.load());
    EXPECT_EQ(3, lists->apps[3].iconState.load());

    drawIcon(canvas, &lists->apps[0], RECT{0, 0, 84, 84}, fetching);
    const int32_t right = lists->apps[0].iconState.load();
    EXPECT_TRUE(right == 1 || right == 3) << "requested: " << right;
    for (int i = 0; i < 200 && lists->apps[0].iconState.load() == 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(3, lists->apps[0].iconState.load()) << "the unreachable server fails the fetch";
    drawIcon(canvas, &lists->apps[0], RECT{0, 0, 84, 84}, fetching);
    EXPECT_EQ(3, lists->apps[0].iconState.load()) << "a failed icon is not asked for again";
    gApp.config.server = server;
}

// At another display scale the kept copies are not of the size drawn: the icon is asked
// for once more at this scale's sizes, and meanwhile drawn from the nearest copy. A size no
// view draws is only drawn so.
TEST_F(Primitives, AnIconDrawnAtAViewSizeNotKeptIsAskedForOnceMore) {
    auto lists = listsWithApps(1);
    const App& app = lists->apps[0];
    lists->apps[0].icon = L"/icons/0.png";
    setIcon(app, twoColourBitmap(64, RGB(230, 20, 20), RGB(20, 20, 230)));
    const std::wstring server = gApp.config.server;
    gApp.config.server = L"http://127.0.0.1:1";  // refused at once: the kept copies stay
    PaintFrame frame = painttest::frameWith(lists);
    frame.fetchIcons = true;

    Canvas stray(100, 100);
    drawIcon(stray, &app, RECT{10, 10, 70, 70}, frame);
    EXPECT_FALSE(keptIcon(app)->refetchAsked.load()) << "no view draws 60 pixels";
    EXPECT_PIXEL(stray, 20, 40, RGB(230, 20, 20), 2);
    EXPECT_PIXEL(stray, 60, 40, RGB(20, 20, 230), 2);

    const ScopedUiDpi scale(144);
    Canvas scaled(140, 140);
    drawIcon(scaled, &app, RECT{5, 5, 131, 131}, frame);  // the card's 126 pixels at 144 DPI
    EXPECT_TRUE(keptIcon(app)->refetchAsked.load());
    EXPECT_PIXEL(scaled, 20, 60, RGB(230, 20, 20), 2);
    EXPECT_PIXEL(scaled, 120, 60, RGB(20, 20, 230), 2);
    EXPECT_EQ(2, app.iconState.load());
    keepScreenshotOnFailure(scaled, "icon_other_scale");
    gApp.config.server = server;
}

TEST_F(Primitives, ReadyIconIsDrawnScaledIntoItsSquare) {
    auto lists = listsWithApps(1);
    const App& app = lists->apps[0];
    setIcon(app, twoColourBitmap(64, RGB(230, 20, 20), RGB(20, 20, 230)));
    const PaintFrame frame = painttest::frameWith(lists);
    for (int pass = 0; pass < 2; ++pass) {  // the second paint draws from the scaled copy
        Canvas canvas(120, 120);
        drawIcon(canvas, &app, RECT{20, 10, 104, 94}, frame);
        EXPECT_PIXEL(canvas, 24, 14, RGB(230, 20, 20), 2) << "pass " << pass;
        EXPECT_PIXEL(canvas, 58, 90, RGB(230, 20, 20), 2);
        EXPECT_PIXEL(canvas, 66, 14, RGB(20, 20, 230), 2);
        EXPECT_PIXEL(canvas, 100, 90, RGB(20, 20, 230), 2);
        EXPECT_PIXEL(canvas, 15, 50, kBackground, 0) << "left of the square";
        EXPECT_PIXEL(canvas, 108, 50, kBackground, 0) << "right of the square";
        EXPECT_PIXEL(canvas, 60, 5, kBackground, 0) << "above the square";
        EXPECT_PIXEL(canvas, 60, 99, kBackground, 0) << "below the square";
        keepScreenshotOnFailure(canvas, "icon_scaled");
    }
    EXPECT_EQ(2, app.iconState.load());
}

// The scaled copy must put down what scaling the bitmap at paint time puts down. Under
// Wine's GDI+ the paint-time mapping is computed in floats from the square's position, so
// the two may differ in two ways only: a sample point of the top row or left column can
// land a hair outside the source, and the direct draw then leaves the background there;
// and an interpolation weight can round the other way, by one step of a channel. Every
// other pixel must be identical.
TEST_F(Primitives, ScaledCopyDrawsTheSamePixelsAsScalingAtPaintTime) {
    auto lists = listsWithApps(1);
    const App& app = lists->apps[0];
    setIcon(app, busyBitmap(256));
    HBITMAP source = busyBitmap(256);
    const PaintFrame frame = painttest::frameWith(lists);
    const struct {
        RECT rect;
        COLORREF background;
    } cases[] = {
        {{13, 7, 97, 91}, RGB(245, 246, 248)},  // card icon, 84 px
        {{31, 22, 79, 70}, RGB(0, 0, 0)},       // download row, 48 px
        {{5, 40, 49, 84}, RGB(255, 255, 255)},  // banner, 44 px
        {{14, 3, 98, 87}, RGB(10, 200, 30)},    // 84 px elsewhere, from the same copy
    };
    for (const auto& c : cases) {
        Canvas cached(110, 100, c.background), direct(110, 100, c.background);
        drawIcon(cached, &app, c.rect, frame);
        drawScaledDirectly(direct, source, c.rect);
        const RECT& r = c.rect;
        const int size = r.right - r.left;
        int same = 0, edge = 0, rounded = 0, wrong = 0;
        std::string where;
        for (int y = 0; y < cached.height(); ++y) {
            for (int x = 0; x < cached.width(); ++x) {
                const COLORREF p = cached.pixel(x, y), q = direct.pixel(x, y);
                const bool in = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
                if (p == q) {
                    same += in ? 1 : 0;
                } else if (in && (x == r.left || y == r.top) && q == c.background) {
                    ++edge;
                } else if (in && near(p, q, 1)) {
                    ++rounded;
                } else if (++wrong <= 8) {
                    where += " (" + std::to_string(x) + "," + std::to_string(y) + ") " + describe(p) + " vs " + describe(q);
                }
            }
        }
        EXPECT_EQ(0, wrong) << size << " px:" << where;
        EXPECT_GE(same, size * size * 9 / 10) << size << " px: " << edge << " edge, " << rounded << " rounded";
        if (wrong) {
            cached.savePng(failurePath("cached_icon"));
            direct.savePng(failurePath("direct_icon"));
        }
    }
    DeleteObject(source);
    ASSERT_NE(nullptr, keptIcon(app));
}

TEST_F(Primitives, ScaledCopyIsReusedAcrossPaints) {
    auto lists = listsWithApps(1);
    const App& app = lists->apps[0];
    setIcon(app, busyBitmap(256));
    const PaintFrame frame = painttest::frameWith(lists);
    Canvas first(110, 100), second(110, 100);
    drawIcon(first, &app, RECT{13, 7, 97, 91}, frame);
    const std::weak_ptr<const IconImage> copies = keptIcon(app);
    drawIcon(second, &app, RECT{13, 7, 97, 91}, frame);
    EXPECT_EQ(copies.lock(), keptIcon(app));
    int worst = 0;
    EXPECT_EQ(0, differingPixels(first, second, worst)) << "worst " << worst;
}

TEST_F(Primitives, ScaledCopiesLiveAndDieWithTheRecord) {
    auto lists = listsWithApps(2);
    setIcon(lists->apps[0], twoColourBitmap(32, RGB(230, 20, 20), RGB(20, 20, 230)));
    std::weak_ptr<const IconImage> copies;
    {
        const PaintFrame frame = painttest::frameWith(lists);
        Canvas canvas(100, 100);
        drawIcon(canvas, &lists->apps[0], RECT{0, 0, 84, 84}, frame);
        drawIcon(canvas, &lists->apps[0], RECT{0, 0, 48, 48}, frame);
        copies = keptIcon(lists->apps[0]);
        EXPECT_FALSE(copies.expired());
        EXPECT_EQ(nullptr, keptIcon(lists->apps[1])) << "a placeholder keeps nothing";

        App moved(std::move(lists->apps[0]));
        EXPECT_EQ(nullptr, keptIcon(lists->apps[0]));
        lists->apps[0] = std::move(moved);
        EXPECT_FALSE(copies.expired()) << "the copies travel with the record";
    }
    gApp.catalog.publish(lists);
    lists.reset();
    EXPECT_FALSE(copies.expired()) << "the published lists still hold the record";
    gApp.catalog.publish(nullptr);  // a reload replaces the lists
    EXPECT_TRUE(copies.expired()) << "released with the record";
}

TEST_F(Primitives, ANewKeptIconReplacesTheScaledCopies) {
    auto lists = listsWithApps(1);
    const App& app = lists->apps[0];
    const PaintFrame frame = painttest::frameWith(lists);
    setIcon(app, twoColourBitmap(32, RGB(230, 20, 20), RGB(230, 20, 20)));
    Canvas first(100, 100), second(100, 100);
    drawIcon(first, &app, RECT{0, 0, 84, 84}, frame);
    setIcon(app, twoColourBitmap(32, RGB(20, 200, 20), RGB(20, 200, 20)));
    drawIcon(second, &app, RECT{0, 0, 84, 84}, frame);
    EXPECT_PIXEL(first, 40, 40, RGB(230, 20, 20), 2);
    EXPECT_PIXEL(second, 40, 40, RGB(20, 200, 20), 2);
}

TEST_F(Primitives, AReadyIconWithNothingKeptGivesThePlaceholder) {
    auto lists = listsWithApps(3);
    const App& app = lists->apps[2];
    keepIcon(app, std::make_shared<IconImage>());
    app.iconState.store(2);
    const PaintFrame frame = painttest::frameWith(lists);
    Canvas canvas(100, 100);
    const RECT rect{8, 8, 92, 92};
    drawIcon(canvas, &app, rect, frame);
    EXPECT_PIXEL(canvas, 50, 11, tint(placeholderColour(2), 14), 1);
    EXPECT_PIXEL(canvas, 8, 8, kBackground, 0);
    EXPECT_EQ(2, app.iconState.load()) << "the state is left alone";
    keepScreenshotOnFailure(canvas, "nothing_kept");
}

// Tool buttons.

TEST_F(Primitives, ToolButtonLooksAtRestHoveredAndActive) {
    const COLORREF header = RGB(90, 66, 231);
    const RECT rect{100, 14, 220, 50};
    const struct {
        const char* name;
        bool hovered, active;
        uint32_t fill;  // 0: nothing filled
        bool border;
        COLORREF label;
    } cases[] = {
        {"rest", false, false, 0, false, ToolLabel},
        {"hovered", true, false, ToolHoverFill, false, TextOnAccent},
        {"active", false, true, ToolActiveFill, true, TextOnAccent},
        {"hovered_active", true, true, ToolActiveFill, true, TextOnAccent},
    };
    for (const auto& c : cases) {
        Canvas canvas(240, 64, header);
        {
            auto g = canvas.graphics();
            drawToolButton(*g, canvas.dc(), rect, L"下载管理", false, c.hovered, c.active, gApp.fontTool);
        }
        const COLORREF fill = c.fill ? blend(c.fill, header) : header;
        EXPECT_PIXEL(canvas, 106, 32, fill, 2) << c.name;
        EXPECT_PIXEL(canvas, 216, 32, fill, 2) << c.name;
        EXPECT_PIXEL(canvas, 100, 14, header, 2) << c.name << ": outside the rounded corner";
        EXPECT_PIXEL(canvas, 160, 8, header, 0) << c.name << ": above the button";
        const COLORREF edge = canvas.pixel(160, 14);
        if (c.border) {
            EXPECT_GT(GetRValue(edge), GetRValue(fill) + 20) << c.name << ": border " << describe(edge);
        } else {
            EXPECT_LE(GetRValue(edge), GetRValue(fill) + 2) << c.name << ": no border " << describe(edge);
        }
        EXPECT_PIXEL(canvas, 121, 28, RGB(255, 255, 255), 12) << c.name << ": the arrow's shaft";
        EXPECT_PIXEL(canvas, 121, 40, RGB(255, 255, 255), 12) << c.name << ": the tray's floor";
        EXPECT_PIXEL(canvas, 113, 38, RGB(255, 255, 255), 12) << c.name << ": the tray's side";
        // The brightest label pixel is the label colour.
        COLORREF brightest = 0;
        for (int y = 14; y < 50; ++y) {
            for (int x = 136; x < 214; ++x) {
                const COLORREF p = canvas.pixel(x, y);
                if (GetRValue(p) + GetGValue(p) + GetBValue(p) > GetRValue(brightest) + GetGValue(brightest) + GetBValue(brightest))
                    brightest = p;
            }
        }
        EXPECT_TRUE(near(brightest, c.label, 4)) << c.name << ": label " << describe(brightest);
        keepScreenshotOnFailure(canvas, c.name);
    }
}

TEST_F(Primitives, GearToolButtonDrawsARingWithSpokes) {
    const COLORREF header = RGB(90, 66, 231);
    Canvas canvas(240, 64, header);
    {
        auto g = canvas.graphics();
        drawToolButton(*g, canvas.dc(), RECT{100, 14, 220, 50}, L"下载设置", true, false, false, gApp.fontTool);
    }
    EXPECT_PIXEL(canvas, 121, 28, RGB(255, 255, 255), 30) << "top of the ring";
    EXPECT_PIXEL(canvas, 121, 32, header, 2) << "the hole";
    EXPECT_PIXEL(canvas, 127, 32, RGB(255, 255, 255), 30) << "spoke at 0 degrees";
    EXPECT_PIXEL(canvas, 121, 38, RGB(255, 255, 255), 30) << "spoke at 90 degrees";
    EXPECT_PIXEL(canvas, 113, 38, header, 2) << "no tray";
    keepScreenshotOnFailure(canvas, "gear_tool");
}

}  // namespace

// Kept parts: a copy puts down what drawing puts down; a new look, size, lists or scale
// draws again; what is kept stays bounded and goes when released.

TEST_F(Primitives, KeptBoxesCopyWhatDrawingPutsDown) {
    const struct {
        RECT rect;
        int radius;
        uint32_t fill, outline;
        COLORREF background;
    } cases[] = {
        {{14, 9, 234, 243}, 10, 0xFFFFFFFF, 0x26E5E6EB, RGB(245, 246, 248)},  // a card
        {{20, 30, 116, 56}, 13, 0xFFFFFFFF, 0xFFE5E6EB, RGB(245, 246, 248)},  // a panel button
        {{3, 4, 79, 34}, 15, 0xFFFFFFFF, 0x4C5B4DFF, RGB(255, 255, 255)},     // over a row's surface
    };
    const Canvas probe(1, 1);
    beginFacePaint(painttest::frameWith(nullptr), probe.dc());
    for (const auto& c : cases) {
        Canvas kept(250, 260, c.background), twice(250, 260, c.background), drawn(250, 260, c.background);
        {
            auto g = kept.graphics();
            drawOutlinedBox(*g, kept.dc(), c.rect, c.radius, c.fill, c.outline, c.background);
        }
        const unsigned before = faceCounts().drawn;
        {
            auto g = twice.graphics();
            drawOutlinedBox(*g, twice.dc(), c.rect, c.radius, c.fill, c.outline, c.background);
        }
        EXPECT_EQ(before, faceCounts().drawn) << "the second box is a copy";
        {
            auto g = drawn.graphics();
            fillRoundRect(*g, c.rect, c.radius, c.fill);
            strokeRoundRect(*g, c.rect, c.radius, c.outline);
        }
        int worst = 0;
        const int differing = differingPixels(kept, drawn, worst);
        std::string where;
        for (int y = 0, shown = 0; y < kept.height(); ++y)
            for (int x = 0; x < kept.width(); ++x)
                if (!near(kept.pixel(x, y), drawn.pixel(x, y), 2) && ++shown <= 12)
                    where += " (" + std::to_string(x) + "," + std::to_string(y) + ") " + describe(kept.pixel(x, y)) + " vs " + describe(drawn.pixel(x, y));
        EXPECT_LE(worst, 2) << differing << " pixels differ:" << where;
        EXPECT_EQ(0, differingPixels(kept, twice, worst));
        if (worst > 2) {
            kept.savePng(failurePath("kept_box"));
            drawn.savePng(failurePath("drawn_box"));
        }
    }
}

TEST_F(Primitives, KeptFacesFollowTheirLookTheListsAndTheScale) {
    auto lists = listsWithApps(1);
    Canvas canvas(120, 120);
    beginFacePaint(painttest::frameWith(lists), canvas.dc());
    auto g = canvas.graphics();
    int painted = 0;
    const auto paint = [&](Gdiplus::Graphics& graphics, HDC) {
        ++painted;
        fillRectArgb(graphics, RECT{0, 0, 40, 40}, 0xFF336699);
    };
    const RECT where{10, 10, 50, 50};
    ASSERT_TRUE(drawFace(*g, canvas.dc(), where, L"card", L"look 1", RGB(245, 246, 248), paint));
    ASSERT_TRUE(drawFace(*g, canvas.dc(), RECT{60, 60, 100, 100}, L"card", L"look 1", RGB(245, 246, 248), paint));
    EXPECT_EQ(1, painted) << "the same look is copied, wherever it goes";
    EXPECT_EQ(RGB(0x33, 0x66, 0x99), canvas.pixel(80, 80));
    drawFace(*g, canvas.dc(), where, L"card", L"look 2", RGB(245, 246, 248), paint);
    EXPECT_EQ(2, painted) << "a new look";
    drawFace(*g, canvas.dc(), RECT{10, 10, 51, 50}, L"card", L"look 2", RGB(245, 246, 248), paint);
    EXPECT_EQ(3, painted) << "a new size";
    beginFacePaint(painttest::frameWith(lists), canvas.dc());
    drawFace(*g, canvas.dc(), RECT{10, 10, 51, 50}, L"card", L"look 2", RGB(245, 246, 248), paint);
    EXPECT_EQ(3, painted) << "the same lists keep it";
    beginFacePaint(painttest::frameWith(listsWithApps(1)), canvas.dc());
    drawFace(*g, canvas.dc(), RECT{10, 10, 51, 50}, L"card", L"look 2", RGB(245, 246, 248), paint);
    EXPECT_EQ(4, painted) << "other lists";
    {
        const ScopedUiDpi scale(144);
        beginFacePaint(painttest::frameWith(lists), canvas.dc());
        drawFace(*g, canvas.dc(), RECT{10, 10, 51, 50}, L"card", L"look 2", RGB(245, 246, 248), paint);
        EXPECT_EQ(5, painted) << "another scale";
    }
    setFaceCaching(false);
    EXPECT_FALSE(drawFace(*g, canvas.dc(), where, L"card", L"look 2", RGB(245, 246, 248), paint));
    setFaceCaching(true);
    EXPECT_EQ(5, painted);
}

TEST_F(Primitives, KeptFacesAreBoundedAndReleased) {
    Canvas canvas(300, 300);
    beginFacePaint(painttest::frameWith(nullptr), canvas.dc());
    auto g = canvas.graphics();
    const auto paint = [](Gdiplus::Graphics& graphics, HDC) { fillRectArgb(graphics, RECT{0, 0, 250, 250}, 0xFF808080); };
    for (int i = 0; i < 1000; ++i) {
        drawFace(*g, canvas.dc(), RECT{0, 0, 250, 250}, L"face " + std::to_wstring(i), L"look", RGB(0, 0, 0), paint);
    }
    const FaceCounts kept = faceCounts();
    EXPECT_LE(kept.faces, 128u);
    EXPECT_LE(kept.bytes, size_t(24) << 20);
    EXPECT_GT(kept.faces, 0u);
    EXPECT_FALSE(drawFace(*g, canvas.dc(), RECT{0, 0, 1000, 1000}, L"huge", L"look", RGB(0, 0, 0), paint))
        << "a part larger than a card or row is drawn, not kept";
    releaseFaces();
    EXPECT_EQ(0u, faceCounts().faces);
    EXPECT_EQ(0u, faceCounts().bytes);
}
