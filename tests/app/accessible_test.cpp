// What screen readers read: the names, roles and states of the areas, when a changed name
// is announced, and the client object itself in this process, directly and through
// WM_GETOBJECT, including after its window is gone.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleacc.h>

#include <memory>
#include <string>
#include <vector>

#include "app/accessible.h"
#include "support/accessible_child.h"
#include "ui/layout.h"
#include "ui/looks.h"

namespace {

App app(int32_t id, const std::wstring& name, const std::wstring& version, bool hasPackage) {
    App a;
    a.id = id;
    a.name = name;
    a.version = version;
    a.hasPackage = hasPackage;
    return a;
}

TaskInfo task(int32_t id, const std::wstring& name, int state, int64_t done = 0, int64_t total = 0) {
    TaskInfo t;
    t.appId = id;
    t.name = name;
    t.state = state;
    t.downloadedBytes = done;
    t.totalBytes = total;
    return t;
}

struct Facts {
    CatalogLists lists;
    std::map<int32_t, TaskInfo> tasks;
    NameFacts names;
    Facts() {
        lists.categories = {Category{L"office", L"办公软件"}, Category{L"chat", L"聊天通讯"}};
        lists.apps.push_back(app(1, L"星舟笔记", L"2.4", true));
        lists.apps.push_back(app(2, L"云帆浏览器", L"", true));
        lists.apps.push_back(app(3, L"即将上线", L"1.0", false));
        tasks[2] = task(2, L"云帆浏览器", 0, 40, 100);
        tasks[4] = task(4, L"旧任务", 2);
        names.lists = &lists;
        names.tasks = &tasks;
    }
};

TEST(AreaNames, SayWhatASightedUserReads) {
    Facts f;
    struct Case {
        int kind, id;
        const wchar_t* name;
    } cases[] = {
        {HitCardButton, 1, L"安装 星舟笔记 v2.4"},
        {HitCardButton, 2, L"下载中 40% 云帆浏览器"},
        {HitCardButton, 3, L"敬请期待 即将上线 v1.0"},
        {HitCardButton, 99, L"敬请期待"},
        {HitPanelCancel, 2, L"取消 云帆浏览器"},
        {HitPanelInstall, 4, L"安装 旧任务"},
        {HitPanelFolder, 4, L"打开文件夹 旧任务"},
        {HitPanelRetry, 77, L""},
        {HitSidebarRow, 1, L"聊天通讯"},
        {HitSidebarRow, 2, L""},
        {HitMinimize, 0, L"最小化"},
        {HitMaximize, 0, L"最大化"},
        {HitClose, 0, L"关闭"},
        {HitDownloadsTool, 0, L"下载管理，1 个正在下载"},
        {HitSettingsTool, 0, L"下载设置"},
        {HitReload, 0, L"重新加载"},
        {HitPanelClear, 0, L"清除已完成"},
        {HitPanelChangeDir, 0, L"修改目录"},
        {HitPanelOpenDir, 0, L"打开目录"},
    };
    for (const Case& c : cases) EXPECT_EQ(areaName(c.kind, c.id, f.names), c.name) << c.kind << "/" << c.id;

    f.names.maximized = true;
    EXPECT_EQ(areaName(HitMaximize, 0, f.names), L"还原");
    f.tasks.clear();
    EXPECT_EQ(areaName(HitDownloadsTool, 0, f.names), L"下载管理");
    f.tasks[1] = task(1, L"星舟笔记", 5);
    EXPECT_EQ(areaName(HitCardButton, 1, f.names), L"已安装 星舟笔记 v2.4");
    f.names.bannerTitle = L"星舟笔记";
    EXPECT_EQ(areaName(HitBanner, 0, f.names), L"星舟笔记 下载完成，已打开安装向导");
    f.names.bannerVerified = false;
    EXPECT_EQ(areaName(HitBanner, 0, f.names), L"星舟笔记 下载完成，校验不一致，请谨慎安装");
}

TEST(AccessItems, RolesAndStatesFollowTheAreas) {
    Facts f;
    std::vector<FocusItem> order(4);
    order[0].key = FocusKey{HitSidebarRow, 0, 0};
    order[0].onScreen = true;
    order[1].key = FocusKey{HitSidebarRow, 1, 0};
    order[1].onScreen = false;
    order[2].key = FocusKey{HitCardButton, 1, 0};
    order[2].onScreen = true;
    order[3].key = FocusKey{HitCardButton, 3, 0};
    order[3].onScreen = true;
    AccessFacts facts;
    facts.names = f.names;
    facts.selectedCategoryId = L"office";
    facts.toastText = L"已开始下载 星舟笔记";
    facts.toastRect = RECT{410, 80, 770, 122};

    const auto items = accessItems(order, FocusKey{HitCardButton, 1, 0}, facts);
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0].role, ROLE_SYSTEM_PAGETAB);
    EXPECT_EQ(items[0].state, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_SELECTABLE | STATE_SYSTEM_SELECTED);
    EXPECT_EQ(items[1].state, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_SELECTABLE | STATE_SYSTEM_OFFSCREEN);
    EXPECT_EQ(items[2].role, ROLE_SYSTEM_PUSHBUTTON);
    EXPECT_EQ(items[2].state, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED);
    EXPECT_EQ(items[3].state, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_UNAVAILABLE);
    EXPECT_EQ(items[4].role, ROLE_SYSTEM_ALERT);
    EXPECT_EQ(items[4].name, L"已开始下载 星舟笔记");
    EXPECT_EQ(items[4].key.kind, 0);

    facts.viewMode = 1;  // no row is selected while the download manager shows
    EXPECT_FALSE(accessItems(order, FocusKey{}, facts)[0].state & STATE_SYSTEM_SELECTED);
}

TEST(NameChanges, ProgressAtMostOnceASecondOthersAtOnce) {
    struct Case {
        const wchar_t *before, *after;
        DWORD last, now;
        bool due;
    } cases[] = {
        {L"下载中 40% 星舟笔记", L"下载中 41% 星舟笔记", 1000, 1999, false},
        {L"下载中 40% 星舟笔记", L"下载中 41% 星舟笔记", 1000, 2000, true},
        {L"下载中 99% 星舟笔记", L"校验中 星舟笔记", 1000, 1001, true},
        {L"安装中 星舟笔记", L"已安装 星舟笔记", 1000, 1001, true},
        {L"已安装 星舟笔记", L"已安装 星舟笔记", 0, 5000, false},
        {L"下载中 1%", L"下载中 2%", 0xFFFFFF00u, 0x00000300u, true},  // across the tick wrap
    };
    for (const Case& c : cases) EXPECT_EQ(nameChangeDue(c.before, c.after, c.last, c.now), c.due) << c.after;
}

// A host over a real window, with children set by the test.
class TestHost final : public AccessHost {
public:
    explicit TestHost(HWND window) : window_(window) {}
    HWND window() const override { return window_; }
    std::shared_ptr<const std::vector<AccessItem>> children() override {
        return std::make_shared<const std::vector<AccessItem>>(items);
    }
    bool press(const FocusKey& key) override {
        pressed.push_back(key);
        return true;
    }
    bool takeFocus(const FocusKey& key) override {
        focused.push_back(key);
        return true;
    }
    std::vector<AccessItem> items;
    std::vector<FocusKey> pressed, focused;

private:
    HWND window_;
};

std::weak_ptr<AccessHost> gWindowHost;

LRESULT CALLBACK testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GETOBJECT) return answerGetObject(gWindowHost, window, wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND makeWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = testWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KVAccessTest";
    RegisterClassW(&wc);
    return CreateWindowExW(0, L"KVAccessTest", L"星舟软件管家", WS_POPUP | WS_VISIBLE, 100, 50, 1180, 780, nullptr,
                           nullptr, wc.hInstance, nullptr);
}

AccessItem item(int kind, int id, long role, long state, const std::wstring& name, RECT rect) {
    AccessItem a;
    a.key = FocusKey{kind, id, 0};
    a.role = role;
    a.state = state;
    a.name = name;
    a.rect = rect;
    return a;
}

std::wstring nameOf(IAccessible* object, long id) {
    BSTR name = nullptr;
    if (object->get_accName(childId(id), &name) != S_OK || !name) return L"<none>";
    std::wstring text(name, SysStringLen(name));
    SysFreeString(name);
    return text;
}

// Where the layout puts card i's button in an unscrolled 1180 x 780 window.
RECT cardButton(int i) {
    const RECT area = gridArea(1180, 780);
    const GridGeometry g = gridGeometry(area, true, i + 1, 0);
    return gridButtonRect(g, gridCardRect(g, area, i));
}

class ClientObject : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        window = makeWindow();
        ASSERT_NE(window, nullptr);
        host = std::make_shared<TestHost>(window);
        host->items = {
            item(HitSidebarRow, 0, ROLE_SYSTEM_PAGETAB, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_SELECTED, L"办公软件",
                 RECT{12, 78, 188, 124}),
            item(HitCardButton, 1, ROLE_SYSTEM_PUSHBUTTON, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED,
                 L"安装 星舟笔记 v2.4", cardButton(0)),
            item(HitCardButton, 3, ROLE_SYSTEM_PUSHBUTTON, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_UNAVAILABLE,
                 L"敬请期待 即将上线", cardButton(1)),
            item(0, 0, ROLE_SYSTEM_ALERT, STATE_SYSTEM_READONLY, L"已开始下载 星舟笔记", RECT{410, 80, 770, 122}),
        };
        gWindowHost = host;
    }
    void TearDown() override {
        if (window) DestroyWindow(window);
        host.reset();
        OleUninitialize();
    }
    HWND window = nullptr;
    std::shared_ptr<TestHost> host;
};

TEST_F(ClientObject, AnswersCountNamesRolesStatesAndPlaces) {
    IAccessible* object = createClientAccessible(host);
    ASSERT_NE(object, nullptr);
    long count = 0;
    ASSERT_EQ(object->get_accChildCount(&count), S_OK);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(nameOf(object, CHILDID_SELF), L"星舟软件管家");
    EXPECT_EQ(nameOf(object, 2), L"安装 星舟笔记 v2.4");

    VARIANT role;
    ASSERT_EQ(object->get_accRole(childId(CHILDID_SELF), &role), S_OK);
    EXPECT_EQ(role.lVal, ROLE_SYSTEM_CLIENT);
    ASSERT_EQ(object->get_accRole(childId(4), &role), S_OK);
    EXPECT_EQ(role.lVal, ROLE_SYSTEM_ALERT);
    VARIANT state;
    ASSERT_EQ(object->get_accState(childId(3), &state), S_OK);
    EXPECT_EQ(state.lVal, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_UNAVAILABLE);

    long left = 0, top = 0, width = 0, height = 0;
    ASSERT_EQ(object->accLocation(&left, &top, &width, &height, childId(2)), S_OK);
    const RECT button = cardButton(0);
    EXPECT_EQ(left, 100 + button.left);
    EXPECT_EQ(top, 50 + button.top);
    EXPECT_EQ(width, button.right - button.left);
    EXPECT_EQ(height, button.bottom - button.top);

    VARIANT focus;
    ASSERT_EQ(object->get_accFocus(&focus), S_OK);
    EXPECT_EQ(focus.vt, VT_I4);
    EXPECT_EQ(focus.lVal, 2);
    VARIANT selection;
    ASSERT_EQ(object->get_accSelection(&selection), S_OK);
    EXPECT_EQ(selection.lVal, 1);
    object->Release();
}

TEST_F(ClientObject, HitTestNavigationActionsAndFocus) {
    IAccessible* object = createClientAccessible(host);
    ASSERT_NE(object, nullptr);
    VARIANT hit;
    const RECT button = cardButton(0);
    ASSERT_EQ(object->accHitTest(100 + (button.left + button.right) / 2, 50 + (button.top + button.bottom) / 2, &hit),
              S_OK);
    EXPECT_EQ(hit.lVal, 2);
    ASSERT_EQ(object->accHitTest(100 + 5, 50 + 400, &hit), S_OK);
    EXPECT_EQ(hit.lVal, CHILDID_SELF);
    EXPECT_EQ(object->accHitTest(10, 10, &hit), S_FALSE) << "outside the window";

    VARIANT next;
    ASSERT_EQ(object->accNavigate(NAVDIR_NEXT, childId(1), &next), S_OK);
    EXPECT_EQ(next.lVal, 2);
    EXPECT_EQ(object->accNavigate(NAVDIR_NEXT, childId(4), &next), S_FALSE);
    ASSERT_EQ(object->accNavigate(NAVDIR_PREVIOUS, childId(2), &next), S_OK);
    EXPECT_EQ(next.lVal, 1);
    ASSERT_EQ(object->accNavigate(NAVDIR_LASTCHILD, childId(CHILDID_SELF), &next), S_OK);
    EXPECT_EQ(next.lVal, 4);

    EXPECT_EQ(object->accDoDefaultAction(childId(2)), S_OK);
    EXPECT_EQ(object->accDoDefaultAction(childId(3)), E_FAIL) << "敬请期待 cannot be pressed";
    EXPECT_EQ(object->accDoDefaultAction(childId(4)), DISP_E_MEMBERNOTFOUND) << "the toast is only read";
    ASSERT_EQ(host->pressed.size(), 1u);
    EXPECT_EQ(host->pressed[0], (FocusKey{HitCardButton, 1, 0}));
    EXPECT_EQ(object->accSelect(SELFLAG_TAKEFOCUS, childId(1)), S_OK);
    ASSERT_EQ(host->focused.size(), 1u);
    EXPECT_EQ(host->focused[0], (FocusKey{HitSidebarRow, 0, 0}));

    BSTR action = nullptr;
    ASSERT_EQ(object->get_accDefaultAction(childId(2), &action), S_OK);
    EXPECT_EQ(std::wstring(action), L"按下");
    SysFreeString(action);
    object->Release();
}

TEST_F(ClientObject, NothingIsPressedWhileAModalDialogDisablesTheWindow) {
    IAccessible* object = createClientAccessible(host);
    ASSERT_NE(object, nullptr);
    EnableWindow(window, FALSE);
    EXPECT_EQ(object->accDoDefaultAction(childId(2)), E_FAIL);
    EXPECT_TRUE(host->pressed.empty());
    EnableWindow(window, TRUE);
    EXPECT_EQ(object->accDoDefaultAction(childId(2)), S_OK);
    EXPECT_EQ(host->pressed.size(), 1u);
    object->Release();
}

TEST_F(ClientObject, BadChildIdsAreRefused) {
    IAccessible* object = createClientAccessible(host);
    ASSERT_NE(object, nullptr);
    BSTR name = nullptr;
    EXPECT_EQ(object->get_accName(childId(5), &name), E_INVALIDARG);
    EXPECT_EQ(object->get_accName(childId(-3), &name), E_INVALIDARG);
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = nullptr;
    EXPECT_EQ(object->get_accName(text, &name), E_INVALIDARG);
    EXPECT_EQ(object->get_accName(childId(1), nullptr), E_POINTER);
    // The areas were repainted away: the old child ids name nothing.
    host->items.resize(1);
    EXPECT_EQ(object->accDoDefaultAction(childId(2)), E_INVALIDARG);
    EXPECT_TRUE(host->pressed.empty());
    object->Release();
}

TEST_F(ClientObject, ReachedThroughWmGetObjectAndDisconnectedWithItsWindow) {
    IAccessible* object = nullptr;
    ASSERT_EQ(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), kIidAccessible,
                                         reinterpret_cast<void**>(&object)),
              S_OK);
    ASSERT_NE(object, nullptr);
    long count = 0;
    EXPECT_EQ(object->get_accChildCount(&count), S_OK);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(nameOf(object, 1), L"办公软件");
    IDispatch* parent = nullptr;
    EXPECT_EQ(object->get_accParent(&parent), S_OK);
    if (parent) parent->Release();

    DestroyWindow(window);
    window = nullptr;
    BSTR name = nullptr;
    EXPECT_EQ(object->get_accChildCount(&count), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(object->get_accName(childId(1), &name), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(object->accDoDefaultAction(childId(2)), CO_E_OBJNOTCONNECTED);
    VARIANT focus;
    EXPECT_EQ(object->get_accFocus(&focus), CO_E_OBJNOTCONNECTED);
    object->Release();
}

TEST_F(ClientObject, OutlivesItsHost) {
    IAccessible* object = createClientAccessible(host);
    ASSERT_NE(object, nullptr);
    gWindowHost.reset();
    host.reset();
    long count = 0, left = 0, top = 0, width = 0, height = 0;
    VARIANT hit;
    EXPECT_EQ(object->get_accChildCount(&count), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(object->accLocation(&left, &top, &width, &height, childId(1)), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(object->accHitTest(200, 200, &hit), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(object->Release(), 0u);
}

}  // namespace
