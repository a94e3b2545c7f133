#include "app/accessible.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "ui/layout.h"
#include "ui/looks.h"

const IID kIidAccessible = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

namespace {

const wchar_t kClientName[] = L"星舟软件管家";

// The card label's letter spacing ("安 装") is for the eye; "下载中 40%" keeps its space.
std::wstring withoutSpacing(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const bool spacing = text[i] == L' ' && i > 0 && i + 1 < text.size() && text[i - 1] >= 0x2E80 &&
                             text[i + 1] >= 0x2E80;
        if (!spacing) out += text[i];
    }
    return out;
}

const TaskInfo* taskOf(const NameFacts& facts, int id) {
    if (!facts.tasks) return nullptr;
    auto found = facts.tasks->find(id);
    return found == facts.tasks->end() ? nullptr : &found->second;
}

const App* appOf(const NameFacts& facts, int id) {
    if (facts.index) return facts.index->app(id);
    return facts.lists ? findApp(facts.lists->apps, id) : nullptr;
}

std::wstring cardName(int id, const NameFacts& facts) {
    const App* app = appOf(facts, id);
    const TaskInfo* task = taskOf(facts, id);
    const int percent = task ? taskPercent(task->downloadedBytes, task->totalBytes) : 0;
    const ButtonLook look =
        cardButtonLook(task ? task->state : -1, percent, task && task->isArchive, app && app->hasPackage, false,
                       task && task->interrupted);
    std::wstring name = withoutSpacing(look.label);
    if (app) {
        name += L" " + app->name;
        if (!app->version.empty()) name += L" v" + app->version;
    }
    return name;
}

std::wstring panelButtonName(int kind, int id, const NameFacts& facts) {
    const TaskInfo* task = taskOf(facts, id);
    if (!task) return L"";
    for (const PanelButton& b : panelRowLook(*task, 1000).buttons) {
        if (b.kind == kind) return b.label + L" " + task->name;
    }
    return task->name;
}

// Every method answers through this: no exception leaves a COM method.
// The child id (1-based) of the first area whose state has the flag, or 0 when none has it.
long firstChildWith(const std::vector<AccessItem>& items, DWORD flag) {
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].state & flag) return static_cast<long>(i + 1);
    }
    return 0;
}

template <typename F>
HRESULT guarded(F&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// The children one call works on, held for the length of the call.
struct Children {
    std::shared_ptr<const std::vector<AccessItem>> list;
    const AccessItem& operator[](size_t i) const { return (*list)[i]; }
    size_t size() const { return list ? list->size() : 0; }
    std::vector<AccessItem>::const_iterator begin() const { return list->begin(); }
    std::vector<AccessItem>::const_iterator end() const { return list->end(); }
};

class ClientAccessible final : public IAccessible {
public:
    explicit ClientAccessible(const std::weak_ptr<AccessHost>& host) : host_(host) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, kIidAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    // IDispatch: screen readers call the IAccessible methods directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        return guarded([&]() -> HRESULT {
            if (!parent) return E_POINTER;
            *parent = nullptr;
            std::shared_ptr<AccessHost> host;
            if (!connected(host)) return CO_E_OBJNOTCONNECTED;
            void* window = nullptr;
            const HRESULT hr = AccessibleObjectFromWindow(host->window(), static_cast<DWORD>(OBJID_WINDOW),
                                                          kIidAccessible, &window);
            if (FAILED(hr) || !window) return FAILED(hr) ? hr : S_FALSE;
            *parent = static_cast<IAccessible*>(window);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        return guarded([&]() -> HRESULT {
            if (!count) return E_POINTER;
            *count = 0;
            std::shared_ptr<AccessHost> host;
            if (!connected(host)) return CO_E_OBJNOTCONNECTED;
            *count = static_cast<long>(host->children()->size());
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        return guarded([&]() -> HRESULT {
            if (!out) return E_POINTER;
            *out = nullptr;
            std::shared_ptr<AccessHost> host;
            Children items;
            long index = 0;
            const HRESULT hr = resolve(child, host, items, index);
            if (FAILED(hr)) return hr;
            return index < 0 ? E_INVALIDARG : S_FALSE;  // the children are simple elements
        });
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        return text(child, name, [](const AccessItem* item) { return item ? item->name : std::wstring(kClientName); });
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return empty(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
        return empty(child, description);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        return guarded([&]() -> HRESULT {
            if (!role) return E_POINTER;
            VariantInit(role);
            std::shared_ptr<AccessHost> host;
            Children items;
            long index = 0;
            const HRESULT hr = resolve(child, host, items, index);
            if (FAILED(hr)) return hr;
            role->vt = VT_I4;
            role->lVal = index < 0 ? ROLE_SYSTEM_CLIENT : items[size_t(index)].role;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        return guarded([&]() -> HRESULT {
            if (!state) return E_POINTER;
            VariantInit(state);
            std::shared_ptr<AccessHost> host;
            Children items;
            long index = 0;
            const HRESULT hr = resolve(child, host, items, index);
            if (FAILED(hr)) return hr;
            state->vt = VT_I4;
            if (index >= 0) {
                state->lVal = items[size_t(index)].state;
            } else {
                const bool anyFocused = std::any_of(items.begin(), items.end(), [](const AccessItem& item) {
                    return (item.state & STATE_SYSTEM_FOCUSED) != 0;
                });
                state->lVal = STATE_SYSTEM_FOCUSABLE |
                              (!anyFocused && GetFocus() == host->window() ? STATE_SYSTEM_FOCUSED : 0);
            }
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override { return empty(child, help); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
        if (file) *file = nullptr;
        if (topic) *topic = 0;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        return empty(child, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        return guarded([&]() -> HRESULT {
            if (!focus) return E_POINTER;
            VariantInit(focus);
            std::shared_ptr<AccessHost> host;
            if (!connected(host)) return CO_E_OBJNOTCONNECTED;
            if (const long child = firstChildWith(*host->children(), STATE_SYSTEM_FOCUSED)) {
                focus->vt = VT_I4;
                focus->lVal = child;
                return S_OK;
            }
            if (GetFocus() == host->window()) {
                focus->vt = VT_I4;
                focus->lVal = CHILDID_SELF;
            }
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        return guarded([&]() -> HRESULT {
            if (!selection) return E_POINTER;
            VariantInit(selection);
            std::shared_ptr<AccessHost> host;
            if (!connected(host)) return CO_E_OBJNOTCONNECTED;
            if (const long child = firstChildWith(*host->children(), STATE_SYSTEM_SELECTED)) {
                selection->vt = VT_I4;
                selection->lVal = child;
                return S_OK;
            }
            return S_FALSE;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return text(child, action, [](const AccessItem* item) {
            if (!item || item->key.kind == 0) return std::wstring();
            return std::wstring(item->key.kind == HitSidebarRow ? L"选择" : L"按下");
        });
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        return guarded([&]() -> HRESULT {
            std::shared_ptr<AccessHost> host;
            Children items;
            long index = 0;
            const HRESULT hr = resolve(child, host, items, index);
            if (FAILED(hr)) return hr;
            if (index < 0 || items[size_t(index)].key.kind == 0) return E_INVALIDARG;
            if (!(flags & SELFLAG_TAKEFOCUS)) return DISP_E_MEMBERNOTFOUND;
            return host->takeFocus(items[size_t(index)].key) ? S_OK : E_FAIL;
        });
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override {
        return guarded([&]() -> HRESULT {
            if (!left || !top || !width || !height) return E_POINTER;
            *left = *top = *width = *height = 0;
            std::shared_ptr<AccessHost> host;
            Children items;
            long index = 0;
            const HRESULT hr = resolve(child, host, items, index);
            if (FAILED(hr)) return hr;
            RECT r = {};
            if (index >= 0) {
                r = items[size_t(index)].rect;
            } else if (!GetClientRect(host->window(), &r)) {
                return CO_E_OBJNOTCONNECTED;
            }
            POINT origin = {r.left, r.top};
            if (!ClientToScreen(host->window(), &origin)) return CO_E_OBJNOTCONNECTED;
            *left = origin.x;
            *top = origin.y;
            *width = r.right - r.left;
            *height = r.bottom - r.top;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        return guarded([&]() -> HRESULT {
            if (!end) return E_POINTER;
            VariantInit(end);
            std::shared_ptr<AccessHost> host;
            Children items;
            long index = 0;
            const HRESULT hr = resolve(start, host, items, index);
            if (FAILED(hr)) return hr;
            const long n = static_cast<long>(items.size());
            long target = 0;  // 1-based child id
            switch (direction) {
            case NAVDIR_FIRSTCHILD:
                if (index >= 0) return E_INVALIDARG;
                target = n > 0 ? 1 : 0;
                break;
            case NAVDIR_LASTCHILD:
                if (index >= 0) return E_INVALIDARG;
                target = n;
                break;
            case NAVDIR_NEXT:
            case NAVDIR_DOWN:
            case NAVDIR_RIGHT:
                if (index < 0) return S_FALSE;  // the client's siblings are the window's business
                target = index + 2 <= n ? index + 2 : 0;
                break;
            case NAVDIR_PREVIOUS:
            case NAVDIR_UP:
            case NAVDIR_LEFT:
                if (index < 0) return S_FALSE;
                target = index;
                break;
            default:
                return E_INVALIDARG;
            }
            if (target <= 0) return S_FALSE;
            end->vt = VT_I4;
            end->lVal = target;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* out) override {
        return guarded([&]() -> HRESULT {
            if (!out) return E_POINTER;
            VariantInit(out);
            std::shared_ptr<AccessHost> host;
            if (!connected(host)) return CO_E_OBJNOTCONNECTED;
            POINT p = {x, y};
            RECT client = {};
            if (!ScreenToClient(host->window(), &p) || !GetClientRect(host->window(), &client)) {
                return CO_E_OBJNOTCONNECTED;
            }
            if (!PtInRect(&client, p)) return S_FALSE;
            const std::shared_ptr<const std::vector<AccessItem>> children = host->children();
            const std::vector<AccessItem>& items = *children;
            out->vt = VT_I4;
            out->lVal = CHILDID_SELF;
            // The toast lies over everything but the banner; later areas win as for the mouse.
            for (size_t i = items.size(); i-- > 0;) {
                const AccessItem& item = items[i];
                if (!(item.state & STATE_SYSTEM_OFFSCREEN) && PtInRect(&item.rect, p)) {
                    out->lVal = static_cast<long>(i + 1);
                    break;
                }
            }
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        return guarded([&]() -> HRESULT {
            std::shared_ptr<AccessHost> host;
            Children items;
            long index = 0;
            const HRESULT hr = resolve(child, host, items, index);
            if (FAILED(hr)) return hr;
            if (index < 0 || items[size_t(index)].key.kind == 0) return DISP_E_MEMBERNOTFOUND;
            if (items[size_t(index)].state & STATE_SYSTEM_UNAVAILABLE) return E_FAIL;
            // Behind a modal dialog the window is disabled: nothing in it may be pressed.
            if (!IsWindowEnabled(host->window())) return E_FAIL;
            return host->press(items[size_t(index)].key) ? S_OK : E_FAIL;
        });
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    bool connected(std::shared_ptr<AccessHost>& host) const {
        host = host_.lock();
        return host && IsWindow(host->window());
    }

    // index -1 is the client object itself.
    HRESULT resolve(const VARIANT& child, std::shared_ptr<AccessHost>& host, Children& items, long& index) const {
        if (!connected(host)) return CO_E_OBJNOTCONNECTED;
        if (child.vt != VT_I4) return E_INVALIDARG;
        items.list = host->children();
        if (!items.list) return E_UNEXPECTED;
        if (child.lVal == CHILDID_SELF) {
            index = -1;
            return S_OK;
        }
        if (child.lVal < 1 || child.lVal > static_cast<long>(items.size())) return E_INVALIDARG;
        index = child.lVal - 1;
        return S_OK;
    }

    template <typename F>
    HRESULT text(const VARIANT& child, BSTR* out, F&& pick) {
        return guarded([&]() -> HRESULT {
            if (!out) return E_POINTER;
            *out = nullptr;
            std::shared_ptr<AccessHost> host;
            Children items;
            long index = 0;
            const HRESULT hr = resolve(child, host, items, index);
            if (FAILED(hr)) return hr;
            const std::wstring value = pick(index < 0 ? nullptr : &items[size_t(index)]);
            if (value.empty()) return S_FALSE;
            *out = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
            return *out ? S_OK : E_OUTOFMEMORY;
        });
    }

    HRESULT empty(const VARIANT& child, BSTR* out) {
        return text(child, out, [](const AccessItem*) { return std::wstring(); });
    }

    std::weak_ptr<AccessHost> host_;
    std::atomic<ULONG> refs_{1};
};

}  // namespace

std::wstring areaName(int kind, int id, const NameFacts& facts) {
    switch (kind) {
    case HitSidebarRow:
        if (facts.lists && id >= 0 && size_t(id) < facts.lists->categories.size()) {
            return facts.lists->categories[size_t(id)].name;
        }
        return L"";
    case HitMinimize:
        return L"最小化";
    case HitMaximize:
        return facts.maximized ? L"还原" : L"最大化";
    case HitClose:
        return L"关闭";
    case HitDownloadsTool: {
        const int active = facts.tasks ? activeDownloadCount(*facts.tasks) : 0;
        return active > 0 ? L"下载管理，" + std::to_wstring(active) + L" 个正在下载" : std::wstring(L"下载管理");
    }
    case HitSettingsTool:
        return L"下载设置";
    case HitCardButton:
        return cardName(id, facts);
    case HitPanelCancel:
    case HitPanelInstall:
    case HitPanelFolder:
    case HitPanelRetry:
        return panelButtonName(kind, id, facts);
    case HitPanelClear:
        return L"清除已完成";
    case HitReload:
        return L"重新加载";
    case HitPanelChangeDir:
        return L"修改目录";
    case HitPanelOpenDir:
        return L"打开目录";
    case HitBanner:
        return facts.bannerTitle + L" " +
               bannerMessage(facts.bannerVerified, facts.bannerIsArchive, facts.bannerInstall, facts.bannerUnverifiable)
                   .text;
    default:
        return L"";
    }
}

long areaRole(int kind) {
    switch (kind) {
    case 0:
        return ROLE_SYSTEM_ALERT;
    case HitSidebarRow:
        return ROLE_SYSTEM_PAGETAB;
    default:
        return ROLE_SYSTEM_PUSHBUTTON;
    }
}

bool areaUnavailable(int kind, int id, const NameFacts& facts) {
    if (kind != HitCardButton || taskOf(facts, id)) return false;
    const App* app = appOf(facts, id);
    return !app || !app->hasPackage;
}

bool sameAccessFacts(const AccessFacts& a, const AccessFacts& b) {
    const NameFacts& x = a.names;
    const NameFacts& y = b.names;
    return x.maximized == y.maximized && x.bannerTitle == y.bannerTitle && x.bannerVerified == y.bannerVerified &&
           x.bannerUnverifiable == y.bannerUnverifiable &&
           x.bannerIsArchive == y.bannerIsArchive && x.bannerInstall == y.bannerInstall &&
           a.selectedCategoryId == b.selectedCategoryId && a.viewMode == b.viewMode && a.toastText == b.toastText &&
           EqualRect(&a.toastRect, &b.toastRect) != FALSE;
}

std::vector<AccessItem> accessItems(const std::vector<FocusItem>& order, const FocusKey& focus,
                                    const AccessFacts& given) {
    // Names look their records up by id: through the lists' index, once for all areas.
    AccessFacts facts = given;
    std::shared_ptr<const CategoryIndex> index;
    if (facts.names.lists && !facts.names.index) {
        index = facts.names.lists->categoryIndex();
        facts.names.index = index.get();
    }
    std::vector<AccessItem> items;
    items.reserve(order.size() + 1);
    for (const FocusItem& area : order) {
        AccessItem item;
        item.key = area.key;
        item.role = areaRole(area.key.kind);
        item.name = areaName(area.key.kind, area.key.id, facts.names);
        item.rect = area.rect;
        item.state = STATE_SYSTEM_FOCUSABLE;
        if (area.key == focus) item.state |= STATE_SYSTEM_FOCUSED;
        if (!area.onScreen) item.state |= STATE_SYSTEM_OFFSCREEN;
        if (areaUnavailable(area.key.kind, area.key.id, facts.names)) item.state |= STATE_SYSTEM_UNAVAILABLE;
        if (area.key.kind == HitSidebarRow) {
            item.state |= STATE_SYSTEM_SELECTABLE;
            const auto* lists = facts.names.lists;
            if (facts.viewMode == 0 && lists && size_t(area.key.id) < lists->categories.size() &&
                lists->categories[size_t(area.key.id)].id == facts.selectedCategoryId) {
                item.state |= STATE_SYSTEM_SELECTED;
            }
        }
        items.push_back(std::move(item));
    }
    if (!facts.toastText.empty()) {
        AccessItem toast;
        toast.role = ROLE_SYSTEM_ALERT;
        toast.name = facts.toastText;
        toast.rect = facts.toastRect;
        toast.state = STATE_SYSTEM_READONLY;
        items.push_back(std::move(toast));
    }
    return items;
}

bool nameChangeDue(const std::wstring& before, const std::wstring& after, DWORD lastAnnounced, DWORD now) {
    if (before == after) return false;
    const std::wstring progress = L"下载中";
    const bool bothProgress = before.compare(0, progress.size(), progress) == 0 &&
                              after.compare(0, progress.size(), progress) == 0;
    return !bothProgress || DWORD(now - lastAnnounced) >= 1000;
}

IAccessible* createClientAccessible(const std::weak_ptr<AccessHost>& host) {
    return new (std::nothrow) ClientAccessible(host);
}

LRESULT answerGetObject(const std::weak_ptr<AccessHost>& host, HWND window, WPARAM wParam, LPARAM lParam) {
    if (static_cast<LONG>(lParam) != static_cast<LONG>(OBJID_CLIENT) || host.expired()) {
        return DefWindowProcW(window, WM_GETOBJECT, wParam, lParam);
    }
    IAccessible* object = createClientAccessible(host);
    if (!object) return DefWindowProcW(window, WM_GETOBJECT, wParam, lParam);
    // LresultFromObject takes its own reference; ours goes on every path.
    const LRESULT result = LresultFromObject(kIidAccessible, wParam, object);
    object->Release();
    return result;
}
