#include <objbase.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <cstring>
#include <memory>
#include <new>

#include "catalog/catalog.h"
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

struct IconJob {
    CatalogState* catalog;
    AppRef app;
    std::wstring url;
};

bool sameLists(const AppRef& app, const std::shared_ptr<const CatalogLists>& lists) {
    return !app.owner_before(lists) && !lists.owner_before(app);
}

void fetchIcon(IconJob& job) {
    const App& app = *job.app;
    if (app.iconState.load() > 1) return;

    HttpResponse response;
    std::wstring error;
    const HttpResult result =
        httpRequest(job.url, {}, nullptr, L"GET", HttpDataSink(), response, error, nullptr);
    if (result != HttpResult::Ok || response.body.empty() || response.body.size() > kMaxIconBytes) {
        app.iconState.store(3);
        return;
    }
    // A reload replaced the record while it was downloading: nobody shows it any more,
    // so no bitmap is made for it.
    if (!sameLists(job.app, job.catalog->lists())) {
        app.iconState.store(3);
        return;
    }

    std::string rebuilt;
    const std::string& bytes = rebuildIconFile(response.body, rebuilt) ? rebuilt : response.body;
    bool noMemory = false;
    HBITMAP bitmap = decodeIconImage(bytes, noMemory);
    if (noMemory) {
        app.iconState.store(3);
        return;
    }
    if (bitmap) {
        app.iconBitmap.store(bitmap);
        app.iconState.store(2);  // after the handle: a reader that sees 2 sees the bitmap
    } else {
        app.iconState.store(3);
    }
    PostMessageW(job.catalog->notifyWindow.load(), kMsgIconReady, static_cast<WPARAM>(static_cast<INT_PTR>(app.id)), 0);
}

DWORD WINAPI iconThread(void* param) {
    std::unique_ptr<IconJob> job(static_cast<IconJob*>(param));
    try {
        fetchIcon(*job);
    } catch (...) {
        int32_t loading = 1;
        job->app->iconState.compare_exchange_strong(loading, 3);
    }
    return 0;
}

}  // namespace

HBITMAP decodeIconImage(const std::string& bytes, bool& noMemory) {
    noMemory = false;
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

void requestIcon(CatalogState& catalog, HWND notifyWindow, const AppRef& app, const std::wstring& server) {
    if (!app || app->icon.empty() || app->iconState.load() != 0) return;
    app->iconState.store(1);
    catalog.notifyWindow.store(notifyWindow);
    auto* job = new (std::nothrow) IconJob{&catalog, app, server + app->icon};
    if (!job) {
        app->iconState.store(3);
        return;
    }
    ScopedHandle thread(CreateThread(nullptr, 0, iconThread, job, 0, nullptr));
    if (!thread) {
        delete job;
        app->iconState.store(3);
    }
}
