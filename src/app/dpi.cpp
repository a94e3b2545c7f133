#include "app/dpi.h"

namespace {

// Per-monitor awareness v2 is DPI_AWARENESS_CONTEXT -4; older SDK headers lack it.
const HANDLE kPerMonitorV2Context = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
constexpr int kProcessPerMonitorDpiAware = 2;

template <typename Fn>
Fn procAddress(const wchar_t* module, const char* name) {
    HMODULE handle = GetModuleHandleW(module);
    if (!handle) handle = LoadLibraryW(module);  // shcore stays loaded for the process
    if (!handle) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
}

}  // namespace

DpiAwareness makeProcessDpiAware() {
    using SetContext = BOOL(WINAPI*)(HANDLE);
    if (auto set = procAddress<SetContext>(L"user32.dll", "SetProcessDpiAwarenessContext")) {
        if (set(kPerMonitorV2Context)) return DpiAwareness::PerMonitorV2;
        // The manifest may have asked for it already.
        if (GetLastError() == ERROR_ACCESS_DENIED) {
            using GetContext = HANDLE(WINAPI*)();
            using AreEqual = BOOL(WINAPI*)(HANDLE, HANDLE);
            auto get = procAddress<GetContext>(L"user32.dll", "GetThreadDpiAwarenessContext");
            auto equal = procAddress<AreEqual>(L"user32.dll", "AreDpiAwarenessContextsEqual");
            if (get && equal && equal(get(), kPerMonitorV2Context)) return DpiAwareness::PerMonitorV2;
        }
    }
    using SetAwareness = HRESULT(WINAPI*)(int);
    if (auto set = procAddress<SetAwareness>(L"shcore.dll", "SetProcessDpiAwareness")) {
        if (SUCCEEDED(set(kProcessPerMonitorDpiAware))) return DpiAwareness::PerMonitor;
    }
    return SetProcessDPIAware() ? DpiAwareness::System : DpiAwareness::None;
}

int systemDpi() {
    using GetForSystem = UINT(WINAPI*)();
    if (auto get = procAddress<GetForSystem>(L"user32.dll", "GetDpiForSystem")) {
        const UINT dpi = get();
        if (dpi > 0) return static_cast<int>(dpi);
    }
    int dpi = 0;
    if (HDC screen = GetDC(nullptr)) {
        dpi = GetDeviceCaps(screen, LOGPIXELSX);
        ReleaseDC(nullptr, screen);
    }
    return dpi > 0 ? dpi : 96;
}

int windowDpi(HWND window) {
    using GetForWindow = UINT(WINAPI*)(HWND);
    if (window) {
        if (auto get = procAddress<GetForWindow>(L"user32.dll", "GetDpiForWindow")) {
            const UINT dpi = get(window);
            if (dpi > 0) return static_cast<int>(dpi);
        }
    }
    return systemDpi();
}
