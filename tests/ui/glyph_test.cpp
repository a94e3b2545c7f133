// The sidebar's pictograms, drawn into a memory canvas and probed at characteristic
// points: the body in the main colour, the details in translucent white over it, the
// background around them. A failed probe leaves a PNG of the canvas in the test's
// build folder.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "paint_support.h"
#include "ui/scale.h"

using painttest::blend;
using painttest::Canvas;
using painttest::describe;
using painttest::near;

namespace {

const COLORREF kBackground = RGB(245, 246, 248);
const uint32_t kDetail = 0xE8FFFFFF;

// A point in multiples of r from the centre and what should be there: 'M' the body,
// 'D' a detail over the body, 'B' the background. Fine points are probed only at sizes
// where the feature is several pixels across.
struct Probe {
    float dx, dy;
    char what;
    bool fine = false;
};

struct Glyph {
    int kind;
    COLORREF colour;
    const char* name;
    std::vector<Probe> probes;
};

const std::vector<Glyph>& glyphs() {
    static const std::vector<Glyph> table = {
        {0, RGB(52, 125, 255), "shield",
         {{0, -0.5f, 'M'}, {-0.6f, -0.6f, 'M'}, {0.6f, -0.3f, 'M'}, {0.165f, 0.03f, 'D'}, {-0.215f, 0.17f, 'D', true},
          {0.8f, 0.6f, 'B'}, {0, -0.95f, 'B'}, {-0.6f, 0.7f, 'B'}}},
        {1, RGB(38, 172, 120), "speech bubble",
         {{0.6f, 0.2f, 'M'}, {-0.6f, 0.2f, 'M'}, {0, -0.5f, 'M'}, {-0.33f, -0.15f, 'D', true}, {0, -0.15f, 'D', true},
          {0.33f, -0.15f, 'D', true}, {-0.25f, 0.48f, 'M', true}, {0.9f, 0.6f, 'B'}, {0.4f, 0.7f, 'B'}, {0, -0.9f, 'B'}}},
        {2, RGB(0, 145, 178), "globe",
         {{-0.601f, -0.601f, 'M'}, {0.601f, 0.601f, 'M'}, {0.6f, 0, 'M'}, {0.269f, -0.601f, 'M', true},
          {-0.6f, 0.3f, 'B'}, {0, 0.4f, 'B'}, {0.95f, 0.95f, 'B'}}},
        {3, RGB(232, 88, 108), "play button",
         {{0.5f, -0.5f, 'M'}, {-0.5f, 0.5f, 'M'}, {-0.033f, 0, 'D'}, {0.92f, 0.92f, 'B'}, {-0.92f, -0.92f, 'B'}}},
        {4, RGB(70, 145, 250), "document",
         {{-0.5f, -0.5f, 'M'}, {0.45f, 0.75f, 'M'}, {0, -0.07f, 'D'}, {0, 0.25f, 'D'}, {0, 0.57f, 'D'},
          {0.5f, -0.75f, 'B'}, {0.8f, 0, 'B'}, {-0.8f, 0, 'B'}}},
        {5, RGB(120, 130, 145), "keyboard",
         {{-0.75f, 0, 'M'}, {0.75f, 0, 'M'}, {0.085f, -0.195f, 'D', true}, {-0.535f, 0.165f, 'D', true},
          {0, 0.39f, 'D', true}, {0, 0.75f, 'B'}, {0, -0.75f, 'B'}}},
        {6, RGB(210, 145, 50), "archive",
         {{0.5f, 0, 'M'}, {-0.5f, 0.6f, 'M'}, {0, 0, 'D'}, {0, -0.6f, 'D'}, {-0.18f, -0.52f, 'D', true},
          {0.18f, -0.39f, 'D', true}, {0.85f, 0, 'B'}, {0, 0.95f, 'B'}}},
        {7, RGB(96, 108, 128), "gear",
         {{0.4f, 0, 'M'}, {0, -0.4f, 'M'}, {0.75f, 0, 'M', true}, {0, 0.75f, 'M', true}, {0, 0, 'D'},
          {0.693f, 0.287f, 'B', true}, {0.95f, 0.95f, 'B'}}},
        {8, RGB(0, 158, 140), "chip",
         {{0, 0, 'M'}, {0.45f, 0.45f, 'M'}, {0, -0.28f, 'D'}, {0.28f, 0, 'D'}, {0.75f, 0, 'M'}, {0, -0.75f, 'M'},
          {0.75f, 0.17f, 'B', true}, {0.95f, 0.95f, 'B'}}},
        {9, RGB(91, 77, 255), "two screens",
         {{-0.575f, -0.75f, 'M'}, {0.575f, 0.75f, 'M'}, {0.125f, 0.115f, 'M'}, {-0.575f, -0.475f, 'B', true},
          {0.575f, 0.475f, 'B', true}, {-0.5f, 0.5f, 'B'}, {0.6f, -0.6f, 'B'}}},
        {10, RGB(200, 120, 60), "circular arrow",
         {{0, -0.7f, 'M'}, {0.7f, 0, 'M'}, {-0.747f, -0.32f, 'M', true}, {0.061f, 0.697f, 'B'}, {0, 0, 'B'},
          {0.9f, 0.9f, 'B'}}},
        {11, RGB(150, 100, 220), "gamepad",
         {{-0.6f, 0.2f, 'M'}, {0.6f, 0.2f, 'M'}, {0, 0.4f, 'M'}, {0.295f, -0.145f, 'D', true},
          {0.295f, 0.145f, 'D', true}, {-0.2f, -0.025f, 'D', true}, {0, 0.6f, 'B'}, {0, -0.6f, 'B'}}},
        {12, RGB(42, 160, 200), "picture",
         {{0, -0.68f, 'M'}, {-0.24f, -0.28f, 'M'}, {-0.4f, 0.18f, 'M'}, {0.5f, 0.18f, 'M', true}, {0.5f, -0.4f, 'B'},
          {0, 0.3f, 'B', true}, {0, 0.85f, 'B'}}},
        {13, RGB(235, 105, 70), "film strip",
         {{0, 0, 'M'}, {0.8f, 0, 'M'}, {-0.465f, -0.4f, 'M', true}, {-0.67f, -0.4f, 'D', true},
          {0.56f, 0.4f, 'D', true}, {0, 0.8f, 'B'}, {0, -0.8f, 'B'}}},
        {14, RGB(0, 168, 125), "robot",
         {{0, -0.35f, 'M'}, {0.6f, 0.3f, 'M'}, {0, -0.68f, 'M', true}, {0, -0.9f, 'M', true}, {-0.29f, -0.13f, 'D'},
          {0.29f, -0.13f, 'D'}, {0, 0.17f, 'D', true}, {0.5f, -0.8f, 'B'}, {0, 0.8f, 'B'}}},
        {15, RGB(230, 100, 170), "pencil",
         {{0, 0, 'M'}, {0.47f, -0.68f, 'M'}, {-0.703f, 0.517f, 'M', true}, {0.5f, 0.5f, 'B'}, {-0.5f, -0.5f, 'B'},
          {0.85f, -0.2f, 'B'}}},
        {16, RGB(130, 140, 155), "four discs",
         {{-0.31f, -0.31f, 'M'}, {0.31f, -0.31f, 'M'}, {-0.31f, 0.31f, 'M'}, {0.31f, 0.31f, 'M'}, {0, 0, 'B'},
          {0.9f, 0, 'B'}, {0, -0.9f, 'B'}}},
    };
    return table;
}

// A canvas with one glyph drawn in rect.
struct Drawn {
    Canvas canvas;
    Drawn(int kind, const RECT& rect, COLORREF colour) : canvas(100, 100, kBackground) {
        auto g = canvas.graphics();
        drawGlyphIcon(*g, kind, rect, colour);
    }
};

RECT squareOf(int size) { return RECT{50 - size / 2, 50 - size / 2, 50 + (size + 1) / 2, 50 + (size + 1) / 2}; }

std::wstring screenshotName(const std::string& what) {
    std::wstring name = L"ui_tests_glyph_";
    for (char c : what) name.push_back(c == ' ' ? L'_' : static_cast<wchar_t>(c));
    return name + L".png";
}

int differingPixels(const Canvas& a, const Canvas& b) {
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) count += a.pixel(x, y) == b.pixel(x, y) ? 0 : 1;
    }
    return count;
}

TEST(GlyphIcons, EveryPictogramHasItsBodyDetailsAndBackgroundWhereItsShapesLie) {
    painttest::ensureGraphics();
    for (const Glyph& glyph : glyphs()) {
        for (int size : {20, 64}) {
            const RECT rect = squareOf(size);
            Drawn drawn(glyph.kind, rect, glyph.colour);
            const float cx = rect.left + size / 2.0f, cy = rect.top + size / 2.0f, r = size / 2.0f;
            const int failuresBefore = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
            for (const Probe& p : glyph.probes) {
                if (p.fine && size < 40) continue;
                // Pixel (x, y) spans x .. x + 1: the one holding the point.
                const int x = static_cast<int>(std::floor(cx + p.dx * r)), y = static_cast<int>(std::floor(cy + p.dy * r));
                const COLORREF expected = p.what == 'M'   ? glyph.colour
                                          : p.what == 'D' ? blend(kDetail, glyph.colour)
                                                          : kBackground;
                const int tolerance = p.what == 'B' ? 4 : size < 40 ? 24 : 12;
                const COLORREF got = drawn.canvas.pixel(x, y);
                EXPECT_TRUE(near(got, expected, tolerance))
                    << glyph.name << " at " << size << " px, " << p.what << " at (" << p.dx << "r, " << p.dy << "r) = pixel ("
                    << x << "," << y << "): " << describe(got) << ", expected " << describe(expected);
            }
            if (::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count() != failuresBefore)
                drawn.canvas.savePng(screenshotName(std::string(glyph.name) + "_" + std::to_string(size)));
        }
    }
}

TEST(GlyphIcons, NothingIsDrawnOutsideTheSquare) {
    painttest::ensureGraphics();
    for (const Glyph& glyph : glyphs()) {
        const RECT rect = squareOf(64);
        Drawn drawn(glyph.kind, rect, glyph.colour);
        int outside = 0;
        for (int y = 0; y < 100; ++y) {
            for (int x = 0; x < 100; ++x) {
                const bool near_square = x >= rect.left - 1 && x <= rect.right && y >= rect.top - 1 && y <= rect.bottom;
                if (!near_square && drawn.canvas.pixel(x, y) != kBackground) ++outside;
            }
        }
        EXPECT_EQ(0, outside) << glyph.name;
        if (outside) drawn.canvas.savePng(screenshotName(std::string(glyph.name) + "_outside"));
    }
}

TEST(GlyphIcons, AWideRectangleGivesASquareGlyphOfHalfItsHeightAtItsCentre) {
    painttest::ensureGraphics();
    for (const Glyph& glyph : glyphs()) {
        Drawn wide(glyph.kind, RECT{30, 40, 70, 60}, glyph.colour);    // 40 x 20: r = 10, centre (50, 50)
        Drawn square(glyph.kind, RECT{40, 40, 60, 60}, glyph.colour);  // 20 x 20, same centre
        Drawn tall(glyph.kind, RECT{40, 30, 60, 70}, glyph.colour);    // 20 x 40
        EXPECT_EQ(0, differingPixels(wide.canvas, square.canvas)) << glyph.name << ", wide";
        EXPECT_EQ(0, differingPixels(tall.canvas, square.canvas)) << glyph.name << ", tall";
        if (::testing::Test::HasFailure()) {
            wide.canvas.savePng(screenshotName(std::string(glyph.name) + "_wide"));
            return;
        }
    }
}

TEST(GlyphIcons, KindsOutsideTheTableDrawTheFourDiscs) {
    painttest::ensureGraphics();
    const COLORREF colour = RGB(130, 140, 155);
    const RECT rect = squareOf(64);
    Drawn neutral(16, rect, colour);
    for (int kind : {-1, 99, 17, -1000}) {
        Drawn other(kind, rect, colour);
        EXPECT_EQ(0, differingPixels(neutral.canvas, other.canvas)) << "kind " << kind;
    }
    Drawn shield(0, rect, colour);
    EXPECT_GT(differingPixels(neutral.canvas, shield.canvas), 200);
}

TEST(GlyphIcons, GearAndChipAreDifferentPictograms) {
    painttest::ensureGraphics();
    const RECT rect = squareOf(64);
    Drawn gear(7, rect, RGB(0, 158, 140)), chip(8, rect, RGB(0, 158, 140));
    EXPECT_GT(differingPixels(gear.canvas, chip.canvas), 300);
    const COLORREF hole = blend(kDetail, RGB(0, 158, 140));
    EXPECT_TRUE(near(gear.canvas.pixel(50, 50), hole, 12)) << "the gear has a white hole";
    EXPECT_TRUE(near(chip.canvas.pixel(50, 50), RGB(0, 158, 140), 12)) << "the chip's die is only outlined";
}

// The picture frame's corners keep a 3 px radius at every size: the corner of the frame,
// taken from its truncated top-left, looks the same at every size.
TEST(GlyphIcons, PictureFrameKeepsAThreePixelCornerAtEverySize) {
    painttest::ensureGraphics();
    const COLORREF colour = RGB(42, 160, 200);
    std::vector<COLORREF> reference;
    for (int size : {20, 32, 64, 96}) {
        Canvas canvas(120, 120, kBackground);
        const RECT rect{10, 10, 10 + size, 10 + size};
        {
            auto g = canvas.graphics();
            drawGlyphIcon(*g, 12, rect, colour);
        }
        const float c = 10 + size / 2.0f, r = size / 2.0f;
        const int left = static_cast<int>(c - 0.85f * r), top = static_cast<int>(c - 0.68f * r);
        std::vector<COLORREF> corner;
        int clear = 0;
        for (int y = top - 1; y < top + 5; ++y) {
            for (int x = left - 1; x < left + 5; ++x) {
                corner.push_back(canvas.pixel(x, y));
                clear += canvas.pixel(x, y) == kBackground ? 1 : 0;
            }
        }
        EXPECT_TRUE(near(canvas.pixel(left + 5, top), colour, 24)) << size << " px: straight top edge";
        EXPECT_TRUE(near(canvas.pixel(left, top + 5), colour, 24)) << size << " px: straight left edge";
        EXPECT_EQ(kBackground, canvas.pixel(left - 1, top - 1)) << size << " px: rounded off";
        EXPECT_GE(clear, 12) << size << " px: the inside and the rounded-off corner";
        if (reference.empty()) reference = corner;
        EXPECT_TRUE(corner == reference) << size << " px: the corner differs from the 20 px one";
        if (::testing::Test::HasFailure()) {
            canvas.savePng(screenshotName("picture_corner_" + std::to_string(size)));
            return;
        }
    }
}

// At twice the display scale a glyph in a box twice as large is the same picture twice as
// large: its strokes are twice as wide too, so it covers about four times the pixels (the
// antialiased fringe makes the small one count a little less).
TEST(GlyphIcons, StrokesGrowWithTheDisplayScale) {
    painttest::ensureGraphics();
    const struct {
        int kind;
        const char* name;
    } strokeGlyphs[] = {{2, "globe"}, {9, "remote"}, {10, "backup"}, {15, "design"}};
    auto inkOf = [](const Canvas& canvas) {
        int ink = 0;
        for (int y = 0; y < canvas.height(); ++y)
            for (int x = 0; x < canvas.width(); ++x) ink += near(canvas.pixel(x, y), kBackground, 24) ? 0 : 1;
        return ink;
    };
    for (const auto& glyph : strokeGlyphs) {
        const COLORREF colour = RGB(0, 145, 178);
        const Drawn plain(glyph.kind, squareOf(20), colour);
        int doubled = 0;
        {
            ScopedUiDpi scale(192);
            const Drawn large(glyph.kind, squareOf(40), colour);
            doubled = inkOf(large.canvas);
        }
        const int single = inkOf(plain.canvas);
        ASSERT_GT(single, 20) << glyph.name;
        EXPECT_GE(doubled, single * 7 / 2) << glyph.name << ": " << single << " pixels at 96 DPI, " << doubled << " at 192";
        EXPECT_LE(doubled, single * 6) << glyph.name << ": " << single << " pixels at 96 DPI, " << doubled << " at 192";
    }
}

}  // namespace
