// The client area as screen readers see it: an IAccessible whose children are the areas
// of the last paint (and the ones scrolled away), with roles, names, states, places and
// a default action that presses the area. The object holds only a weak link to its host,
// so once the window is gone every call answers CO_E_OBJNOTCONNECTED.
#pragma once

#include <windows.h>
#include <oleacc.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/focus.h"
#include "catalog/catalog.h"
#include "download/task.h"

// IID_IAccessible defined here: with static MinGW linking the import library's symbol
// resolves to a thunk, and LresultFromObject then answers E_NOINTERFACE.
extern const IID kIidAccessible;

// One child of the client object. Kind 0 is the toast, which is read but not pressed.
struct AccessItem {
    FocusKey key;
    long role = ROLE_SYSTEM_PUSHBUTTON;
    long state = 0;
    std::wstring name;
    RECT rect{0, 0, 0, 0};  // client coordinates
};

// What the names are made of.
struct NameFacts {
    const CatalogLists* lists = nullptr;
    const CategoryIndex* index = nullptr;  // of lists; looked up from them when null
    const std::map<int32_t, TaskInfo>* tasks = nullptr;
    bool maximized = false;
    std::wstring bannerTitle;
    bool bannerVerified = true;
    bool bannerUnverifiable = false;
    bool bannerIsArchive = false;
    BannerInstall bannerInstall = BannerInstall::Started;
};
// What a sighted user reads on the area: "安装 星舟笔记 v2.4", "取消 星舟笔记", "关闭" ...
std::wstring areaName(int kind, int id, const NameFacts& facts);
long areaRole(int kind);
// A card button without a package or a task ("敬请期待") cannot be pressed.
bool areaUnavailable(int kind, int id, const NameFacts& facts);

// The children of the client object: the focus order's areas, then a showing toast.
struct AccessFacts {
    NameFacts names;
    std::wstring selectedCategoryId;
    int viewMode = 0;
    std::wstring toastText;  // empty while no toast shows
    RECT toastRect{0, 0, 0, 0};
};
// Whether two facts name the areas alike; the lists and tasks they point to are not compared.
bool sameAccessFacts(const AccessFacts& a, const AccessFacts& b);

std::vector<AccessItem> accessItems(const std::vector<FocusItem>& order, const FocusKey& focus,
                                    const AccessFacts& facts);

// Whether a focused area's new name is announced now: at once, except a progress label
// ("下载中 40%" → "下载中 41%"), which is announced at most once a second.
bool nameChangeDue(const std::wstring& before, const std::wstring& after, DWORD lastAnnounced, DWORD now);

// The window side of the object. Calls arrive on the window's thread.
class AccessHost {
public:
    virtual ~AccessHost() = default;
    virtual HWND window() const = 0;
    // Never null; the object indexes into it, so a call on one child costs the same
    // however many children there are.
    virtual std::shared_ptr<const std::vector<AccessItem>> children() = 0;
    virtual bool press(const FocusKey& key) = 0;      // as a left press on the area
    virtual bool takeFocus(const FocusKey& key) = 0;  // keyboard focus to the area
};

// A new client object with one reference, or null when out of memory.
IAccessible* createClientAccessible(const std::weak_ptr<AccessHost>& host);
// The WM_GETOBJECT answer for OBJID_CLIENT; other objects go to DefWindowProcW.
LRESULT answerGetObject(const std::weak_ptr<AccessHost>& host, HWND window, WPARAM wParam, LPARAM lParam);
