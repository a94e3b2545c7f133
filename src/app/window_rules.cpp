#include "app/window_rules.h"

#include <algorithm>

WindowRect mainWindowRect(int screenWidth, int screenHeight) {
    WindowRect r;
    if (screenWidth > 1199) {
        r.x = (screenWidth >> 1) - 590;
        r.width = 1180;
    } else {
        r.x = 30;
        r.width = screenWidth - 60;
    }
    if (screenHeight > 819) {
        r.y = (screenHeight >> 1) - 390;
        r.height = 780;
    } else {
        r.y = 30;
        r.height = screenHeight - 60;
    }
    return r;
}

LRESULT frameHitTest(int x, int y, int w, int h, bool onHitRect) {
    if (y < h - 6) {
        if (x < 7) return HTLEFT;
        if (x >= w - 6) return HTRIGHT;
        if (y > 63) return HTCLIENT;
        return onHitRect ? HTCLIENT : HTCAPTION;
    }
    if (x < 7) return HTBOTTOMLEFT;
    if (x < w - 6) return HTBOTTOM;
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
    if (x <= 199 && y > 64) return WheelTarget::Sidebar;
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
