// The first paint's warm-up: what it readies ahead is what the first paint would have made.
#include "app/warm_up.h"

#include <gtest/gtest.h>

#include "app/kept_logo.h"
#include "app/main_view.h"
#include "app/scratch_folder.h"
#include "catalog/catalog_cache.h"
#include "app/object_census.h"
#include "catalog/catalog.h"
#include "startup_marks.h"
#include "ui/paint_support.h"

using painttest::Canvas;

namespace {

std::shared_ptr<const CatalogLists> oneApp() {
    auto lists = std::make_shared<CatalogLists>();
    lists->categories.push_back({L"1", L"办公软件"});
    lists->apps.emplace_back();
    lists->apps.back().id = 1;
    lists->apps.back().name = L"文字处理";
    lists->apps.back().categoryIds = {L"1"};
    return lists;
}

std::unique_ptr<Canvas> paintOnce(const std::shared_ptr<const CatalogLists>& lists) {
    auto canvas = std::make_unique<Canvas>(1180, 780, RGB(0, 0, 0));
    paintMainViewFrame(canvas->dc(), RECT{0, 0, 1180, 780}, painttest::frameWith(lists));
    return canvas;
}

}  // namespace

TEST(KeptLogo, DrawnOnceThenReadFromDiskPaintsAsTheDecodedOneWithoutDecodingIt) {
    painttest::ensureGraphics();
    painttest::resetViewState();
    gApp.selectedCategoryId = L"1";
    const auto lists = oneApp();
    ScratchFolder folder(L"kept_logo");
    setCacheFolder(folder.path());
    const HMODULE module = GetModuleHandleW(nullptr);
    const SIZE size = logoSize();

    releasePaintCaches();
    gApp.logoImage.reset();
    gApp.logoState = LogoState::NotTried;
    const auto decoded = paintOnce(lists);
    ASSERT_EQ(gApp.logoState, LogoState::Loaded);

    EXPECT_FALSE(readKeptLogo(module, size.cx, size.cy)) << "nothing kept yet";
    const auto drawn = scaleLogo(*gApp.logoImage, size.cx, size.cy);
    ASSERT_TRUE(drawn);
    const IconCopy pixels = drawnPixels(*drawn);
    ASSERT_TRUE(keepLogo(module, pixels));
    auto kept = readKeptLogo(module, size.cx, size.cy);
    ASSERT_TRUE(kept);
    EXPECT_EQ(drawnPixels(*kept).pixels, pixels.pixels);
    EXPECT_FALSE(readKeptLogo(module, size.cx + 1, size.cy + 1)) << "another scale's size";
    EXPECT_FALSE(readKeptLogo(GetModuleHandleW(L"kernel32.dll"), size.cx, size.cy)) << "no logo resource";

    // Handed in alone, the drawing paints the header as the decoded logo did.
    releasePaintCaches();
    gApp.logoImage.reset();
    gApp.logoState = LogoState::NotTried;
    keepDrawnLogo(std::move(kept));
    const auto fromDisk = paintOnce(lists);
    EXPECT_EQ(gApp.logoState, LogoState::NotTried) << "the original was not decoded";
    int differing = 0;
    for (int y = 0; y < 780; ++y)
        for (int x = 0; x < 1180; ++x)
            if (fromDisk->pixel(x, y) != decoded->pixel(x, y)) ++differing;
    EXPECT_EQ(differing, 0);
    releasePaintCaches();
    setCacheFolder(std::wstring());
}

TEST(FirstPaintWarmUp, TheLogoDecodedAheadPaintsAsTheOneDecodedAtThePaint) {
    painttest::ensureGraphics();
    painttest::resetViewState();
    gApp.selectedCategoryId = L"1";
    const auto lists = oneApp();

    // Without a warm-up started, nothing is handed over.
    gApp.logoImage.reset();
    gApp.logoState = LogoState::NotTried;
    adoptWarmedLogo();
    EXPECT_EQ(gApp.logoState, LogoState::NotTried);

    // Decoded at the paint, as without a warm-up.
    releasePaintCaches();
    const auto atPaint = paintOnce(lists);
    ASSERT_EQ(gApp.logoState, LogoState::Loaded);

    startFirstPaintWarmUp(1180, 780);
    // A logo already tried is kept as it is.
    gApp.logoImage.reset();
    gApp.logoState = LogoState::Unavailable;
    adoptWarmedLogo();
    EXPECT_EQ(gApp.logoState, LogoState::Unavailable);
    EXPECT_FALSE(gApp.logoImage);

    releasePaintCaches();
    gApp.logoState = LogoState::NotTried;
    adoptWarmedLogo();
    ASSERT_EQ(gApp.logoState, LogoState::Loaded);
    ASSERT_TRUE(gApp.logoImage);
    EXPECT_EQ(gApp.logoImage->GetWidth(), 256u);
    EXPECT_EQ(gApp.logoImage->GetHeight(), 256u);

    // The worker's drawing at the box's size is the one the paint copies.
    const auto ahead = paintOnce(lists);
    int differing = 0;
    for (int y = 0; y < 780; ++y)
        for (int x = 0; x < 1180; ++x)
            if (ahead->pixel(x, y) != atPaint->pixel(x, y)) ++differing;
    EXPECT_EQ(differing, 0);

    // Handed over once: a second adoption finds nothing.
    gApp.logoImage.reset();
    gApp.logoState = LogoState::NotTried;
    adoptWarmedLogo();
    EXPECT_EQ(gApp.logoState, LogoState::NotTried);
}

TEST(FirstPaintWarmUp, EndsAfterTheFirstPaintAndLeavesNoObjects) {
    painttest::ensureGraphics();
    startFirstPaintWarmUp(1180, 780);  // once per process: started here or by the test above
    const ObjectCensus before = takeCensus();
    markStartup(StartupMark::FirstPaint);
    ASSERT_TRUE(waitForFirstPaintWarmUp(5000));
    EXPECT_LE(takeCensus().gdiObjects, before.gdiObjects);
    painttest::resetViewState();
}
