// A scrolling band of a view: clips GDI and GDI+ drawing to one rectangle for as long as
// it lives (both clips are put back afterwards), and records hit rectangles cut to the
// band (into the list it is given) so that a partly hidden button is clickable only where
// it can be seen.
#pragma once

#include <windows.h>

#include <vector>

#include "scoped.h"
#include "ui/gdiplus.h"
#include "ui/view_state.h"

class ClipBand {
public:
    ClipBand(Gdiplus::Graphics& graphics, HDC hdc, const RECT& band, std::vector<HitRect>& hits)
        : graphics_(graphics), hits_(hits), band_(band), savedDc_(hdc), region_(CreateRectRgn(band.left, band.top, band.right, band.bottom)) {
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
        if (IntersectRect(&cut, &rect, &band_)) hits_.push_back(HitRect{cut, kind, id});
    }

private:
    Gdiplus::Graphics& graphics_;
    std::vector<HitRect>& hits_;
    RECT band_;
    SavedDcState savedDc_;    // puts the DC's previous clip back last
    ScopedGdiObject region_;  // the DC holds its own copy once selected
    Gdiplus::Region previous_;
};
