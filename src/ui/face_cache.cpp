#include "ui/face_cache.h"

#include <cstdio>
#include <memory>
#include <unordered_map>
#include <utility>

#include "scoped.h"
#include "ui/gdiplus.h"
#include "ui/scale.h"
#include "ui/ui.h"

namespace {

// What one screen shows at 150 % (16 cards, 6 download rows, 20 sidebar rows, buttons) is
// about 14 MB; at 100 % about 6 MB. Hovered looks and a scrolled page fit beside it.
constexpr size_t kMaxFaces = 128;
constexpr size_t kMaxBytes = size_t(24) << 20;
constexpr size_t kMaxFaceBytes = size_t(2) << 20;  // larger parts are drawn, not kept

// A bitmap kept selected into its own memory DC, so that a copy selects nothing.
class FaceBitmap {
public:
    FaceBitmap(HDC target, int width, int height) {
        dc_.reset(CreateCompatibleDC(target));
        bitmap_.reset(CreateCompatibleBitmap(target, width, height));
        if (dc_ && bitmap_) previous_ = SelectObject(dc_.get(), bitmap_.get());
    }
    // The bitmap leaves the DC before either is deleted.
    ~FaceBitmap() {
        if (previous_) SelectObject(dc_.get(), previous_);
    }
    FaceBitmap(const FaceBitmap&) = delete;
    FaceBitmap& operator=(const FaceBitmap&) = delete;

    bool usable() const { return previous_ != nullptr; }
    HDC dc() const { return dc_.get(); }

private:
    ScopedMemoryDc dc_;
    ScopedGdiObject bitmap_;
    HGDIOBJ previous_ = nullptr;
};

struct Face {
    std::wstring look;
    std::unique_ptr<FaceBitmap> bitmap;
    int width = 0, height = 0;
    size_t bytes = 0;
    unsigned long long used = 0;
};

// What every kept part was drawn with; a change drops them all.
struct Basis {
    std::weak_ptr<const CatalogLists> lists;
    const CatalogLists* listsSeen = nullptr;
    int dpi = 0;
    int bitsPerPixel = 0;
    HFONT fonts[7] = {};
};

struct Faces {
    bool enabled = true;
    std::unordered_map<std::wstring, Face> kept;
    size_t bytes = 0;
    unsigned long long clock = 0;
    unsigned drawn = 0;
    Basis basis;
};

// Held until the process ends, like the other shared drawing resources.
Faces& faces() {
    static Faces* shared = new Faces;
    return *shared;
}

void dropAll(Faces& f) {
    f.kept.clear();
    f.bytes = 0;
}

// The fonts the kept parts are drawn in.
void fontsOf(const ViewState* view, HFONT (&fonts)[7]) {
    if (!view) {
        for (HFONT& font : fonts) font = nullptr;
        return;
    }
    const HFONT now[7] = {view->fontName, view->fontBody,   view->fontMeta,   view->fontInitial,
                          view->fontButton, view->fontRow, view->fontSidebar};
    for (int i = 0; i < 7; ++i) fonts[i] = now[i];
}

bool sameFonts(const HFONT (&a)[7], const HFONT (&b)[7]) {
    for (int i = 0; i < 7; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

void evictFor(Faces& f, size_t need) {
    while (!f.kept.empty() && (f.kept.size() >= kMaxFaces || f.bytes + need > kMaxBytes)) {
        auto oldest = f.kept.begin();
        for (auto it = f.kept.begin(); it != f.kept.end(); ++it) {
            if (it->second.used < oldest->second.used) oldest = it;
        }
        f.bytes -= oldest->second.bytes;
        f.kept.erase(oldest);
    }
}

void copyModes(Gdiplus::Graphics& from, Gdiplus::Graphics& to) {
    to.SetSmoothingMode(from.GetSmoothingMode());
    to.SetTextRenderingHint(from.GetTextRenderingHint());
    to.SetInterpolationMode(from.GetInterpolationMode());
    to.SetPixelOffsetMode(from.GetPixelOffsetMode());
    to.SetCompositingQuality(from.GetCompositingQuality());
}

}  // namespace

void beginFacePaint(const PaintFrame& frame, HDC target) {
    Faces& f = faces();
    Basis& b = f.basis;
    const std::shared_ptr<const CatalogLists>& lists = frame.lists;
    HFONT fonts[7];
    fontsOf(frame.view, fonts);
    const int bitsPerPixel = target ? GetDeviceCaps(target, BITSPIXEL) : 0;
    // The lists are compared through the weak link: their address alone could be that of
    // newer lists made after the old ones were freed.
    if (b.lists.lock() != lists || b.listsSeen != lists.get() || b.dpi != uiDpi() || !sameFonts(b.fonts, fonts) ||
        b.bitsPerPixel != bitsPerPixel) {
        dropAll(f);
        b.lists = lists;
        b.listsSeen = lists.get();
        b.dpi = uiDpi();
        b.bitsPerPixel = bitsPerPixel;
        for (int i = 0; i < 7; ++i) b.fonts[i] = fonts[i];
    }
}

bool drawFace(Gdiplus::Graphics& like, HDC target, const RECT& rect, const std::wstring& key, const std::wstring& look,
              COLORREF background, const FacePainter& paint) {
    Faces& f = faces();
    if (!f.enabled || !target) return false;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;
    const size_t bytes = size_t(width) * size_t(height) * 4;
    if (bytes > kMaxFaceBytes) return false;

    auto found = f.kept.find(key);
    if (found != f.kept.end() && (found->second.width != width || found->second.height != height)) {
        f.bytes -= found->second.bytes;
        f.kept.erase(found);
        found = f.kept.end();
    }
    bool fresh = false;
    if (found == f.kept.end()) {
        evictFor(f, bytes);
        Face face;
        face.bitmap = std::make_unique<FaceBitmap>(target, width, height);
        if (!face.bitmap->usable()) return false;
        face.width = width;
        face.height = height;
        face.bytes = bytes;
        f.bytes += bytes;
        found = f.kept.emplace(key, std::move(face)).first;
        fresh = true;
    }
    Face& face = found->second;
    face.used = ++f.clock;

    HDC scratch = face.bitmap->dc();
    if (fresh || face.look != look) {
        face.look.clear();  // a drawing that does not finish leaves a face no look matches
        const RECT all{0, 0, width, height};
        ScopedGdiObject brush(CreateSolidBrush(background));
        FillRect(scratch, &all, static_cast<HBRUSH>(brush.get()));
        const int oldMode = SetBkMode(scratch, TRANSPARENT);
        {
            Gdiplus::Graphics graphics(scratch);
            copyModes(like, graphics);
            paint(graphics, scratch);
        }
        SetBkMode(scratch, oldMode);
        face.look = look;
        ++f.drawn;
    }
    BitBlt(target, rect.left, rect.top, width, height, scratch, 0, 0, SRCCOPY);
    return true;
}

void drawOutlinedBox(Gdiplus::Graphics& graphics, HDC hdc, const RECT& rect, int radius, uint32_t fill,
                     uint32_t outline, COLORREF background) {
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    wchar_t look[96];
    std::swprintf(look, 96, L"box|%d|%d|%d|%08X|%08X|%06X", width, height, radius, fill, outline,
                  static_cast<unsigned>(background));
    // The outline's pen straddles the edges: the part reaches a pixel beyond them.
    const auto paint = [&](Gdiplus::Graphics& g, HDC) {
        const RECT local{1, 1, 1 + width, 1 + height};
        fillRoundRect(g, local, radius, fill);
        strokeRoundRect(g, local, radius, outline);
    };
    const RECT part{rect.left - 1, rect.top - 1, rect.right + 1, rect.bottom + 1};
    if (drawFace(graphics, hdc, part, look, look, background, paint)) return;
    fillRoundRect(graphics, rect, radius, fill);
    strokeRoundRect(graphics, rect, radius, outline);
}

void setFaceCaching(bool enabled) { faces().enabled = enabled; }
bool faceCaching() { return faces().enabled; }

void releaseFaces() {
    Faces& f = faces();
    dropAll(f);
    f.basis = Basis();
}

FaceCounts faceCounts() {
    const Faces& f = faces();
    return FaceCounts{f.kept.size(), f.bytes, f.drawn};
}
