// The download-manager panel: title and task count, the directory line with its buttons,
// and one row per task with icon, name, progress, status and the buttons its state
// allows. Rows that do not fit below the header scroll, with the grid's thin bar.
#include <algorithm>
#include <climits>

#include "ui/clip.h"
#include "ui/looks.h"
#include "ui/ui.h"

namespace {

constexpr UINT kLine = DT_SINGLELINE | DT_VCENTER;
// Task names, paths and server messages are shown as they come ("&" is not a prefix).
constexpr UINT kDataLine = DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX;
constexpr UINT kCentred = DT_SINGLELINE | DT_VCENTER | DT_CENTER;

bool hovered(int kind) { return gApp.hoverValid && gApp.hoverKind == kind; }

// A header button: white with a hairline; when hovered the label turns accent and, where
// the button asks for it, the outline too.
void headerButton(Gdiplus::Graphics& graphics, HDC hdc, const RECT& rect, const wchar_t* label, int kind,
                  bool outlineReacts) {
    const bool hot = hovered(kind);
    fillRoundRect(graphics, rect, 13, Surface);
    strokeRoundRect(graphics, rect, 13, hot && outlineReacts ? AccentHairline : Hairline);
    drawText(hdc, label, rect, gApp.fontButton, hot ? TextAccent : TextTertiary, kCentred);
    gApp.hitRects.push_back(HitRect{rect, kind, 0});
}

void drawRow(Gdiplus::Graphics& graphics, HDC hdc, int W, const RECT& row, const TaskInfo& task,
             const PaintFrame& frame, const ClipBand& clip) {
    const int T = row.top;
    fillRoundRect(graphics, row, 10, Surface);
    strokeRoundRect(graphics, row, 10, RowBorder);

    drawAppIcon(graphics, findApp(frame.lists->apps, task.appId), RECT{236, T + 19, 284, T + 67}, frame);

    const RowLook look = panelRowLook(task, W);
    if (look.nameSuffix.empty()) {
        drawText(hdc, look.name, RECT{298, T + 12, W - 260, T + 36}, gApp.fontName, look.nameColour, kDataLine);
    } else {
        // The checksum warning must survive a long name: only the name gives way to the ellipsis.
        const int suffixW = textWidth(hdc, look.nameSuffix, gApp.fontName);
        const int nameRight = std::max(298, std::min(298 + textWidth(hdc, look.name, gApp.fontName), W - 260 - suffixW));
        drawText(hdc, look.name, RECT{298, T + 12, nameRight, T + 36}, gApp.fontName, look.nameColour, kDataLine);
        drawText(hdc, look.nameSuffix, RECT{nameRight, T + 12, W - 260, T + 36}, gApp.fontName, look.nameColour,
                 kDataLine);
    }

    const RECT track{298, T + 46, W - 260, T + 52};
    if (track.right > track.left) fillRoundRect(graphics, track, 3, Track);
    if (look.barFill && look.barWidth >= 1) {
        fillRoundRect(graphics, RECT{298, T + 46, 298 + look.barWidth, T + 52}, 3, look.barFill);
    }
    drawText(hdc, look.status, RECT{298, T + 56, W - 260, T + 76}, gApp.fontRow, look.statusColour,
             kDataLine);

    for (const PanelButton& b : look.buttons) {
        const RECT rect{b.left, T + 28, b.right, T + 58};
        if (b.primary) {
            fillRoundRect(graphics, rect, 15, Accent);
        } else {
            fillRoundRect(graphics, rect, 15, Surface);
            strokeRoundRect(graphics, rect, 15, Hairline);
        }
        drawText(hdc, b.label, rect, gApp.fontButton, b.primary ? TextOnAccent : TextTertiary, kCentred);
        clip.addHit(rect, b.kind, task.appId);
    }
}

}  // namespace

void drawDownloadPanel(Gdiplus::Graphics& graphics, HDC hdc, int W, int H, const PaintFrame& frame) {
    const size_t n = frame.tasks.size();

    drawText(hdc, panelTitle(n), RECT{224, 82, W - 200, 116}, gApp.fontSection, TextPrimary, kLine);
    headerButton(graphics, hdc, RECT{W - 120, 86, W - 24, 112}, L"清除已完成", HitPanelClear, false);
    drawText(hdc, L"下载目录：", RECT{224, 122, 300, 146}, gApp.fontMeta, TextTertiary, kLine);
    drawText(hdc, frame.downloadDir, RECT{300, 122, W - 250, 146}, gApp.fontMeta, TextSecondary,
             kDataLine | DT_PATH_ELLIPSIS);
    headerButton(graphics, hdc, RECT{W - 102, 120, W - 24, 146}, L"打开目录", HitPanelOpenDir, true);
    headerButton(graphics, hdc, RECT{W - 188, 120, W - 110, 146}, L"修改目录", HitPanelChangeDir, true);

    const PanelGeometry g = panelGeometry(H, static_cast<int>(std::min<size_t>(n, INT_MAX)), gApp.panelScroll);
    gApp.panelScroll = g.scroll;
    gApp.panelScrollbar = ScrollbarGeom();

    if (n == 0) {
        drawText(hdc, L"暂无下载任务，去首页挑几款软件吧", RECT{200, 214, W, 284}, gApp.fontBody, TextSecondary,
                 kCentred);
        return;
    }

    const RECT band{212, g.viewTop, W - 12, g.viewBottom};
    if (!IsRectEmpty(&band)) {
        ClipBand clip(graphics, hdc, band);
        int index = 0;
        for (const auto& entry : frame.tasks) {
            const RECT row = panelRowRect(g, W, index++);
            if (row.top >= g.viewBottom) break;
            if (row.bottom <= g.viewTop) continue;
            drawRow(graphics, hdc, W, row, entry.second, frame, clip);
        }
    }

    const ScrollbarGeom bar = panelScrollbarGeom(g, W);
    if (bar.visible) {
        fillRoundRect(graphics, RECT{bar.trackLeft, bar.trackTop, bar.trackRight, bar.trackBottom}, 2, ScrollTrack);
        fillRoundRect(graphics, RECT{bar.thumbLeft, bar.thumbTop, bar.thumbRight, bar.thumbBottom}, 2, ScrollThumb);
        gApp.panelScrollbar = bar;
    }
}
