#include "app/early_load.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <new>

#include "catalog/catalog.h"
#include "catalog/catalog_cache.h"
#include "catalog/icon_cache.h"
#include "scoped.h"

namespace {

// Where the load thread and the window meet, whichever comes second: null while neither
// has arrived, the window once it took the load over, kFinished once the load ended first.
// Both sides exchange, so exactly one of them sees the other and acts.
HWND const kFinished = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));
std::atomic<HWND> meeting{nullptr};
std::atomic<bool> succeeded{false};
// Set when the load ended; made before the thread starts and kept until exit.
std::atomic<HANDLE> ended{nullptr};
// Set once the cached catalog was looked for (and published when there was one); the same.
std::atomic<HANDLE> cacheChecked{nullptr};
std::atomic<bool> cachePublished{false};
// Set once the first frame is on screen; the same.
std::atomic<HANDLE> frameShown{nullptr};
// How long a refresh behind the cached catalog waits for the first frame at most.
constexpr DWORD kRefreshHoldMs = 2000;
// Read by the load thread before it sets cacheChecked, taken by the window after.
std::vector<IconCacheEntry> iconEntries;

// The kept icons of the first category's first cards: files only, nothing decoded, so that
// the display's start, which this runs beside, is not kept waiting.
void readFirstIcons(const CatalogState& catalog, const std::wstring& server) {
    const std::shared_ptr<const CatalogLists> lists = catalog.lists();
    if (lists->categories.empty()) return;
    size_t cards = 0;
    for (const App* app : lists->categoryIndex()->appsOf(lists->categories.front().id)) {
        if (cards++ == kFirstFrameCards) break;
        const std::wstring url = server + app->icon;
        const bool read = std::any_of(iconEntries.begin(), iconEntries.end(), [&](const IconCacheEntry& e) { return e.url == url; });
        IconCacheEntry entry;
        if (!app->icon.empty() && !read && readIconCache(url, entry)) iconEntries.push_back(std::move(entry));
    }
}

// User-interface thread only.
bool started = false;
bool adopted = false;

struct EarlyLoadJob {
    CatalogState* catalog;
    std::wstring server;
    std::wstring channel;
};

DWORD WINAPI earlyLoadThread(void* param) {
    std::unique_ptr<EarlyLoadJob> job(static_cast<EarlyLoadJob*>(param));
    // The last catalog first: read beside the window's creation, it is on screen in the
    // first frame while the request below runs.
    try {
        if (!job->channel.empty()) cachePublished.store(publishCachedCatalog(*job->catalog, job->server, job->channel));
        if (cachePublished.load()) readFirstIcons(*job->catalog, job->server);
    } catch (...) {
    }
    SetEvent(cacheChecked.load());
    // With the last catalog on screen the refresh waits for the first frame: loading WinHTTP
    // and opening the request beside the display's start and the window's creation slowed
    // both down, while the user already sees a catalog. Without one, it goes at once.
    if (cachePublished.load()) WaitForSingleObject(frameShown.load(), kRefreshHoldMs);
    bool ok = false;
    try {
        ok = loadCatalog(*job->catalog, job->server);
    } catch (...) {
        ok = false;
    }
    succeeded.store(ok);
    SetEvent(ended.load());
    HWND window = meeting.exchange(kFinished);
    if (window) PostMessageW(window, kMsgCatalogLoaded, ok ? 1 : 0, 0);
    if (ok) cacheLoadedCatalog(*job->catalog, job->server, job->channel);
    return 0;
}

}  // namespace

bool startEarlyCatalogLoad(CatalogState& catalog, const std::wstring& server, const std::wstring& channel) {
    if (started) return false;
    // Never destroyed: the load thread, which is not waited for, may set them during exit.
    static ScopedHandle& endedEvent = *new ScopedHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    static ScopedHandle& cacheEvent = *new ScopedHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    static ScopedHandle& frameEvent = *new ScopedHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!endedEvent || !cacheEvent || !frameEvent) return false;
    ended.store(endedEvent.get());
    cacheChecked.store(cacheEvent.get());
    frameShown.store(frameEvent.get());
    auto* job = new (std::nothrow) EarlyLoadJob{&catalog, server, channel};
    if (!job) return false;
    ScopedHandle thread(CreateThread(nullptr, 0, earlyLoadThread, job, 0, nullptr));
    if (!thread) {
        delete job;
        return false;
    }
    started = true;
    return true;
}

EarlyLoad adoptEarlyCatalogLoad(HWND window) {
    if (!started || adopted || !window) return EarlyLoad::None;
    adopted = true;
    if (meeting.exchange(window) != kFinished) return EarlyLoad::Running;
    return succeeded.load() ? EarlyLoad::Succeeded : EarlyLoad::Failed;
}

bool waitForEarlyCatalogLoad(DWORD timeout) {
    HANDLE event = ended.load();
    return event && WaitForSingleObject(event, timeout) == WAIT_OBJECT_0;
}

void earlyLoadFrameShown() {
    if (HANDLE event = frameShown.load()) SetEvent(event);
}

std::vector<IconCacheEntry> takeEarlyIconEntries() {
    HANDLE event = cacheChecked.load();
    if (!started || !event || WaitForSingleObject(event, 0) != WAIT_OBJECT_0) return {};
    return std::move(iconEntries);
}

bool earlyCatalogCacheShown(DWORD timeout) {
    HANDLE event = cacheChecked.load();
    return started && event && WaitForSingleObject(event, timeout) == WAIT_OBJECT_0 && cachePublished.load();
}
