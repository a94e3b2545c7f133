// The one display scale of the window: every layout length, font height, icon size and
// shadow ring is its 96-DPI figure times dpi / 96 (MulDiv rounding), so that at 96 DPI
// every pixel stays where it was and at other scales everything grows by the same factor.
// The window sets the scale from its monitor; tests and tools set it directly.
#pragma once

#include <windows.h>

inline int& uiDpiSetting() {
    static int dpi = 96;
    return dpi;
}

inline int uiDpi() { return uiDpiSetting(); }
// Values below 48 or above 960 are not display scales; they fall back to 96.
inline void setUiDpi(int dpi) { uiDpiSetting() = dpi >= 48 && dpi <= 960 ? dpi : 96; }

// n pixels at 96 DPI, at the given scale.
inline int scalePx(int n, int dpi) { return MulDiv(n, dpi, 96); }
// n pixels at 96 DPI, at the window's scale.
inline int px(int n) { return MulDiv(n, uiDpi(), 96); }
// Worked in double so that at 96 DPI every width comes back exactly as given.
inline float pxf(float n) { return static_cast<float>(static_cast<double>(n) * uiDpi() / 96.0); }

// Sets the scale for a scope and puts the previous one back after (tests, tools).
class ScopedUiDpi {
public:
    explicit ScopedUiDpi(int dpi) : previous_(uiDpi()) { setUiDpi(dpi); }
    ~ScopedUiDpi() { setUiDpi(previous_); }
    ScopedUiDpi(const ScopedUiDpi&) = delete;
    ScopedUiDpi& operator=(const ScopedUiDpi&) = delete;

private:
    int previous_;
};
