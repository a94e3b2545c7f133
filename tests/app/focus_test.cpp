// The focus model over plain data: reading order, Tab and arrow moves, where focus goes
// when its area disappears, scrolling the focused area into view, the key map and the
// ring's shape.
#include <gtest/gtest.h>

#include <vector>

#include "app/focus.h"
#include "ui/layout.h"
#include "ui/looks.h"

namespace {

constexpr int W = 1180, H = 780;

// Where the layout puts card i's button in the unscrolled W x H window.
RECT cardButton(int i) {
    const RECT area = gridArea(W, H);
    const GridGeometry g = gridGeometry(area, true, i + 1, 0);
    return gridButtonRect(g, gridCardRect(g, area, i));
}

// The header areas as the main view records them: caption buttons first, then the tools.
std::vector<HitRect> headerHits() {
    return {HitRect{{W - 138, 0, W - 92, 64}, HitMinimize, 0}, HitRect{{W - 92, 0, W - 46, 64}, HitMaximize, 0},
            HitRect{{W - 46, 0, W, 64}, HitClose, 0}, HitRect{{W - 370, 14, W - 266, 50}, HitDownloadsTool, 0},
            HitRect{{W - 256, 14, W - 152, 50}, HitSettingsTool, 0}};
}

FocusInput catalogInput(int categories, int cards) {
    FocusInput in;
    in.hits = headerHits();
    in.width = W;
    in.height = H;
    in.categoryCount = categories;
    for (int i = 0; i < cards; ++i) in.cardIds.push_back(100 + i);
    return in;
}

TaskInfo task(int32_t id, int state, bool archive = false) {
    TaskInfo t;
    t.appId = id;
    t.name = L"应用" + std::to_wstring(id);
    t.state = state;
    t.isArchive = archive;
    return t;
}

// Downloading 3 ("取消"), a finished installer 5 ("打开文件夹", "安装"), failed 9 ("重试").
FocusInput panelInput() {
    FocusInput in;
    in.hits = headerHits();
    in.hits.push_back(HitRect{{W - 120, 86, W - 24, 112}, HitPanelClear, 0});
    in.hits.push_back(HitRect{{W - 102, 120, W - 24, 146}, HitPanelOpenDir, 0});
    in.hits.push_back(HitRect{{W - 188, 120, W - 110, 146}, HitPanelChangeDir, 0});
    in.width = W;
    in.height = H;
    in.viewMode = 1;
    in.categoryCount = 2;
    in.tasks = {task(3, 0), task(5, 2), task(9, 3)};
    return in;
}

FocusKey key(int kind, int id = 0, int nth = 0) { return FocusKey{kind, id, nth}; }
FocusKey card(int index) { return key(HitCardButton, 100 + index); }

std::vector<int> kindsOf(const std::vector<FocusItem>& items) {
    std::vector<int> kinds;
    for (const FocusItem& item : items) kinds.push_back(item.key.kind);
    return kinds;
}

const FocusItem& itemOf(const std::vector<FocusItem>& items, const FocusKey& k) {
    const int index = findFocus(items, k);
    EXPECT_GE(index, 0);
    return items[size_t(index < 0 ? 0 : index)];
}

TEST(FocusOrder, ReadsHeaderToolsCaptionSidebarCardsThenBanner) {
    FocusInput in = catalogInput(3, 2);
    in.hits.push_back(HitRect{{W - 356, H - 104, W - 20, H - 20}, HitBanner, 0});
    const std::vector<int> expected = {HitDownloadsTool, HitSettingsTool, HitMinimize, HitMaximize, HitClose,
                                       HitSidebarRow,    HitSidebarRow,   HitSidebarRow, HitCardButton, HitCardButton,
                                       HitBanner};
    EXPECT_EQ(kindsOf(focusOrder(in)), expected);
}

TEST(FocusOrder, ContentFollowsTheViewState) {
    FocusInput loading = catalogInput(2, 4);
    loading.loading = true;
    EXPECT_EQ(focusOrder(loading).size(), 7u) << "nothing to press in the content while loading";

    FocusInput failed = catalogInput(0, 0);
    failed.failed = true;
    failed.hits.push_back(HitRect{{630, 294, 750, 326}, HitReload, 0});
    const auto order = focusOrder(failed);
    ASSERT_EQ(order.size(), 6u);
    EXPECT_EQ(order.back().key, key(HitReload));
    EXPECT_EQ(order.back().region, FocusRegion::Content);
}

TEST(FocusOrder, PanelButtonsLineByLineLeftToRight) {
    const auto order = focusOrder(panelInput());
    std::vector<FocusKey> content;
    for (const FocusItem& item : order) {
        if (item.region == FocusRegion::Content) content.push_back(item.key);
    }
    const std::vector<FocusKey> expected = {key(HitPanelClear),       key(HitPanelChangeDir),  key(HitPanelOpenDir),
                                            key(HitPanelCancel, 3),   key(HitPanelFolder, 5),  key(HitPanelInstall, 5),
                                            key(HitPanelRetry, 9)};
    EXPECT_EQ(content, expected);
    // The first row's "取消" where the panel paints it: W - 112 .. W - 36 at row top 158 + 28.
    const FocusItem& cancel = itemOf(order, key(HitPanelCancel, 3));
    EXPECT_EQ(cancel.rect.left, W - 112);
    EXPECT_EQ(cancel.rect.top, 186);
    EXPECT_EQ(cancel.rect.bottom, 216);
    EXPECT_TRUE(cancel.onScreen);
}

TEST(FocusOrder, CardsInGridOrderWithTheirPaintedButtons) {
    const auto order = focusOrder(catalogInput(0, 10));
    const FocusItem& first = itemOf(order, card(0));
    const RECT button = cardButton(0);
    EXPECT_EQ(first.rect.left, button.left);
    EXPECT_EQ(first.rect.top, button.top);
    EXPECT_EQ(first.rect.right, button.right);
    EXPECT_EQ(first.rect.bottom, button.bottom);
    EXPECT_TRUE(first.onScreen);
    const FocusItem& sixth = itemOf(order, card(5));
    EXPECT_EQ(sixth.line, 1);
    EXPECT_EQ(sixth.column, 1);
    // Four columns: the third row's buttons lie below the window's bottom.
    EXPECT_FALSE(itemOf(order, card(8)).onScreen);
    EXPECT_EQ(itemOf(order, card(8)).rect.top, cardButton(8).top);
    EXPECT_GE(cardButton(8).top, H);
}

TEST(FocusOrder, ScrolledAwaySidebarRowsStayInTheOrderOffScreen) {
    FocusInput in = catalogInput(20, 0);
    in.sidebarScroll = 60;
    const auto order = focusOrder(in);
    EXPECT_FALSE(itemOf(order, key(HitSidebarRow, 0)).onScreen) << "row 0 at 78 - 60 .. 64";
    const FocusItem& partly = itemOf(order, key(HitSidebarRow, 1));
    EXPECT_TRUE(partly.onScreen);
    EXPECT_EQ(partly.rect.top, 78) << "cut to the band as the painter records it";
    EXPECT_EQ(partly.rect.bottom, 78 + 54 - 60 + 46);
    EXPECT_FALSE(itemOf(order, key(HitSidebarRow, 19)).onScreen);
}

TEST(FocusOrder, RepeatedCardsAreToldApartByOccurrence) {
    FocusInput in = catalogInput(0, 0);
    in.cardIds = {7, 8, 7};
    const auto order = focusOrder(in);
    ASSERT_EQ(findFocus(order, key(HitCardButton, 7, 1)), 7);
    EXPECT_EQ(moveFocus(order, key(HitCardButton, 8), FocusMove::Next), key(HitCardButton, 7, 1));
    EXPECT_EQ(moveFocus(order, key(HitCardButton, 7, 1), FocusMove::Next), key(HitDownloadsTool));
}

// An order is kept while its input is the same; each thing the order is made of tells.
TEST(FocusOrder, SameInputIsToldByEverythingTheOrderIsMadeOf) {
    const FocusInput base = catalogInput(13, 40);
    EXPECT_TRUE(sameFocusInput(base, catalogInput(13, 40)));
    const struct {
        const char* what;
        void (*change)(FocusInput&);
    } changes[] = {
        {"a hit moved", [](FocusInput& in) { in.hits[0].rect.left += 1; }},
        {"a hit of another id", [](FocusInput& in) { in.hits[1].id = 7; }},
        {"one hit more", [](FocusInput& in) { in.hits.push_back(HitRect{{0, 0, 1, 1}, HitBanner, 0}); }},
        {"width", [](FocusInput& in) { in.width += 1; }},
        {"height", [](FocusInput& in) { in.height -= 1; }},
        {"loading", [](FocusInput& in) { in.loading = true; }},
        {"failed", [](FocusInput& in) { in.failed = true; }},
        {"view", [](FocusInput& in) { in.viewMode = 1; }},
        {"categories", [](FocusInput& in) { in.categoryCount = 12; }},
        {"sidebar scroll", [](FocusInput& in) { in.sidebarScroll = 5; }},
        {"grid scroll", [](FocusInput& in) { in.gridScroll = 5; }},
        {"panel scroll", [](FocusInput& in) { in.panelScroll = 5; }},
        {"a card", [](FocusInput& in) { in.cardIds[39] = 1; }},
        {"a task", [](FocusInput& in) { in.tasks.push_back(task(3, 0)); }},
    };
    for (const auto& c : changes) {
        FocusInput changed = catalogInput(13, 40);
        c.change(changed);
        EXPECT_FALSE(sameFocusInput(base, changed)) << c.what;
    }
    FocusInput panel = panelInput(), finished = panelInput();
    finished.tasks[0].state = 2;  // "取消" becomes "打开文件夹" and "安装"
    EXPECT_FALSE(sameFocusInput(panel, finished));
    FocusInput progressed = panelInput();
    progressed.tasks[0].downloadedBytes = 1000;  // the same buttons in the same places
    EXPECT_TRUE(sameFocusInput(panel, progressed));
}

TEST(FocusMoves, TabAndShiftTabWrapAround) {
    const auto order = focusOrder(catalogInput(2, 3));
    struct Case {
        FocusKey from;
        FocusMove move;
        FocusKey to;
    } cases[] = {
        {key(0), FocusMove::Next, key(HitDownloadsTool)},
        {key(0), FocusMove::Previous, card(2)},
        {key(HitDownloadsTool), FocusMove::Next, key(HitSettingsTool)},
        {key(HitClose), FocusMove::Next, key(HitSidebarRow, 0)},
        {key(HitSidebarRow, 1), FocusMove::Next, card(0)},
        {card(2), FocusMove::Next, key(HitDownloadsTool)},
        {key(HitDownloadsTool), FocusMove::Previous, card(2)},
        {card(0), FocusMove::Previous, key(HitSidebarRow, 1)},
        {key(HitCardButton, 999), FocusMove::Next, key(HitDownloadsTool)},  // an unknown focus starts over
    };
    for (const Case& c : cases) {
        EXPECT_EQ(moveFocus(order, c.from, c.move), c.to) << c.from.kind << "/" << c.from.id;
    }
    EXPECT_EQ(moveFocus({}, key(HitClose), FocusMove::Next), key(0));
}

TEST(FocusMoves, ArrowsMoveByCardAndRowInTheGrid) {
    const auto order = focusOrder(catalogInput(2, 10));  // rows: 0-3, 4-7, 8-9
    struct Case {
        int from;
        FocusMove move;
        int to;
    } cases[] = {
        {3, FocusMove::Right, 4},  {4, FocusMove::Left, 3},  {9, FocusMove::Right, 9},
        {1, FocusMove::Down, 5},   {5, FocusMove::Down, 9},  {7, FocusMove::Down, 9},  // short last row: its last card
        {9, FocusMove::Down, 9},   {6, FocusMove::Up, 2},    {2, FocusMove::Up, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(moveFocus(order, card(c.from), c.move), card(c.to)) << c.from;
    }
    EXPECT_EQ(moveFocus(order, card(0), FocusMove::Left), card(0)) << "the sidebar is not left of the grid";
}

TEST(FocusMoves, UpDownThroughSidebarRowsWithoutWrapping) {
    const auto order = focusOrder(catalogInput(3, 2));
    EXPECT_EQ(moveFocus(order, key(HitSidebarRow, 0), FocusMove::Down), key(HitSidebarRow, 1));
    EXPECT_EQ(moveFocus(order, key(HitSidebarRow, 2), FocusMove::Up), key(HitSidebarRow, 1));
    EXPECT_EQ(moveFocus(order, key(HitSidebarRow, 0), FocusMove::Up), key(HitSidebarRow, 0));
    EXPECT_EQ(moveFocus(order, key(HitSidebarRow, 2), FocusMove::Down), key(HitSidebarRow, 2));
    EXPECT_EQ(moveFocus(order, key(HitSidebarRow, 1), FocusMove::Right), key(HitSidebarRow, 1));
    EXPECT_EQ(moveFocus(order, key(HitMinimize), FocusMove::Right), key(HitMaximize));
}

TEST(FocusMoves, UpDownByPanelRowToTheNearestButton) {
    const auto order = focusOrder(panelInput());
    struct Case {
        FocusKey from;
        FocusMove move;
        FocusKey to;
    } cases[] = {
        {key(HitPanelCancel, 3), FocusMove::Down, key(HitPanelInstall, 5)},
        {key(HitPanelFolder, 5), FocusMove::Down, key(HitPanelRetry, 9)},
        {key(HitPanelRetry, 9), FocusMove::Up, key(HitPanelInstall, 5)},
        {key(HitPanelCancel, 3), FocusMove::Up, key(HitPanelOpenDir)},
        {key(HitPanelChangeDir), FocusMove::Up, key(HitPanelClear)},
        {key(HitPanelRetry, 9), FocusMove::Down, key(HitPanelRetry, 9)},
        {key(HitPanelFolder, 5), FocusMove::Right, key(HitPanelInstall, 5)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(moveFocus(order, c.from, c.move), c.to) << c.from.kind << "/" << c.from.id;
    }
}

TEST(KeepFocus, StaysOnItsAreaByKindAndIdNotPosition) {
    FocusInput in = catalogInput(1, 0);
    in.cardIds = {5, 6, 7};
    const auto before = focusOrder(in);
    in.cardIds = {7, 1};
    const auto after = focusOrder(in);
    EXPECT_EQ(keepFocus(before, after, key(HitCardButton, 7)), key(HitCardButton, 7));
    EXPECT_EQ(keepFocus(before, after, key(0)), key(0));
}

TEST(KeepFocus, FallsBackToTheNearestSensibleArea) {
    // Category switch: the second card's place in the new list, or its last card.
    FocusInput in = catalogInput(2, 0);
    in.cardIds = {5, 6, 7};
    const auto three = focusOrder(in);
    in.cardIds = {8, 9};
    EXPECT_EQ(keepFocus(three, focusOrder(in), key(HitCardButton, 6)), key(HitCardButton, 9));
    in.cardIds = {8};
    EXPECT_EQ(keepFocus(three, focusOrder(in), key(HitCardButton, 7)), key(HitCardButton, 8));
    // An empty category: back to the last sidebar row.
    in.cardIds.clear();
    EXPECT_EQ(keepFocus(three, focusOrder(in), key(HitCardButton, 7)), key(HitSidebarRow, 1));

    // Task cleared: the row that took its place.
    FocusInput panel = panelInput();
    const auto tasks = focusOrder(panel);
    panel.tasks = {task(3, 0), task(9, 3)};
    EXPECT_EQ(keepFocus(tasks, focusOrder(panel), key(HitPanelFolder, 5)), key(HitPanelRetry, 9));

    // Reload from the error state: while loading only the header and sidebar remain.
    FocusInput failed = catalogInput(2, 0);
    failed.failed = true;
    failed.hits.push_back(HitRect{{630, 294, 750, 326}, HitReload, 0});
    FocusInput loading = catalogInput(2, 0);
    loading.loading = true;
    EXPECT_EQ(keepFocus(focusOrder(failed), focusOrder(loading), key(HitReload)), key(HitSidebarRow, 1));

    // The banner went away: the area before it.
    FocusInput banner = catalogInput(0, 1);
    banner.hits.push_back(HitRect{{W - 356, H - 104, W - 20, H - 20}, HitBanner, 0});
    EXPECT_EQ(keepFocus(focusOrder(banner), focusOrder(catalogInput(0, 1)), key(HitBanner)), card(0));
}

TEST(ScrollIntoView, BringsRowsCardsAndPanelRowsWhollyIntoTheirBands) {
    const ScrollOffsets none{0, 0, 0};
    FocusInput sidebar = catalogInput(20, 0);
    // Row 15 lies at 78 + 810 .. + 46; the band ends at 766.
    ScrollOffsets s = scrollIntoView(itemOf(focusOrder(sidebar), key(HitSidebarRow, 15)), sidebar, none);
    EXPECT_EQ(s.sidebar, 888 + 46 - 766);
    sidebar.sidebarScroll = s.sidebar;
    s = scrollIntoView(itemOf(focusOrder(sidebar), key(HitSidebarRow, 0)), sidebar, s);
    EXPECT_EQ(s.sidebar, 0);

    // Card 8's card spans 622 .. 856 below a band ending at 780.
    FocusInput grid = catalogInput(0, 10);
    s = scrollIntoView(itemOf(focusOrder(grid), card(8)), grid, none);
    EXPECT_EQ(s.grid, 856 - 780);
    EXPECT_EQ(s.sidebar, 0);
    grid.gridScroll = s.grid;
    EXPECT_EQ(scrollIntoView(itemOf(focusOrder(grid), card(1)), grid, s).grid, 0);
    EXPECT_EQ(scrollIntoView(itemOf(focusOrder(grid), card(5)), grid, s).grid, s.grid) << "already in view";

    // The eighth task's row at 158 + 672 .. + 86.
    FocusInput panel = panelInput();
    panel.tasks.clear();
    for (int i = 0; i < 8; ++i) panel.tasks.push_back(task(i + 1, 3));
    s = scrollIntoView(itemOf(focusOrder(panel), key(HitPanelRetry, 8)), panel, none);
    EXPECT_EQ(s.panel, 830 + 86 - 780);
    EXPECT_EQ(scrollIntoView(itemOf(focusOrder(panel), key(HitPanelClear)), panel, s).panel, s.panel);

    EXPECT_EQ(scrollIntoView(itemOf(focusOrder(grid), key(HitClose)), grid, ScrollOffsets{1, 2, 3}).grid, 2);
}

TEST(PageScroll, HomeEndAndPagesStayInRange) {
    struct Case {
        PageKey key;
        int offset, view, max, expected;
    } cases[] = {
        {PageKey::Home, 300, 654, 900, 0},    {PageKey::End, 0, 654, 900, 900},
        {PageKey::PageDown, 0, 654, 900, 606}, {PageKey::PageDown, 606, 654, 900, 900},
        {PageKey::PageUp, 700, 654, 900, 94},  {PageKey::PageUp, 100, 654, 900, 0},
        {PageKey::End, 0, 654, 0, 0},          {PageKey::PageDown, 0, 20, 900, 48},
    };
    for (const Case& c : cases) EXPECT_EQ(pageScroll(c.key, c.offset, c.view, c.max), c.expected);
}

TEST(KeyMap, KeysAndTheirCommands) {
    struct Case {
        UINT vk;
        bool shift, control, alt;
        KeyCommand command;
    } cases[] = {
        {VK_TAB, false, false, false, KeyCommand::Next},     {VK_TAB, true, false, false, KeyCommand::Previous},
        {VK_RETURN, false, false, false, KeyCommand::Press}, {VK_SPACE, false, false, false, KeyCommand::Press},
        {VK_ESCAPE, false, false, false, KeyCommand::Escape}, {VK_F5, false, false, false, KeyCommand::Reload},
        {VK_UP, false, false, false, KeyCommand::Up},        {VK_DOWN, false, false, false, KeyCommand::Down},
        {VK_LEFT, false, false, false, KeyCommand::Left},    {VK_RIGHT, false, false, false, KeyCommand::Right},
        {VK_HOME, false, false, false, KeyCommand::Home},    {VK_END, false, false, false, KeyCommand::End},
        {VK_PRIOR, false, false, false, KeyCommand::PageUp}, {VK_NEXT, false, false, false, KeyCommand::PageDown},
        {VK_F4, false, false, true, KeyCommand::None},       {'A', false, true, false, KeyCommand::None},
        {'A', false, false, false, KeyCommand::None},        {VK_RETURN, false, false, true, KeyCommand::None},
    };
    for (const Case& c : cases) EXPECT_EQ(keyCommand(c.vk, c.shift, c.control, c.alt), c.command) << c.vk;
}

TEST(FocusRing, TwoPixelsOutsideWithTheAreasRadiusPlusTwo) {
    const RECT area = cardButton(0);
    const RingShape button = focusRingShape(area, HitCardButton);
    EXPECT_EQ(button.rect.left, area.left - 2);
    EXPECT_EQ(button.rect.top, area.top - 2);
    EXPECT_EQ(button.rect.right, area.right + 2);
    EXPECT_EQ(button.rect.bottom, area.bottom + 2);
    EXPECT_EQ(button.radius, 16);
    EXPECT_EQ(focusRingShape(RECT{12, 78, 188, 124}, HitSidebarRow).radius, 10);
    EXPECT_EQ(focusRingShape(RECT{0, 0, 10, 10}, HitPanelRetry).radius, 17);
    // Caption buttons touch the window's edges: their ring lies inside.
    const RingShape close = focusRingShape(RECT{W - 46, 0, W, 64}, HitClose);
    EXPECT_EQ(close.rect.left, W - 42);
    EXPECT_EQ(close.rect.top, 4);
    EXPECT_EQ(close.rect.right, W - 4);
}

}  // namespace
