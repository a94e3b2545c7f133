// A plain top-level window, the yardstick for the program's start-up time under the same Wine:
// it paints once and records, as the window property "KVFirstPaintMs", the milliseconds from
// process creation to that first paint, and as "KVMarkEntryMs" those to its entry point, as the
// program marks its own. With the argument "maximize" it also maximizes
// itself, to compare frame handling.
#include <windows.h>

#include <cwchar>

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
        RemovePropW(window, L"KVMarkEntryMs");
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR args, int) {
    const UINT_PTR entry = static_cast<UINT_PTR>(now() - processCreated() + 1);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = L"KVEmptyWnd";
    if (!RegisterClassW(&wc)) return 1;
    HWND window = CreateWindowExW(WS_EX_APPWINDOW, L"KVEmptyWnd", L"empty", WS_POPUP | WS_OVERLAPPEDWINDOW, 50, 122,
                                  1180, 780, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    SetPropW(window, L"KVMarkEntryMs", reinterpret_cast<HANDLE>(entry));
    ShowWindow(window, wcsstr(args, L"maximize") ? SW_MAXIMIZE : SW_SHOW);
    UpdateWindow(window);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return int(msg.wParam);
}
