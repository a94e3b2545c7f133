// The catalog's card grid: one fixed-height card per application with icon, name and
// version, description, meta line and install button; scrolls with its own thin bar.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>

#include "ui/clip.h"
#include "ui/face_cache.h"
#include "ui/layout.h"
#include "ui/looks.h"
#include "ui/scale.h"
#include "ui/ui.h"

namespace {

// Catalog texts are shown as they come: an "&" is a character, not a mnemonic prefix.
constexpr UINT kCentredLine = DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX;

// The name, with the version tag beside it: centred together when both fit, otherwise
// the name gives way (end ellipsis) and the tag stays whole at the right edge.
void drawNameLine(HDC hdc, const App& app, int left, int top, int right, HFONT font) {
    const int bottom = top + px(24);
    if (app.version.empty()) {
        drawText(hdc, app.name, RECT{left, top, right, bottom}, font, TextPrimary, kCentredLine);
        return;
    }
    const std::wstring tag = L"v" + app.version;
    if (app.name.empty()) {
        drawText(hdc, tag, RECT{left, top, right, bottom}, font, TextPrimary, kCentredLine);
        return;
    }
    const int nameW = textWidth(hdc, app.name, font);
    const int tagW = textWidth(hdc, tag, font);
    const int avail = right - left;
    const int gap = px(5);
    const int64_t total = int64_t(nameW) + tagW + gap;
    const UINT line = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
    if (int64_t(tagW) + gap >= avail) {
        // A tag that leaves the name no room at all: the name is the more useful of the two.
        drawText(hdc, app.name, RECT{left, top, right, bottom}, font, TextPrimary, kCentredLine);
    } else if (avail < total) {
        drawText(hdc, tag, RECT{right - tagW, top, right, bottom}, font, TextPrimary, line);
        drawText(hdc, app.name, RECT{left, top, right - tagW - gap, bottom}, font, TextPrimary,
                 line | DT_END_ELLIPSIS);
    } else {
        const int start = left + static_cast<int>((avail - total) / 2);
        drawText(hdc, app.name, RECT{start, top, start + nameW, bottom}, font, TextPrimary, line);
        drawText(hdc, tag, RECT{start + nameW + gap, top, right, bottom}, font, TextPrimary, line);
    }
}

// Everything of a card but its button: surface, outline, icon, name line, description,
// meta line and separator, for the card rectangle given.
void drawCardFace(Gdiplus::Graphics& graphics, HDC hdc, const GridGeometry& g, const RECT& card, const App& app,
                  bool hot, const std::wstring& meta, const PaintFrame& frame) {
    const int L = card.left, T = card.top, R = card.right;
    const int TL = L + px(8), TR = R - px(8);
    const ViewState& view = *frame.view;

    fillRoundRect(graphics, card, px(10), Surface);
    strokeRoundRect(graphics, card, px(10), hot ? HairlineHot : Hairline);

    drawAppIcon(graphics, &app, cardIconRect(L, T, g.cardW), frame);

    drawNameLine(hdc, app, TL, T + px(104), TR, view.fontName);
    drawText(hdc, app.description, RECT{TL, T + px(130), TR, T + px(150)}, view.fontBody, TextSecondary, kCentredLine);
    if (!meta.empty()) drawText(hdc, meta, RECT{TL, T + px(152), TR, T + px(172)}, view.fontMeta, TextSecondary, kCentredLine);

    {
        Gdiplus::Pen pen(Gdiplus::Color(Hairline), 1.0f);
        graphics.DrawLine(&pen, L + px(18), T + px(180), R - px(18), T + px(180));
    }
}

// The install button lies on the card's white surface.
constexpr COLORREF kCardSurface = RGB(255, 255, 255);

void drawButton(Gdiplus::Graphics& graphics, HDC hdc, const RECT& button, const ButtonLook& look, const ViewState& view) {
    fillRoundRect(graphics, button, areaCornerRadius(HitCardButton), look.fill);
    if (look.progressFill && look.progressWidth >= 1) {
        fillRoundRect(graphics, RECT{button.left, button.top, button.left + look.progressWidth, button.bottom}, areaCornerRadius(HitCardButton),
                      look.progressFill);
    }
    drawText(hdc, look.label, button, view.fontButton, look.text, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
}

// What the face shows, so that a kept face is drawn again when any of it changes.
std::wstring faceLook(const App& app, bool hot, int iconState, const std::wstring& meta) {
    wchar_t head[64];
    std::swprintf(head, 64, L"%d|%d|%p|", hot ? 1 : 0, iconState, static_cast<const void*>(keptIcon(app).get()));
    std::wstring look = head;
    look.reserve(look.size() + app.name.size() + app.version.size() + app.description.size() + meta.size() + 3);
    look += app.name;
    look += L'\x1f';
    look += app.version;
    look += L'\x1f';
    look += app.description;
    look += L'\x1f';
    look += meta;
    return look;
}

void drawCard(Gdiplus::Graphics& graphics, HDC hdc, const GridGeometry& g, const RECT& card, const App& app,
              const PaintFrame& frame, const ClipBand& clip) {
    const ViewState& view = *frame.view;
    const bool hot = view.hoverValid && view.hoverKind == HitCardButton && view.hoverId == app.id;
    const std::wstring meta = metaLine(app.packageSize, app.updatedAt);

    // The face is kept once its icon is settled: a never-requested icon is drawn live, so
    // that this paint starts its fetch.
    const int iconState = app.iconState.load();
    const bool fetchDue = iconState == 0 && frame.fetchIcons && !app.icon.empty();
    bool kept = false;
    if (!fetchDue) {
        wchar_t key[48];
        std::swprintf(key, 48, L"card|%p|%d", static_cast<const void*>(&app), hot ? 1 : 0);
        const int w = card.right - card.left, h = card.bottom - card.top;
        // One pixel around the card for its outline's overhang.
        const RECT part{card.left - 1, card.top - 1, card.right + 1, card.bottom + 1};
        kept = drawFace(graphics, hdc, part, key, faceLook(app, hot, iconState, meta), ViewBackground,
                        [&](Gdiplus::Graphics& faceGraphics, HDC faceDc) {
                            drawCardFace(faceGraphics, faceDc, g, RECT{1, 1, 1 + w, 1 + h}, app, hot, meta, frame);
                        });
    }
    if (!kept) drawCardFace(graphics, hdc, g, card, app, hot, meta, frame);

    const RECT button = gridButtonRect(g, card);
    clip.addHit(button, HitCardButton, app.id);

    const TaskInfo* task = frame.task(app.id);
    const int state = task ? task->state : -1;
    const int percent = task ? taskPercent(task->downloadedBytes, task->totalBytes) : 0;
    const ButtonLook look = cardButtonLook(state, percent, task && task->isArchive, app.hasPackage, hot,
                                           task && task->interrupted);
    // Buttons of one look are alike on every card: one kept face serves them all.
    wchar_t head[96];
    std::swprintf(head, 96, L"button|%ld|%ld|%08X|%08X|%d|%06X|", button.right - button.left, button.bottom - button.top,
                  look.fill, look.progressFill, look.progressWidth, static_cast<unsigned>(look.text));
    const std::wstring buttonLook = head + look.label;
    const RECT part{button.left - 1, button.top - 1, button.right + 1, button.bottom + 1};
    const RECT local{1, 1, 1 + button.right - button.left, 1 + button.bottom - button.top};
    if (!drawFace(graphics, hdc, part, buttonLook, buttonLook, kCardSurface,
                  [&](Gdiplus::Graphics& faceGraphics, HDC faceDc) { drawButton(faceGraphics, faceDc, local, look, view); })) {
        drawButton(graphics, hdc, button, look, view);
    }
}

}  // namespace

void drawAppGrid(Gdiplus::Graphics& graphics, HDC hdc, const RECT& area, const std::vector<const App*>& apps,
                 const std::wstring* title, const PaintFrame& frame) {
    ViewState& view = *frame.view;
    const int count = static_cast<int>(std::min<size_t>(apps.size(), INT_MAX));
    const GridGeometry g = gridGeometry(area, title != nullptr, count, view.gridScroll);
    view.gridScroll = g.scroll;

    if (title) {
        drawText(hdc, *title, RECT{area.left, area.top, area.right, area.top + px(40)}, view.fontSection, TextPrimary,
                 DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
    }

    const RECT band{area.left, g.gridTop, area.right, area.bottom};
    if (g.cardW >= 1 && !IsRectEmpty(&band)) {
        ClipBand clip(graphics, hdc, band, view.hitRects);
        // Only the rows that reach into the band are looked at: a long list costs no more
        // than a short one.
        const int firstRow = g.scroll / gridRowPitch();
        for (int64_t i = int64_t(firstRow) * g.cols; i < count; ++i) {
            const RECT card = gridCardRect(g, area, static_cast<int>(i));
            if (card.top >= area.bottom) break;
            if (!apps[static_cast<size_t>(i)] || !gridCardVisible(g, area, card)) continue;
            drawCard(graphics, hdc, g, card, *apps[static_cast<size_t>(i)], frame, clip);
        }
    }

    view.gridScrollbar = ScrollbarGeom();
    const ScrollbarGeom bar = gridScrollbarGeom(g, area, count);
    if (bar.visible) {
        fillRoundRect(graphics, RECT{bar.trackLeft, bar.trackTop, bar.trackRight, bar.trackBottom}, px(2), ScrollTrack);
        fillRoundRect(graphics, RECT{bar.thumbLeft, bar.thumbTop, bar.thumbRight, bar.thumbBottom}, px(2), ScrollThumb);
        view.gridScrollbar = bar;
    }
}
