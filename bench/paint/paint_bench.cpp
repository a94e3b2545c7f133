// Main-view paint benchmark: paints the whole window at 1180 × 780 into a real window's DC,
// the catalog view (12 cards whose icons are decoded 256-pixel bitmaps, 13 sidebar rows)
// and the download view (6 rows), first with the paint caches, then in the same run
// without them (every icon wrapped and scaled, a back buffer made per paint). Prints the
// best and mean time per frame, the ratio, and where a frame's time goes; then frames at
// scale: a category of 10,000 applications and a sidebar of 500 categories, each at the
// top and scrolled to the middle (the sidebar moved by a pixel each frame, so that it is
// drawn every time). Every figure is printed beside its target. Then the same frames at
// 144 DPI (150 %), the window and everything in it scaled.
//   paint_bench.exe [FRAMES]      default 300 frames per view and mode
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/main_view.h"
#include "catalog/catalog.h"
#include "ui/gdiplus.h"
#include "ui/layout.h"
#include "ui/scale.h"
#include "ui/ui.h"

namespace {

constexpr int kWidth = 1180, kHeight = 780;

struct StreamRelease {
    void operator()(IStream* s) const { s->Release(); }
};

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

// A 256-pixel PNG with transparent corners, encoded and decoded the way a fetched icon is.
HBITMAP makeIcon(int seed) {
    Gdiplus::Bitmap image(256, 256, PixelFormat32bppARGB);
    {
        Gdiplus::Graphics g(&image);
        g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        g.Clear(Gdiplus::Color(0, 0, 0, 0));
        Gdiplus::LinearGradientBrush body(Gdiplus::Rect(0, 0, 256, 256), Gdiplus::Color(255, BYTE(30 * seed), 90, 220),
                                          Gdiplus::Color(255, 250, BYTE(20 * seed), 80), Gdiplus::LinearGradientModeForwardDiagonal);
        Gdiplus::GraphicsPath path;
        path.AddEllipse(8, 8, 240, 240);
        g.FillPath(&body, &path);
        Gdiplus::SolidBrush mark(Gdiplus::Color(230, 255, 255, 255));
        g.FillRectangle(&mark, 80 + seed * 4, 80, 96, 96);
    }
    CLSID png;
    if (!pngEncoder(png)) return nullptr;
    IStream* raw = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &raw))) return nullptr;
    std::unique_ptr<IStream, StreamRelease> stream(raw);
    if (image.Save(stream.get(), &png, nullptr) != Gdiplus::Ok) return nullptr;
    HGLOBAL block = nullptr;
    GetHGlobalFromStream(stream.get(), &block);
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    const void* bytes = GlobalLock(block);
    std::string data(static_cast<const char*>(bytes), static_cast<size_t>(stat.cbSize.QuadPart));
    GlobalUnlock(block);
    bool noMemory = false;
    return decodeIconImage(data, noMemory);
}

// Keeps the decoded icon as the fetch worker would, at the sizes of both scales measured;
// no bitmap leaves the placeholder.
void keepBenchIcon(const App& app, HBITMAP bitmap) {
    if (!bitmap) {
        app.iconState.store(3);
        return;
    }
    std::vector<IconSize> sizes = iconSizes();
    {
        const ScopedUiDpi scale(144);
        for (const IconSize size : iconSizes()) sizes.push_back(size);
    }
    keepIcon(app, scaleIconImage(bitmap, sizes));
    DeleteObject(bitmap);
    app.iconState.store(2);
}

std::shared_ptr<CatalogLists> benchLists() {
    auto lists = std::make_shared<CatalogLists>();
    const wchar_t* names[13] = {L"安全杀毒", L"聊天通讯", L"浏览器", L"影音播放", L"办公软件", L"输入法", L"压缩解压",
                                L"驱动硬件", L"系统工具", L"远程控制", L"数据恢复", L"游戏娱乐", L"图片看图"};
    for (int i = 0; i < 13; ++i) lists->categories.push_back(Category{std::to_wstring(i + 1), names[i]});
    for (int i = 0; i < 12; ++i) {
        App app;
        app.id = 100 + i;
        app.name = L"应用软件" + std::to_wstring(i + 1);
        app.version = L"3." + std::to_wstring(i);
        app.categoryIds = {L"5"};
        app.description = L"一款好用的办公效率工具，支持多种格式";
        app.icon = L"/icons/" + std::to_wstring(i) + L".png";
        app.packageSize = (i + 1) * 3 * 1048576LL;
        app.hasPackage = true;
        app.updatedAt = 1700000000000LL + i * 86400000LL;
        keepBenchIcon(app, makeIcon(i));
        lists->apps.push_back(std::move(app));
    }
    return lists;
}

// One application of the scale scenes; only those near the rows shown get a decoded icon
// (the others would never be drawn), so the scene's memory stays small.
App scaleApp(int id, const std::wstring& category, bool withIcon) {
    App app;
    app.id = id;
    app.name = L"应用软件" + std::to_wstring(id);
    app.version = L"2." + std::to_wstring(id % 10);
    app.categoryIds = {L"3", category};
    app.description = L"一款好用的办公效率工具，支持多种格式";
    app.icon = L"/icons/" + std::to_wstring(id) + L".png";
    app.packageSize = (id % 50 + 1) * 1048576LL;
    app.hasPackage = true;
    app.updatedAt = 1700000000000LL + id * 86400000LL;
    if (withIcon) {
        keepBenchIcon(app, makeIcon(id % 12));
    }
    return app;
}

// The 13 categories and, in category "big", 10,000 applications after 5,000 others of
// other categories, so that collecting the category has the whole list to look through.
std::shared_ptr<CatalogLists> bigCategoryLists() {
    auto lists = benchLists();
    lists->categories.push_back(Category{L"big", L"全部软件"});
    const int others = 5000, members = 10000;
    lists->apps.reserve(lists->apps.size() + others + members);
    for (int i = 0; i < others; ++i) lists->apps.push_back(scaleApp(10000 + i, L"other", false));
    for (int i = 0; i < members; ++i) {
        // Icons for the first rows and the rows around the middle, at either scale.
        const bool shown = i < 48 || (i >= members / 2 - 64 && i < members / 2 + 64);
        lists->apps.push_back(scaleApp(20000 + i, L"big", shown));
    }
    return lists;
}

// 500 categories (names cycling through the keyword groups, some long enough for the
// ellipsis) with the 12 applications of the catalog view in category 5.
std::shared_ptr<CatalogLists> manyCategoryLists() {
    auto lists = benchLists();
    const wchar_t* stems[8] = {L"安全杀毒", L"聊天通讯", L"影音播放", L"系统工具", L"驱动硬件", L"游戏娱乐",
                               L"图片看图", L"设计绘图与排版的专业软件合集"};
    for (int i = 14; i <= 500; ++i) lists->categories.push_back(Category{std::to_wstring(i), stems[i % 8] + std::to_wstring(i)});
    return lists;
}

std::map<int32_t, TaskInfo> benchTasks() {
    std::map<int32_t, TaskInfo> tasks;
    const int32_t states[6] = {0, 0, 1, 2, 3, 5};
    for (int i = 0; i < 6; ++i) {
        TaskInfo t;
        t.appId = 100 + i;
        t.name = L"应用软件" + std::to_wstring(i + 1);
        t.state = states[i];
        t.totalBytes = 50 * 1048576LL;
        t.downloadedBytes = (i + 1) * 7 * 1048576LL;
        t.speed = 3 * 1048576;
        t.errorText = L"网络连接失败";
        tasks[t.appId] = t;
    }
    return tasks;
}

double nowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

// The time this thread ran, user and kernel, in milliseconds: what a frame costs apart
// from the time other processes on a shared machine take from it.
double threadCpuMs() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    const auto ms = [](const FILETIME& t) { return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0; };
    return ms(kernel) + ms(user);
}

struct Figures {
    double best = 1e9, total = 0, cpu = 0;
    int frames = 0;
    std::vector<double> times;
    PaintTimings sections;
    double mean() const { return frames ? total / frames : 0; }
    double cpuMean() const { return frames ? cpu / frames : 0; }
    double median() const {
        if (times.empty()) return 0;
        std::vector<double> sorted = times;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
};

// One block of frames of one view in one mode, added to f. The blocks of the modes take
// turns, so that a change in the machine's load falls on all of them alike.
void measureBlock(HWND window, const PaintFrame& frame, int viewMode, bool cached, int frames, Figures& f) {
    setPaintCaching(cached);
    gApp.viewMode = viewMode;
    gApp.selectedCategoryId = L"5";
    gApp.gridScroll = 0;
    gApp.sidebarScroll = 0;
    HDC dc = GetDC(window);
    const RECT client{0, 0, px(kWidth), px(kHeight)};
    for (int i = 0; i < 3; ++i) paintMainViewFrame(dc, client, frame);  // logo, buffers, icon copies
    GdiFlush();
    setPaintTimings(&f.sections);
    const double cpuStart = threadCpuMs();
    for (int i = 0; i < frames; ++i) {
        const double start = nowMs();
        paintMainViewFrame(dc, client, frame);
        GdiFlush();
        const double took = nowMs() - start;
        f.best = std::min(f.best, took);
        f.total += took;
        f.times.push_back(took);
        ++f.frames;
    }
    f.cpu += threadCpuMs() - cpuStart;
    setPaintTimings(nullptr);
    ReleaseDC(window, dc);
    setPaintCaching(true);
}

// A scale scene: the catalog view of one category, the grid and the sidebar at the top or
// at the middle of their scroll range. A moving sidebar is one pixel further down every
// other frame, so that its rows are drawn on every frame instead of copied.
struct Scene {
    const char* name;
    std::shared_ptr<const CatalogLists> lists;
    std::wstring category;
    bool gridMiddle = false;
    bool sidebarMiddle = false;
    bool sidebarMoving = false;
};

void measureScene(HWND window, const Scene& scene, const PaintFrame& base, int frames, Figures& f) {
    PaintFrame frame;
    frame.view = &gApp;
    frame.lists = scene.lists;
    frame.now = base.now;
    frame.fetchIcons = false;
    gApp.viewMode = 0;
    gApp.selectedCategoryId = scene.category;
    gApp.gridScroll = 0;
    gApp.sidebarScroll = 0;
    HDC dc = GetDC(window);
    const RECT client{0, 0, px(kWidth), px(kHeight)};
    paintMainViewFrame(dc, client, frame);  // the clamps tell the scroll ranges
    const int gridScroll = scene.gridMiddle ? gApp.gridScrollbar.maxScroll / 2 : 0;
    const int sidebarScroll = scene.sidebarMiddle ? gApp.sidebarScrollbar.maxScroll / 2 : 0;
    auto place = [&](int i) {
        gApp.gridScroll = gridScroll;
        gApp.sidebarScroll = sidebarScroll + (scene.sidebarMoving ? i % 2 : 0);
    };
    for (int i = 0; i < 3; ++i) {
        place(i);
        paintMainViewFrame(dc, client, frame);
    }
    GdiFlush();
    setPaintTimings(&f.sections);
    for (int i = 0; i < frames; ++i) {
        place(i);
        const double start = nowMs();
        paintMainViewFrame(dc, client, frame);
        GdiFlush();
        const double took = nowMs() - start;
        f.best = std::min(f.best, took);
        f.total += took;
        f.times.push_back(took);
        ++f.frames;
    }
    setPaintTimings(nullptr);
    ReleaseDC(window, dc);
    gApp.gridScroll = 0;
    gApp.sidebarScroll = 0;
}

std::vector<Scene> scaleScenes() {
    const std::shared_ptr<const CatalogLists> big = bigCategoryLists();
    const std::shared_ptr<const CatalogLists> many = manyCategoryLists();
    return {
        {"10,000-app category, top", big, L"big"},
        {"10,000-app category, middle", big, L"big", true},
        {"500 categories, top, sidebar redrawn", many, L"5", false, false, true},
        {"500 categories, middle, sidebar redrawn", many, L"5", false, true, true},
        {"500 categories, middle, sidebar still", many, L"5", false, true, false},
    };
}

void printScenes(const std::vector<Scene>& scenes, const std::vector<Figures>& figures) {
    for (size_t i = 0; i < scenes.size(); ++i) {
        const Figures& f = figures[i];
        std::printf("  %-42s best %6.2f ms, mean %6.2f ms, median %6.2f ms per frame   (target: <= 16 ms)\n",
                    scenes[i].name, f.best, f.mean(), f.median());
    }
}

void printSections(const char* what, const Figures& f) {
    const PaintTimings& s = f.sections;
    const double n = s.paints ? s.paints : 1;
    std::printf("  %s per frame: buffer %.2f, header %.2f, sidebar %.2f, content %.2f, overlays %.2f, copy %.2f ms\n",
                what, s.buffer / n, s.header / n, s.sidebar / n, s.content / n, s.overlays / n, s.copy / n);
}

// The cost of single drawing calls on a back buffer like the paint's, to see what a
// frame's time is made of.
void measureCalls(HWND window) {
    HDC target = GetDC(window);
    HDC dc = CreateCompatibleDC(target);
    HBITMAP bitmap = CreateCompatibleBitmap(target, kWidth, kHeight);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    SetBkMode(dc, TRANSPARENT);
    {
        Gdiplus::Graphics g(dc);
        g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        g.SetTextRenderingHint(Gdiplus::TextRenderingHintClearTypeGridFit);
        g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        const int n = 400;
        auto time = [&](const char* what, const std::function<void(int)>& call) {
            const double start = nowMs();
            for (int i = 0; i < n; ++i) call(i);
            GdiFlush();
            std::printf("  %-44s %.3f ms per call\n", what, (nowMs() - start) / n);
        };
        const RECT card{300, 100, 520, 334}, button{360, 288, 460, 320}, row{12, 78, 188, 124};
        time("fillRoundRect 220x234 opaque", [&](int) { fillRoundRect(g, card, 10, 0xFFFFFFFF); });
        time("fillRoundRect 100x32 translucent", [&](int) { fillRoundRect(g, button, 14, 0x465B4DFF); });
        time("strokeRoundRect 220x234 translucent", [&](int) { strokeRoundRect(g, card, 10, 0x26E5E6EB); });
        time("fillRectArgb 200x716 opaque", [&](int) { fillRectArgb(g, RECT{0, 64, 200, 780}, 0xFFFAFBFD); });
        time("gradient header 1180x64", [&](int) {
            Gdiplus::LinearGradientBrush b(Gdiplus::Rect(0, 0, kWidth, 64), Gdiplus::Color(0xFF4F46E5),
                                           Gdiplus::Color(0xFF7C3AED), Gdiplus::LinearGradientModeHorizontal);
            g.FillRectangle(&b, 0, 0, kWidth, 64);
        });
        time("drawGlyphIcon 20x20", [&](int i) { drawGlyphIcon(g, i % 17, RECT{40, 91, 60, 111}, 0x806C60); });
        time("drawText short CJK", [&](int) {
            drawText(dc, L"办公软件", row, gApp.fontSidebar, RGB(29, 33, 41), DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
        });
        time("drawText description with ellipsis", [&](int) {
            drawText(dc, L"一款好用的办公效率工具，支持多种格式", RECT{308, 230, 512, 250}, gApp.fontBody, RGB(134, 144, 156),
                     DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_END_ELLIPSIS);
        });
        time("textWidth", [&](int) { textWidth(dc, L"办公软件", gApp.fontSidebar); });
        time("DrawLine 1.6 px", [&](int) {
            Gdiplus::Pen pen(Gdiplus::Color(0xFFFFFFFF), 1.6f);
            g.DrawLine(&pen, 10, 39, 24, 39);
        });
    }
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(window, target);
}

LRESULT CALLBACK benchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ERASEBKGND) return 1;
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        BeginPaint(window, &ps);
        EndPaint(window, &ps);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int frames = argc > 1 ? std::max(1, _wtoi(argv[1])) : 300;
    SetProcessDPIAware();
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 1;
    if (!createFonts(gApp)) return 1;

    WNDCLASSW wc{};
    wc.lpfnWndProc = benchProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KVPaintBench";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"paint bench", WS_POPUP, 0, 0, kWidth, kHeight, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    if (!window) return 1;
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);

    PaintFrame frame;
    frame.view = &gApp;
    frame.lists = benchLists();
    frame.tasks = benchTasks();
    frame.now = GetTickCount();
    frame.downloadDir = L"C:\\Users\\bench\\Downloads\\星舟软件管家";
    frame.fetchIcons = false;
    gApp.config.server = L"http://127.0.0.1";

    Figures catalog, downloads, plainCatalog, plainDownloads;
    const int rounds = 10, block = std::max(1, frames / rounds);
    for (int r = 0; r < rounds; ++r) {
        measureBlock(window, frame, 0, true, block, catalog);
        measureBlock(window, frame, 0, false, block, plainCatalog);
        measureBlock(window, frame, 1, true, block, downloads);
        measureBlock(window, frame, 1, false, block, plainDownloads);
    }
    std::printf("catalog view: best %.2f ms (target: <= 4 ms), mean %.2f ms (target: <= 6 ms), median %.2f ms, "
                "processor %.2f ms per frame\n",
                catalog.best, catalog.mean(), catalog.median(), catalog.cpuMean());
    std::printf("download view: best %.2f ms, mean %.2f ms (target: <= 4 ms), median %.2f ms, processor %.2f ms per frame\n",
                downloads.best, downloads.mean(), downloads.median(), downloads.cpuMean());
    std::printf("baseline catalog view (no caches): best %.2f ms, mean %.2f ms, processor %.2f ms per frame\n",
                plainCatalog.best, plainCatalog.mean(), plainCatalog.cpuMean());
    std::printf("baseline download view (no caches): best %.2f ms, mean %.2f ms, processor %.2f ms per frame\n",
                plainDownloads.best, plainDownloads.mean(), plainDownloads.cpuMean());
    std::printf("ratio of means, cached / baseline: catalog %.2f (target: <= 0.25), download %.2f\n",
                catalog.mean() / plainCatalog.mean(), downloads.mean() / plainDownloads.mean());
    std::printf("sections (%d frames each, in %d blocks):\n", catalog.frames, rounds);
    printSections("catalog", catalog);
    printSections("download", downloads);
    printSections("baseline catalog", plainCatalog);
    printSections("baseline download", plainDownloads);
    std::printf("single calls:\n");
    measureCalls(window);

    const std::vector<Scene> scenes = scaleScenes();
    const int sceneFrames = std::max(1, frames / 2);
    {
        std::vector<Figures> figures(scenes.size());
        for (size_t i = 0; i < scenes.size(); ++i) measureScene(window, scenes[i], frame, sceneFrames, figures[i]);
        std::printf("at scale (%d frames each):\n", sceneFrames);
        printScenes(scenes, figures);
    }

    // The same frames at 150 %: a 1770 x 1170 window, fonts, icons and geometry scaled.
    {
        const ScopedUiDpi scale(144);
        if (!createFonts(gApp, 144)) return 1;
        SetWindowPos(window, nullptr, 0, 0, px(kWidth), px(kHeight), SWP_NOZORDER | SWP_NOACTIVATE);
        Figures catalog144, downloads144;
        for (int r = 0; r < rounds; ++r) {
            measureBlock(window, frame, 0, true, block, catalog144);
            measureBlock(window, frame, 1, true, block, downloads144);
        }
        std::printf("at 144 DPI (%d x %d): catalog view best %.2f ms (target: <= 4 ms), mean %.2f ms (target: <= 6 ms); "
                    "download view best %.2f ms, mean %.2f ms (target: <= 4 ms) per frame\n",
                    px(kWidth), px(kHeight), catalog144.best, catalog144.mean(), downloads144.best,
                    downloads144.mean());
        printSections("catalog at 144 DPI", catalog144);
        std::vector<Figures> figures(scenes.size());
        for (size_t i = 0; i < scenes.size(); ++i) measureScene(window, scenes[i], frame, sceneFrames, figures[i]);
        std::printf("at scale, 144 DPI (%d frames each):\n", sceneFrames);
        printScenes(scenes, figures);
    }
    DestroyWindow(window);
    return 0;
}
