#include "catalog/icon_image.h"

#include <objbase.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <cstring>
#include <new>

#include "catalog/catalog.h"

namespace {

uint32_t be16(const unsigned char* p) { return (uint32_t(p[0]) << 8) | p[1]; }
uint32_t le16(const unsigned char* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8); }
uint32_t be32(const unsigned char* p) { return (be16(p) << 16) | be16(p + 2); }
uint32_t le32(const unsigned char* p) { return le16(p) | (le16(p + 2) << 16); }

bool sized(uint32_t w, uint32_t h, uint32_t& width, uint32_t& height) {
    if (w == 0 || h == 0) return false;
    width = w;
    height = h;
    return true;
}

bool pngSize(const unsigned char* d, size_t n, uint32_t& width, uint32_t& height) {
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (n < 24 || std::memcmp(d, kSignature, 8) != 0 || std::memcmp(d + 12, "IHDR", 4) != 0) return false;
    return sized(be32(d + 16), be32(d + 20), width, height);
}

// The first frame header (SOF0..SOF15 but the DHT, JPG and DAC markers) before the scan.
bool jpegSize(const unsigned char* d, size_t n, uint32_t& width, uint32_t& height) {
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8) return false;
    size_t i = 2;
    while (i + 2 <= n) {
        if (d[i] != 0xFF) return false;
        const unsigned char marker = d[i + 1];
        if (marker == 0xFF) {  // fill byte
            ++i;
            continue;
        }
        i += 2;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue;  // no length
        if (marker == 0xD9 || marker == 0xDA) return false;  // image ended or scan began unsized
        if (i + 2 > n) return false;
        const size_t length = be16(d + i);
        if (length < 2) return false;
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            if (length < 7 || i + 7 > n) return false;
            return sized(be16(d + i + 5), be16(d + i + 3), width, height);
        }
        i += length;
    }
    return false;
}

bool gifSize(const unsigned char* d, size_t n, uint32_t& width, uint32_t& height) {
    if (n < 10 || (std::memcmp(d, "GIF87a", 6) != 0 && std::memcmp(d, "GIF89a", 6) != 0)) return false;
    return sized(le16(d + 6), le16(d + 8), width, height);
}

// A DIB header: 12-byte core headers have 16-bit sides; the others signed 32-bit ones, a
// negative height meaning top-down rows. rowsPerImage is 2 in icon files (colour and mask).
bool dibSize(const unsigned char* d, size_t n, uint32_t rowsPerImage, uint32_t& width, uint32_t& height) {
    if (n < 12) return false;
    const uint32_t header = le32(d);
    if (header == 12) return sized(le16(d + 4), le16(d + 6) / rowsPerImage, width, height);
    if (header < 40) return false;
    const int64_t w = static_cast<int32_t>(le32(d + 4));
    int64_t h = static_cast<int32_t>(le32(d + 8));
    if (h < 0) h = -h;
    if (w <= 0) return false;
    const int64_t rows = h / rowsPerImage;
    const int64_t cap = int64_t(UINT32_MAX);
    return sized(static_cast<uint32_t>(std::min(w, cap)), static_cast<uint32_t>(std::min(rows, cap)), width, height);
}

bool bmpSize(const unsigned char* d, size_t n, uint32_t& width, uint32_t& height) {
    if (n < 26 || d[0] != 'B' || d[1] != 'M') return false;
    return dibSize(d + 14, n - 14, 1, width, height);
}

// The decoder shows an icon file's first image: its own header sizes it, else the directory.
bool iconFileSize(const unsigned char* d, size_t n, uint32_t& width, uint32_t& height) {
    if (n < 22 || le16(d) != 0 || le16(d + 2) != 1 || le16(d + 4) == 0) return false;
    const unsigned char* entry = d + 6;
    const uint64_t size = le32(entry + 8), offset = le32(entry + 12);
    if (offset >= n) return false;
    const unsigned char* image = d + offset;
    const size_t available = static_cast<size_t>(std::min<uint64_t>(size, n - offset));
    static const unsigned char kPngStart[4] = {0x89, 'P', 'N', 'G'};
    if (available >= 4 && std::memcmp(image, kPngStart, 4) == 0) return pngSize(image, available, width, height);
    if (available >= 12 && le32(image) >= 12) return dibSize(image, available, 2, width, height);
    return sized(entry[0] == 0 ? 256 : entry[0], entry[1] == 0 ? 256 : entry[1], width, height);
}

}  // namespace

bool declaredImageSize(const std::string& bytes, uint32_t& width, uint32_t& height) {
    const auto* d = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    if (n < 4) return false;
    if (d[0] == 0x89) return pngSize(d, n, width, height);
    if (d[0] == 0xFF) return jpegSize(d, n, width, height);
    if (d[0] == 'G') return gifSize(d, n, width, height);
    if (d[0] == 'B') return bmpSize(d, n, width, height);
    if (d[0] == 0) return iconFileSize(d, n, width, height);
    return false;
}

const IconCopy* IconImage::copy(IconSize size) const {
    for (const IconCopy& c : copies) {
        if (c.size == size) return &c;
    }
    return nullptr;
}

const IconCopy* IconImage::nearest(IconSize size) const {
    const IconCopy* smallestWider = nullptr;
    const IconCopy* widest = nullptr;
    for (const IconCopy& c : copies) {
        if (c.size.width >= size.width && (!smallestWider || c.size.width < smallestWider->size.width)) smallestWider = &c;
        if (!widest || c.size.width > widest->size.width) widest = &c;
    }
    return smallestWider ? smallestWider : widest;
}

std::vector<IconSize> IconImage::sizes() const {
    std::vector<IconSize> out;
    for (const IconCopy& c : copies) out.push_back(c.size);
    return out;
}

size_t IconImage::bytes() const {
    size_t total = 0;
    for (const IconCopy& c : copies) total += c.pixels.size() * sizeof(uint32_t);
    return total;
}

std::shared_ptr<const IconImage> scaleIconImage(HBITMAP decoded, const std::vector<IconSize>& sizes) {
    const int maxSide = static_cast<int>(kMaxIconSide);
    try {
        Gdiplus::Bitmap source(decoded, nullptr);
        if (source.GetLastStatus() != Gdiplus::Ok) return nullptr;
        auto image = std::make_shared<IconImage>();
        for (const IconSize size : sizes) {
            const int w = size.width, h = size.height;
            if (w < 1 || h < 1 || w > maxSide || h > maxSide || image->copy(size)) continue;
            IconCopy copy;
            copy.size = size;
            copy.pixels.assign(size_t(w) * size_t(h), 0);
            {
                Gdiplus::Bitmap target(w, h, w * 4, PixelFormat32bppPARGB, reinterpret_cast<BYTE*>(copy.pixels.data()));
                if (target.GetLastStatus() != Gdiplus::Ok) return nullptr;
                Gdiplus::Graphics g(&target);
                if (g.GetLastStatus() != Gdiplus::Ok) return nullptr;
                g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
                g.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
                if (g.DrawImage(&source, 0, 0, w, h) != Gdiplus::Ok) return nullptr;
                g.Flush(Gdiplus::FlushIntentionSync);
            }
            image->copies.push_back(std::move(copy));
        }
        return image;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::shared_ptr<const IconImage> keptIcon(const App& app) {
    return std::static_pointer_cast<const IconImage>(std::atomic_load(&app.paintCache));
}

void keepIcon(const App& app, std::shared_ptr<const IconImage> image) {
    std::atomic_store(&app.paintCache, std::shared_ptr<const void>(std::move(image)));
}
