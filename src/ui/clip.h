// A scrolling band of a view: clips GDI and GDI+ drawing to one rectangle for as long as
// it lives (both clips are put back afterwards), and records hit rectangles cut to the
// band so that a partly hidden button is clickable only where it can be seen.
#pragma once

#include <windows.h>

#include "app/app_state.h"
#include "scoped.h"
#include "ui/gdiplus.h"

class ClipBand {
public:
    ClipBand(Gdiplus::Graphics& graphics, HDC hdc, const RECT& band)
        : graphics_(graphics), band_(band), savedDc_(hdc), region_(CreateRectRgn(band.left, band.top, band.right, band.bottom)) {
        if (region_) SelectClipRgn(hdc, static_cast<HRGN>(region_.get()));
        graphics_.GetClip(&previous_);
        graphics_.SetClip(Gdiplus::Rect(band.left, band.top, band.right - band.left, band.bottom - band.top),
                          Gdiplus::CombineModeReplace);
    }
    ~ClipBand() { graphics_.SetClip(&previous_, Gdiplus::CombineModeReplace); }
    ClipBand(const ClipBand&) = delete;
    ClipBand& operator=(const ClipBand&) = delete;

    const RECT& band() const { return band_; }

    // Appends the part of rect inside the band; nothing when no part of it is inside.
    void addHit(const RECT& rect, int kind, int id) const {
        RECT cut;
        if (IntersectRect(&cut, &rect, &band_)) gApp.hitRects.push_back(HitRect{cut, kind, id});
    }

private:
    Gdiplus::Graphics& graphics_;
    RECT band_;
    SavedDcState savedDc_;    // puts the DC's previous clip back last
    ScopedGdiObject region_;  // the DC holds its own copy once selected
    Gdiplus::Region previous_;
};
