// The download-manager panel: title and task count, the directory line with its buttons,
// and one row per task with icon, name, progress, status and the buttons its state
// allows. Rows that do not fit below the header scroll, with the grid's thin bar.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstddef>
#include <iterator>
#include <memory>

#include "ui/clip.h"
#include "ui/face_cache.h"
#include "ui/layout.h"
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
    drawOutlinedBox(graphics, hdc, rect, areaCornerRadius(HitPanelClear), Surface, hot && outlineReacts ? AccentHairline : Hairline, ViewBackground);
    drawText(hdc, label, rect, view.fontButton, hot ? TextAccent : TextTertiary, kCentred);
    view.hitRects.push_back(HitRect{rect, kind, 0});
}

// A row's secondary buttons lie on the row's white surface.
constexpr COLORREF kSurfaceColour = RGB(255, 255, 255);

// A row's picture without its hit rectangles, moved by (dx, dy) from its place in the
// panel. keptBoxes: the outlined boxes come from the kept faces (not inside a kept row).
void drawRowPicture(Gdiplus::Graphics& graphics, HDC hdc, int W, const RECT& row, int dx, int dy, const RowLook& look,
                    const App* app, const PaintFrame& frame, bool keptBoxes) {
    const auto at = [dx, dy](const RECT& r) { return RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy}; };
    const auto outlined = [&](const RECT& rect, int radius, uint32_t outline, COLORREF background) {
        if (keptBoxes) {
            drawOutlinedBox(graphics, hdc, rect, radius, Surface, outline, background);
        } else {
            fillRoundRect(graphics, rect, radius, Surface);
            strokeRoundRect(graphics, rect, radius, outline);
        }
    };
    const ViewState& view = *frame.view;
    const int T = row.top;
    outlined(at(row), px(10), RowBorder, ViewBackground);

    drawAppIcon(graphics, app, at(rowIconRect(T)), frame);

    const int X = panelTrackLeft(), XR = panelTrackRight(W);
    if (look.nameSuffix.empty()) {
        drawText(hdc, look.name, at(RECT{X, T + px(12), XR, T + px(36)}), view.fontName, look.nameColour, kDataLine);
    } else {
        // The checksum warning must survive a long name: only the name gives way to the ellipsis.
        const int suffixW = textWidth(hdc, look.nameSuffix, view.fontName);
        const int nameRight = std::max(X, std::min(X + textWidth(hdc, look.name, view.fontName), XR - suffixW));
        drawText(hdc, look.name, at(RECT{X, T + px(12), nameRight, T + px(36)}), view.fontName, look.nameColour,
                 kDataLine);
        drawText(hdc, look.nameSuffix, at(RECT{nameRight, T + px(12), XR, T + px(36)}), view.fontName, look.nameColour,
                 kDataLine);
    }

    const RECT track{X, T + px(46), XR, T + px(52)};
    if (track.right > track.left) fillRoundRect(graphics, at(track), px(3), Track);
    if (look.barFill && look.barWidth >= 1) {
        fillRoundRect(graphics, at(RECT{X, T + px(46), X + look.barWidth, T + px(52)}), px(3), look.barFill);
    }
    drawText(hdc, look.status, at(RECT{X, T + px(56), XR, T + px(76)}), view.fontRow, look.statusColour, kDataLine);

    for (const PanelButton& b : look.buttons) {
        const RECT rect = at(RECT{b.left, T + panelButtonTop(), b.right, T + panelButtonTop() + panelButtonHeight()});
        if (b.primary) {
            fillRoundRect(graphics, rect, areaCornerRadius(HitPanelInstall), Accent);
        } else {
            outlined(rect, areaCornerRadius(HitPanelFolder), Hairline, kSurfaceColour);
        }
        drawText(hdc, b.label, rect, view.fontButton, b.primary ? TextOnAccent : TextTertiary, kCentred);
    }
}

// Everything a row shows, so that a kept row is drawn again when any of it changes.
std::wstring rowLookText(int W, const RowLook& look, const App* app) {
    wchar_t head[160];
    std::swprintf(head, 160, L"%d|%p|%d|%p|%06X|%06X|%08X|%d|", W, static_cast<const void*>(app),
                  app ? app->iconState.load() : -1, static_cast<const void*>(app ? keptIcon(*app).get() : nullptr),
                  static_cast<unsigned>(look.nameColour), static_cast<unsigned>(look.statusColour), look.barFill,
                  look.barWidth);
    std::wstring text = head;
    text += look.name;
    text += L'\x1f';
    text += look.nameSuffix;
    text += L'\x1f';
    text += look.status;
    for (const PanelButton& b : look.buttons) {
        wchar_t button[64];
        std::swprintf(button, 64, L"\x1f%d|%d|%d|%d|", b.kind, b.left, b.right, b.primary ? 1 : 0);
        text += button;
        text += b.label;
    }
    return text;
}

void drawRow(Gdiplus::Graphics& graphics, HDC hdc, int W, const RECT& row, const TaskInfo& task,
             const PaintFrame& frame, const CategoryIndex& index, const ClipBand& clip) {
    const RowLook look = panelRowLook(task, W);
    const App* app = index.app(task.appId);
    // A row is kept once its icon is settled: a never-requested icon is drawn live, so that
    // this paint starts its fetch.
    const bool fetchDue = app && app->iconState.load() == 0 && frame.fetchIcons && !app->icon.empty();
    bool kept = false;
    if (!fetchDue) {
        wchar_t key[32];
        std::swprintf(key, 32, L"row|%d", task.appId);
        // One pixel around the row for its outline's overhang.
        const RECT part{row.left - 1, row.top - 1, row.right + 1, row.bottom + 1};
        kept = drawFace(graphics, hdc, part, key, rowLookText(W, look, app), ViewBackground,
                        [&](Gdiplus::Graphics& faceGraphics, HDC faceDc) {
                            drawRowPicture(faceGraphics, faceDc, W, row, 1 - row.left, 1 - row.top, look, app, frame,
                                           false);
                        });
    }
    if (!kept) drawRowPicture(graphics, hdc, W, row, 0, 0, look, app, frame, true);

    const int T = row.top;
    for (const PanelButton& b : look.buttons) {
        clip.addHit(RECT{b.left, T + panelButtonTop(), b.right, T + panelButtonTop() + panelButtonHeight()}, b.kind,
                    task.appId);
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
