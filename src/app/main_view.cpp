#include "app/main_view.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <functional>
#include <mutex>

#include "app/keyboard.h"
#include "app/kept_logo.h"
#include "download/format.h"
#include "download/manager.h"
#include "scoped.h"
#include "ui/face_cache.h"
#include "ui/gdiplus.h"
#include "ui/looks.h"
#include "ui/palette.h"
#include "ui/scale.h"

namespace {


constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr uint32_t kHeaderLeft = 0xFF4F46E5;
constexpr uint32_t kHeaderRight = 0xFF7C3AED;
constexpr uint32_t kSidebarFill = 0xFFFAFBFD;
constexpr COLORREF kSidebarBackground = RGB(0xFA, 0xFB, 0xFD);  // kSidebarFill as a GDI colour
constexpr uint32_t kSidebarDivider = 0xFFE5E6EB;
constexpr uint32_t kSelectedRow = 0xFFEEEDFF;
constexpr uint32_t kCaptionHover = 0x26FFFFFF;
constexpr uint32_t kCloseHover = 0xFFE83F4F;
constexpr uint32_t kBadgeFill = 0xFFF53F3F;
constexpr COLORREF kBackground = ViewBackground;

struct KeywordGroup {
    int kind;
    COLORREF colour;
    const wchar_t* keywords[6];
};

// Checked in this order; the drivers group comes before the system-tools group so that
// "驱动工具" is a driver category.
const KeywordGroup kKeywordGroups[] = {
    {0, 0xFF7D34, {L"杀毒", L"安全", L"防护", L"卫士"}},
    {1, 0x78AC26, {L"聊天", L"通讯", L"社交", L"消息", L"交友"}},
    {2, 0xB29100, {L"浏览", L"上网", L"外贸", L"网络", L"网站"}},
    {3, 0x6C58E8, {L"影音", L"播放", L"音乐", L"视频", L"听歌", L"电台"}},
    {4, 0xFA9146, {L"办公", L"文档", L"wps", L"word", L"笔记"}},
    {5, 0x918278, {L"输入", L"键盘", L"五笔", L"拼音"}},
    {6, 0x3291D2, {L"压缩", L"解压", L"rar", L"zip"}},
    {8, 0x8C9E00, {L"驱动", L"硬件", L"芯片"}},
    {7, 0x806C60, {L"系统", L"工具", L"优化", L"设置", L"测速", L"清理"}},
    {9, 0xFF4D5B, {L"远程", L"控制", L"投屏"}},
    {10, 0x3C78C8, {L"恢复", L"备份", L"数据"}},
    {11, 0xDC6496, {L"游戏", L"娱乐", L"手游", L"对战"}},
    {12, 0xC8A02A, {L"看图", L"图片", L"照片", L"图像", L"壁纸"}},
    {13, 0x4669EB, {L"直播", L"剪辑", L"编辑", L"录屏", L"拍摄"}},
    {14, 0x7DA800, {L"智能", L"agent", L"gpt", L"机器人", L"助手"}},
    {15, 0xAA64E6, {L"设计", L"绘图", L"画图", L"美工", L"ps"}},
};

RECT rectOf(int left, int top, int right, int bottom) { return RECT{left, top, right, bottom}; }

// The logo box (22, 9)-(68, 55) at 96 DPI.
RECT logoBox() { return RECT{px(22), px(9), px(68), px(55)}; }

void addHit(const RECT& rect, int kind, int id) {
    HitRect hit;
    hit.rect = rect;
    hit.kind = kind;
    hit.id = id;
    gApp.hitRects.push_back(hit);
}

bool hovered(int kind) { return gApp.hoverValid && gApp.hoverKind == kind; }
bool hovered(int kind, int id) { return hovered(kind) && gApp.hoverId == id; }

Gdiplus::Color argbColour(uint32_t argb) { return Gdiplus::Color(static_cast<Gdiplus::ARGB>(argb)); }

// Milliseconds since the previous call, added to one of the timing sections.
class SectionClock {
public:
    explicit SectionClock(PaintTimings* sink) : sink_(sink) {
        if (sink_) {
            QueryPerformanceFrequency(&frequency_);
            QueryPerformanceCounter(&last_);
        }
    }
    void lap(double PaintTimings::*section) {
        if (!sink_) return;
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        sink_->*section += double(now.QuadPart - last_.QuadPart) * 1000.0 / double(frequency_.QuadPart);
        last_ = now;
    }

private:
    PaintTimings* sink_;
    LARGE_INTEGER frequency_{};
    LARGE_INTEGER last_{};
};

// An off-screen bitmap compatible with the target and the memory DC it is selected into.
class BackBuffer {
public:
    BackBuffer(HDC target, int width, int height)
        : width_(width), height_(height), bitsPerPixel_(GetDeviceCaps(target, BITSPIXEL)) {
        dc_.reset(CreateCompatibleDC(target));
        bitmap_.reset(CreateCompatibleBitmap(target, width, height));
        if (dc_ && bitmap_) previous_ = SelectObject(dc_.get(), bitmap_.get());
    }
    ~BackBuffer() {
        if (previous_) SelectObject(dc_.get(), previous_);
    }
    BackBuffer(const BackBuffer&) = delete;
    BackBuffer& operator=(const BackBuffer&) = delete;

    bool usable() const { return dc_ && bitmap_ && previous_; }
    bool fits(HDC target, int width, int height) const {
        return usable() && width == width_ && height == height_ && GetDeviceCaps(target, BITSPIXEL) == bitsPerPixel_;
    }
    HDC dc() const { return dc_.get(); }

private:
    int width_, height_, bitsPerPixel_;
    ScopedMemoryDc dc_;
    ScopedGdiObject bitmap_;
    HGDIOBJ previous_ = nullptr;
};

// A band of the view (header, sidebar) as last drawn, with the state it was drawn from:
// while that state stays the same, a paint copies the band instead of drawing it again.
struct Layer {
    std::unique_ptr<BackBuffer> buffer;
    std::wstring key;
    // The lists the sidebar was drawn from: held weakly so that their address, part of
    // the key, cannot be handed to newer lists while the layer remembers it.
    std::weak_ptr<const CatalogLists> lists;
};

// Held until the process ends, like the other shared drawing resources.
struct PaintCaches {
    bool enabled = true;
    std::unique_ptr<BackBuffer> buffer;
    Layer header, sidebar;
    std::unique_ptr<Gdiplus::Bitmap> logo;  // the logo at its box's size: scaled once, or kept on disk
    PaintTimings* timings = nullptr;
};

PaintCaches& caches() {
    static PaintCaches* shared = new PaintCaches;
    return *shared;
}

// A back buffer made and filled ahead of the first paint by the start-up worker; never
// destroyed, as that worker is not waited for at exit.
struct PreparedBuffer {
    std::mutex lock;
    std::unique_ptr<BackBuffer> buffer;  // under lock
};

PreparedBuffer& prepared() {
    static PreparedBuffer* shared = new PreparedBuffer;
    return *shared;
}

// The prepared back buffer when it fits target at width x height; it is handed out once.
std::unique_ptr<BackBuffer> takePreparedBuffer(HDC target, int width, int height) {
    PreparedBuffer& p = prepared();
    std::lock_guard<std::mutex> hold(p.lock);
    if (!p.buffer || !p.buffer->fits(target, width, height)) return nullptr;
    return std::move(p.buffer);
}

struct StreamRelease {
    void operator()(IStream* stream) const { stream->Release(); }
};


// The decoded logo scaled once to its box, so a paint copies 46 × 46 pixels (at 96 DPI) instead of
// resampling the 256-pixel original.
Gdiplus::Bitmap* scaledLogo(const std::shared_ptr<Gdiplus::Bitmap>& source) {
    PaintCaches& c = caches();
    const RECT box = logoBox();
    const int w = box.right - box.left, h = box.bottom - box.top;
    c.logo.reset();
    c.logo = scaleLogo(*source, w, h);
    return c.logo.get();
}

void paintLogo(Gdiplus::Graphics& graphics, HDC dc) {
    const RECT kLogoBox = logoBox();
    const int w = kLogoBox.right - kLogoBox.left, h = kLogoBox.bottom - kLogoBox.top;
    // The logo kept as drawn at this size (read from disk at start-up) needs no original.
    PaintCaches& c = caches();
    Gdiplus::Bitmap* drawn = c.enabled && c.logo && int(c.logo->GetWidth()) == w ? c.logo.get() : nullptr;
    if (!drawn && gApp.logoState == LogoState::NotTried) {
        gApp.logoImage = loadLogoImage(GetModuleHandleW(nullptr));
        gApp.logoState = gApp.logoImage ? LogoState::Loaded : LogoState::Unavailable;
    }
    if (!drawn && gApp.logoState == LogoState::Loaded && gApp.logoImage) {
        drawn = c.enabled ? scaledLogo(gApp.logoImage) : nullptr;
        if (!drawn) drawn = gApp.logoImage.get();
    }
    if (drawn) {
        graphics.DrawImage(drawn, kLogoBox.left, kLogoBox.top, w, h);
        return;
    }
    fillRoundRect(graphics, kLogoBox, px(10), 0x46FFFFFF);
    drawText(dc, L"星", kLogoBox, gApp.fontTitle, kWhite, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
}

void paintCaptionButtons(Gdiplus::Graphics* canvas, int w, bool maximized) {
    if (canvas) {
    Gdiplus::Graphics& graphics = *canvas;
    if (hovered(HitClose)) fillRectArgb(graphics, rectOf(w - px(46), 0, w, headerHeight()), kCloseHover);
    if (hovered(HitMinimize)) fillRectArgb(graphics, rectOf(w - px(138), 0, w - px(92), headerHeight()), kCaptionHover);
    if (hovered(HitMaximize)) fillRectArgb(graphics, rectOf(w - px(92), 0, w - px(46), headerHeight()), kCaptionHover);

    Gdiplus::Pen pen(argbColour(0xFFFFFFFF), pxf(1.6f));
    graphics.DrawLine(&pen, w - px(122), px(39), w - px(108), px(39));
    if (!maximized) {
        graphics.DrawRectangle(&pen, w - px(76), px(25), px(14), px(14));
    } else {
        graphics.DrawRectangle(&pen, w - px(77), px(28), px(10), px(10));
        Gdiplus::Pen back(argbColour(0xFFFFFFFF), pxf(1.6f));
        graphics.DrawLine(&back, w - px(74), px(25), w - px(64), px(25));
        graphics.DrawLine(&back, w - px(64), px(25), w - px(64), px(35));
        graphics.DrawLine(&back, w - px(64), px(35), w - px(67), px(35));
    }
    graphics.DrawLine(&pen, w - px(31), px(24), w - px(15), px(40));
    graphics.DrawLine(&pen, w - px(31), px(40), w - px(15), px(24));
    }

    addHit(rectOf(w - px(138), 0, w - px(92), headerHeight()), HitMinimize, 0);
    addHit(rectOf(w - px(92), 0, w - px(46), headerHeight()), HitMaximize, 0);
    addHit(rectOf(w - px(46), 0, w, headerHeight()), HitClose, 0);
}

void paintBadge(Gdiplus::Graphics& graphics, HDC dc, int w, const PaintFrame& frame) {
    const int count = activeDownloadCount(frame.tasks);
    if (count <= 0) return;
    const RECT badge = rectOf(w - px(282), px(10), w - px(258), px(34));
    fillRoundRect(graphics, badge, px(12), kBadgeFill);
    strokeRoundRect(graphics, badge, px(12), 0xFFFFFFFF);
    wchar_t text[16];
    std::swprintf(text, 16, L"%d", count);
    drawText(dc, text, badge, gApp.fontMeta, kWhite, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
}

// Draws the header when canvas is set; always records its hit rectangles.
void paintHeader(Gdiplus::Graphics* canvas, HDC dc, int w, const PaintFrame& frame) {
    const RECT downloads = rectOf(w - px(370), px(14), w - px(266), px(50));
    const RECT settings = rectOf(w - px(256), px(14), w - px(152), px(50));
    if (!canvas) {
        paintCaptionButtons(nullptr, w, frame.maximized);
        addHit(downloads, HitDownloadsTool, 0);
        addHit(settings, HitSettingsTool, 0);
        return;
    }
    Gdiplus::Graphics& graphics = *canvas;
    {
        Gdiplus::LinearGradientBrush gradient(Gdiplus::Rect(0, 0, std::max(w, 1), headerHeight()), argbColour(kHeaderLeft),
                                              argbColour(kHeaderRight), Gdiplus::LinearGradientModeHorizontal);
        graphics.FillRectangle(&gradient, 0, 0, w, headerHeight());
    }
    paintLogo(graphics, dc);
    drawText(dc, L"星舟软件管家", rectOf(px(82), 0, px(282), headerHeight()), gApp.fontHeadline, kWhite, DT_SINGLELINE | DT_VCENTER);
    fillRectArgb(graphics, rectOf(px(230), px(22), px(230) + std::max(1, px(1)), px(42)), 0x6EFFFFFF);
    drawText(dc, L"高速下载 · 免费安装", rectOf(px(244), 0, px(464), headerHeight()), gApp.fontSmall, RGB(226, 224, 255),
             DT_SINGLELINE | DT_VCENTER);

    paintCaptionButtons(canvas, w, frame.maximized);

    drawToolButton(graphics, dc, downloads, L"下载管理", false, hovered(HitDownloadsTool), gApp.viewMode == 1,
                   gApp.fontTool);
    addHit(downloads, HitDownloadsTool, 0);
    drawToolButton(graphics, dc, settings, L"下载设置", true, hovered(HitSettingsTool), false, gApp.fontTool);
    addHit(settings, HitSettingsTool, 0);

    paintBadge(graphics, dc, w, frame);
}

int sidebarRowCount(const PaintFrame& frame) {
    return static_cast<int>(std::min<size_t>(frame.lists->categories.size(), 0x7FFFFFFF / sidebarRowPitch()));
}

void recordSidebar(const SidebarGeometry& g, int h, int n) {
    const int clipBottom = sidebarRowsBottom(h);
    for (int i = g.scroll / sidebarRowPitch(); i < n && clipBottom > sidebarRowsTop(); ++i) {
        const int top = sidebarRowTop(g, i);
        if (top >= clipBottom) break;
        if (top + sidebarRowHeight() <= sidebarRowsTop()) continue;
        addHit(rectOf(sidebarRowLeft(), std::max(top, sidebarRowsTop()), sidebarRowRight(), std::min(top + sidebarRowHeight(), clipBottom)), HitSidebarRow, i);
    }
    gApp.sidebarScrollbar = sidebarScrollbarGeom(g, h);
}

// One sidebar row in rect: the selected or hovered fill and the name. nameShift moves the
// glyph and the name together (sidebarNameShift of the name's width).
void drawSidebarRowBody(Gdiplus::Graphics& graphics, HDC dc, const RECT& row, const std::wstring& name, int nameShift,
                        bool selected, bool hot) {
    const int left = row.left - sidebarRowLeft();  // the row's own x origin
    const int top = row.top;
    if (selected) {
        fillRoundRect(graphics, row, areaCornerRadius(HitSidebarRow), kSelectedRow);
        fillRectArgb(graphics, rectOf(left + px(12), top + px(10), left + px(15), top + px(36)), Accent);
    } else if (hot) {
        fillRoundRect(graphics, row, areaCornerRadius(HitSidebarRow), Neutral);
    }
    const int shift = left + nameShift;
    drawText(dc, name, rectOf(shift + px(39), top, left + px(184), row.bottom), gApp.fontSidebar, TextPrimary,
             DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
}

// The row's pictogram. It is always drawn in place, over a kept row too: its small curves
// round to pixels by where they sit on the screen, so a copy drawn at another place could
// differ from it by a pixel.
void drawSidebarRowGlyph(Gdiplus::Graphics& graphics, const RECT& row, const std::wstring& name, int nameShift,
                         bool selected, bool hot) {
    const int shift = row.left - sidebarRowLeft() + nameShift;
    const GlyphChoice glyph = glyphForCategoryName(name);
    const COLORREF colour = selected || hot ? highlightedGlyphColour(glyph.colour) : glyph.colour;
    drawGlyphIcon(graphics, glyph.kind, rectOf(shift + px(12), row.top + px(13), shift + px(32), row.top + px(33)),
                  colour);
}

// Draws the sidebar of the recorded geometry.
void drawSidebar(Gdiplus::Graphics& graphics, HDC dc, int h, const SidebarGeometry& g, const PaintFrame& frame) {
    fillRectArgb(graphics, rectOf(0, headerHeight(), sidebarWidth(), h), kSidebarFill);
    {
        Gdiplus::Pen divider(argbColour(kSidebarDivider), 1.0f);
        graphics.DrawLine(&divider, sidebarWidth(), headerHeight(), sidebarWidth(), h);
    }

    const std::vector<Category>& categories = frame.lists->categories;
    const int n = sidebarRowCount(frame);
    const int clipBottom = sidebarRowsBottom(h);

    if (n > 0 && clipBottom > sidebarRowsTop()) {
        SavedDcState saved(dc);
        ScopedGdiObject region(CreateRectRgn(0, sidebarRowsTop(), sidebarWidth(), clipBottom));
        SelectClipRgn(dc, static_cast<HRGN>(region.get()));
        graphics.SetClip(Gdiplus::Rect(0, sidebarRowsTop(), sidebarWidth(), clipBottom - sidebarRowsTop()), Gdiplus::CombineModeReplace);

        // Rows before scroll / pitch end above the band; stop at the first one below it.
        for (int i = g.scroll / sidebarRowPitch(); i < n; ++i) {
            const int top = sidebarRowTop(g, i);
            const int bottom = top + sidebarRowHeight();
            if (top >= clipBottom) break;
            if (bottom <= sidebarRowsTop()) continue;
            const Category& category = categories[i];
            const RECT row = rectOf(sidebarRowLeft(), top, sidebarRowRight(), bottom);
            const bool selected = gApp.viewMode == 0 && category.id == gApp.selectedCategoryId;
            const bool hot = !selected && hovered(HitSidebarRow, i);
            // One pixel around the row for the edges of its rounded fill.
            const RECT part = rectOf(row.left - 1, row.top - 1, row.right + 1, row.bottom + 1);
            wchar_t key[32];
            std::swprintf(key, 32, L"side|%d", i);
            const std::wstring look = std::wstring(selected ? L"s|" : hot ? L"h|" : L"-|") + category.name;
            const RECT local = rectOf(1, 1, 1 + row.right - row.left, 1 + row.bottom - row.top);
            const int nameShift = sidebarNameShift(textWidth(dc, category.name, gApp.fontSidebar));
            if (!drawFace(graphics, dc, part, key, look, kSidebarBackground, [&](Gdiplus::Graphics& faceGraphics, HDC faceDc) {
                    drawSidebarRowBody(faceGraphics, faceDc, local, category.name, nameShift, selected, hot);
                })) {
                drawSidebarRowBody(graphics, dc, row, category.name, nameShift, selected, hot);
            }
            drawSidebarRowGlyph(graphics, row, category.name, nameShift, selected, hot);
        }
        graphics.ResetClip();
    }

    const ScrollbarGeom& bar = gApp.sidebarScrollbar;
    if (bar.visible) {
        fillRoundRect(graphics, rectOf(bar.trackLeft, bar.trackTop, bar.trackRight, bar.trackBottom), px(2), ScrollTrack);
        fillRoundRect(graphics, rectOf(bar.thumbLeft, bar.thumbTop, bar.thumbRight, bar.thumbBottom), px(2), ScrollThumb);
    }
}

void paintCentredStatus(HDC dc, const std::wstring& text, int w, int top, int bottom, HFONT font, COLORREF colour) {
    drawText(dc, text, rectOf(sidebarWidth(), top, w, bottom), font, colour,
             DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX);
}

void paintConnectionError(Gdiplus::Graphics& graphics, HDC dc, int w) {
    paintCentredStatus(dc, connectionErrorTitle(gApp.config.server), w, px(184), px(214), gApp.fontName, TextPrimary);
    paintCentredStatus(dc, L"请检查网络连接后点击「重新加载」", w, px(220), px(244), gApp.fontBody, TextSecondary);
    const int cx = (w + sidebarWidth()) / 2;
    const RECT button = rectOf(cx - px(60), px(294), cx - px(60) + px(120), px(326));
    fillRoundRect(graphics, button, areaCornerRadius(HitReload), Accent);
    drawText(dc, L"重新加载", button, gApp.fontButton, TextOnAccent, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    addHit(button, HitReload, 0);
}

void paintContent(Gdiplus::Graphics& graphics, HDC dc, int w, int h, const PaintFrame& frame) {
    if (gApp.catalogLoading) {
        paintCentredStatus(dc, L"正在加载应用列表...", w, px(184), px(224), gApp.fontBody, TextSecondary);
    } else if (gApp.catalogLoadFailed) {
        paintConnectionError(graphics, dc, w);
    } else if (gApp.viewMode == 0) {
        const CatalogSection section = catalogSection(*frame.lists, gApp.selectedCategoryId);
        drawAppGrid(graphics, dc, gridArea(w, h), section.apps, &section.title, frame);
        if (!section.emptyText.empty()) paintCentredStatus(dc, section.emptyText, w, px(184), px(214), gApp.fontBody, TextSecondary);
    } else if (gApp.viewMode == 1) {
        drawDownloadPanel(graphics, dc, w, h, frame);
    }
}

void paintToast(Gdiplus::Graphics& graphics, HDC dc, int w, const PaintFrame& frame) {
    if (gApp.toastText.empty()) return;
    if (!toastShowing(frame.now, gApp.toastTick)) {
        gApp.toastText.clear();
        return;
    }
    const RECT toast = toastRect(w);
    fillRoundRect(graphics, toast, px(20), toastFill(gApp.toastKind));
    // The text keeps clear of the pill's rounded ends, so a long message's first character
    // and its ellipsis stay on the fill.
    const RECT text = rectOf(toast.left + px(16), toast.top, toast.right - px(16), toast.bottom);
    drawText(dc, gApp.toastText, text, gApp.fontToast, kWhite,
             DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
}

void paintBanner(Gdiplus::Graphics& graphics, HDC dc, int w, int h, const PaintFrame& frame) {
    if (gApp.bannerText.empty()) return;
    if (!bannerShowing(frame.now, gApp.bannerTick)) {
        gApp.bannerText.clear();
        return;
    }
    drawCompletionBanner(graphics, dc, w, h, frame);
}

}  // namespace

GlyphChoice glyphForCategoryName(const std::wstring& name) {
    std::wstring lower(name);
    for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
    for (const KeywordGroup& group : kKeywordGroups) {
        for (const wchar_t* keyword : group.keywords) {
            if (keyword && lower.find(keyword) != std::wstring::npos) return GlyphChoice{group.kind, group.colour};
        }
    }
    return GlyphChoice{};
}

COLORREF highlightedGlyphColour(COLORREF colour) {
    return RGB(GetRValue(colour) * 4 / 5, GetGValue(colour) * 4 / 5, GetBValue(colour) * 4 / 5);
}

uint32_t toastFill(int kind) {
    switch (kind) {
        case 1: return 0xE800B42A;
        case 2: return 0xE8F53F3F;
        default: return 0xE81D2129;
    }
}

std::wstring connectionErrorTitle(const std::wstring& server) { return L"无法连接服务器（" + server + L"）"; }

std::shared_ptr<Gdiplus::Bitmap> loadLogoImage(HMODULE module) {
    const std::string bytes = logoResourceBytes(module);
    if (bytes.empty()) return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (!block) return nullptr;
    void* copy = GlobalLock(block);
    if (!copy) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(copy, bytes.data(), bytes.size());
    GlobalUnlock(block);
    IStream* raw = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, &raw)) || !raw) {
        GlobalFree(block);
        return nullptr;
    }
    std::unique_ptr<IStream, StreamRelease> stream(raw);  // owns the block from here on
    auto bitmap = std::make_shared<Gdiplus::Bitmap>(stream.get());
    if (bitmap->GetLastStatus() != Gdiplus::Ok || bitmap->GetWidth() == 0 || bitmap->GetHeight() == 0) return nullptr;
    return bitmap;
}

void keepDrawnLogo(std::unique_ptr<Gdiplus::Bitmap> drawn) { caches().logo = std::move(drawn); }

SIZE logoSize() {
    const RECT box = logoBox();
    return SIZE{box.right - box.left, box.bottom - box.top};
}

void setPaintCaching(bool enabled) {
    caches().enabled = enabled;
    setFaceCaching(enabled);
}

void releasePaintCaches() {
    PaintCaches& c = caches();
    c.buffer.reset();
    c.header = Layer();
    c.sidebar = Layer();
    c.logo.reset();
    releaseFaces();
}

void setPaintTimings(PaintTimings* sink) { caches().timings = sink; }

namespace {

void setPaintModes(Gdiplus::Graphics& graphics) {
    graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintClearTypeGridFit);
    graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
}

void fillBackground(HDC dc, const RECT& rect) {
    ScopedGdiObject background(CreateSolidBrush(kBackground));
    FillRect(dc, &rect, static_cast<HBRUSH>(background.get()));
}

// Brings the layer up to date with key (drawing it with draw when it is not) and copies
// its area into dc. False when the layer cannot be made; then nothing was copied.
bool copyLayer(Layer& layer, HDC target, HDC dc, const RECT& area, int w, int h, const std::wstring& key,
               const std::function<void(Gdiplus::Graphics&, HDC)>& draw) {
    if (!layer.buffer || !layer.buffer->fits(target, w, h)) {
        layer.buffer.reset();
        layer.buffer = std::make_unique<BackBuffer>(target, w, h);
        layer.key.clear();
        if (!layer.buffer->usable()) {
            layer.buffer.reset();
            return false;
        }
    }
    HDC layerDc = layer.buffer->dc();
    if (layer.key.empty() || layer.key != key) {
        fillBackground(layerDc, area);
        const int oldMode = SetBkMode(layerDc, TRANSPARENT);
        {
            Gdiplus::Graphics graphics(layerDc);
            setPaintModes(graphics);
            draw(graphics, layerDc);
        }
        SetBkMode(layerDc, oldMode);
        layer.key = key;
    }
    BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, layerDc, area.left, area.top,
           SRCCOPY);
    return true;
}

std::wstring headerKey(int w, const PaintFrame& frame) {
    const int hover = gApp.hoverValid && gApp.hoverKind >= HitMinimize && gApp.hoverKind <= HitSettingsTool
                          ? gApp.hoverKind
                          : 0;
    wchar_t key[96];
    std::swprintf(key, 96, L"%d|%d|%d|%d|%d|%d|%d|%p", uiDpi(), w, frame.maximized ? 1 : 0, hover, gApp.viewMode == 1 ? 1 : 0,
                  activeDownloadCount(frame.tasks), static_cast<int>(gApp.logoState),
                  static_cast<const void*>(gApp.logoImage.get()));
    return key;
}

std::wstring sidebarKey(int h, const SidebarGeometry& g, const PaintFrame& frame) {
    const int hover = gApp.hoverValid && gApp.hoverKind == HitSidebarRow ? gApp.hoverId : -1;
    wchar_t key[96];
    std::swprintf(key, 96, L"%p|%d|%d|%d|%d|%d|", static_cast<const void*>(frame.lists.get()), uiDpi(), h, g.scroll, hover,
                  gApp.viewMode == 0 ? 1 : 0);
    return key + gApp.selectedCategoryId;
}

}  // namespace

void paintMainViewFrame(HDC hdc, const RECT& clientRect, const PaintFrame& frame) {
    gApp.hitRects.clear();
    // A bar is there only while its view draws it: the loading and error states and the
    // other view leave nothing for a press to grab.
    gApp.gridScrollbar = ScrollbarGeom();
    gApp.panelScrollbar = ScrollbarGeom();
    const int w = clientRect.right - clientRect.left;
    const int h = clientRect.bottom - clientRect.top;
    if (w <= 0 || h <= 0 || !frame.lists) return;

    PaintCaches& c = caches();
    SectionClock clock(c.timings);
    std::unique_ptr<BackBuffer> own;
    BackBuffer* buffer = nullptr;
    if (c.enabled) {
        if (!c.buffer || !c.buffer->fits(hdc, w, h)) {
            c.buffer.reset();  // the old bitmap goes before the new one is made
            c.buffer = takePreparedBuffer(hdc, w, h);
            if (!c.buffer) c.buffer = std::make_unique<BackBuffer>(hdc, w, h);
        }
        buffer = c.buffer.get();
    } else {
        own = std::make_unique<BackBuffer>(hdc, w, h);
        buffer = own.get();
    }
    if (!buffer->usable()) {
        c.buffer.reset();
        return;
    }
    HDC dc = buffer->dc();
    beginFacePaint(frame, dc);
    fillBackground(dc, rectOf(0, 0, w, h));
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    {
        Gdiplus::Graphics graphics(dc);
        setPaintModes(graphics);
        clock.lap(&PaintTimings::buffer);

        const RECT headerArea = rectOf(0, 0, w, std::min(h, headerHeight()));
        const auto drawHeader = [&](Gdiplus::Graphics& g, HDC target) { paintHeader(&g, target, w, frame); };
        const size_t mark = gApp.hitRects.size();
        if (c.enabled && copyLayer(c.header, hdc, dc, headerArea, w, headerHeight(), headerKey(w, frame), drawHeader)) {
            gApp.hitRects.resize(mark);  // a redrawn layer recorded them already
            paintHeader(nullptr, dc, w, frame);
        } else {
            drawHeader(graphics, dc);
        }
        clock.lap(&PaintTimings::header);

        const SidebarGeometry geometry = sidebarGeometry(h, sidebarRowCount(frame), gApp.sidebarScroll);
        gApp.sidebarScroll = geometry.scroll;
        recordSidebar(geometry, h, sidebarRowCount(frame));
        const auto drawSide = [&](Gdiplus::Graphics& g, HDC target) { drawSidebar(g, target, h, geometry, frame); };
        const RECT sidebarArea = rectOf(0, std::min(h, headerHeight()), sidebarWidth() + 1, h);
        if (c.sidebar.lists.lock() != frame.lists) {
            c.sidebar.key.clear();
            c.sidebar.lists = frame.lists;
        }
        if (!c.enabled || !copyLayer(c.sidebar, hdc, dc, sidebarArea, sidebarWidth() + 1, h,
                                     sidebarKey(h, geometry, frame), drawSide)) {
            drawSide(graphics, dc);
        }
        clock.lap(&PaintTimings::sidebar);

        paintContent(graphics, dc, w, h, frame);
        clock.lap(&PaintTimings::content);
        paintToast(graphics, dc, w, frame);
        paintBanner(graphics, dc, w, h, frame);
        paintFocusRing(graphics, frame, w, h);  // last, over everything; only after a key moved the focus
        graphics.Flush(Gdiplus::FlushIntentionSync);
        clock.lap(&PaintTimings::overlays);
    }
    SetBkMode(dc, oldMode);
    BitBlt(hdc, 0, 0, w, h, dc, 0, 0, SRCCOPY);
    clock.lap(&PaintTimings::copy);
    if (c.timings) ++c.timings->paints;
}

PaintFrame currentFrame() {
    PaintFrame frame;
    frame.view = &gApp;
    frame.lists = gApp.catalog.lists();
    frame.tasks = DownloadManager::instance().snapshot();
    frame.now = GetTickCount();
    frame.maximized = gApp.mainWindow && IsZoomed(gApp.mainWindow);
    if (gApp.viewMode == 1) frame.downloadDir = downloadDirectory();
    frame.iconNotify = gApp.mainWindow;
    frame.catalog = &gApp.catalog;
    frame.server = gApp.config.server;
    return frame;
}

void paintMainView(HDC hdc, const RECT& clientRect) { paintMainViewFrame(hdc, clientRect, currentFrame()); }

void prepareBackBuffer(int width, int height) {
    if (width <= 0 || height <= 0) return;
    HDC screen = GetDC(nullptr);
    if (!screen) return;
    auto buffer = std::make_unique<BackBuffer>(screen, width, height);
    ReleaseDC(nullptr, screen);
    if (!buffer->usable()) return;
    // Touched once here, so that the first paint does not pay for a new bitmap's memory.
    fillBackground(buffer->dc(), rectOf(0, 0, width, height));
    PreparedBuffer& p = prepared();
    std::lock_guard<std::mutex> hold(p.lock);
    p.buffer = std::move(buffer);
}

void discardPreparedBackBuffer() {
    std::unique_ptr<BackBuffer> unused;
    PreparedBuffer& p = prepared();
    std::lock_guard<std::mutex> hold(p.lock);
    unused = std::move(p.buffer);
}
