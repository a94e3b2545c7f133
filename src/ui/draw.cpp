#include "ui/ui.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "scoped.h"
#include "ui/gdiplus.h"
#include "ui/layout.h"
#include "ui/looks.h"
#include "ui/scale.h"

namespace {

Gdiplus::Color argbColour(uint32_t argb) { return Gdiplus::Color(static_cast<Gdiplus::ARGB>(argb)); }

uint32_t opaqueArgb(COLORREF colour) {
    return 0xFF000000u | uint32_t(GetRValue(colour)) << 16 | uint32_t(GetGValue(colour)) << 8 | GetBValue(colour);
}

bool identityTransform(Gdiplus::Graphics& graphics) {
    Gdiplus::Matrix m;
    if (graphics.GetTransform(&m) != Gdiplus::Ok) return false;
    const Gdiplus::Unit unit = graphics.GetPageUnit();
    return m.IsIdentity() != FALSE && (unit == Gdiplus::UnitPixel || unit == Gdiplus::UnitDisplay) &&
           graphics.GetPageScale() == 1.0f;
}

// Draws the kept icon into rect: the copy of that size pixel for pixel when it lands on
// whole pixels unscaled, else the nearest copy scaled with the graphics' own modes (a small
// image either way). False when there is nothing to draw.
bool drawKeptIcon(Gdiplus::Graphics& graphics, const IconImage& image, const RECT& rect) {
    const IconSize size{rect.right - rect.left, rect.bottom - rect.top};
    if (size.width <= 0 || size.height <= 0) return true;
    const IconCopy* exact = identityTransform(graphics) ? image.copy(size) : nullptr;
    const IconCopy* copy = exact ? exact : image.nearest(size);
    if (!copy) return false;
    // Only read while drawing, never written.
    Gdiplus::Bitmap bitmap(copy->size.width, copy->size.height, copy->size.width * 4, PixelFormat32bppPARGB,
                           reinterpret_cast<BYTE*>(const_cast<uint32_t*>(copy->pixels.data())));
    if (bitmap.GetLastStatus() != Gdiplus::Ok) return false;
    const Gdiplus::InterpolationMode interpolation = graphics.GetInterpolationMode();
    if (exact) graphics.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
    const Gdiplus::Status status = graphics.DrawImage(&bitmap, rect.left, rect.top, size.width, size.height);
    graphics.SetInterpolationMode(interpolation);
    return status == Gdiplus::Ok;
}

// A view draws the icon at one of its sizes that is not kept (the display scale changed,
// or another view shows it now): the icon is fetched once more and kept at the sizes of
// this scale it has plus this one. Until then the nearest copy is drawn scaled.
void askForDrawnSize(const App& app, const IconImage& image, IconSize drawn, const PaintFrame& frame) {
    if (image.copy(drawn) || !frame.fetchIcons || !frame.catalog) return;
    const std::vector<IconSize> current = iconSizes();
    const auto isCurrent = [&](IconSize size) { return std::find(current.begin(), current.end(), size) != current.end(); };
    if (!isCurrent(drawn) || image.refetchAsked.exchange(true)) return;
    std::vector<IconSize> sizes;
    for (const IconSize size : image.sizes()) {
        if (isCurrent(size)) sizes.push_back(size);
    }
    sizes.push_back(drawn);
    refetchIcon(*frame.catalog, frame.iconNotify, frame.ref(&app), frame.server, sizes);
}

}  // namespace

void addRoundRectPath(Gdiplus::GraphicsPath& path, float left, float top, float right, float bottom, float radius) {
    path.StartFigure();
    const float d = radius * 2;
    if (d <= 0) {
        const Gdiplus::PointF corners[4] = {{left, top}, {right, top}, {right, bottom}, {left, bottom}};
        path.AddLines(corners, 4);
    } else {
        path.AddArc(left, top, d, d, 180.0f, 90.0f);
        path.AddArc(right - d, top, d, d, 270.0f, 90.0f);
        path.AddArc(right - d, bottom - d, d, d, 0.0f, 90.0f);
        path.AddArc(left, bottom - d, d, d, 90.0f, 90.0f);
    }
    path.CloseFigure();
}

void addRoundRectPath(Gdiplus::GraphicsPath& path, const RECT& rect, int radius) {
    addRoundRectPath(path, float(rect.left), float(rect.top), float(rect.right), float(rect.bottom), float(radius));
}

void fillRoundRect(Gdiplus::Graphics& graphics, const RECT& rect, int radius, uint32_t argb) {
    Gdiplus::GraphicsPath path;
    addRoundRectPath(path, rect, radius);
    Gdiplus::SolidBrush brush(argbColour(argb));
    graphics.FillPath(&brush, &path);
}

void strokeRoundRect(Gdiplus::Graphics& graphics, const RECT& rect, int radius, uint32_t argb) {
    // The one-pixel outline filled as the ring between the outline grown and shrunk by half
    // a pixel: the pixels a one-pixel pen covers, for a small part of the cost (a stroke is
    // first widened into many small polygons; every card face draws one).
    Gdiplus::GraphicsPath ring(Gdiplus::FillModeAlternate);
    const float outer = radius > 0 ? radius + 0.5f : 0, inner = radius > 0 ? radius - 0.5f : 0;
    addRoundRectPath(ring, rect.left - 0.5f, rect.top - 0.5f, rect.right + 0.5f, rect.bottom + 0.5f, outer);
    addRoundRectPath(ring, rect.left + 0.5f, rect.top + 0.5f, rect.right - 0.5f, rect.bottom - 0.5f, inner);
    Gdiplus::SolidBrush brush(argbColour(argb));
    graphics.FillPath(&brush, &ring);
}

void fillRectArgb(Gdiplus::Graphics& graphics, const RECT& rect, uint32_t argb) {
    Gdiplus::SolidBrush brush(argbColour(argb));
    graphics.FillRectangle(&brush, static_cast<INT>(rect.left), static_cast<INT>(rect.top),
                           static_cast<INT>(rect.right - rect.left), static_cast<INT>(rect.bottom - rect.top));
}

void drawText(HDC hdc, const std::wstring& text, RECT rect, HFONT font, COLORREF colour, UINT flags) {
    SelectedObject selected(hdc, font);
    const COLORREF previousColour = SetTextColor(hdc, colour);
    const int previousMode = SetBkMode(hdc, TRANSPARENT);
    DrawTextW(hdc, text.c_str(), static_cast<int>(text.size()), &rect, flags);
    SetBkMode(hdc, previousMode);
    SetTextColor(hdc, previousColour);
}

int textWidth(HDC hdc, const std::wstring& text, HFONT font) {
    SelectedObject selected(hdc, font);
    SIZE size{0, 0};
    if (!GetTextExtentPoint32W(hdc, text.c_str(), static_cast<int>(text.size()), &size)) return 0;
    return size.cx;
}

void drawAppIcon(Gdiplus::Graphics& graphics, const App* app, const RECT& rect, const PaintFrame& frame) {
    const IconSize drawn{rect.right - rect.left, rect.bottom - rect.top};
    if (app && frame.fetchIcons && frame.catalog && !app->icon.empty() && app->iconState.load() == 0)
        requestIcon(*frame.catalog, frame.iconNotify, frame.ref(app), frame.server, {drawn});

    if (app && app->iconState.load() == 2) {
        if (const std::shared_ptr<const IconImage> image = keptIcon(*app)) {
            askForDrawnSize(*app, *image, drawn, frame);
            if (drawKeptIcon(graphics, *image, rect)) return;
        }
    }

    const COLORREF colour = placeholderColour(app ? app->id : 0);
    const int radius = placeholderRadius(rect.right - rect.left);
    fillRoundRect(graphics, rect, radius, opaqueArgb(tint(colour, 14)));
    strokeRoundRect(graphics, rect, radius, opaqueArgb(tint(colour, 30)));

    HDC hdc = graphics.GetHDC();
    if (!hdc) return;
    drawText(hdc, std::wstring(1, placeholderLetter(app)), rect, frame.view->fontInitial, colour,
             DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    graphics.ReleaseHDC(hdc);
}

void drawToolButton(Gdiplus::Graphics& graphics, HDC hdc, const RECT& rect, const std::wstring& label,
                    bool gearGlyph, bool hovered, bool active, HFONT font) {
    const int L = rect.left;
    const int T = rect.top;  // the glyphs sit at fixed places below the top edge
    if (active) {
        fillRoundRect(graphics, rect, areaCornerRadius(HitDownloadsTool), ToolActiveFill);
        strokeRoundRect(graphics, rect, areaCornerRadius(HitDownloadsTool), ToolActiveBorder);
    } else if (hovered) {
        fillRoundRect(graphics, rect, areaCornerRadius(HitDownloadsTool), ToolHoverFill);
    }

    Gdiplus::Pen pen(argbColour(Surface), pxf(1.6f));
    if (!gearGlyph) {
        graphics.DrawLine(&pen, L + px(21), T + px(10), L + px(21), T + px(20));
        graphics.DrawLine(&pen, L + px(17), T + px(16), L + px(21), T + px(20));
        graphics.DrawLine(&pen, L + px(25), T + px(16), L + px(21), T + px(20));
        graphics.DrawLine(&pen, L + px(13), T + px(23), L + px(13), T + px(26));
        graphics.DrawLine(&pen, L + px(29), T + px(23), L + px(29), T + px(26));
        graphics.DrawLine(&pen, L + px(13), T + px(26), L + px(29), T + px(26));
    } else {
        graphics.DrawEllipse(&pen, L + px(17), T + px(14), px(8), px(8));
        for (int k = 0; k < 8; ++k) {
            const double a = k * 3.14159265 * 0.25;
            const float cx = static_cast<float>(L + px(21)), cy = static_cast<float>(T + px(18));
            graphics.DrawLine(&pen, static_cast<float>(cx + pxf(5) * std::cos(a)), static_cast<float>(cy + pxf(5) * std::sin(a)),
                              static_cast<float>(cx + pxf(8) * std::cos(a)), static_cast<float>(cy + pxf(8) * std::sin(a)));
        }
    }

    const RECT labelRect{L + px(36), rect.top, rect.right - px(6), rect.bottom};
    drawText(hdc, label, labelRect, font, hovered || active ? TextOnAccent : ToolLabel,
             DT_SINGLELINE | DT_VCENTER);
}
