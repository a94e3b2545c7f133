// The real main window driven by keys alone, and read by a separate process the way a
// screen reader reads it, against a catalog on the loopback test server.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "access_test_paths.h"
#include "app/accessible.h"
#include "app/keyboard.h"
#include "app/main_view.h"
#include "scratch_folder.h"
#include "window_support.h"

namespace {

testing::Environment* const windowEnvironment = testing::AddGlobalTestEnvironment(new WindowEnvironment);

constexpr int kNotes = 501;     // 办公软件, with a package
constexpr int kSoon = 502;      // 办公软件, without one
constexpr int kChat = 503;      // 聊天通讯

class Keyboard : public MainWindowTest {
protected:
    std::string prefix;
    ScratchFolder folder{L"keys"};

    void SetUp() override {
        MainWindowTest::SetUp();
        resetKeyboardFocus();
        prefix = testserver::uniquePath("keys");
        ASSERT_TRUE(testserver::script(
            prefix + "/api/client/bootstrap",
            R"([{"content_type":"application/json","times":100,"body":"{\"data\":{\"categories\":[)"
            R"({\"id\":\"c1\",\"name\":\"办公软件\"},{\"id\":\"c2\",\"name\":\"聊天通讯\"}],)"
            R"(\"apps\":[{\"id\":501,\"name\":\"星舟笔记\",\"version\":\"2.4\",\"categoryIds\":[\"c1\"],\"hasPackage\":true,\"md5\":\"00\"},)"
            R"({\"id\":502,\"name\":\"无包\",\"categoryIds\":[\"c1\"],\"hasPackage\":false},)"
            R"({\"id\":503,\"name\":\"聊天\",\"categoryIds\":[\"c2\"],\"hasPackage\":true}]}}"}])"));
        gApp.config.server = server + std::wstring(prefix.begin(), prefix.end());
        gApp.config.channel = L"k";
        open();
        ASSERT_TRUE(findApp(gApp.catalog, kNotes));
        repaintNow();
    }

    void TearDown() override {
        {
            DownloadManager& m = DownloadManager::instance();
            for (const auto& entry : m.snapshot()) m.cancel(entry.first);
            std::lock_guard<std::mutex> lock(m.tasksLock);
            m.tasks.clear();
        }
        resetKeyboardFocus();
        MainWindowTest::TearDown();
    }

    void key(WPARAM vk) {
        PostMessageW(window, WM_KEYDOWN, vk, 0);
        pumpFor(30);
        repaintNow();
    }

    // Tab until the focus is on the area; false after 30 presses.
    bool tabTo(int kind, int id) {
        for (int i = 0; i < 30; ++i) {
            if (keyboardFocus().kind == kind && keyboardFocus().id == id) return true;
            key(VK_TAB);
        }
        return false;
    }

    void addTask(int id, const std::wstring& name, TaskState state) {
        auto task = std::make_shared<Task>();
        task->appId = id;
        task->name = name;
        task->state = state;
        task->errorText = L"HTTP 404";
        DownloadManager& m = DownloadManager::instance();
        std::lock_guard<std::mutex> lock(m.tasksLock);
        m.tasks[id] = task;
    }

    // The whole client area as the real paint draws it now.
    std::vector<uint32_t> capture() {
        RECT client = {};
        GetClientRect(window, &client);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = client.right;
        info.bmiHeader.biHeight = -client.bottom;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        ReleaseDC(nullptr, screen);
        std::vector<uint32_t> pixels;
        if (dc && bitmap) {
            HGDIOBJ old = SelectObject(dc, bitmap);
            paintMainView(dc, client);
            GdiFlush();
            const uint32_t* p = static_cast<const uint32_t*>(bits);
            pixels.assign(p, p + size_t(client.right) * size_t(client.bottom));
            width_ = client.right;
            SelectObject(dc, old);
        }
        if (bitmap) DeleteObject(bitmap);
        if (dc) DeleteDC(dc);
        return pixels;
    }
    uint32_t at(const std::vector<uint32_t>& pixels, int x, int y) const {
        return pixels[size_t(y) * size_t(width_) + size_t(x)] & 0xFFFFFF;
    }

    const HitRect* area(int kind, int id) const {
        for (const HitRect& hit : gApp.hitRects) {
            if (hit.kind == kind && hit.id == id) return &hit;
        }
        return nullptr;
    }

        // Runs the reader on this window while pumping messages (it calls back into us).
    std::vector<std::string> read(const std::wstring& mode, const std::wstring& extra = L"",
                                  const std::function<void()>& whileRunning = nullptr) {
        const std::wstring out = folder / (mode + L".txt");
        DeleteFileW(out.c_str());
        std::wstring command = L"\"" KV_ACCESS_READER_PATH L"\" " + mode + L" " +
                               std::to_wstring(reinterpret_cast<uintptr_t>(window)) + L" \"" + out + L"\" " + extra;
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        EXPECT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        if (!pi.hProcess) return {};
        if (whileRunning) whileRunning();
        EXPECT_TRUE(pumpUntil([&] { return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; }, 30000));
        DWORD code = 99;
        GetExitCodeProcess(pi.hProcess, &code);
        EXPECT_EQ(code, 0u);
        if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        std::vector<std::string> lines;
        std::ifstream in(out.c_str(), std::ios::binary);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    static std::string utf8(const std::wstring& text) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string out(size_t(n > 1 ? n - 1 : 0), '\0');
        if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
        return out;
    }

    // "child I|role|state|name|l,t,w,h" of the child with this name, split.
    static std::vector<std::string> childNamed(const std::vector<std::string>& lines, const std::wstring& name) {
        for (const std::string& line : lines) {
            std::vector<std::string> parts;
            std::stringstream s(line);
            for (std::string part; std::getline(s, part, '|');) parts.push_back(part);
            if (parts.size() == 5 && parts[3] == utf8(name)) return parts;
        }
        return {};
    }

    int width_ = 0;
};

TEST_F(Keyboard, TabReachesACardsInstallButtonAndEnterStartsTheDownload) {
    ASSERT_TRUE(tabTo(HitCardButton, kNotes));
    key(VK_RETURN);
    EXPECT_EQ(gApp.toastText, L"开始下载：星舟笔记");
    const std::string download = prefix + "/api/client/download/501?channel=k";
    EXPECT_TRUE(pumpUntil([&] { return !testserver::requests(download).empty(); }));
    EXPECT_EQ(DownloadManager::instance().snapshot().count(kNotes), 1u);
}

TEST_F(Keyboard, AHeldKeyPressesOnceAndMovesOnEachRepeat) {
    const LPARAM repeat = LPARAM(1) << 30;
    const std::string bootstrap = prefix + "/api/client/bootstrap";
    const size_t before = testserver::requests(bootstrap).size();
    key(VK_F5);
    ASSERT_TRUE(pumpUntil([] { return !gApp.catalogLoading; }));
    for (int i = 0; i < 5; ++i) PostMessageW(window, WM_KEYDOWN, VK_F5, repeat);
    pumpFor(300);
    EXPECT_FALSE(gApp.catalogLoading);
    EXPECT_EQ(testserver::requests(bootstrap).size(), before + 1);

    // Enter held on an install button: the download starts once, and the repeats do not
    // press the button again (which would open the download manager).
    ASSERT_TRUE(tabTo(HitCardButton, kNotes));
    key(VK_RETURN);
    for (int i = 0; i < 3; ++i) PostMessageW(window, WM_KEYDOWN, VK_RETURN, repeat);
    pumpFor(100);
    EXPECT_EQ(gApp.viewMode, 0);
    EXPECT_EQ(DownloadManager::instance().snapshot().count(kNotes), 1u);

    // Moving keys go on while held.
    const FocusKey from = keyboardFocus();
    PostMessageW(window, WM_KEYDOWN, VK_TAB, repeat);
    pumpFor(30);
    EXPECT_NE(keyboardFocus(), from);
}

TEST_F(Keyboard, SpaceOnTheSidebarAfterArrowsSelectsTheCategory) {
    ASSERT_TRUE(tabTo(HitSidebarRow, 0));
    key(VK_DOWN);
    EXPECT_EQ(keyboardFocus().id, 1);
    key(VK_DOWN);
    EXPECT_EQ(keyboardFocus().id, 1) << "the last row stays";
    key(VK_SPACE);
    EXPECT_EQ(gApp.selectedCategoryId, L"c2");
    key(VK_TAB);
    EXPECT_EQ(keyboardFocus().kind, HitCardButton);
    EXPECT_EQ(keyboardFocus().id, kChat);
}

TEST_F(Keyboard, ShiftTabFromNothingStartsAtTheEndAndTabWraps) {
    BYTE keys[256] = {};
    ASSERT_TRUE(GetKeyboardState(keys));
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    key(VK_TAB);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ(keyboardFocus().kind, HitCardButton);
    EXPECT_EQ(keyboardFocus().id, kSoon);
    key(VK_TAB);
    EXPECT_EQ(keyboardFocus().kind, HitDownloadsTool);
}

TEST_F(Keyboard, EscapeDismissesTheBannerThenLeavesTheDownloadManager) {
    ASSERT_TRUE(tabTo(HitDownloadsTool, 0));
    key(VK_RETURN);
    EXPECT_EQ(gApp.viewMode, 1);
    gApp.bannerText = L"星舟笔记";
    gApp.bannerTaskId = kNotes;
    gApp.bannerTick = GetTickCount();
    key(VK_ESCAPE);
    EXPECT_TRUE(gApp.bannerText.empty());
    EXPECT_EQ(gApp.viewMode, 1);
    key(VK_ESCAPE);
    EXPECT_EQ(gApp.viewMode, 0);
    EXPECT_EQ(keyboardFocus().kind, HitDownloadsTool);
}

TEST_F(Keyboard, PanelRowsAreReachedAndPressedByKeys) {
    addTask(kNotes, L"星舟笔记", TaskState::Failed);
    addTask(kChat, L"聊天", TaskState::Cancelled);
    ASSERT_TRUE(tabTo(HitDownloadsTool, 0));
    key(VK_RETURN);
    ASSERT_TRUE(tabTo(HitPanelRetry, kNotes));
    key(VK_DOWN);
    EXPECT_EQ(keyboardFocus().kind, HitPanelRetry);
    EXPECT_EQ(keyboardFocus().id, kChat);
    key(VK_RETURN);
    EXPECT_EQ(gApp.toastText, L"开始下载：聊天");
}

TEST_F(Keyboard, F5ReloadsTheCatalog) {
    const std::string bootstrap = prefix + "/api/client/bootstrap";
    const size_t before = testserver::requests(bootstrap).size();
    key(VK_F5);
    EXPECT_TRUE(pumpUntil([&] { return testserver::requests(bootstrap).size() > before && !gApp.catalogLoading; }));
    EXPECT_FALSE(gApp.catalogLoadFailed);
}

TEST_F(Keyboard, TheRingShowsAfterTabAndAMousePressLeavesTheWindowAsBefore) {
    const std::vector<uint32_t> before = capture();
    ASSERT_FALSE(before.empty());
    ASSERT_TRUE(tabTo(HitCardButton, kNotes));
    const std::vector<uint32_t> ringed = capture();
    const HitRect* button = area(HitCardButton, kNotes);
    ASSERT_NE(button, nullptr);
    const int midY = (button->rect.top + button->rect.bottom) / 2;
    const int midX = (button->rect.left + button->rect.right) / 2;
    // The ring's pen covers 1 to 3 pixels outside the button; inside stays as it was.
    EXPECT_EQ(at(ringed, button->rect.left - 2, midY), 0x5B4DFFu);
    EXPECT_EQ(at(ringed, midX, button->rect.top - 2), 0x5B4DFFu);
    EXPECT_NE(at(before, button->rect.left - 2, midY), 0x5B4DFFu);
    EXPECT_EQ(at(ringed, midX, midY), at(before, midX, midY));

    click(700, 100);  // no area there
    EXPECT_FALSE(focusRingShown());
    EXPECT_TRUE(capture() == before) << "a mouse press brings back the mouse user's window";

    // On the header's gradient the ring is white.
    ASSERT_TRUE(tabTo(HitDownloadsTool, 0));
    const std::vector<uint32_t> header = capture();
    const HitRect* tool = area(HitDownloadsTool, 0);
    ASSERT_NE(tool, nullptr);
    const int toolY = (tool->rect.top + tool->rect.bottom) / 2;
    EXPECT_EQ(at(header, tool->rect.left - 2, toolY), 0xFFFFFFu);
    EXPECT_NE(at(before, tool->rect.left - 2, toolY), 0xFFFFFFu);
}

TEST_F(Keyboard, AnotherProcessReadsNamesRolesStatesAndPlaces) {
    ASSERT_TRUE(tabTo(HitCardButton, kNotes));
    const std::vector<std::string> tree = read(L"tree");
    ASSERT_FALSE(tree.empty());
    EXPECT_EQ(tree[0], "count 9");

    const auto card = childNamed(tree, L"安装 星舟笔记 v2.4");
    ASSERT_EQ(card.size(), 5u);
    EXPECT_EQ(card[1], std::to_string(ROLE_SYSTEM_PUSHBUTTON));
    EXPECT_EQ(card[2], std::to_string(STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED));
    const HitRect* button = area(HitCardButton, kNotes);
    ASSERT_NE(button, nullptr);
    const POINT origin = screenPoint(button->rect.left, button->rect.top);
    EXPECT_EQ(card[4], std::to_string(origin.x) + "," + std::to_string(origin.y) + ",100,32");

    const auto soon = childNamed(tree, L"敬请期待 无包");
    ASSERT_EQ(soon.size(), 5u);
    EXPECT_EQ(soon[2], std::to_string(STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_UNAVAILABLE));
    const auto row = childNamed(tree, L"办公软件");
    ASSERT_EQ(row.size(), 5u);
    EXPECT_EQ(row[1], std::to_string(ROLE_SYSTEM_PAGETAB));
    EXPECT_EQ(row[2], std::to_string(STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_SELECTABLE | STATE_SYSTEM_SELECTED));
    for (const wchar_t* name : {L"下载管理", L"下载设置", L"最小化", L"最大化", L"关闭", L"聊天通讯"}) {
        EXPECT_EQ(childNamed(tree, name).size(), 5u) << utf8(name);
    }
}

TEST_F(Keyboard, AnotherProcessReadsTheDownloadManagerAndTheErrorState) {
    addTask(kNotes, L"星舟笔记", TaskState::Failed);
    addTask(kChat, L"聊天", TaskState::Completed);
    gApp.viewMode = 1;
    repaintNow();
    const std::vector<std::string> panel = read(L"tree");
    for (const wchar_t* name : {L"清除已完成", L"修改目录", L"打开目录", L"重试 星舟笔记", L"打开文件夹 聊天", L"安装 聊天"}) {
        EXPECT_EQ(childNamed(panel, name).size(), 5u) << utf8(name);
    }

    gApp.config.server = L"http://127.0.0.1:1";
    key(VK_F5);
    ASSERT_TRUE(pumpUntil([] { return !gApp.catalogLoading; }));
    ASSERT_TRUE(gApp.catalogLoadFailed);
    repaintNow();
    const auto reload = childNamed(read(L"tree"), L"重新加载");
    ASSERT_EQ(reload.size(), 5u);
    EXPECT_EQ(reload[1], std::to_string(ROLE_SYSTEM_PUSHBUTTON));
}

TEST_F(Keyboard, AnotherProcessPressesACardButton) {
    const std::vector<std::string> tree = read(L"tree");
    const auto card = childNamed(tree, L"安装 星舟笔记 v2.4");
    ASSERT_EQ(card.size(), 5u);
    const std::string id = card[0].substr(6);  // after "child "
    const std::vector<std::string> pressed = read(L"press", std::wstring(id.begin(), id.end()));
    ASSERT_FALSE(pressed.empty());
    EXPECT_EQ(pressed[0], "press 0");
    EXPECT_EQ(gApp.toastText, L"开始下载：星舟笔记");
}

TEST_F(Keyboard, ToastsFocusMovesAndChangedLabelsAreHeardByAnotherProcess) {
    struct Case {
        const wchar_t* what;
        DWORD event;
        std::function<void()> act;
        std::wstring heard;
    } cases[] = {
        {L"toast", EVENT_SYSTEM_ALERT, [] { showToast(L"下载目录已保存", 1); }, L"下载目录已保存"},
        {L"focus", EVENT_OBJECT_FOCUS, [this] { PostMessageW(window, WM_KEYDOWN, VK_TAB, 0); }, L"下载管理"},
        {L"label", EVENT_OBJECT_NAMECHANGE,
         [this] {
             ASSERT_TRUE(tabTo(HitCardButton, kNotes));
             pumpFor(100);
             addTask(kNotes, L"星舟笔记", TaskState::Installed);
             InvalidateRect(window, nullptr, FALSE);
         },
         L"已安装 星舟笔记 v2.4"},
    };
    for (const Case& c : cases) {
        resetKeyboardFocus();
        const std::wstring ready = folder / (std::wstring(c.what) + L".ready");
        const std::vector<std::string> lines =
            read(L"watch", L"\"" + ready + L"\" " + std::to_wstring(c.event), [&] {
                ASSERT_TRUE(pumpUntil([&] { return GetFileAttributesW(ready.c_str()) != INVALID_FILE_ATTRIBUTES; }));
                // A thread learns of new winevent hooks with its next message from the server.
                PostMessageW(window, WM_NULL, 0, 0);
                pumpFor(100);
                c.act();
                UpdateWindow(window);
            });
        ASSERT_FALSE(lines.empty()) << utf8(c.what);
        EXPECT_EQ(lines[0], "event " + utf8(c.heard)) << utf8(c.what);
    }
}

TEST_F(Keyboard, TenThousandChildrenAreMadeOnceAndEachCallReadsOne) {
    auto lists = std::make_shared<CatalogLists>();
    lists->categories.push_back(Category{L"all", L"全部软件"});
    const int n = 10000;
    for (int i = 0; i < n; ++i) {
        App app;
        app.id = 1000 + i;
        app.name = L"应用" + std::to_wstring(i);
        app.categoryIds = {L"all"};
        app.hasPackage = i % 2 == 0;
        lists->apps.push_back(std::move(app));
    }
    gApp.catalog.publish(lists);
    gApp.selectedCategoryId = L"all";
    repaintNow();
    key(VK_TAB);  // a focus exists from here on, so every paint settles it
    ASSERT_EQ(keyboardFocus().kind, HitDownloadsTool);

    const KeyboardCounts settled = keyboardCounts();
    for (int i = 0; i < 5; ++i) repaintNow();
    EXPECT_EQ(keyboardCounts().orders, settled.orders) << "paints of the same areas keep the order";

    IAccessible* object = nullptr;
    ASSERT_EQ(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), kIidAccessible,
                                         reinterpret_cast<void**>(&object)),
              S_OK);
    ASSERT_NE(object, nullptr);
    long count = 0;
    ASSERT_EQ(object->get_accChildCount(&count), S_OK);
    const long header = 5, sidebar = 1;
    ASSERT_EQ(count, header + sidebar + n);
    const KeyboardCounts read = keyboardCounts();
    // Every card's name, each asked for on its own, as a screen reader walks them.
    int wrong = 0;
    for (long i = 0; i < n; ++i) {
        VARIANT child;
        VariantInit(&child);
        child.vt = VT_I4;
        child.lVal = header + sidebar + 1 + i;
        BSTR name = nullptr;
        if (object->get_accName(child, &name) != S_OK || !name) {
            ++wrong;
            continue;
        }
        const std::wstring expected = (i % 2 == 0 ? L"安装 应用" : L"敬请期待 应用") + std::to_wstring(i);
        if (std::wstring(name, SysStringLen(name)) != expected) ++wrong;
        SysFreeString(name);
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(keyboardCounts().orders, read.orders) << "no order made while reading";
    EXPECT_LE(keyboardCounts().children, read.children + 1) << "one list of children for all the calls";

    // Scrolling changes the areas: one new order, and the same names as before.
    gApp.gridScroll = 248 * 100;
    repaintNow();
    EXPECT_EQ(keyboardCounts().orders, read.orders + 1);
    VARIANT last;
    VariantInit(&last);
    last.vt = VT_I4;
    last.lVal = header + sidebar + n;
    BSTR name = nullptr;
    ASSERT_EQ(object->get_accName(last, &name), S_OK);
    EXPECT_EQ(std::wstring(name, SysStringLen(name)), L"敬请期待 应用" + std::to_wstring(n - 1));
    SysFreeString(name);
    object->Release();
}

TEST_F(Keyboard, CallsAfterTheWindowClosedFailWithoutACrash) {
    const std::wstring ready = folder / L"after.ready";
    const std::wstring gone = folder / L"after.gone";
    const std::vector<std::string> lines = read(L"after", L"\"" + ready + L"\" \"" + gone + L"\"", [&] {
        ASSERT_TRUE(pumpUntil([&] { return GetFileAttributesW(ready.c_str()) != INVALID_FILE_ATTRIBUTES; }));
        DestroyWindow(window);
        window = nullptr;
        HANDLE f = CreateFileW(gone.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    });
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines[0].rfind("after ", 0), 0u);
    EXPECT_LT(std::stol(lines[0].substr(6)), 0) << "a failure HRESULT, not a crash or a success";
}

}  // namespace
