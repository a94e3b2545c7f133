#include "app/keyboard.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/accessible.h"
#include "app/app_state.h"
#include "ui/layout.h"
#include "ui/looks.h"
#include "ui/scale.h"
#include "download/manager.h"
#include "ui/gdiplus.h"
#include "ui/ui.h"

namespace {

constexpr uint32_t kRingOnHeader = 0xFFFFFFFF;  // the accent would vanish into the header's gradient

class WindowHost;

struct KeyboardState {
    FocusKey focus;
    bool ring = false;
    std::vector<FocusItem> order;  // the areas as of the last paint or key
    PressArea press = nullptr;
    std::shared_ptr<WindowHost> host;

    bool focusEventDue = false;
    FocusKey namedKey;
    std::wstring namedText;
    DWORD namedTick = 0;
    uint32_t toastTickAnnounced = 0;
    std::wstring toastAnnounced;

    // Paints so far, and the one the order was last settled for: a screen reader walking
    // many children between two paints gets them without rebuilding the order each time.
    unsigned paints = 0;
    unsigned settledPaint = ~0u;

    // What the order was built from: a paint that recorded the same areas over the same
    // state keeps it. builds counts the orders made (it also tells the children apart).
    FocusInput built;
    bool haveBuilt = false;
    unsigned builds = 0;

    // The selected category's card ids, kept while the lists and the category stay.
    std::weak_ptr<const CatalogLists> cardLists;
    std::wstring cardCategory;
    std::vector<int32_t> cardIds;

    // The screen reader's children as last made, and what they were made from.
    std::shared_ptr<const std::vector<AccessItem>> children;
    unsigned childrenOrder = ~0u;
    FocusKey childrenFocus;
    AccessFacts childrenFacts;
    std::weak_ptr<const CatalogLists> childrenLists;
    std::map<int32_t, TaskInfo> childrenTasks;
    unsigned childrenBuilds = 0;
};

KeyboardState& keyboard() {
    static KeyboardState state;
    return state;
}

std::vector<TaskInfo> taskList(const std::map<int32_t, TaskInfo>& tasks) {
    std::vector<TaskInfo> list;
    list.reserve(tasks.size());
    for (const auto& entry : tasks) list.push_back(entry.second);
    return list;
}

// The card ids of the selected category, taken from the lists' index only when the lists
// or the category changed since the last time.
const std::vector<int32_t>& sectionCardIds(const std::shared_ptr<const CatalogLists>& lists) {
    KeyboardState& k = keyboard();
    if (k.cardLists.lock() != lists || k.cardCategory != gApp.selectedCategoryId) {
        k.cardIds.clear();
        for (const App* app : catalogSection(*lists, gApp.selectedCategoryId).apps) k.cardIds.push_back(app->id);
        k.cardLists = lists;
        k.cardCategory = gApp.selectedCategoryId;
    }
    return k.cardIds;
}

FocusInput focusInput(int width, int height, const std::shared_ptr<const CatalogLists>& lists,
                      const std::map<int32_t, TaskInfo>& tasks) {
    FocusInput in;
    in.hits = gApp.hitRects;
    in.width = width;
    in.height = height;
    in.loading = gApp.catalogLoading;
    in.failed = gApp.catalogLoadFailed;
    in.viewMode = gApp.viewMode;
    in.categoryCount = static_cast<int>(std::min<size_t>(lists->categories.size(), 0x7FFFFFFF / sidebarRowPitch()));
    in.sidebarScroll = gApp.sidebarScroll;
    in.gridScroll = gApp.gridScroll;
    in.panelScroll = gApp.panelScroll;
    if (!in.loading && !in.failed) {
        if (in.viewMode == 0) {
            in.cardIds = sectionCardIds(lists);
        } else if (in.viewMode == 1) {
            in.tasks = taskList(tasks);
        }
    }
    return in;
}

bool sameTask(const TaskInfo& a, const TaskInfo& b) {
    return a.appId == b.appId && a.name == b.name && a.state == b.state && a.downloadedBytes == b.downloadedBytes &&
           a.totalBytes == b.totalBytes && a.speed == b.speed && a.md5Ok == b.md5Ok &&
           a.md5Unverified == b.md5Unverified && a.isArchive == b.isArchive &&
           a.errorText == b.errorText && a.retryCount == b.retryCount && a.generation == b.generation &&
           a.installWaiting == b.installWaiting;
}

bool sameTasks(const std::map<int32_t, TaskInfo>& a, const std::map<int32_t, TaskInfo>& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](const std::pair<const int32_t, TaskInfo>& x,
                                                        const std::pair<const int32_t, TaskInfo>& y) {
               return x.first == y.first && sameTask(x.second, y.second);
           });
}

SIZE clientSize(HWND window) {
    RECT r = {};
    if (window) GetClientRect(window, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

// The order over the current areas; focus follows a vanished area to its neighbour. The
// order is made again only when what it is built from changed.
void settle(const FocusInput& in) {
    KeyboardState& k = keyboard();
    k.settledPaint = k.paints;
    if (k.haveBuilt && sameFocusInput(k.built, in)) {
        const FocusKey kept = keepFocus(k.order, k.order, k.focus);
        if (kept != k.focus) k.focusEventDue = kept.kind != 0;
        k.focus = kept;
        return;
    }
    std::vector<FocusItem> order = focusOrder(in);
    ++k.builds;
    const FocusKey kept = keepFocus(k.order, order, k.focus);
    if (kept != k.focus) k.focusEventDue = kept.kind != 0;
    k.focus = kept;
    k.order = std::move(order);
    k.built = in;
    k.haveBuilt = true;
}

FocusInput liveInput(HWND window) {
    const SIZE size = clientSize(window);
    return focusInput(size.cx, size.cy, gApp.catalog.lists(), DownloadManager::instance().snapshot());
}

AccessFacts accessFacts(HWND window, const CatalogLists* lists, const std::map<int32_t, TaskInfo>* tasks) {
    AccessFacts facts;
    facts.names.lists = lists;
    facts.names.index = lists ? lists->categoryIndex().get() : nullptr;  // the lists hold it
    facts.names.tasks = tasks;
    facts.names.maximized = window && IsZoomed(window);
    facts.names.bannerTitle = gApp.bannerText;
    facts.names.bannerVerified = gApp.bannerVerified;
    facts.names.bannerUnverifiable = gApp.bannerUnverifiable;
    facts.names.bannerIsArchive = gApp.bannerIsArchive;
    if (tasks) {
        auto task = tasks->find(gApp.bannerTaskId);
        facts.names.bannerInstall = shownBannerInstall(
            gApp.bannerInstall, task == tasks->end() ? nullptr : &task->second, gApp.bannerGeneration);
    } else {
        facts.names.bannerInstall = gApp.bannerInstall;
    }
    facts.selectedCategoryId = gApp.selectedCategoryId;
    facts.viewMode = gApp.viewMode;
    if (!gApp.toastText.empty() && toastShowing(GetTickCount(), gApp.toastTick)) {
        const int w = clientSize(window).cx;
        facts.toastText = gApp.toastText;
        facts.toastRect = toastRect(w);
    }
    return facts;
}

class WindowHost final : public AccessHost {
public:
    explicit WindowHost(HWND window) : window_(window) {}
    HWND window() const override { return window_; }

    // Made again only when the order, the focus or what the names say changed: a screen
    // reader walking thousands of children pays for one list, not one per call.
    std::shared_ptr<const std::vector<AccessItem>> children() override {
        KeyboardState& k = keyboard();
        if (k.settledPaint != k.paints) settle(liveInput(window_));
        auto lists = gApp.catalog.lists();
        auto tasks = DownloadManager::instance().snapshot();
        AccessFacts facts = accessFacts(window_, lists.get(), &tasks);
        if (k.children && k.childrenOrder == k.builds && k.childrenFocus == k.focus && k.childrenLists.lock() == lists &&
            sameTasks(k.childrenTasks, tasks) && sameAccessFacts(k.childrenFacts, facts)) {
            return k.children;
        }
        k.children = std::make_shared<const std::vector<AccessItem>>(accessItems(k.order, k.focus, facts));
        ++k.childrenBuilds;
        k.childrenOrder = k.builds;
        k.childrenFocus = k.focus;
        k.childrenLists = lists;
        k.childrenTasks = std::move(tasks);
        facts.names.lists = nullptr;  // the facts kept compare by value; the lists by the weak link
        facts.names.index = nullptr;
        facts.names.tasks = nullptr;
        k.childrenFacts = std::move(facts);
        return k.children;
    }

    bool press(const FocusKey& key) override {
        KeyboardState& k = keyboard();
        // A modal dialog (settings, the folder browser) has the window disabled: nothing
        // behind it may be pressed, by a screen reader either.
        if (!k.press || !IsWindowEnabled(window_) || findFocus(k.order, key) < 0) return false;
        k.press(window_, key.kind, key.id);
        return true;
    }

    bool takeFocus(const FocusKey& key) override {
        KeyboardState& k = keyboard();
        if (findFocus(k.order, key) < 0) return false;
        k.focus = key;
        k.focusEventDue = true;
        InvalidateRect(window_, nullptr, FALSE);
        return true;
    }

private:
    HWND window_;
};

FocusMove moveOf(KeyCommand command) {
    switch (command) {
    case KeyCommand::Previous:
        return FocusMove::Previous;
    case KeyCommand::Up:
        return FocusMove::Up;
    case KeyCommand::Down:
        return FocusMove::Down;
    case KeyCommand::Left:
        return FocusMove::Left;
    case KeyCommand::Right:
        return FocusMove::Right;
    default:
        return FocusMove::Next;
    }
}

void moveFocusByKey(HWND window, FocusMove move) {
    KeyboardState& k = keyboard();
    const FocusInput in = liveInput(window);
    settle(in);
    const FocusKey next = moveFocus(k.order, k.focus, move);
    if (next != k.focus) k.focusEventDue = true;
    k.focus = next;
    k.ring = next.kind != 0;
    const int index = findFocus(k.order, next);
    if (index >= 0) {
        const ScrollOffsets offsets = scrollIntoView(k.order[size_t(index)], in,
                                                     ScrollOffsets{gApp.sidebarScroll, gApp.gridScroll, gApp.panelScroll});
        gApp.sidebarScroll = offsets.sidebar;
        gApp.gridScroll = offsets.grid;
        gApp.panelScroll = offsets.panel;
    }
    InvalidateRect(window, nullptr, FALSE);
}

bool pressFocused(HWND window) {
    KeyboardState& k = keyboard();
    if (k.focus.kind == 0 || !k.press) return false;
    settle(liveInput(window));
    if (findFocus(k.order, k.focus) < 0) return false;
    k.press(window, k.focus.kind, k.focus.id);
    return true;
}

void pageView(HWND window, KeyCommand command) {
    const PageKey key = command == KeyCommand::Home  ? PageKey::Home
                        : command == KeyCommand::End ? PageKey::End
                        : command == KeyCommand::PageUp ? PageKey::PageUp
                                                        : PageKey::PageDown;
    const int height = clientSize(window).cy;
    if (gApp.catalogLoading || gApp.catalogLoadFailed) return;
    if (gApp.viewMode == 0) {
        gApp.gridScroll = pageScroll(key, gApp.gridScroll, gridPageHeight(height), gApp.gridScrollbar.maxScroll);
    } else if (gApp.viewMode == 1) {
        gApp.panelScroll = pageScroll(key, gApp.panelScroll, panelPageHeight(height), gApp.panelScrollbar.maxScroll);
    }
    gApp.hoverValid = false;
    InvalidateRect(window, nullptr, FALSE);
}

}  // namespace

void setAreaPress(PressArea press) { keyboard().press = press; }

bool onKeyboardKey(HWND window, WPARAM virtualKey, bool repeated) {
    const KeyCommand command = keyCommand(static_cast<UINT>(virtualKey), GetKeyState(VK_SHIFT) < 0,
                                          GetKeyState(VK_CONTROL) < 0, GetKeyState(VK_MENU) < 0);
    KeyboardState& k = keyboard();
    if (command != KeyCommand::None && !IsWindowEnabled(window)) return true;  // behind a modal dialog
    if (command != KeyCommand::None && repeated && !repeatsWhenHeld(command)) return true;
    switch (command) {
    case KeyCommand::None:
        return false;
    case KeyCommand::Press:
        return pressFocused(window);
    case KeyCommand::Escape:
        if (!gApp.bannerText.empty() && k.press) {
            k.press(window, HitBanner, 0);
            return true;
        }
        if (gApp.viewMode == 1) {
            gApp.viewMode = 0;
            // Back where the download manager was opened from.
            if (k.focus.kind != 0) {
                k.focus = FocusKey{HitDownloadsTool, 0, 0};
                k.focusEventDue = true;
            }
            InvalidateRect(window, nullptr, FALSE);
            return true;
        }
        return false;
    case KeyCommand::Reload:
        if (k.press) k.press(window, HitReload, 0);
        return k.press != nullptr;
    case KeyCommand::Home:
    case KeyCommand::End:
    case KeyCommand::PageUp:
    case KeyCommand::PageDown:
        pageView(window, command);
        return true;
    default:
        moveFocusByKey(window, moveOf(command));
        return true;
    }
}

void onMousePress(int kind, int id) {
    KeyboardState& k = keyboard();
    const bool ringWas = k.ring;
    k.ring = false;
    if (kind != 0) {
        FocusKey key{kind, id, 0};
        // The pressed copy of a repeated card is the visible one; take the first such.
        for (const FocusItem& item : k.order) {
            if (item.key.kind == kind && item.key.id == id && item.onScreen) {
                key = item.key;
                break;
            }
        }
        if (key != k.focus) k.focusEventDue = true;
        k.focus = key;
    }
    if (ringWas && gApp.mainWindow) InvalidateRect(gApp.mainWindow, nullptr, FALSE);
}

LRESULT onGetObject(HWND window, WPARAM wParam, LPARAM lParam) {
    KeyboardState& k = keyboard();
    if (!k.host || k.host->window() != window) k.host = std::make_shared<WindowHost>(window);
    return answerGetObject(k.host, window, wParam, lParam);
}

void announceAfterPaint(HWND window) {
    KeyboardState& k = keyboard();
    const bool toastDue =
        !gApp.toastText.empty() && (gApp.toastTick != k.toastTickAnnounced || gApp.toastText != k.toastAnnounced);
    if (toastDue && k.settledPaint != k.paints) settle(liveInput(window));
    const int index = findFocus(k.order, k.focus);
    if (k.focusEventDue) {
        k.focusEventDue = false;
        if (index >= 0) NotifyWinEvent(EVENT_OBJECT_FOCUS, window, OBJID_CLIENT, index + 1);
    }
    if (toastDue) {
        k.toastTickAnnounced = gApp.toastTick;
        k.toastAnnounced = gApp.toastText;
        NotifyWinEvent(EVENT_SYSTEM_ALERT, window, OBJID_CLIENT, static_cast<LONG>(k.order.size() + 1));
    }
    if (index >= 0) {
        auto lists = gApp.catalog.lists();
        const auto tasks = DownloadManager::instance().snapshot();
        const AccessFacts facts = accessFacts(window, lists.get(), &tasks);
        const std::wstring name = areaName(k.focus.kind, k.focus.id, facts.names);
        const DWORD now = GetTickCount();
        if (k.namedKey != k.focus) {
            k.namedKey = k.focus;
            k.namedText = name;
            k.namedTick = now;
        } else if (nameChangeDue(k.namedText, name, k.namedTick, now)) {
            k.namedText = name;
            k.namedTick = now;
            NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, window, OBJID_CLIENT, index + 1);
        }
    }
}

void releaseAccessibility() { keyboard().host.reset(); }

void paintFocusRing(Gdiplus::Graphics& graphics, const PaintFrame& frame, int width, int height) {
    KeyboardState& k = keyboard();
    ++k.paints;
    if ((k.focus.kind == 0 && !k.ring) || !frame.lists) return;  // a mouse-only session pays nothing here
    settle(focusInput(width, height, frame.lists, frame.tasks));
    if (!k.ring) return;
    const int index = findFocus(k.order, k.focus);
    if (index < 0 || !k.order[size_t(index)].onScreen) return;
    const FocusItem& item = k.order[size_t(index)];
    const RingShape ring = focusRingShape(item.rect, item.key.kind);
    Gdiplus::GraphicsPath path;
    addRoundRectPath(path, ring.rect, ring.radius);
    Gdiplus::Pen pen(Gdiplus::Color(static_cast<Gdiplus::ARGB>(item.rect.bottom <= headerHeight() ? kRingOnHeader : Accent)),
                     pxf(2.0f));
    graphics.DrawPath(&pen, &path);
}

FocusKey keyboardFocus() { return keyboard().focus; }
bool focusRingShown() { return keyboard().ring; }
void resetKeyboardFocus() {
    KeyboardState& k = keyboard();
    k.focus = FocusKey{};
    k.ring = false;
    k.order.clear();
    k.focusEventDue = false;
    k.built = FocusInput();
    k.haveBuilt = false;
    k.cardLists.reset();
    k.cardIds.clear();
    k.children.reset();
    k.childrenTasks.clear();
}

KeyboardCounts keyboardCounts() { return KeyboardCounts{keyboard().builds, keyboard().childrenBuilds}; }
