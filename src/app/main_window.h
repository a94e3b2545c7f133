// The borderless main window: rounded region, frame hit-testing, input on the hit
// rectangles the main view records, thumb drags, the wheel, timer 1, the messages the
// background threads post, and the toast.
#pragma once

#include <windows.h>

#include <string>

constexpr wchar_t kMainWindowClass[] = L"KVMainWnd";
constexpr wchar_t kMainWindowTitle[] = L"星舟软件管家";
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTimerPeriodMs = 500;

// Window facts another process can read (GetPropW): the number of WM_PAINTs handled so
// far, and the milliseconds from process start to the first frame showing the catalog
// (and to the first one showing it with its icons).
constexpr wchar_t kPaintCountProp[] = L"KVPaintCount";
constexpr wchar_t kCatalogFrameProp[] = L"KVCatalogFrameMs";
// The milliseconds to the first catalog frame with every visible icon drawn.
constexpr wchar_t kCatalogIconsFrameProp[] = L"KVCatalogIconsFrameMs";

bool registerMainWindowClass(HINSTANCE instance);
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Invalidates the whole main window without erasing; nothing when there is none.
void requestRepaint();
// Shows text for 2200 ms; kind 0 neutral, 1 success, 2 error. Replaces the current toast.
void showToast(const std::wstring& text, int kind);
