// Shared pieces of the paint tests: GDI+ and the shared fonts started once, a canvas (a
// memory DC over a 32-bit DIB whose pixels can be read back), a GDI+ graphics object set
// up as the paint pass sets it up, and a fresh view state between tests.
#pragma once

#include <windows.h>
// The 16-bit pointer qualifiers windows.h still defines would swallow painttest::near.
#undef near
#undef far

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "scoped.h"
#include "ui/gdiplus.h"
#include "ui/ui.h"

namespace painttest {

// Starts GDI+ and creates gApp's fonts the first time it is called.
void ensureGraphics();

// Makes bitmap the app's ready icon as the fetch worker keeps a decoded one (scaled to
// the views' sizes at the current scale) and deletes the bitmap.
void keepIconOf(const App& app, HBITMAP bitmap);

// Puts gApp's view fields back to their initial values (fonts and config stay).
void resetViewState();

class Canvas {
public:
    Canvas(int width, int height, COLORREF background = RGB(245, 246, 248));
    HDC dc() const { return dc_.get(); }
    int width() const { return width_; }
    int height() const { return height_; }
    // A graphics object with the paint pass's modes: anti-alias, ClearType grid-fit text,
    // high-quality bicubic interpolation.
    std::unique_ptr<Gdiplus::Graphics> graphics() const;
    COLORREF pixel(int x, int y) const;  // RGB(r, g, b); 0xFFFFFFFF outside the canvas
    // Every pixel as 0x00RRGGBB, row by row, after one flush: for reading a whole canvas
    // (a flush per pixel costs seconds under Wine).
    std::vector<uint32_t> readBack() const;
    // Saves the canvas as a PNG file (for failure screenshots and the snapshot tool).
    bool savePng(const std::wstring& path) const;

private:
    int width_, height_;
    ScopedMemoryDc dc_;
    ScopedGdiObject bitmap_;
    HGDIOBJ previous_ = nullptr;
    uint32_t* bits_ = nullptr;
};

// The colour an ARGB fill gives over an opaque background, per channel rounded.
COLORREF blend(uint32_t argb, COLORREF background);
// Whether two colours differ by at most `tolerance` in every channel.
bool near(COLORREF a, COLORREF b, int tolerance = 2);
std::string describe(COLORREF c);  // "RGB(1,2,3)"
// The opaque colour of a 0xAARRGGBB palette entry as a GDI colour.
inline COLORREF rgbOf(uint32_t argb) { return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF); }

// The main view's plain backgrounds, as the probes expect them.
constexpr COLORREF kContentBg = RGB(245, 246, 248);
constexpr COLORREF kSidebarBg = RGB(0xFA, 0xFB, 0xFD);

// A frame with the given lists and no tasks, at tick `now`.
PaintFrame frameWith(std::shared_ptr<const CatalogLists> lists, uint32_t now = 100000);

}  // namespace painttest
