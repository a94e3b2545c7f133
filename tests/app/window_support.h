// The real main window and settings dialog in the test process: GDI+, the shared fonts
// and the window classes are set up once; each test makes its own main window against the
// loopback test server and pumps messages with a bounded wait.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/settings_dialog.h"
#include "app/shadow.h"
#include "app/window_rules.h"
#include "download/manager.h"
#include "support/test_server.h"
#include "ui/gdiplus.h"

class WindowEnvironment : public testing::Environment {
public:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
        ASSERT_TRUE(createFonts(gApp));
        HINSTANCE instance = GetModuleHandleW(nullptr);
        ASSERT_TRUE(registerMainWindowClass(instance));
        ASSERT_TRUE(registerSettingsClass(instance));
        ASSERT_TRUE(registerShadowClass(instance));
    }

private:
    ULONG_PTR token_ = 0;
};

// Dispatches messages until done() holds or the time runs out; true if done() held.
inline bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 20000) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;
            if (gApp.settingsWindow && settingsDialogMessage(msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

inline void pumpFor(DWORD ms) {
    pumpUntil([] { return false; }, ms);
}

// A main window as the program makes it, at the given rectangle, shown and loaded.
class MainWindowTest : public testing::Test {
protected:
    HWND window = nullptr;
    std::wstring server;

    void SetUp() override {
        gApp.viewMode = 0;
        gApp.selectedCategoryId.clear();
        gApp.toastText.clear();
        gApp.bannerText.clear();
        gApp.hitRects.clear();
        gApp.scrollDrag = 0;
        server = testserver::httpBase();
        ASSERT_FALSE(server.empty()) << "the test server is not running";
        gApp.config.server = server;
        gApp.config.channel = L"test";
    }

    void TearDown() override {
        if (gApp.settingsWindow) DestroyWindow(gApp.settingsWindow);
        if (window && IsWindow(window)) DestroyWindow(window);
        pumpFor(50);
        gApp.shadowWindow = nullptr;
        gApp.shadowSize = SIZE{0, 0};
    }

    // Creates, shows and waits for the first load to finish.
    void open(int x = 50, int y = 122, int w = 1180, int h = 780, bool withShadow = false) {
        window = CreateWindowExW(WS_EX_APPWINDOW, kMainWindowClass, kMainWindowTitle, WS_POPUP | WS_OVERLAPPEDWINDOW,
                                 x, y, w, h, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        ASSERT_EQ(gApp.mainWindow, window);
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
        if (withShadow) {
            ASSERT_NE(createShadowWindow(GetModuleHandleW(nullptr), window), nullptr);
            updateShadow(window);
        }
        ASSERT_TRUE(pumpUntil([] { return !gApp.catalogLoading; })) << "the catalog load never finished";
        repaintNow();
    }

    void repaintNow() {
        InvalidateRect(window, nullptr, FALSE);
        UpdateWindow(window);
    }

    POINT screenPoint(int x, int y) {
        POINT p{x, y};
        ClientToScreen(window, &p);
        return p;
    }

    LRESULT hitTest(int x, int y) {
        const POINT p = screenPoint(x, y);
        return SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y));
    }

    void click(int x, int y) {
        SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    }

    static uintptr_t paintCount(HWND w) { return reinterpret_cast<uintptr_t>(GetPropW(w, kPaintCountProp)); }
};
