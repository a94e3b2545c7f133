#include "ui/ui.h"

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

// An icon already scaled to the sizes it is drawn at, so that a paint copies pixels
// instead of converting and resampling the full decoded bitmap every time. Each copy is
// what drawing the bitmap scaled with the same modes would put down, kept with its
// alpha (premultiplied, the form GDI+ composes in) so that it blends the same way.
class IconPaintCache {
public:
    explicit IconPaintCache(HBITMAP source) : source_(source) {}
    HBITMAP source() const { return source_; }

    // The copy for this size and these modes, made on first use; null when the source
    // cannot be wrapped or the cache is full.
    Gdiplus::Bitmap* scaled(int width, int height, Gdiplus::InterpolationMode interpolation,
                            Gdiplus::PixelOffsetMode offset) {
        // The sizes of another display scale are never drawn again once the window moved.
        if (dpi_ != uiDpi()) {
            entries_.clear();
            dpi_ = uiDpi();
        }
        for (const Entry& e : entries_) {
            if (e.width == width && e.height == height && e.interpolation == interpolation && e.offset == offset)
                return e.bitmap.get();
        }
        if (entries_.size() >= kMaxEntries) return nullptr;
        Gdiplus::Bitmap wrapped(source_, nullptr);
        if (wrapped.GetLastStatus() != Gdiplus::Ok) return nullptr;
        auto bitmap = std::make_unique<Gdiplus::Bitmap>(width, height, PixelFormat32bppPARGB);
        if (bitmap->GetLastStatus() != Gdiplus::Ok) return nullptr;
        {
            Gdiplus::Graphics g(bitmap.get());
            if (g.GetLastStatus() != Gdiplus::Ok) return nullptr;
            g.SetInterpolationMode(interpolation);
            g.SetPixelOffsetMode(offset);
            g.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
            if (g.DrawImage(&wrapped, 0, 0, width, height) != Gdiplus::Ok) return nullptr;
        }
        entries_.push_back(Entry{width, height, interpolation, offset, std::move(bitmap)});
        return entries_.back().bitmap.get();
    }

private:
    // Cards, panel rows and the banner use three sizes; a stray fourth is allowed.
    static constexpr size_t kMaxEntries = 4;
    struct Entry {
        int width, height;
        Gdiplus::InterpolationMode interpolation;
        Gdiplus::PixelOffsetMode offset;
        std::unique_ptr<Gdiplus::Bitmap> bitmap;
    };
    HBITMAP source_;
    int dpi_ = uiDpi();
    std::vector<Entry> entries_;
};

bool iconPaintCaching = true;

bool identityTransform(Gdiplus::Graphics& graphics) {
    Gdiplus::Matrix m;
    if (graphics.GetTransform(&m) != Gdiplus::Ok) return false;
    const Gdiplus::Unit unit = graphics.GetPageUnit();
    return m.IsIdentity() != FALSE && (unit == Gdiplus::UnitPixel || unit == Gdiplus::UnitDisplay) &&
           graphics.GetPageScale() == 1.0f;
}

// Draws the ready icon of app scaled into rect; false when it could not be drawn.
bool drawIconBitmap(Gdiplus::Graphics& graphics, const App& app, HBITMAP bitmap, const RECT& rect) {
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return true;
    const Gdiplus::InterpolationMode interpolation = graphics.GetInterpolationMode();
    const Gdiplus::PixelOffsetMode offset = graphics.GetPixelOffsetMode();
    // The scaled copy is only the same picture when it lands on whole pixels unscaled.
    if (iconPaintCaching && identityTransform(graphics)) {
        auto* cache = static_cast<IconPaintCache*>(app.paintCache.get());
        if (!cache || cache->source() != bitmap) {
            app.paintCache = std::make_shared<IconPaintCache>(bitmap);
            cache = static_cast<IconPaintCache*>(app.paintCache.get());
        }
        if (Gdiplus::Bitmap* scaled = cache->scaled(width, height, interpolation, offset)) {
            graphics.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
            const Gdiplus::Status status = graphics.DrawImage(scaled, rect.left, rect.top, width, height);
            graphics.SetInterpolationMode(interpolation);
            if (status == Gdiplus::Ok) return true;
        }
    }
    Gdiplus::Bitmap wrapped(bitmap, nullptr);
    if (wrapped.GetLastStatus() != Gdiplus::Ok) return false;
    graphics.DrawImage(&wrapped, rect.left, rect.top, width, height);
    return true;
}

}  // namespace

void setIconPaintCaching(bool enabled) { iconPaintCaching = enabled; }

void addRoundRectPath(Gdiplus::GraphicsPath& path, const RECT& rect, int radius) {
    path.StartFigure();
    if (radius <= 0) {
        const Gdiplus::Point corners[4] = {{rect.left, rect.top},
                                           {rect.right, rect.top},
                                           {rect.right, rect.bottom},
                                           {rect.left, rect.bottom}};
        path.AddLines(corners, 4);
    } else {
        const int d = radius * 2;
        path.AddArc(rect.left, rect.top, d, d, 180.0f, 90.0f);
        path.AddArc(rect.right - d, rect.top, d, d, 270.0f, 90.0f);
        path.AddArc(rect.right - d, rect.bottom - d, d, d, 0.0f, 90.0f);
        path.AddArc(rect.left, rect.bottom - d, d, d, 90.0f, 90.0f);
    }
    path.CloseFigure();
}

void fillRoundRect(Gdiplus::Graphics& graphics, const RECT& rect, int radius, uint32_t argb) {
    Gdiplus::GraphicsPath path;
    addRoundRectPath(path, rect, radius);
    Gdiplus::SolidBrush brush(argbColour(argb));
    graphics.FillPath(&brush, &path);
}

void strokeRoundRect(Gdiplus::Graphics& graphics, const RECT& rect, int radius, uint32_t argb) {
    Gdiplus::GraphicsPath path;
    addRoundRectPath(path, rect, radius);
    Gdiplus::Pen pen(argbColour(argb), 1.0f);
    graphics.DrawPath(&pen, &path);
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
    if (app && frame.fetchIcons && frame.catalog && !app->icon.empty() && app->iconState.load() == 0)
        requestIcon(*frame.catalog, frame.iconNotify, frame.ref(app), frame.server);

    if (app && app->iconState.load() == 2) {
        if (HBITMAP bitmap = app->iconBitmap.load()) {
            if (drawIconBitmap(graphics, *app, bitmap, rect)) return;
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
