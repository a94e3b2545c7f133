// icon_bench SERVER [PAUSE_MS]
// Scrolls the catalog view of SERVER's catalog (category "1") from the first row to the
// last, a page of three rows per step, painting each step as the window does and waiting (at most
// PAUSE_MS, default 3000) until the icons of the rows shown are fetched: every icon of the
// catalog is fetched, kept and drawn once. Prints, every 1000 icons and at the end, the
// process's GDI objects (GetGuiResources, or Wine's handle table walked), its working set
// and private bytes, and what the kept icons hold. Meant for a catalog of 10,000 distinct
// 64 x 64 icons (bench/icons/run-scroll.sh).
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "app/app_state.h"
#include "app/main_view.h"
#include "app/object_census.h"
#include "catalog/catalog.h"
#include "ui/gdiplus.h"
#include "ui/layout.h"
#include "ui/looks.h"
#include "ui/ui.h"

namespace {

constexpr int kWidth = 1180, kHeight = 780;
constexpr int kColumns = 4, kRowsShown = 3;  // at this window size

PROCESS_MEMORY_COUNTERS_EX memory() {
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc);
    return pmc;
}

double mib(SIZE_T bytes) { return static_cast<double>(bytes) / 1048576.0; }

struct Tally {
    size_t ready = 0, failed = 0, keptBytes = 0;
};

Tally tally(const CatalogLists& lists) {
    Tally t;
    for (const App& app : lists.apps) {
        const int state = app.iconState.load();
        if (state == 2) {
            ++t.ready;
            if (const auto image = keptIcon(app)) t.keptBytes += image->bytes();
        } else if (state == 3) {
            ++t.failed;
        }
    }
    return t;
}

void report(const char* when, const CatalogLists& lists, DWORD startTick) {
    const Tally t = tally(lists);
    const ObjectCensus census = takeCensus();
    const PROCESS_MEMORY_COUNTERS_EX m = memory();
    std::printf("%s: %zu icons ready, %zu failed, after %.1f s; GDI objects %ld (%s); working set %.0f MiB "
                "(peak %.0f MiB), private %.0f MiB; kept icon pixels %.1f MiB\n",
                when, t.ready, t.failed, (GetTickCount() - startTick) / 1000.0, census.gdiObjects, gdiCountMethod(),
                mib(m.WorkingSetSize), mib(m.PeakWorkingSetSize), mib(m.PrivateUsage), mib(t.keptBytes));
    std::fflush(stdout);
}

void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
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
    if (argc < 2) {
        std::fwprintf(stderr, L"usage: icon_bench SERVER [PAUSE_MS]\n");
        return 2;
    }
    const std::wstring server = argv[1];
    const DWORD pauseMs = argc > 2 ? static_cast<DWORD>(std::max(1, _wtoi(argv[2]))) : 3000;
    SetProcessDPIAware();
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 1;
    if (!createFonts(gApp)) return 1;

    WNDCLASSW wc{};
    wc.lpfnWndProc = benchProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KVIconBench";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"icon bench", WS_POPUP, 0, 0, kWidth, kHeight, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    if (!window) return 1;
    ShowWindow(window, SW_SHOWNOACTIVATE);

    CatalogState catalog;
    if (!loadCatalog(catalog, server)) {
        std::fwprintf(stderr, L"no catalog: %ls\n", catalog.lastError().c_str());
        return 1;
    }
    PaintFrame frame;
    frame.view = &gApp;
    frame.lists = catalog.lists();
    frame.now = GetTickCount();
    frame.iconNotify = window;
    frame.catalog = &catalog;
    frame.server = server;
    frame.fetchIcons = true;
    gApp.viewMode = 0;
    gApp.selectedCategoryId = L"1";
    gApp.gridScroll = 0;
    const CatalogLists& lists = *frame.lists;
    const size_t total = lists.apps.size();
    std::printf("catalog: %zu applications\n", total);
    report("before the first paint", lists, GetTickCount());

    HDC dc = GetDC(window);
    const RECT client{0, 0, kWidth, kHeight};
    const DWORD start = GetTickCount();
    size_t nextReport = 1000;
    for (int step = 0;; ++step) {
        gApp.gridScroll = step * kRowsShown * gridRowPitch();
        paintMainViewFrame(dc, client, frame);
        const int shownScroll = gApp.gridScroll;
        // The rows on screen are settled (or the pause is over) before the next step.
        const DWORD stepStart = GetTickCount();
        const size_t firstShown = static_cast<size_t>(shownScroll / gridRowPitch()) * kColumns;
        for (;;) {
            pump();
            bool settled = true;
            for (size_t i = firstShown; i < std::min(total, firstShown + kColumns * kRowsShown); ++i)
                settled = settled && lists.apps[i].iconState.load() >= 2;
            if (settled || GetTickCount() - stepStart > pauseMs) break;
            Sleep(5);
        }
        paintMainViewFrame(dc, client, frame);
        const size_t ready = tally(lists).ready;
        if (ready >= nextReport) {
            report(("at " + std::to_string(nextReport)).c_str(), lists, start);
            nextReport += 1000;
        }
        if (gApp.gridScroll < step * kRowsShown * gridRowPitch()) break;  // the last row is on screen
    }
    ReleaseDC(window, dc);
    report("scrolled through", lists, start);
    std::printf("target: GDI objects far below the per-process limit of 10000\n");
    return 0;
}
