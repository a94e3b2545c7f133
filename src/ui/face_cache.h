// Parts of a paint that look the same from one paint to the next, kept as bitmaps and
// copied instead of drawn again: a card's face (surface, outline, icon and texts) and the
// outlined boxes of rows and buttons. A part is drawn once, over the flat colour it lies
// on and with the paint's own modes, so the copy puts down the pixels the paint would.
// What is kept is bounded in count and bytes (the least recently used goes first) and is
// dropped whole when the lists, the display scale, the fonts or the target's format
// change. User-interface thread only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "ui/ui.h"

// Draws a part with its top-left corner at (0, 0).
using FacePainter = std::function<void(Gdiplus::Graphics& graphics, HDC hdc)>;

// At the start of each paint, with its frame (its lists and the view's fonts) and the DC it
// paints into (its format); every target of the paint is of that format.
void beginFacePaint(const PaintFrame& frame, HDC target);

// Copies the part kept under key into rect of target (all the pixels the part touches,
// its outline's overhang included) when it was drawn with the same
// look; otherwise draws it anew with paint (over background, with the modes of like) and
// copies that. False when caching is off or no bitmap can be had: the caller draws the
// part itself then. A GDI clip on target applies to the copy.
bool drawFace(Gdiplus::Graphics& like, HDC target, const RECT& rect, const std::wstring& key, const std::wstring& look,
              COLORREF background, const FacePainter& paint);

// An outlined rounded box (fill, then a 1-pixel outline) over a flat background, through
// the cache when it is on, else drawn.
void drawOutlinedBox(Gdiplus::Graphics& graphics, HDC hdc, const RECT& rect, int radius, uint32_t fill,
                     uint32_t outline, COLORREF background);

// Off: drawFace answers false and every part is drawn (to measure what the cache saves,
// and to compare). What is kept stays until releaseFaces.
void setFaceCaching(bool enabled);
bool faceCaching();
void releaseFaces();

// For tests: parts kept, their bytes, and parts drawn into the cache so far.
struct FaceCounts {
    size_t faces = 0;
    size_t bytes = 0;
    unsigned drawn = 0;
};
FaceCounts faceCounts();
