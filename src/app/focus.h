// Keyboard focus over the window's clickable areas, as plain functions over plain data:
// the reading order (the areas the last paint recorded plus the sidebar rows, cards and
// panel buttons that are scrolled away), Tab and arrow moves, where focus goes when its
// area disappears, scroll offsets that bring an area into view, and the key map.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "app/app_state.h"
#include "download/task.h"

// An area is known by its hit kind and id; nth tells apart areas that share both (an
// application listed twice in one category).
struct FocusKey {
    int kind = 0;  // 0: no area has the focus
    int id = 0;
    int nth = 0;
};
inline bool operator==(const FocusKey& a, const FocusKey& b) {
    return a.kind == b.kind && a.id == b.id && a.nth == b.nth;
}
inline bool operator!=(const FocusKey& a, const FocusKey& b) { return !(a == b); }

enum class FocusRegion { Header, Sidebar, Content, Banner };

struct FocusItem {
    FocusKey key;
    RECT rect{0, 0, 0, 0};  // as painted (cut to its band) when on screen, else where it lies
    bool onScreen = false;
    FocusRegion region = FocusRegion::Header;
    int line = 0;    // arrow lines: sidebar row, grid row, panel line (0 clear, 1 directory, 2.. tasks)
    int column = 0;  // grid column
};

// What the order is built from: the last paint's areas and the state it painted.
struct FocusInput {
    std::vector<HitRect> hits;
    int width = 0, height = 0;  // client size
    bool loading = false, failed = false;
    int viewMode = 0;
    int categoryCount = 0;
    int sidebarScroll = 0;
    std::vector<int32_t> cardIds;  // the selected category's applications in grid order
    int gridScroll = 0;
    std::vector<TaskInfo> tasks;  // ascending application id, as the panel lists them
    int panelScroll = 0;
};

// Whether two inputs give the same order (the tasks compared by what the panel's buttons
// and places are made of).
bool sameFocusInput(const FocusInput& a, const FocusInput& b);

// Header tool buttons, caption buttons, sidebar rows, the content (reload button, card
// buttons in grid order, or the panel's buttons line by line), then the banner.
std::vector<FocusItem> focusOrder(const FocusInput& input);
int findFocus(const std::vector<FocusItem>& items, const FocusKey& key);  // -1 when absent

enum class FocusMove { Next, Previous, Up, Down, Left, Right };
// The key focus moves to; the current key when the move leads nowhere. Without a focus,
// Next/Down/Right start at the first area and Previous/Up/Left at the last.
FocusKey moveFocus(const std::vector<FocusItem>& items, const FocusKey& current, FocusMove move);

// Focus after a repaint: the same area if it is still there, else the area at the same
// place in its region, else the nearest earlier one that survived, else the first.
FocusKey keepFocus(const std::vector<FocusItem>& before, const std::vector<FocusItem>& after,
                   const FocusKey& current);

struct ScrollOffsets {
    int sidebar = 0, grid = 0, panel = 0;
};
// Offsets that show the whole of the item's sidebar row, card or panel row; the others
// are left alone.
ScrollOffsets scrollIntoView(const FocusItem& item, const FocusInput& input, ScrollOffsets offsets);

enum class PageKey { Home, End, PageUp, PageDown };
// The grid's or panel's offset after a paging key over a view viewHeight high.
int pageScroll(PageKey key, int offset, int viewHeight, int maxScroll);

enum class KeyCommand {
    None, Next, Previous, Up, Down, Left, Right, Press, Escape, Reload, Home, End, PageUp, PageDown
};
KeyCommand keyCommand(UINT virtualKey, bool shift, bool control, bool alt);
// Whether a key held down acts again on each automatic repeat: moving and paging do, a key
// that presses, leaves or reloads acts once per press.
bool repeatsWhenHeld(KeyCommand command);

// The focus ring's path: 2 pixels outside the area with the area's corner radius plus 2
// (areaCornerRadius); the caption buttons touch the window's edges, so theirs lies 4
// pixels inside.
struct RingShape {
    RECT rect{0, 0, 0, 0};
    int radius = 0;
};
RingShape focusRingShape(const RECT& area, int kind);
