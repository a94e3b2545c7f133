// Icons as they are kept: the fetched image scaled once, on the fetch worker, to the sizes
// the views draw it at, as plain premultiplied pixels. The full decoded image is never
// kept and no GDI object is held per icon, so a catalog of any length costs only what its
// drawn icons cost, and a hostile image is refused from its header before it is decoded.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct App;

// An image declaring more pixels than this on either side is refused before decoding.
constexpr uint32_t kMaxIconSide = 1024;

// The width and height the header declares, for the formats the decoder reads: PNG, JPEG,
// GIF, BMP and icon files (their first image, the one decoded). False when the bytes are
// none of these, the header is cut short or a side is 0: such bytes are not decoded.
bool declaredImageSize(const std::string& bytes, uint32_t& width, uint32_t& height);

// A size an icon is drawn at, in pixels.
struct IconSize {
    int width = 0;
    int height = 0;
    bool operator==(const IconSize& other) const { return width == other.width && height == other.height; }
};

// One copy: width x height premultiplied BGRA pixels (PixelFormat32bppPARGB), top row first.
struct IconCopy {
    IconSize size;
    std::vector<uint32_t> pixels;
};

struct IconImage {
    std::vector<IconCopy> copies;  // in the order the sizes were asked for
    // Set once a fetch at other sizes was asked for, so that it is asked for only once.
    mutable std::atomic<bool> refetchAsked{false};

    const IconCopy* copy(IconSize size) const;  // exactly this size, or null
    // The copy best scaled to size when none is exact: the smallest one at least as wide,
    // else the widest; null when there is none.
    const IconCopy* nearest(IconSize size) const;
    std::vector<IconSize> sizes() const;
    size_t bytes() const;  // pixel memory held
};

// GDI+ must be started. decoded scaled into each size (distinct, sides 1 to kMaxIconSide)
// as a paint with high-quality bicubic interpolation would draw it; null on failure.
std::shared_ptr<const IconImage> scaleIconImage(HBITMAP decoded, const std::vector<IconSize>& sizes);

// The record's icon as kept (any thread); null while there is none.
std::shared_ptr<const IconImage> keptIcon(const App& app);
void keepIcon(const App& app, std::shared_ptr<const IconImage> image);
