#include "app/focus.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_map>
#include <utility>

#include "ui/layout.h"
#include "ui/looks.h"
#include "ui/scale.h"

namespace {

const HitRect* firstHit(const std::vector<HitRect>& hits, int kind) {
    for (const HitRect& hit : hits) {
        if (hit.kind == kind) return &hit;
    }
    return nullptr;
}

FocusItem itemOf(const HitRect& hit, FocusRegion region, int line) {
    FocusItem item;
    item.key = FocusKey{hit.kind, hit.id, 0};
    item.rect = hit.rect;
    item.onScreen = true;
    item.region = region;
    item.line = line;
    return item;
}

// The part of rect inside band, or rect itself (off screen) when none of it is.
void placeInBand(FocusItem& item, const RECT& rect, const RECT& band) {
    RECT cut;
    item.onScreen = IntersectRect(&cut, &rect, &band) != FALSE;
    item.rect = item.onScreen ? cut : rect;
}

RECT gridArea(const FocusInput& in) { return ::gridArea(in.width, in.height); }

void addSidebar(const FocusInput& in, std::vector<FocusItem>& out) {
    const SidebarGeometry g = sidebarGeometry(in.height, in.categoryCount, in.sidebarScroll);
    const RECT band{0, sidebarRowsTop(), sidebarWidth(), sidebarRowsBottom(in.height)};
    for (int i = 0; i < in.categoryCount; ++i) {
        const int top = sidebarRowTop(g, i);
        FocusItem item;
        item.key = FocusKey{HitSidebarRow, i, 0};
        item.region = FocusRegion::Sidebar;
        item.line = i;
        placeInBand(item, RECT{sidebarRowLeft(), top, sidebarRowRight(), top + sidebarRowHeight()}, band);
        out.push_back(item);
    }
}

void addCards(const FocusInput& in, std::vector<FocusItem>& out) {
    const RECT area = gridArea(in);
    const int count = static_cast<int>(std::min<size_t>(in.cardIds.size(), 0x7FFFFFFF));
    const GridGeometry g = gridGeometry(area, true, count, in.gridScroll);
    if (g.cardW < 1) return;
    const RECT band{area.left, g.gridTop, area.right, area.bottom};
    std::unordered_map<int32_t, int> seen;
    seen.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const int32_t id = in.cardIds[static_cast<size_t>(i)];
        FocusItem item;
        item.key = FocusKey{HitCardButton, id, seen[id]++};
        item.region = FocusRegion::Content;
        item.line = i / g.cols;
        item.column = i % g.cols;
        placeInBand(item, gridButtonRect(g, gridCardRect(g, area, i)), band);
        out.push_back(item);
    }
}

void addPanel(const FocusInput& in, std::vector<FocusItem>& out) {
    // The header's buttons as painted: "清除已完成", then "修改目录" left of "打开目录".
    const int headerKinds[3] = {HitPanelClear, HitPanelChangeDir, HitPanelOpenDir};
    for (int kind : headerKinds) {
        if (const HitRect* hit = firstHit(in.hits, kind)) {
            out.push_back(itemOf(*hit, FocusRegion::Content, kind == HitPanelClear ? 0 : 1));
        }
    }
    const int count = static_cast<int>(std::min<size_t>(in.tasks.size(), 0x7FFFFFFF));
    const PanelGeometry g = panelGeometry(in.height, count, in.panelScroll);
    const RECT content = ::gridArea(in.width, in.height);
    const RECT band{content.left, g.viewTop, content.right, g.viewBottom};
    for (int i = 0; i < count; ++i) {
        const TaskInfo& task = in.tasks[static_cast<size_t>(i)];
        const RECT row = panelRowRect(g, in.width, i);
        for (const PanelButton& b : panelRowLook(task, in.width).buttons) {
            FocusItem item;
            item.key = FocusKey{b.kind, task.appId, 0};
            item.region = FocusRegion::Content;
            item.line = 2 + i;
            const int top = row.top + panelButtonTop();
            placeInBand(item, RECT{b.left, top, b.right, top + panelButtonHeight()}, band);
            out.push_back(item);
        }
    }
}

int centreX(const FocusItem& item) { return (item.rect.left + item.rect.right) / 2; }

// The item of region and line nearest to x (the same kind first), or -1.
int nearestOnLine(const std::vector<FocusItem>& items, FocusRegion region, int line, int x, int kind) {
    int best = -1;
    long bestScore = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        const FocusItem& item = items[i];
        if (item.region != region || item.line != line) continue;
        const long score = std::labs(long(centreX(item)) - x) + (item.key.kind == kind ? 0 : 100000L);
        if (best < 0 || score < bestScore) {
            best = static_cast<int>(i);
            bestScore = score;
        }
    }
    return best;
}

int stepWithin(const std::vector<FocusItem>& items, int index, int step) {
    const int next = index + step;
    if (next < 0 || next >= static_cast<int>(items.size())) return index;
    return items[size_t(next)].region == items[size_t(index)].region ? next : index;
}

int verticalMove(const std::vector<FocusItem>& items, int index, int step) {
    const FocusItem& from = items[size_t(index)];
    if (from.region == FocusRegion::Sidebar) return stepWithin(items, index, step);
    if (from.region != FocusRegion::Content) return index;
    const bool grid = from.key.kind == HitCardButton;
    if (grid) {
        // Same column on the next row; the last card when that row is short.
        int last = -1;
        for (size_t i = 0; i < items.size(); ++i) {
            const FocusItem& item = items[i];
            if (item.region != FocusRegion::Content || item.key.kind != HitCardButton) continue;
            if (item.line == from.line + step) {
                if (item.column == from.column) return static_cast<int>(i);
                last = static_cast<int>(i);
            }
        }
        return step > 0 && last >= 0 ? last : index;
    }
    // Panel lines: the nearest existing line in that direction, nearest button on it.
    int target = -1;
    for (const FocusItem& item : items) {
        if (item.region != FocusRegion::Content || item.key.kind == HitCardButton) continue;
        const int d = (item.line - from.line) * step;
        if (d > 0 && (target < 0 || (target - from.line) * step > d)) target = item.line;
    }
    if (target < 0) return index;
    const int found = nearestOnLine(items, FocusRegion::Content, target, centreX(from), from.key.kind);
    return found >= 0 ? found : index;
}

int regionOrdinal(const std::vector<FocusItem>& items, int index) {
    int n = 0;
    for (int i = 0; i < index; ++i) {
        if (items[size_t(i)].region == items[size_t(index)].region) ++n;
    }
    return n;
}

int clampOffset(int offset, int maxScroll) { return std::max(0, std::min(offset, std::max(0, maxScroll))); }

// The offset that shows [top, bottom) of a band; the positions are at the current
// offset, and moving the offset by d moves them by -d. The top wins over the bottom.
int revealOffset(int offset, int top, int bottom, int bandTop, int bandBottom, int maxScroll) {
    int d = 0;
    if (bottom > bandBottom) d = bottom - bandBottom;
    if (top - d < bandTop) d = top - bandTop;
    return clampOffset(offset + d, maxScroll);
}

}  // namespace

bool sameFocusInput(const FocusInput& a, const FocusInput& b) {
    const auto sameHit = [](const HitRect& x, const HitRect& y) {
        return x.kind == y.kind && x.id == y.id && EqualRect(&x.rect, &y.rect) != FALSE;
    };
    const auto sameTask = [](const TaskInfo& x, const TaskInfo& y) {
        return x.appId == y.appId && x.state == y.state && x.isArchive == y.isArchive;
    };
    return a.width == b.width && a.height == b.height && a.loading == b.loading && a.failed == b.failed &&
           a.viewMode == b.viewMode && a.categoryCount == b.categoryCount && a.sidebarScroll == b.sidebarScroll &&
           a.gridScroll == b.gridScroll && a.panelScroll == b.panelScroll && a.cardIds == b.cardIds &&
           a.hits.size() == b.hits.size() && std::equal(a.hits.begin(), a.hits.end(), b.hits.begin(), sameHit) &&
           a.tasks.size() == b.tasks.size() && std::equal(a.tasks.begin(), a.tasks.end(), b.tasks.begin(), sameTask);
}

std::vector<FocusItem> focusOrder(const FocusInput& in) {
    std::vector<FocusItem> out;
    const int headerKinds[5] = {HitDownloadsTool, HitSettingsTool, HitMinimize, HitMaximize, HitClose};
    for (int kind : headerKinds) {
        if (const HitRect* hit = firstHit(in.hits, kind)) out.push_back(itemOf(*hit, FocusRegion::Header, 0));
    }
    addSidebar(in, out);
    if (in.loading) {
        // Nothing to press while the list loads.
    } else if (in.failed) {
        if (const HitRect* hit = firstHit(in.hits, HitReload)) out.push_back(itemOf(*hit, FocusRegion::Content, 0));
    } else if (in.viewMode == 0) {
        addCards(in, out);
    } else if (in.viewMode == 1) {
        addPanel(in, out);
    }
    if (const HitRect* hit = firstHit(in.hits, HitBanner)) out.push_back(itemOf(*hit, FocusRegion::Banner, 0));
    return out;
}

int findFocus(const std::vector<FocusItem>& items, const FocusKey& key) {
    if (key.kind == 0) return -1;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].key == key) return static_cast<int>(i);
    }
    return -1;
}

FocusKey moveFocus(const std::vector<FocusItem>& items, const FocusKey& current, FocusMove move) {
    if (items.empty()) return FocusKey{};
    const int n = static_cast<int>(items.size());
    const int index = findFocus(items, current);
    if (index < 0) {
        const bool forward = move == FocusMove::Next || move == FocusMove::Down || move == FocusMove::Right;
        return items[forward ? 0 : size_t(n - 1)].key;
    }
    int next = index;
    switch (move) {
    case FocusMove::Next:
        next = (index + 1) % n;
        break;
    case FocusMove::Previous:
        next = (index + n - 1) % n;
        break;
    case FocusMove::Up:
        next = verticalMove(items, index, -1);
        break;
    case FocusMove::Down:
        next = verticalMove(items, index, 1);
        break;
    case FocusMove::Left:
    case FocusMove::Right: {
        const FocusItem& from = items[size_t(index)];
        if (from.region == FocusRegion::Header || from.region == FocusRegion::Content) {
            next = stepWithin(items, index, move == FocusMove::Left ? -1 : 1);
        }
        break;
    }
    }
    return items[size_t(next)].key;
}

FocusKey keepFocus(const std::vector<FocusItem>& before, const std::vector<FocusItem>& after, const FocusKey& current) {
    if (current.kind == 0) return current;
    if (findFocus(after, current) >= 0) return current;
    if (after.empty()) return FocusKey{};
    const int old = findFocus(before, current);
    if (old < 0) return after.front().key;

    const FocusRegion region = before[size_t(old)].region;
    const int ordinal = regionOrdinal(before, old);
    std::vector<int> sameRegion;
    for (size_t i = 0; i < after.size(); ++i) {
        if (after[i].region == region) sameRegion.push_back(static_cast<int>(i));
    }
    if (!sameRegion.empty()) {
        return after[size_t(sameRegion[size_t(std::min<int>(ordinal, int(sameRegion.size()) - 1))])].key;
    }
    for (int i = old - 1; i >= 0; --i) {
        if (findFocus(after, before[size_t(i)].key) >= 0) return before[size_t(i)].key;
    }
    return after.front().key;
}

ScrollOffsets scrollIntoView(const FocusItem& item, const FocusInput& in, ScrollOffsets offsets) {
    const bool panelRow = in.viewMode == 1 && item.region == FocusRegion::Content && item.line >= 2;
    if (item.region == FocusRegion::Sidebar) {
        const SidebarGeometry g = sidebarGeometry(in.height, in.categoryCount, offsets.sidebar);
        const int top = sidebarRowTop(g, item.line);
        offsets.sidebar = revealOffset(g.scroll, top, top + sidebarRowHeight(), sidebarRowsTop(),
                                       sidebarRowsBottom(in.height), g.maxScroll);
    } else if (item.key.kind == HitCardButton) {
        const RECT area = gridArea(in);
        const int count = static_cast<int>(std::min<size_t>(in.cardIds.size(), 0x7FFFFFFF));
        const GridGeometry g = gridGeometry(area, true, count, offsets.grid);
        const int index = item.line * g.cols + item.column;
        const RECT card = gridCardRect(g, area, index);
        offsets.grid = revealOffset(g.scroll, card.top, card.bottom, g.gridTop, area.bottom, g.maxScroll);
    } else if (panelRow) {
        const int count = static_cast<int>(std::min<size_t>(in.tasks.size(), 0x7FFFFFFF));
        const PanelGeometry g = panelGeometry(in.height, count, offsets.panel);
        const RECT row = panelRowRect(g, in.width, item.line - 2);
        offsets.panel = revealOffset(g.scroll, row.top, row.bottom, g.viewTop, g.viewBottom,
                                     g.maxScroll);
    }
    return offsets;
}

int pageScroll(PageKey key, int offset, int viewHeight, int maxScroll) {
    const int page = std::max(px(48), viewHeight - px(48));  // a page keeps a strip of the last one in view
    switch (key) {
    case PageKey::Home:
        return 0;
    case PageKey::End:
        return std::max(0, maxScroll);
    case PageKey::PageUp:
        return clampOffset(offset - page, maxScroll);
    case PageKey::PageDown:
        return clampOffset(offset + page, maxScroll);
    }
    return offset;
}

KeyCommand keyCommand(UINT vk, bool shift, bool control, bool alt) {
    if (alt) return KeyCommand::None;  // Alt+F4 and the system menu stay the system's
    if (control && vk != VK_TAB) return KeyCommand::None;
    switch (vk) {
    case VK_TAB:
        return shift ? KeyCommand::Previous : KeyCommand::Next;
    case VK_UP:
        return KeyCommand::Up;
    case VK_DOWN:
        return KeyCommand::Down;
    case VK_LEFT:
        return KeyCommand::Left;
    case VK_RIGHT:
        return KeyCommand::Right;
    case VK_RETURN:
    case VK_SPACE:
        return KeyCommand::Press;
    case VK_ESCAPE:
        return KeyCommand::Escape;
    case VK_F5:
        return KeyCommand::Reload;
    case VK_HOME:
        return KeyCommand::Home;
    case VK_END:
        return KeyCommand::End;
    case VK_PRIOR:
        return KeyCommand::PageUp;
    case VK_NEXT:
        return KeyCommand::PageDown;
    default:
        return KeyCommand::None;
    }
}

bool repeatsWhenHeld(KeyCommand command) {
    return command != KeyCommand::Press && command != KeyCommand::Escape && command != KeyCommand::Reload;
}

RingShape focusRingShape(const RECT& area, int kind) {
    RingShape ring;
    ring.rect = area;
    if (kind == HitMinimize || kind == HitMaximize || kind == HitClose) {
        InflateRect(&ring.rect, -px(4), -px(4));
        ring.radius = px(4);
    } else {
        InflateRect(&ring.rect, px(2), px(2));
        ring.radius = areaCornerRadius(kind) + px(2);
    }
    return ring;
}
