#include "app/window_rules.h"

#include <algorithm>

#include "ui/layout.h"
#include "ui/scale.h"

WindowRect mainWindowRect(int screenWidth, int screenHeight, int dpi) {
    WindowRect r;
    if (screenWidth > scalePx(1199, dpi)) {
        r.x = (screenWidth >> 1) - scalePx(590, dpi);
        r.width = scalePx(1180, dpi);
    } else {
        r.x = scalePx(30, dpi);
        r.width = screenWidth - scalePx(60, dpi);
    }
    if (screenHeight > scalePx(819, dpi)) {
        r.y = (screenHeight >> 1) - scalePx(390, dpi);
        r.height = scalePx(780, dpi);
    } else {
        r.y = scalePx(30, dpi);
        r.height = screenHeight - scalePx(60, dpi);
    }
    return r;
}

SIZE minimumWindowSize(int workWidth, int workHeight, int dpi) {
    return SIZE{std::min(scalePx(1000, dpi), std::max(workWidth, 0)), std::min(scalePx(660, dpi), std::max(workHeight, 0))};
}

SIZE dpiScaledWindowSize(SIZE size, int oldDpi, int newDpi, int workWidth, int workHeight) {
    if (oldDpi <= 0) oldDpi = 96;
    if (newDpi <= 0) newDpi = 96;
    const SIZE minimum = minimumWindowSize(workWidth, workHeight, newDpi);
    auto fit = [&](LONG length, int work, LONG least) {
        const int scaled = MulDiv(std::max<LONG>(length, 0), newDpi, oldDpi);
        return std::max<LONG>(std::min(scaled, work - scalePx(60, newDpi)), least);
    };
    return SIZE{fit(size.cx, workWidth, minimum.cx), fit(size.cy, workHeight, minimum.cy)};
}

int windowCornerDiameter() { return px(14); }

LRESULT frameHitTest(int x, int y, int w, int h, bool onHitRect) {
    const int left = px(7), edge = px(6);
    if (y < h - edge) {
        if (x < left) return HTLEFT;
        if (x >= w - edge) return HTRIGHT;
        if (y >= headerHeight()) return HTCLIENT;
        return onHitRect ? HTCLIENT : HTCAPTION;
    }
    if (x < left) return HTBOTTOMLEFT;
    if (x < w - edge) return HTBOTTOM;
    return HTBOTTOMRIGHT;
}

const HitRect* hitRectAt(const std::vector<HitRect>& rects, int x, int y) {
    const POINT point{x, y};
    for (auto it = rects.rbegin(); it != rects.rend(); ++it) {
        if (PtInRect(&it->rect, point)) return &*it;
    }
    return nullptr;
}

namespace {

int thumbHeight(const ScrollbarGeom& bar) { return bar.thumbBottom - bar.thumbTop; }
int travel(const ScrollbarGeom& bar) { return bar.trackBottom - bar.trackTop - thumbHeight(bar); }

int offsetAt(const ScrollbarGeom& bar, int pos) {
    return static_cast<int>(int64_t(pos - bar.trackTop) * bar.maxScroll / travel(bar));
}

}  // namespace

ThumbPress thumbPress(const ScrollbarGeom& bar, int x, int y, int currentOffset) {
    ThumbPress press;
    press.offset = currentOffset;
    if (!bar.visible) return press;
    if (x < bar.trackLeft - 3 || x > bar.trackRight + 3 || y < bar.trackTop || y > bar.trackBottom) return press;
    if (travel(bar) <= 0) return press;
    press.drag = true;
    const int height = thumbHeight(bar);
    if (y < bar.thumbTop || y > bar.thumbBottom) {
        press.grabOffset = height / 2;
        int pos = std::min(bar.trackBottom - height, y - height / 2);
        pos = std::max(pos, bar.trackTop);
        press.offset = offsetAt(bar, pos);
    } else {
        press.grabOffset = y - bar.thumbTop;
    }
    return press;
}

int thumbDragOffset(const ScrollbarGeom& bar, int y, int grabOffset, int currentOffset) {
    if (travel(bar) <= 0 || bar.maxScroll <= 0) return currentOffset;
    int pos = std::max(bar.trackTop, y - grabOffset);
    pos = std::min(pos, bar.trackBottom - thumbHeight(bar));
    return offsetAt(bar, pos);
}

WheelTarget wheelTarget(int x, int y, int viewMode) {
    if (x < sidebarWidth() && y > headerHeight()) return WheelTarget::Sidebar;
    if (viewMode == 0) return WheelTarget::Grid;
    if (viewMode == 1) return WheelTarget::Panel;
    return WheelTarget::None;
}

bool timerNeedsRepaint(bool toastSet, bool bannerSet, int viewMode, const std::map<int32_t, TaskInfo>& tasks) {
    if (toastSet || bannerSet || viewMode == 1) return true;
    for (const auto& entry : tasks) {
        const auto state = static_cast<TaskState>(entry.second.state);
        if (state == TaskState::Downloading || state == TaskState::Verifying) return true;
    }
    return false;
}

std::wstring selectionAfterLoad(int viewModeBefore, const std::wstring& selected,
                                const std::vector<Category>& categories) {
    if (categories.empty()) return std::wstring();
    if (viewModeBefore == 0) {
        for (const Category& category : categories) {
            if (category.id == selected) return selected;
        }
    }
    return categories.front().id;
}

bool requestedIconsSettled(const std::vector<App>& apps) {
    bool any = false;
    for (const App& app : apps) {
        const int32_t state = app.iconState.load();
        if (state == 1) return false;
        any = any || state >= 2;
    }
    return any;
}
