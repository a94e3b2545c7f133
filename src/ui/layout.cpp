#include "ui/layout.h"

#include <algorithm>

#include "ui/looks.h"
#include "ui/scale.h"

int headerHeight() { return px(64); }
int sidebarWidth() { return px(200); }
int sidebarRowsTop() { return px(78); }
int sidebarRowsBottom(int clientHeight) { return clientHeight - px(14); }
int sidebarRowHeight() { return px(46); }
int sidebarRowPitch() { return px(54); }
int sidebarRowLeft() { return px(12); }
int sidebarRowRight() { return px(188); }

RECT gridArea(int clientWidth, int clientHeight) {
    return RECT{px(212), sidebarRowsTop(), clientWidth - px(12), clientHeight};
}

RECT toastRect(int clientWidth) {
    const int half = px(360) / 2;
    return RECT{clientWidth / 2 - half, px(80), clientWidth / 2 - half + px(360), px(122)};
}

RECT cardIconRect(int cardLeft, int cardTop, int cardWidth) {
    const int left = cardLeft + (cardWidth - px(84)) / 2;
    return RECT{left, cardTop + px(16), left + px(84), cardTop + px(100)};
}
RECT rowIconRect(int rowTop) { return RECT{px(236), rowTop + px(19), px(284), rowTop + px(67)}; }
RECT bannerIconRect(int clientWidth, int clientHeight) {
    return RECT{clientWidth - px(342), clientHeight - px(84), clientWidth - px(298), clientHeight - px(40)};
}

std::vector<IconSize> iconSizes() {
    std::vector<IconSize> sizes;
    for (const RECT& r : {cardIconRect(0, 0, 0), rowIconRect(0), bannerIconRect(0, 0)}) {
        const IconSize size{r.right - r.left, r.bottom - r.top};
        if (std::find(sizes.begin(), sizes.end(), size) == sizes.end()) sizes.push_back(size);
    }
    return sizes;
}

int gridPageHeight(int clientHeight) { return clientHeight - sidebarRowsTop() - px(48); }
int panelPageHeight(int clientHeight) { return clientHeight - px(158); }

SidebarGeometry sidebarGeometry(int clientHeight, int rowCount, int scroll) {
    SidebarGeometry g;
    const int64_t content = rowCount > 0 ? int64_t(rowCount - 1) * sidebarRowPitch() + sidebarRowHeight() : 0;
    g.contentH = static_cast<int>(std::min<int64_t>(content, 0x7FFFFFFF));
    // A window lower than the header and margins has no room for rows at all.
    g.viewport = std::max(0, sidebarRowsBottom(clientHeight) - sidebarRowsTop());
    g.maxScroll = std::max(0, g.contentH - g.viewport);
    g.scroll = std::min(std::max(scroll, 0), g.maxScroll);
    return g;
}

int sidebarRowTop(const SidebarGeometry& g, int index) { return sidebarRowsTop() + sidebarRowPitch() * index - g.scroll; }

ScrollbarGeom sidebarScrollbarGeom(const SidebarGeometry& g, int clientHeight) {
    ScrollbarGeom bar;
    // A band shorter than the shortest thumb leaves nothing to drag.
    if (g.maxScroll <= 0 || g.viewport < px(30)) return bar;
    const int thumbH = std::max<int>(px(30), static_cast<int>(int64_t(g.viewport) * g.viewport / g.contentH));
    const int thumbTop = sidebarRowsTop() + static_cast<int>(int64_t(g.viewport - thumbH) * g.scroll / g.maxScroll);
    bar.visible = true;
    bar.trackLeft = px(193);
    bar.trackTop = sidebarRowsTop();
    bar.trackRight = px(197);
    bar.trackBottom = sidebarRowsBottom(clientHeight);
    bar.thumbLeft = px(193);
    bar.thumbTop = thumbTop;
    bar.thumbRight = px(197);
    bar.thumbBottom = thumbTop + thumbH;
    bar.maxScroll = g.maxScroll;
    return bar;
}

// A name narrower than the row's text room is centred together with its glyph.
int sidebarNameShift(int nameWidth) { return nameWidth < px(148) ? (px(149) - std::max(nameWidth, 0)) / 2 : 0; }

bool toastShowing(uint32_t now, uint32_t toastTick) { return uint32_t(now - toastTick) <= 2199; }

bool bannerShowing(uint32_t now, uint32_t bannerTick) { return uint32_t(now - bannerTick) < 5000; }

int activeDownloadCount(const std::map<int32_t, TaskInfo>& tasks) {
    int count = 0;
    for (const auto& entry : tasks) {
        if (entry.second.state == static_cast<int32_t>(TaskState::Downloading)) ++count;
    }
    return count;
}

CatalogSection catalogSection(const CatalogLists& lists, const std::wstring& selectedId) {
    CatalogSection section;
    const std::shared_ptr<const CategoryIndex> index = lists.categoryIndex();
    const Category* category = index->category(selectedId);
    section.apps = index->appsOf(selectedId);
    const bool noCategories = lists.categories.empty();
    section.title = sectionTitle(noCategories, category ? category->name : std::wstring(), section.apps.size());
    if (section.apps.empty()) section.emptyText = noCategories ? L"暂无分类，请在管理后台添加" : L"该分类暂无应用";
    return section;
}

int areaCornerRadius(int kind) {
    switch (kind) {
    case HitSidebarRow:
        return px(8);
    case HitDownloadsTool:
    case HitSettingsTool:
        return px(17);
    case HitCardButton:
        return px(14);
    case HitPanelClear:
    case HitPanelChangeDir:
    case HitPanelOpenDir:
        return px(13);
    case HitPanelCancel:
    case HitPanelInstall:
    case HitPanelFolder:
    case HitPanelRetry:
    case HitReload:
        return px(15);
    case HitBanner:
        return px(10);
    default:
        return 0;
    }
}
