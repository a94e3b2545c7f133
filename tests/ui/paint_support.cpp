#include "paint_support.h"

#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <mutex>
#include <vector>

#include "ui/layout.h"

namespace painttest {

void ensureGraphics() {
    static std::once_flag once;
    std::call_once(once, [] {
        ULONG_PTR token = 0;
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
        createFonts(gApp);
    });
}

void keepIconOf(const App& app, HBITMAP bitmap) {
    keepIcon(app, scaleIconImage(bitmap, iconSizes()));
    DeleteObject(bitmap);
    app.iconState.store(2);
}

void resetViewState() {
    gApp.catalog.publish(nullptr);
    gApp.catalogLoading = false;
    gApp.catalogLoadFailed = false;
    gApp.viewMode = 0;
    gApp.selectedCategoryId.clear();
    gApp.sidebarScroll = gApp.gridScroll = gApp.panelScroll = 0;
    gApp.sidebarScrollbar = gApp.gridScrollbar = gApp.panelScrollbar = ScrollbarGeom();
    gApp.scrollDrag = gApp.dragGrabOffset = 0;
    gApp.hitRects.clear();
    gApp.hoverValid = false;
    gApp.hoverKind = gApp.hoverId = 0;
    gApp.toastText.clear();
    gApp.toastKind = 0;
    gApp.toastTick = 0;
    gApp.bannerText.clear();
    gApp.bannerTaskId = 0;
    gApp.bannerVerified = true;
    gApp.bannerIsArchive = false;
    gApp.bannerGeneration = 0;
    gApp.bannerInstall = BannerInstall::Opening;
    gApp.bannerTick = 0;
}

Canvas::Canvas(int width, int height, COLORREF background) : width_(width), height_(height) {
    ensureGraphics();
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    bits_ = static_cast<uint32_t*>(bits);
    dc_.reset(CreateCompatibleDC(nullptr));
    previous_ = SelectObject(dc_.get(), bitmap_.get());
    const uint32_t fill = 0xFF000000u | GetRValue(background) << 16 | GetGValue(background) << 8 | GetBValue(background);
    for (int i = 0; bits_ && i < width * height; ++i) bits_[i] = fill;
}

std::unique_ptr<Gdiplus::Graphics> Canvas::graphics() const {
    GdiFlush();
    auto g = std::make_unique<Gdiplus::Graphics>(dc_.get());
    g->SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g->SetTextRenderingHint(Gdiplus::TextRenderingHintClearTypeGridFit);
    g->SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    return g;
}

COLORREF Canvas::pixel(int x, int y) const {
    if (!bits_ || x < 0 || y < 0 || x >= width_ || y >= height_) return 0xFFFFFFFF;
    GdiFlush();
    const uint32_t v = bits_[y * width_ + x];
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

std::vector<uint32_t> Canvas::readBack() const {
    if (!bits_) return {};
    GdiFlush();
    std::vector<uint32_t> all(bits_, bits_ + size_t(width_) * height_);
    for (uint32_t& v : all) v &= 0xFFFFFF;
    return all;
}

namespace {
bool pngEncoder(CLSID& clsid) {
    UINT count = 0, size = 0;
    if (Gdiplus::GetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) return false;
    std::vector<unsigned char> buffer(size);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (Gdiplus::GetImageEncoders(count, size, codecs) != Gdiplus::Ok) return false;
    for (UINT i = 0; i < count; ++i) {
        if (std::wstring(codecs[i].MimeType) == L"image/png") {
            clsid = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}
}  // namespace

bool Canvas::savePng(const std::wstring& path) const {
    CLSID clsid;
    if (!bits_ || !pngEncoder(clsid)) return false;
    GdiFlush();
    // Opaque copy: the DIB's alpha bytes are not meaningful after GDI text.
    Gdiplus::Bitmap copy(width_, height_, PixelFormat32bppRGB);
    Gdiplus::Rect all(0, 0, width_, height_);
    Gdiplus::BitmapData data;
    if (copy.LockBits(&all, Gdiplus::ImageLockModeWrite, PixelFormat32bppRGB, &data) != Gdiplus::Ok) return false;
    for (int y = 0; y < height_; ++y) {
        memcpy(static_cast<unsigned char*>(data.Scan0) + y * data.Stride, bits_ + y * width_, width_ * 4);
    }
    copy.UnlockBits(&data);
    return copy.Save(path.c_str(), &clsid, nullptr) == Gdiplus::Ok;
}

COLORREF blend(uint32_t argb, COLORREF background) {
    const int a = (argb >> 24) & 0xFF;
    auto mix = [a](int src, int dst) { return (src * a + dst * (255 - a) + 127) / 255; };
    return RGB(mix((argb >> 16) & 0xFF, GetRValue(background)), mix((argb >> 8) & 0xFF, GetGValue(background)),
               mix(argb & 0xFF, GetBValue(background)));
}

bool near(COLORREF a, COLORREF b, int tolerance) {
    return std::abs(int(GetRValue(a)) - int(GetRValue(b))) <= tolerance &&
           std::abs(int(GetGValue(a)) - int(GetGValue(b))) <= tolerance &&
           std::abs(int(GetBValue(a)) - int(GetBValue(b))) <= tolerance;
}

std::string describe(COLORREF c) {
    char text[32];
    std::snprintf(text, sizeof text, "RGB(%d,%d,%d)", GetRValue(c), GetGValue(c), GetBValue(c));
    return text;
}

PaintFrame frameWith(std::shared_ptr<const CatalogLists> lists, uint32_t now) {
    PaintFrame frame;
    frame.view = &gApp;
    frame.lists = lists ? std::move(lists) : std::make_shared<const CatalogLists>();
    frame.now = now;
    frame.fetchIcons = false;
    frame.catalog = &gApp.catalog;
    frame.server = gApp.config.server;
    return frame;
}

}  // namespace painttest
