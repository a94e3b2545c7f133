#include "app/kept_logo.h"

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "catalog/catalog_cache.h"
#include "catalog/icon_cache.h"

namespace {

// The address the logo is kept under: the checksum of the resource it was drawn from.
std::wstring logoKey(const std::string& resource) {
    wchar_t key[40];
    std::swprintf(key, 40, L"kv-logo:%016llx", static_cast<unsigned long long>(cacheChecksum(resource)));
    return key;
}

std::unique_ptr<Gdiplus::Bitmap> bitmapOf(const IconCopy& copy) {
    const int w = copy.size.width, h = copy.size.height;
    auto bitmap = std::make_unique<Gdiplus::Bitmap>(w, h, PixelFormat32bppPARGB);
    if (bitmap->GetLastStatus() != Gdiplus::Ok) return nullptr;
    Gdiplus::Rect rect(0, 0, w, h);
    Gdiplus::BitmapData data;
    if (bitmap->LockBits(&rect, Gdiplus::ImageLockModeWrite, PixelFormat32bppPARGB, &data) != Gdiplus::Ok) return nullptr;
    for (int y = 0; y < h; ++y)
        std::memcpy(static_cast<char*>(data.Scan0) + y * data.Stride, &copy.pixels[size_t(y) * w], size_t(w) * 4);
    bitmap->UnlockBits(&data);
    return bitmap;
}

}  // namespace

std::string logoResourceBytes(HMODULE module) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (!found) return std::string();
    const DWORD size = SizeofResource(module, found);
    HGLOBAL resource = LoadResource(module, found);
    const void* bytes = resource ? LockResource(resource) : nullptr;
    if (!bytes || size == 0) return std::string();
    return std::string(static_cast<const char*>(bytes), size);
}

std::unique_ptr<Gdiplus::Bitmap> scaleLogo(Gdiplus::Bitmap& original, int width, int height) {
    auto scaled = std::make_unique<Gdiplus::Bitmap>(width, height, PixelFormat32bppPARGB);
    if (scaled->GetLastStatus() != Gdiplus::Ok) return nullptr;
    Gdiplus::Graphics g(scaled.get());
    g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    g.Clear(Gdiplus::Color(0, 0, 0, 0));
    if (g.DrawImage(&original, 0, 0, width, height) != Gdiplus::Ok) return nullptr;
    return scaled;
}

IconCopy drawnPixels(Gdiplus::Bitmap& drawn) {
    IconCopy copy;
    const int w = static_cast<int>(drawn.GetWidth()), h = static_cast<int>(drawn.GetHeight());
    Gdiplus::Rect rect(0, 0, w, h);
    Gdiplus::BitmapData data;
    if (w < 1 || h < 1 || drawn.LockBits(&rect, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &data) != Gdiplus::Ok)
        return copy;
    copy.size = IconSize{w, h};
    copy.pixels.resize(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        std::memcpy(&copy.pixels[size_t(y) * w], static_cast<const char*>(data.Scan0) + y * data.Stride, size_t(w) * 4);
    drawn.UnlockBits(&data);
    return copy;
}

std::unique_ptr<Gdiplus::Bitmap> readKeptLogo(HMODULE module, int width, int height) {
    const std::string resource = logoResourceBytes(module);
    IconCacheEntry entry;
    if (resource.empty() || !readIconCache(logoKey(resource), entry)) return nullptr;
    for (const IconCopy& copy : entry.copies) {
        if (copy.size == IconSize{width, height}) return bitmapOf(copy);
    }
    return nullptr;
}

bool keepLogo(HMODULE module, const IconCopy& drawn) {
    const std::string resource = logoResourceBytes(module);
    if (resource.empty() || drawn.pixels.empty()) return false;
    const std::wstring key = logoKey(resource);
    IconCacheEntry entry;
    std::vector<IconCopy> earlier;
    if (readIconCache(key, entry)) earlier = std::move(entry.copies);
    entry = IconCacheEntry();
    entry.url = key;
    entry.checkedAt = unixNow();
    entry.body = resource;
    IconImage image;
    image.copies.push_back(drawn);
    entry.copies = copiesToKeep(image, earlier);
    return writeIconCache(entry);
}
