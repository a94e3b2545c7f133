#include "app/shadow.h"

#include <algorithm>
#include <vector>

#include "app/app_state.h"
#include "scoped.h"
#include "ui/gdiplus.h"
#include "ui/scale.h"
#include "ui/ui.h"

namespace {

constexpr wchar_t kShadowClass[] = L"KVShadow";

LRESULT CALLBACK shadowWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        ValidateRect(window, nullptr);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int shadowMargin() { return px(18); }

int shadowRingAlpha(int ring, int rings) {
    const double fade = 1.0 - ring / double(rings > 0 ? rings : 18);
    return static_cast<int>(64.0 * fade * fade);
}

void premultiplyPixels(uint32_t* pixels, size_t count) {
    for (size_t i = 0; i < count; i++) {
        const uint32_t p = pixels[i];
        const uint32_t a = p >> 24;
        if (a == 0 || a == 255) continue;
        const uint32_t b = (p & 0xFF) * a / 255;
        const uint32_t g = ((p >> 8) & 0xFF) * a / 255;
        const uint32_t r = ((p >> 16) & 0xFF) * a / 255;
        pixels[i] = a << 24 | r << 16 | g << 8 | b;
    }
}

bool drawShadowRings(int windowWidth, int windowHeight, uint32_t* pixels) {
    const int width = windowWidth + 2 * shadowMargin();
    const int height = windowHeight + 2 * shadowMargin();
    const size_t count = size_t(width) * size_t(height);
    for (size_t i = 0; i < count; i++) pixels[i] = 0;
    {
        // Straight (not premultiplied) alpha while drawing; premultiplied below for
        // UpdateLayeredWindow.
        Gdiplus::Bitmap bitmap(width, height, width * 4, PixelFormat32bppARGB, reinterpret_cast<BYTE*>(pixels));
        if (bitmap.GetLastStatus() != Gdiplus::Ok) return false;
        Gdiplus::Graphics graphics(&bitmap);
        if (graphics.GetLastStatus() != Gdiplus::Ok) return false;
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        const int rings = shadowMargin();  // one ring per pixel of the margin
        for (int i = 0; i < rings; i++) {
            const int alpha = shadowRingAlpha(i, rings);
            if (alpha == 0) continue;
            Gdiplus::Pen pen(Gdiplus::Color(static_cast<Gdiplus::ARGB>(uint32_t(alpha) << 24 | 0x1E2230)), 2.0f);
            Gdiplus::GraphicsPath path;
            const int m = rings;
            addRoundRectPath(path, float(m - 1 - i), float(m - 1 - i), float(windowWidth + m + 1 + i),
                             float(windowHeight + m + 1 + i), float(px(15) + i));
            graphics.DrawPath(&pen, &path);
        }
        graphics.Flush(Gdiplus::FlushIntentionSync);
    }
    premultiplyPixels(pixels, count);
    return true;
}

int shadowCoreSize() {
    // Twice the largest corner (radius plus rings) and a few straight pixels between them.
    return 2 * (px(15) + 2 * shadowMargin() + 4);
}

bool renderShadowPixels(int windowWidth, int windowHeight, uint32_t* pixels) {
    const int core = shadowCoreSize();
    if (windowWidth <= core && windowHeight <= core) return drawShadowRings(windowWidth, windowHeight, pixels);
    // Away from the corners every ring is straight, so the shadow of a large window is the
    // shadow of a small one with its middle row and column repeated: drawing the whole
    // picture costs far more under some GDI+ implementations (a sixth of a second at start-up).
    const int smallWindowWidth = std::min(windowWidth, core), smallWindowHeight = std::min(windowHeight, core);
    const int m2 = 2 * shadowMargin();
    const int sw = smallWindowWidth + m2, sh = smallWindowHeight + m2;
    const int width = windowWidth + m2, height = windowHeight + m2;
    std::vector<uint32_t> small;
    try {
        small.resize(size_t(sw) * size_t(sh));
    } catch (...) {
        return false;
    }
    if (!drawShadowRings(smallWindowWidth, smallWindowHeight, small.data())) return false;
    const auto sourceOf = [](int i, int size, int smallSize) {
        const int half = smallSize / 2;
        if (i < half) return i;
        if (i >= size - (smallSize - half - 1)) return i - (size - smallSize);
        return half;
    };
    std::vector<int> columns(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x) columns[static_cast<size_t>(x)] = sourceOf(x, width, sw);
    for (int y = 0; y < height; ++y) {
        const uint32_t* from = small.data() + size_t(sourceOf(y, height, sh)) * size_t(sw);
        uint32_t* to = pixels + size_t(y) * size_t(width);
        for (int x = 0; x < width; ++x) to[x] = from[columns[static_cast<size_t>(x)]];
    }
    return true;
}

bool registerShadowClass(HINSTANCE instance) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = shadowWindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kShadowClass;
    return RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND createShadowWindow(HINSTANCE instance, HWND mainWindow) {
    RECT r = {};
    if (mainWindow) GetWindowRect(mainWindow, &r);
    gApp.shadowWindow = CreateWindowExW(WS_EX_NOACTIVATE | WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TRANSPARENT,
                                        kShadowClass, L"", WS_POPUP, r.left - shadowMargin(), r.top - shadowMargin(),
                                        r.right - r.left + 2 * shadowMargin(), r.bottom - r.top + 2 * shadowMargin(),
                                        nullptr, nullptr, instance, nullptr);
    return gApp.shadowWindow;
}

namespace {

// Draws the shadow for the given outer size and hands it to the layered window; false
// leaves the old picture (and gApp.shadowSize) as they were.
bool renderShadow(int windowWidth, int windowHeight) {
    const int width = windowWidth + 2 * shadowMargin();
    const int height = windowHeight + 2 * shadowMargin();
    HDC screen = GetDC(nullptr);
    ScopedMemoryDc dc(CreateCompatibleDC(screen));
    ReleaseDC(nullptr, screen);
    if (!dc) return false;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    ScopedGdiObject dib(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!dib || !bits) return false;
    if (!renderShadowPixels(windowWidth, windowHeight, static_cast<uint32_t*>(bits))) return false;
    GdiFlush();
    SelectedObject selected(dc.get(), dib.get());
    SIZE size{width, height};
    POINT origin{0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    UpdateLayeredWindow(gApp.shadowWindow, nullptr, nullptr, &size, dc.get(), &origin, 0, &blend, ULW_ALPHA);
    return true;
}

}  // namespace

void prerenderShadow(int windowWidth, int windowHeight) {
    if (gApp.shadowWindow && renderShadow(windowWidth, windowHeight))
        gApp.shadowSize = SIZE{windowWidth + 2 * shadowMargin(), windowHeight + 2 * shadowMargin()};
}

void updateShadow(HWND window) {
    if (!gApp.shadowWindow || !window) return;
    if (IsIconic(window) || IsZoomed(window) || !IsWindowVisible(window)) {
        // Hidden where it is: ShowWindow(SW_HIDE) would also bring it to the top of the order.
        SetWindowPos(gApp.shadowWindow, nullptr, 0, 0, 0, 0,
                     SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return;
    }
    RECT r = {};
    GetWindowRect(window, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    if (width + 2 * shadowMargin() != gApp.shadowSize.cx || height + 2 * shadowMargin() != gApp.shadowSize.cy) {
        if (renderShadow(width, height)) gApp.shadowSize = SIZE{width + 2 * shadowMargin(), height + 2 * shadowMargin()};
    }
    SetWindowPos(gApp.shadowWindow, window, r.left - shadowMargin(), r.top - shadowMargin(), width + 2 * shadowMargin(),
                 height + 2 * shadowMargin(), SWP_NOACTIVATE | SWP_SHOWWINDOW);
}
