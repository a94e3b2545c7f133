// The download-manager panel: title and task count, the directory line with its buttons,
// and one row per task with icon, name, progress, status and the buttons its state
// allows. Rows that do not fit below the header scroll, with the grid's thin bar.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <iterator>
#include <memory>

#include "ui/clip.h"
#include "ui/face_cache.h"
#include "ui/looks.h"
#include "ui/scale.h"
#include "ui/ui.h"

namespace {

constexpr UINT kLine = DT_SINGLELINE | DT_VCENTER;
// Task names, paths and server messages are shown as they come ("&" is not a prefix).
constexpr UINT kDataLine = DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX;
constexpr UINT kCentred = DT_SINGLELINE | DT_VCENTER | DT_CENTER;

bool hovered(const ViewState& view, int kind) { return view.hoverValid && view.hoverKind == kind; }

// A header button: white with a hairline; when hovered the label turns accent and, where
// the button asks for it, the outline too.
void headerButton(Gdiplus::Graphics& graphics, HDC hdc, ViewState& view, const RECT& rect, const wchar_t* label,
                  int kind, bool outlineReacts) {
    const bool hot = hovered(view, kind);
    drawOutlinedBox(graphics, hdc, rect, px(13), Surface, hot && outlineReacts ? AccentHairline : Hairline, ViewBackground);
    drawText(hdc, label, rect, view.fontButton, hot ? TextAccent : TextTertiary, kCentred);
    view.hitRects.push_back(HitRect{rect, kind, 0});
}

// A row's secondary buttons lie on the row's white surface.
constexpr COLORREF kSurfaceColour = RGB(255, 255, 255);

void drawRow(Gdiplus::Graphics& graphics, HDC hdc, int W, const RECT& row, const TaskInfo& task,
             const PaintFrame& frame, const CategoryIndex& index, const ClipBand& clip) {
    const ViewState& view = *frame.view;
    const int T = row.top;
    drawOutlinedBox(graphics, hdc, row, px(10), Surface, RowBorder, ViewBackground);

    drawAppIcon(graphics, index.app(task.appId), RECT{px(236), T + px(19), px(284), T + px(67)}, frame);

    const RowLook look = panelRowLook(task, W);
    const int X = panelTrackLeft(), XR = panelTrackRight(W);
    if (look.nameSuffix.empty()) {
        drawText(hdc, look.name, RECT{X, T + px(12), XR, T + px(36)}, view.fontName, look.nameColour, kDataLine);
    } else {
        // The checksum warning must survive a long name: only the name gives way to the ellipsis.
        const int suffixW = textWidth(hdc, look.nameSuffix, view.fontName);
        const int nameRight = std::max(X, std::min(X + textWidth(hdc, look.name, view.fontName), XR - suffixW));
        drawText(hdc, look.name, RECT{X, T + px(12), nameRight, T + px(36)}, view.fontName, look.nameColour, kDataLine);
        drawText(hdc, look.nameSuffix, RECT{nameRight, T + px(12), XR, T + px(36)}, view.fontName, look.nameColour,
                 kDataLine);
    }

    const RECT track{X, T + px(46), XR, T + px(52)};
    if (track.right > track.left) fillRoundRect(graphics, track, px(3), Track);
    if (look.barFill && look.barWidth >= 1) {
        fillRoundRect(graphics, RECT{X, T + px(46), X + look.barWidth, T + px(52)}, px(3), look.barFill);
    }
    drawText(hdc, look.status, RECT{X, T + px(56), XR, T + px(76)}, view.fontRow, look.statusColour,
             kDataLine);

    for (const PanelButton& b : look.buttons) {
        const RECT rect{b.left, T + panelButtonTop(), b.right, T + panelButtonTop() + panelButtonHeight()};
        if (b.primary) {
            fillRoundRect(graphics, rect, px(15), Accent);
        } else {
            drawOutlinedBox(graphics, hdc, rect, px(15), Surface, Hairline, kSurfaceColour);
        }
        drawText(hdc, b.label, rect, view.fontButton, b.primary ? TextOnAccent : TextTertiary, kCentred);
        clip.addHit(rect, b.kind, task.appId);
    }
}

}  // namespace

void drawDownloadPanel(Gdiplus::Graphics& graphics, HDC hdc, int W, int H, const PaintFrame& frame) {
    ViewState& view = *frame.view;
    const size_t n = frame.tasks.size();

    drawText(hdc, panelTitle(n), RECT{px(224), px(82), W - px(200), px(116)}, view.fontSection, TextPrimary, kLine);
    headerButton(graphics, hdc, view, RECT{W - px(120), px(86), W - px(24), px(112)}, L"清除已完成", HitPanelClear, false);
    drawText(hdc, L"下载目录：", RECT{px(224), px(122), px(300), px(146)}, view.fontMeta, TextTertiary, kLine);
    drawText(hdc, frame.downloadDir, RECT{px(300), px(122), W - px(250), px(146)}, view.fontMeta, TextSecondary,
             kDataLine | DT_PATH_ELLIPSIS);
    headerButton(graphics, hdc, view, RECT{W - px(102), px(120), W - px(24), px(146)}, L"打开目录", HitPanelOpenDir, true);
    headerButton(graphics, hdc, view, RECT{W - px(188), px(120), W - px(110), px(146)}, L"修改目录", HitPanelChangeDir, true);

    const PanelGeometry g = panelGeometry(H, static_cast<int>(std::min<size_t>(n, INT_MAX)), view.panelScroll);
    view.panelScroll = g.scroll;
    view.panelScrollbar = ScrollbarGeom();

    if (n == 0) {
        drawText(hdc, L"暂无下载任务，去首页挑几款软件吧", RECT{px(200), px(214), W, px(284)}, view.fontBody, TextSecondary,
                 kCentred);
        return;
    }

    const RECT band{px(212), g.viewTop, W - px(12), g.viewBottom};
    if (!IsRectEmpty(&band)) {
        ClipBand clip(graphics, hdc, band, view.hitRects);
        const std::shared_ptr<const CategoryIndex> apps = frame.lists->categoryIndex();
        // Rows before scroll / pitch end above the band: the first one looked at is the
        // first that can show.
        const size_t first = std::min(n, size_t(g.scroll / panelRowPitch()));
        int index = static_cast<int>(first);
        for (auto entry = std::next(frame.tasks.begin(), static_cast<std::ptrdiff_t>(first)); entry != frame.tasks.end();
             ++entry) {
            const RECT row = panelRowRect(g, W, index++);
            if (row.top >= g.viewBottom) break;
            if (row.bottom <= g.viewTop) continue;
            drawRow(graphics, hdc, W, row, entry->second, frame, *apps, clip);
        }
    }

    const ScrollbarGeom bar = panelScrollbarGeom(g, W);
    if (bar.visible) {
        fillRoundRect(graphics, RECT{bar.trackLeft, bar.trackTop, bar.trackRight, bar.trackBottom}, px(2), ScrollTrack);
        fillRoundRect(graphics, RECT{bar.thumbLeft, bar.thumbTop, bar.thumbRight, bar.thumbBottom}, px(2), ScrollThumb);
        view.panelScrollbar = bar;
    }
}
