#include "app/early_load.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <new>

#include "catalog/catalog.h"
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

// User-interface thread only.
bool started = false;
bool adopted = false;

struct EarlyLoadJob {
    CatalogState* catalog;
    std::wstring server;
};

DWORD WINAPI earlyLoadThread(void* param) {
    std::unique_ptr<EarlyLoadJob> job(static_cast<EarlyLoadJob*>(param));
    bool ok = false;
    try {
        ok = loadCatalog(*job->catalog, job->server);
    } catch (...) {
        ok = false;
    }
    job.reset();
    succeeded.store(ok);
    SetEvent(ended.load());
    HWND window = meeting.exchange(kFinished);
    if (window) PostMessageW(window, kMsgCatalogLoaded, ok ? 1 : 0, 0);
    return 0;
}

}  // namespace

bool startEarlyCatalogLoad(CatalogState& catalog, const std::wstring& server) {
    if (started) return false;
    // Never destroyed: the load thread, which is not waited for, may set it during exit.
    static ScopedHandle& endedEvent = *new ScopedHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!endedEvent) return false;
    ended.store(endedEvent.get());
    auto* job = new (std::nothrow) EarlyLoadJob{&catalog, server};
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
