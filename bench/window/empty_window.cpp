// A plain top-level window, the yardstick for the program's start-up time under the same Wine:
// it paints once and records, as the window property "KVFirstPaintMs", the milliseconds from
// process creation to that first paint, and as "KVMarkEntryMs", "KVMarkDisplayMs",
// "KVMarkClassesMs", "KVMarkWindowCreatedMs" and "KVMarkWindowShownMs" those to the steps the
// program marks too. With the argument "maximize" it also maximizes
// itself, to compare frame handling.
#include <windows.h>

#include <cwchar>
#include <initializer_list>

namespace {

ULONGLONG processCreated() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return (ULONGLONG(created.dwHighDateTime) << 32 | created.dwLowDateTime) / 10000;
}

ULONGLONG now() {
    FILETIME t;
    GetSystemTimeAsFileTime(&t);
    return (ULONGLONG(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000;
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        EndPaint(window, &ps);
        if (!GetPropW(window, L"KVFirstPaintMs"))
            SetPropW(window, L"KVFirstPaintMs", reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(now() - processCreated() + 1)));
        return 0;
    }
    case WM_DESTROY:
        RemovePropW(window, L"KVFirstPaintMs");
        for (const wchar_t* mark : {L"KVMarkEntryMs", L"KVMarkDisplayMs", L"KVMarkClassesMs", L"KVMarkWindowCreatedMs",
                                    L"KVMarkWindowShownMs"})
            RemovePropW(window, mark);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

UINT_PTR sinceStart() { return static_cast<UINT_PTR>(now() - processCreated() + 1); }

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR args, int) {
    const UINT_PTR entry = sinceStart();
    // The first screen query waits for the display driver, as the program's does.
    GetSystemMetrics(SM_CXSCREEN);
    const UINT_PTR display = sinceStart();
    WNDCLASSW wc = {};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = L"KVEmptyWnd";
    if (!RegisterClassW(&wc)) return 1;
    const UINT_PTR registered = sinceStart();
    HWND window = CreateWindowExW(WS_EX_APPWINDOW, L"KVEmptyWnd", L"empty", WS_POPUP | WS_OVERLAPPEDWINDOW, 50, 122,
                                  1180, 780, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    const UINT_PTR created = sinceStart();
    SetPropW(window, L"KVMarkEntryMs", reinterpret_cast<HANDLE>(entry));
    SetPropW(window, L"KVMarkDisplayMs", reinterpret_cast<HANDLE>(display));
    SetPropW(window, L"KVMarkClassesMs", reinterpret_cast<HANDLE>(registered));
    SetPropW(window, L"KVMarkWindowCreatedMs", reinterpret_cast<HANDLE>(created));
    ShowWindow(window, wcsstr(args, L"maximize") ? SW_MAXIMIZE : SW_SHOW);
    SetPropW(window, L"KVMarkWindowShownMs", reinterpret_cast<HANDLE>(sinceStart()));
    UpdateWindow(window);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return int(msg.wParam);
}
