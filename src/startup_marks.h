// Milliseconds since the process was created at a few one-time points of start-up, for
// the start-up benchmark: each point keeps the first time it was reached, and the main
// window shows them as window properties once the catalog is on screen.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

enum class StartupMark {
    EntryReached,
    CatalogRequestStarted,
    GdiplusStarted,
    DisplayStarted,
    FontsCreated,
    OleStarted,
    ClassesRegistered,
    ShadowWindowCreated,
    ShadowPrerendered,
    HttpSessionOpened,
    CatalogAnswerReceived,
    CatalogPublished,
    WindowCreated,
    WindowShown,
    FirstPaint,
    Count
};

// The property names, in the order of StartupMark.
inline const wchar_t* const kStartupMarkProps[] = {
    L"KVMarkEntryMs",          L"KVMarkCatalogRequestMs", L"KVMarkGdiplusMs",       L"KVMarkDisplayMs",         L"KVMarkFontsMs",           L"KVMarkOleMs",
    L"KVMarkClassesMs",        L"KVMarkShadowWindowMs",  L"KVMarkShadowMs",        L"KVMarkHttpSessionMs",     L"KVMarkCatalogAnswerMs",
    L"KVMarkCatalogPublishedMs", L"KVMarkWindowCreatedMs", L"KVMarkWindowShownMs", L"KVMarkFirstPaintMs",
};
static_assert(sizeof kStartupMarkProps / sizeof kStartupMarkProps[0] == size_t(StartupMark::Count),
              "one property name per mark");

inline std::atomic<uintptr_t> gStartupMarks[size_t(StartupMark::Count)] = {};

// Milliseconds since this process was created, as the system counts it; at least 1 so
// that 0 can mean "not reached".
inline uintptr_t msSinceProcessStart() {
    FILETIME created, exited, kernel, user, now;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 1;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER a, b;
    a.LowPart = created.dwLowDateTime;
    a.HighPart = created.dwHighDateTime;
    b.LowPart = now.dwLowDateTime;
    b.HighPart = now.dwHighDateTime;
    const uintptr_t ms = b.QuadPart > a.QuadPart ? static_cast<uintptr_t>((b.QuadPart - a.QuadPart) / 10000) : 0;
    return ms ? ms : 1;
}

inline void markStartup(StartupMark mark) {
    std::atomic<uintptr_t>& slot = gStartupMarks[size_t(mark)];
    if (slot.load(std::memory_order_relaxed)) return;
    uintptr_t expected = 0;
    slot.compare_exchange_strong(expected, msSinceProcessStart());
}

// Sets one property per reached mark on window.
inline void showStartupMarks(HWND window) {
    for (size_t i = 0; i < size_t(StartupMark::Count); i++) {
        const uintptr_t ms = gStartupMarks[i].load();
        if (ms) SetPropW(window, kStartupMarkProps[i], reinterpret_cast<HANDLE>(ms));
    }
}

inline void removeStartupMarks(HWND window) {
    for (const wchar_t* name : kStartupMarkProps) RemovePropW(window, name);
}
