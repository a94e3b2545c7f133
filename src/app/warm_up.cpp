#include "app/warm_up.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "app/early_load.h"
#include "app/kept_logo.h"
#include "app/main_view.h"
#include "app/window_rules.h"
#include "catalog/catalog.h"
#include "scoped.h"
#include "startup_marks.h"
#include "ui/gdiplus.h"
#include "ui/layout.h"
#include "ui/looks.h"

namespace {

// How long the worker waits for the catalog, and then for the first paint.
constexpr DWORD kCatalogWaitMs = 3000;
constexpr DWORD kFirstPaintWaitMs = 10000;

// How long the window's creation waits for a decode still running: the worker starts
// long before, so in practice it never waits.
constexpr auto kLogoWait = std::chrono::milliseconds(200);

std::mutex logoLock;
std::condition_variable logoDone;
std::shared_ptr<Gdiplus::Bitmap> warmedLogo;  // under logoLock: the decoded original, when it was needed
std::unique_ptr<Gdiplus::Bitmap> drawnLogo;    // under logoLock: the logo at its box's size
bool logoReady = false;                       // under logoLock
bool warmUpStarted = false;                   // user-interface thread only
// Set when the worker ends; never destroyed, as the worker is not waited for.
ScopedHandle& warmUpEnded = *new ScopedHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));

// The shared fonts the first frame draws with, as they were when the worker started: the
// user-interface thread may replace them later.
struct Fonts {
    HFONT headline, tagline, tool, body, sidebar, section, initial, name, meta, button;
};

// What the worker is given, copied on the user-interface thread.
struct Job {
    Fonts fonts;
    SIZE logo;    // the logo's box
    SIZE client;  // the main window's client area as it opens
};

// One text in one of the shared fonts.
struct Sample {
    HFONT font;
    std::wstring text;
};

// The texts of the first frame: the header, the sidebar and the cards of the category
// shown first. A missing or extra text only changes how much is ready in advance.
std::vector<Sample> firstFrameTexts(const Fonts& fonts, const CatalogLists* lists) {
    std::vector<Sample> out = {
        {fonts.headline, L"星舟软件管家"},
        {fonts.tagline, L"高速下载 · 免费安装"},
        {fonts.tool, L"下载管理"},
        {fonts.tool, L"下载设置"},
        {fonts.body, L"正在加载应用列表..."},
    };
    if (!lists) return out;
    for (const Category& category : lists->categories) out.push_back({fonts.sidebar, category.name});
    const CatalogSection section =
        catalogSection(*lists, selectionAfterLoad(0, std::wstring(), lists->categories));
    out.push_back({fonts.section, section.title});
    out.push_back({fonts.body, section.emptyText});
    const size_t cards = std::min(section.apps.size(), kFirstFrameCards);
    for (size_t i = 0; i < cards; ++i) {
        const App& a = *section.apps[i];
        out.push_back({fonts.initial, std::wstring(1, placeholderLetter(&a))});
        out.push_back({fonts.name, a.name + L"v" + a.version});
        out.push_back({fonts.body, a.description});
        out.push_back({fonts.meta, metaLine(a.packageSize, a.updatedAt)});
        out.push_back({fonts.button, cardButtonLook(0, 0, false, a.hasPackage, false).label});
    }
    return out;
}

// A memory DC with a bitmap of the screen's format, like the paint's back buffer, holding a
// copy of one shared font: the system keeps one realised font, glyphs included, for all
// handles of the same description, and keeps it while a DC has it selected. The copy keeps
// this worker off the shared handles, which a display-scale change may replace.
struct FontDc {
    HFONT shared = nullptr;
    ScopedMemoryDc dc;
    ScopedGdiObject bitmap;
    ScopedGdiObject font;
    HGDIOBJ previousBitmap = nullptr;
    HGDIOBJ previousFont = nullptr;
    ~FontDc() {
        if (previousFont) SelectObject(dc.get(), previousFont);
        if (previousBitmap) SelectObject(dc.get(), previousBitmap);
    }
};

std::unique_ptr<FontDc> fontDc(HFONT shared) {
    LOGFONTW description = {};
    if (GetObjectW(shared, sizeof description, &description) != sizeof description) return nullptr;
    auto out = std::make_unique<FontDc>();
    out->shared = shared;
    out->font.reset(CreateFontIndirectW(&description));
    HDC screen = GetDC(nullptr);
    if (!screen) return nullptr;
    out->dc.reset(CreateCompatibleDC(screen));
    out->bitmap.reset(CreateCompatibleBitmap(screen, 1024, 64));
    ReleaseDC(nullptr, screen);
    if (!out->font || !out->dc || !out->bitmap) return nullptr;
    out->previousBitmap = SelectObject(out->dc.get(), out->bitmap.get());
    out->previousFont = SelectObject(out->dc.get(), out->font.get());
    SetBkMode(out->dc.get(), TRANSPARENT);
    return out;
}

void warmGlyphs(const std::vector<Sample>& samples, std::vector<std::unique_ptr<FontDc>>& held) {
    for (const Sample& sample : samples) {
        if (!sample.font || sample.text.empty()) continue;
        auto it = std::find_if(held.begin(), held.end(), [&](const std::unique_ptr<FontDc>& d) { return d->shared == sample.font; });
        if (it == held.end()) {
            std::unique_ptr<FontDc> made = fontDc(sample.font);
            if (!made) continue;
            held.push_back(std::move(made));
            it = held.end() - 1;
        }
        RECT r = {0, 0, 1024, 64};
        DrawTextW((*it)->dc.get(), sample.text.c_str(), static_cast<int>(sample.text.size()), &r,
                  DT_SINGLELINE | DT_NOPREFIX | DT_LEFT | DT_TOP);
    }
}

// The logo as drawn: kept on disk from an earlier start, else decoded, scaled and kept
// (after the window has it, so that the write does not hold up the first paint).
void prepareLogo(const Job& job) {
    const HMODULE module = GetModuleHandleW(nullptr);
    std::shared_ptr<Gdiplus::Bitmap> original;
    std::unique_ptr<Gdiplus::Bitmap> drawn;
    IconCopy toKeep;
    try {
        drawn = readKeptLogo(module, job.logo.cx, job.logo.cy);
        if (!drawn) original = loadLogoImage(module);
        if (original) drawn = scaleLogo(*original, job.logo.cx, job.logo.cy);
        if (original && drawn) toKeep = drawnPixels(*drawn);
    } catch (...) {
        original.reset();
        drawn.reset();
    }
    {
        std::lock_guard<std::mutex> lock(logoLock);
        warmedLogo = std::move(original);
        drawnLogo = std::move(drawn);
        logoReady = true;
    }
    logoDone.notify_all();
    try {
        if (!toKeep.pixels.empty()) keepLogo(module, toKeep);
    } catch (...) {
    }
}

DWORD WINAPI warmUpThread(void* param) {
    std::unique_ptr<Job> job(static_cast<Job*>(param));
    const Fonts* fonts = &job->fonts;
    prepareLogo(*job);
    try {
        prepareBackBuffer(job->client.cx, job->client.cy);
    } catch (...) {
    }
    try {
        // The fonts stay selected in their DCs until the first paint has used them.
        std::vector<std::unique_ptr<FontDc>> held;
        warmGlyphs(firstFrameTexts(*fonts, nullptr), held);
        // The cached catalog when the first frame shows it, else the one the load brings.
        if (earlyCatalogCacheShown(kCatalogWaitMs) || waitForEarlyCatalogLoad(kCatalogWaitMs)) {
            const std::shared_ptr<const CatalogLists> lists = gApp.catalog.lists();
            warmGlyphs(firstFrameTexts(*fonts, lists.get()), held);
        }
        for (DWORD waited = 0; waited < kFirstPaintWaitMs && !gStartupMarks[size_t(StartupMark::FirstPaint)].load();
             waited += 20)
            Sleep(20);
    } catch (...) {
    }
    discardPreparedBackBuffer();  // when the first paint had another size
    SetEvent(warmUpEnded.get());
    return 0;
}

}  // namespace

void startFirstPaintWarmUp(int clientWidth, int clientHeight) {
    if (warmUpStarted) return;
    auto* job = new (std::nothrow) Job{Fonts{gApp.fontHeadline, gApp.fontSmall, gApp.fontTool, gApp.fontBody,
                                             gApp.fontSidebar, gApp.fontSection, gApp.fontInitial, gApp.fontName,
                                             gApp.fontMeta, gApp.fontButton},
                                       logoSize(), SIZE{clientWidth, clientHeight}};
    if (!job) return;
    ScopedHandle thread(CreateThread(nullptr, 0, warmUpThread, job, 0, nullptr));
    if (!thread) {
        delete job;
        return;
    }
    warmUpStarted = true;
}

bool waitForFirstPaintWarmUp(unsigned long timeout) {
    return warmUpStarted && warmUpEnded && WaitForSingleObject(warmUpEnded.get(), timeout) == WAIT_OBJECT_0;
}

void adoptWarmedLogo() {
    if (!warmUpStarted || gApp.logoState != LogoState::NotTried) return;
    std::unique_lock<std::mutex> lock(logoLock);
    logoDone.wait_for(lock, kLogoWait, [] { return logoReady; });
    if (drawnLogo) keepDrawnLogo(std::move(drawnLogo), warmedLogo);
    if (!warmedLogo) return;
    gApp.logoImage = std::move(warmedLogo);
    gApp.logoState = LogoState::Loaded;
}
