#include <objbase.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>

#include "catalog/catalog.h"
#include "catalog/icon_cache.h"
#include "catalog/icon_queue.h"
#include "net/http.h"
#include "scoped.h"

namespace {

struct GlobalTraits {
    static HGLOBAL invalid() { return nullptr; }
    static bool valid(HGLOBAL h) { return h != nullptr; }
    static void close(HGLOBAL h) { GlobalFree(h); }
};
struct StreamTraits {
    static IStream* invalid() { return nullptr; }
    static bool valid(IStream* s) { return s != nullptr; }
    static void close(IStream* s) { s->Release(); }
};
struct GpImageTraits {
    static Gdiplus::GpBitmap* invalid() { return nullptr; }
    static bool valid(Gdiplus::GpBitmap* b) { return b != nullptr; }
    static void close(Gdiplus::GpBitmap* b) { Gdiplus::DllExports::GdipDisposeImage(b); }
};

bool sameLists(const AppRef& app, const std::shared_ptr<const CatalogLists>& lists) {
    return !app.owner_before(lists) && !lists.owner_before(app);
}

enum class FetchOutcome {
    Ready,
    Failed,     // worth another attempt
    Refused,    // larger than any icon is drawn: never asked for again
    Discarded,  // a reload replaced the record: nobody shows it any more
};

void postIconReady(CatalogState& catalog, const App& app) {
    PostMessageW(catalog.notifyWindow.load(), kMsgIconReady, static_cast<WPARAM>(static_cast<INT_PTR>(app.id)), 0);
}

// The icon's bytes: from disk while the kept copy is less than a day old, else from the
// server, asked with the kept copy's validators. A 304 keeps the copy (for another day),
// a new answer replaces it once it has decoded, and while the server cannot be reached the
// kept copy serves.
struct IconBytes {
    IconCacheEntry entry;  // body: the bytes; when kept, also its validators and drawn copies
    bool fromDisk = false;
    bool fresh = false;  // a new answer, kept once it has shown to decode
};

enum class BytesOutcome { Got, Failed, Discarded };

BytesOutcome iconBytes(const HttpSession& session, CatalogState& catalog, const AppRef& ref, const IconRequest& request,
                       IconBytes& out) {
    IconCacheEntry cached;
    const bool haveCached = readIconCache(request.url, cached);
    const int64_t now = unixNow();
    auto useCached = [&] {
        out.entry = std::move(cached);
        out.fromDisk = true;
        return BytesOutcome::Got;
    };
    if (haveCached && !revalidationDue(cached.checkedAt, now)) return useCached();
    std::vector<HttpHeader> headers;
    if (haveCached) {
        const IconValidators validators = validatorsOf(cached);
        if (!validators.ifNoneMatch.empty()) headers.push_back({L"If-None-Match", validators.ifNoneMatch});
        if (!validators.ifModifiedSince.empty()) headers.push_back({L"If-Modified-Since", validators.ifModifiedSince});
    }
    HttpResponse response;
    std::wstring error;
    const HttpResult result =
        httpRequest(session, request.url, headers, nullptr, L"GET", HttpDataSink(), response, error, nullptr);
    if (!sameLists(ref, catalog.lists())) return BytesOutcome::Discarded;
    if (result == HttpResult::Ok && response.status == 304 && haveCached) {
        cached.checkedAt = now;
        writeIconCache(cached);
        return useCached();
    }
    if (result == HttpResult::Ok && response.status != 304 && !response.body.empty() &&
        response.body.size() <= kMaxIconBytes) {
        out.entry.url = request.url;
        out.entry.etag = std::move(response.etag);
        out.entry.lastModified = std::move(response.lastModified);
        out.entry.checkedAt = now;
        out.entry.body = std::move(response.body);
        out.fresh = true;
        return BytesOutcome::Got;
    }
    if (haveCached) return useCached();
    return BytesOutcome::Failed;
}

// A kept icon drawn before at every size asked for is shown as it was kept. Otherwise the
// image is sized from its header before anything is decoded, then decoded and scaled to
// the sizes asked for; the decoded bitmap goes as soon as the copies are made. A refetch
// leaves the state and the kept icon alone unless it has a new one. A kept copy that does
// not decode is dropped from disk, so that the next attempt asks the server.
FetchOutcome fetchIcon(const HttpSession& session, CatalogState& catalog, const AppRef& ref, const IconRequest& request) {
    const App& app = *ref;
    auto fail = [&](FetchOutcome outcome) {
        if (!request.refetch) app.iconState.store(3);
        return outcome;
    };
    IconBytes got;
    switch (iconBytes(session, catalog, ref, request, got)) {
    case BytesOutcome::Discarded:
        return fail(FetchOutcome::Discarded);
    case BytesOutcome::Failed:
        return fail(FetchOutcome::Failed);
    case BytesOutcome::Got:
        break;
    }
    auto ready = [&](std::shared_ptr<const IconImage> image) {
        keepIcon(app, std::move(image));
        app.iconState.store(2);  // after the icon: a reader that sees 2 sees it
        postIconReady(catalog, app);
        return FetchOutcome::Ready;
    };
    if (got.fromDisk) {
        if (std::shared_ptr<const IconImage> kept = imageFromKeptCopies(got.entry.copies, request.sizes))
            return ready(std::move(kept));
    }
    auto dropKept = [&] {
        if (got.fromDisk) forgetIconCache(request.url);
    };

    std::string rebuilt;
    const std::string& bytes = rebuildIconFile(got.entry.body, rebuilt) ? rebuilt : got.entry.body;
    uint32_t width = 0, height = 0;
    const bool sized = declaredImageSize(bytes, width, height);
    if (sized && (width > kMaxIconSide || height > kMaxIconSide)) {
        dropKept();
        fail(FetchOutcome::Refused);
        if (!request.refetch) postIconReady(catalog, app);
        return FetchOutcome::Refused;
    }
    std::shared_ptr<const IconImage> image;
    if (sized) {
        bool noMemory = false;
        ScopedGdiObject bitmap(decodeIconImage(bytes, noMemory));
        if (noMemory) return fail(FetchOutcome::Failed);
        if (bitmap) image = scaleIconImage(static_cast<HBITMAP>(bitmap.get()), request.sizes);
    }
    if (!image) {
        dropKept();
        fail(FetchOutcome::Failed);
        if (!request.refetch) postIconReady(catalog, app);
        return FetchOutcome::Failed;
    }
    // Kept on disk with its drawn copies, after the window was told: a new answer only once
    // it has shown to decode, a kept one again with the sizes it lacked.
    got.entry.copies = copiesToKeep(*image, got.fresh ? std::vector<IconCopy>() : got.entry.copies);
    const FetchOutcome outcome = ready(std::move(image));
    writeIconCache(got.entry);
    return outcome;
}

// At most kIconFetchSlots workers, started as requests wait for them and then kept: each
// serves the queue until the process ends. Never destroyed, because the workers are not
// waited for at exit and use the queue, the lock and the session until then.
class IconPool {
public:
    static IconPool& instance() {
        static IconPool* pool = new IconPool;
        return *pool;
    }

    // False when no worker runs and none could be started: nobody would serve it.
    bool add(IconRequest request) {
        std::lock_guard<std::mutex> hold(lock_);
        queue_.add(std::move(request));
        if (queue_.waiting() > static_cast<size_t>(idle_) && workers_ < kIconFetchSlots) startWorker();
        if (workers_ == 0) {
            queue_.dropNewest();
            return false;
        }
        wake_.notify_one();
        return true;
    }

    std::atomic<unsigned> retryPauseMs{kIconRetryPauseMs};

private:
    IconPool() = default;

    void startWorker() {
        ScopedHandle thread(CreateThread(nullptr, 0, workerEntry, this, 0, nullptr));
        if (thread) ++workers_;
    }

    static DWORD WINAPI workerEntry(void* param) {
        auto* pool = static_cast<IconPool*>(param);
        try {
            pool->work();
        } catch (...) {
        }
        // Only an exception ends a worker; the next request starts another.
        try {
            std::lock_guard<std::mutex> hold(pool->lock_);
            --pool->workers_;
        } catch (...) {
        }
        return 0;
    }

    void work() {
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            IconRequest request;
            if (queue_.take(GetTickCount64(), request)) {
                hold.unlock();
                serve(request);
                hold.lock();
                continue;
            }
            const int64_t untilRetry = queue_.untilNextRetry(GetTickCount64());
            ++idle_;
            if (untilRetry < 0) {
                wake_.wait(hold);
            } else {
                wake_.wait_for(hold, std::chrono::milliseconds(untilRetry));
            }
            --idle_;
        }
    }

    void serve(IconRequest& request) {
        AppRef app = request.app.lock();
        if (!app) return;  // its lists are gone, and the store's owner may be gone with them
        CatalogState& catalog = *request.catalog;
        if (!sameLists(app, catalog.lists())) {
            if (!request.refetch) app->iconState.store(3);
            return;
        }
        if (request.refetch) {
            if (app->iconState.load() != 2) return;
        } else if (request.failures > 0) {
            int32_t failed = 3;
            if (!app->iconState.compare_exchange_strong(failed, 1)) return;
        } else if (app->iconState.load() > 1) {
            return;
        }
        FetchOutcome outcome = FetchOutcome::Failed;
        try {
            const std::shared_ptr<const HttpSession> shared = session();
            outcome = fetchIcon(*shared, catalog, app, request);
        } catch (...) {
            int32_t loading = 1;
            app->iconState.compare_exchange_strong(loading, 3);
        }
        if (outcome != FetchOutcome::Failed || request.refetch) return;
        app.reset();
        std::lock_guard<std::mutex> hold(lock_);
        queue_.retryLater(std::move(request), GetTickCount64(), retryPauseMs.load());
    }

    // Opened by the first fetch that needs it, and again after a failed opening; a fetch
    // keeps its copy while it runs.
    std::shared_ptr<const HttpSession> session() {
        std::lock_guard<std::mutex> hold(sessionLock_);
        if (!session_ || !session_->valid()) session_ = std::make_shared<const HttpSession>();
        return session_;
    }

    std::mutex lock_;  // queue_, workers_, idle_
    std::condition_variable wake_;
    IconQueue queue_;
    int workers_ = 0;
    int idle_ = 0;  // workers waiting for a request
    std::mutex sessionLock_;
    std::shared_ptr<const HttpSession> session_;
};

}  // namespace

HBITMAP decodeIconImage(const std::string& bytes, bool& noMemory) {
    noMemory = false;
    uint32_t width = 0, height = 0;
    if (!declaredImageSize(bytes, width, height) || width > kMaxIconSide || height > kMaxIconSide) return nullptr;
    Scoped<HGLOBAL, GlobalTraits> block(GlobalAlloc(GMEM_MOVEABLE, bytes.size()));
    if (!block) {
        noMemory = true;
        return nullptr;
    }
    void* target = GlobalLock(block.get());
    if (!target) {
        noMemory = true;
        return nullptr;
    }
    std::memcpy(target, bytes.data(), bytes.size());
    GlobalUnlock(block.get());

    Scoped<IStream*, StreamTraits> stream;
    if (FAILED(CreateStreamOnHGlobal(block.get(), TRUE, stream.out())) || !stream) return nullptr;
    block.release();  // the stream frees it

    Scoped<Gdiplus::GpBitmap*, GpImageTraits> image;
    if (Gdiplus::DllExports::GdipCreateBitmapFromStream(stream.get(), image.out()) != Gdiplus::Ok || !image)
        return nullptr;
    HBITMAP bitmap = nullptr;
    // Opaque white behind transparent parts, the colour of the card the icon sits on.
    if (Gdiplus::DllExports::GdipCreateHBITMAPFromBitmap(image.get(), &bitmap, 0xFFFFFFFF) != Gdiplus::Ok)
        return nullptr;
    return bitmap;
}

namespace {

bool queueIcon(CatalogState& catalog, HWND notifyWindow, const AppRef& app, const std::wstring& server,
               const std::vector<IconSize>& sizes, bool refetch) {
    catalog.notifyWindow.store(notifyWindow);
    try {
        IconRequest request;
        request.catalog = &catalog;
        request.app = app;
        request.url = server + app->icon;
        request.sizes = sizes;
        request.refetch = refetch;
        return IconPool::instance().add(std::move(request));
    } catch (...) {
        return false;
    }
}

}  // namespace

void requestIcon(CatalogState& catalog, HWND notifyWindow, const AppRef& app, const std::wstring& server,
                 const std::vector<IconSize>& sizes) {
    if (!app || app->icon.empty() || app->iconState.load() != 0) return;
    app->iconState.store(1);
    // Not queued: the next paint asks again.
    if (!queueIcon(catalog, notifyWindow, app, server, sizes, false)) app->iconState.store(0);
}

void refetchIcon(CatalogState& catalog, HWND notifyWindow, const AppRef& app, const std::wstring& server,
                 const std::vector<IconSize>& sizes) {
    if (!app || app->icon.empty() || app->iconState.load() != 2) return;
    queueIcon(catalog, notifyWindow, app, server, sizes, true);
}

bool keepIconFromEntry(const AppRef& app, const std::wstring& server, const IconCacheEntry& entry,
                       const std::vector<IconSize>& sizes) {
    if (!app || app->icon.empty() || entry.url != server + app->icon || revalidationDue(entry.checkedAt, unixNow()))
        return false;
    std::shared_ptr<const IconImage> image = imageFromKeptCopies(entry.copies, sizes);
    int32_t notAsked = 0;
    if (!image || !app->iconState.compare_exchange_strong(notAsked, 1)) return false;
    keepIcon(*app, std::move(image));
    app->iconState.store(2);
    return true;
}

void setIconRetryPause(unsigned milliseconds) { IconPool::instance().retryPauseMs.store(milliseconds); }
