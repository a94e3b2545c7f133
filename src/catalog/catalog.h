// The catalog service: categories and applications from the catalog server, the store
// that publishes them to the painter, lazily fetched icons and the install report.
//
// Publishing: a load builds a fresh CatalogLists apart and swaps it into the store whole
// (last publisher wins). Readers take lists() once and keep that shared pointer for as
// long as they use the records, so a reload can never pull a list from under them. An
// icon fetch holds the lists of its record too: it never writes into freed memory, and
// when the last holder lets go of discarded lists their kept icons are released.
// A CatalogState must outlive the load threads started on it and every record of its
// lists that is still held: icon fetches reach the store through the records they hold
// (the program's one store lives until exit).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalog/icon_image.h"

namespace json {
struct Value;
}

struct Category {
    std::wstring id;
    std::wstring name;
};

struct App {
    int32_t id = 0;
    std::wstring name;
    std::wstring version;  // at most "major.minor"
    std::vector<std::wstring> categoryIds;
    std::wstring description;
    std::wstring icon;     // path on the catalog server
    int64_t packageSize = 0;
    std::string md5;       // hex text as the catalog gives it
    bool hasPackage = false;
    int64_t downloads = 0;
    int64_t updatedAt = 0;  // ms since 1970-01-01 UTC

    // Not set by the fetcher, which keeps no GDI object per icon (see paintCache); a
    // bitmap stored here is owned by the record and deleted with it.
    mutable std::atomic<HBITMAP> iconBitmap{nullptr};
    // 0 not requested, 1 loading, 2 ready, 3 failed (fetched again later while attempts
    // remain, see requestIcon). The kept icon is stored before the state becomes 2.
    mutable std::atomic<int32_t> iconState{0};
    // The icon as kept, an IconImage (catalog/icon_image.h): copies already scaled to the
    // sizes it is drawn at. Written by the fetch worker and read by the painter, only
    // through keepIcon and keptIcon (atomic). Released with the record.
    mutable std::shared_ptr<const void> paintCache;

    App() = default;
    App(App&& other) noexcept;
    App& operator=(App&& other) noexcept;
    App(const App&) = delete;
    App& operator=(const App&) = delete;
    ~App();
};

struct CatalogLists;

// Which applications each category holds, worked out once for one lists: a paint of a
// category then costs what it shows, not the length of the whole catalog.
class CategoryIndex {
public:
    explicit CategoryIndex(const CatalogLists& lists);
    // The applications whose categoryIds contain id (exact match), in catalog order, each
    // once however often it names the id; empty for an unknown id.
    const std::vector<const App*>& appsOf(const std::wstring& id) const;
    // The last category with this id (a repeated id is named by its last entry), or null.
    const Category* category(const std::wstring& id) const;
    // The first application with this id, as findApp finds it, or null.
    const App* app(int32_t id) const;
    // What it was built from: lists changed after their first use are indexed again.
    bool describes(const CatalogLists& lists) const;

private:
    std::unordered_map<std::wstring, std::vector<const App*>> members_;
    std::unordered_map<std::wstring, const Category*> categories_;
    std::unordered_map<int32_t, const App*> apps_;
    const App* appsData_ = nullptr;
    size_t appCount_ = 0;
    const Category* categoriesData_ = nullptr;
    size_t categoryCount_ = 0;
};

// One load's result; never changed after publishing except the icon fields.
struct CatalogLists {
    std::vector<Category> categories;  // server order
    std::vector<App> apps;             // server order
    bool fromCache = false;            // read from the disk cache, not from the server

    // Built by publish on the publishing thread, or on first use of lists that were never
    // published; any thread.
    std::shared_ptr<const CategoryIndex> categoryIndex() const;

private:
    mutable std::mutex indexLock_;
    mutable std::shared_ptr<const CategoryIndex> index_;
};

// A record together with the lists that keep it alive.
using AppRef = std::shared_ptr<const App>;

class CatalogState {
public:
    CatalogState();
    std::shared_ptr<const CatalogLists> lists() const;  // never null
    void publish(std::shared_ptr<const CatalogLists> lists);
    std::wstring lastError() const;  // empty after a successful load
    void setLastError(const std::wstring& text);

    std::atomic<HWND> notifyWindow{nullptr};  // receives WM_APP+3

private:
    mutable std::mutex lock_;
    std::shared_ptr<const CatalogLists> lists_;
    std::wstring lastError_;
};

constexpr UINT kMsgIconReady = WM_APP + 3;     // wParam = application id
constexpr UINT kMsgCatalogLoaded = WM_APP + 4;  // wParam = 1 success, 0 failure

// Model.
std::wstring normalizeVersion(const std::wstring& text);
App parseApp(const json::Value& node);
const App* findApp(const std::vector<App>& apps, int id);  // first match, or null
AppRef findApp(const CatalogState& catalog, int id);        // in the current lists

// Loading. parseBootstrap fills lists from a bootstrap body (consumed to keep the peak
// memory low; expectedApps, a likely application count, sizes the list up front, within a
// bound); false means "数据格式错误" and leaves lists as they were. Applications in no
// category are left out: no view can show them.
bool parseBootstrap(std::string& body, CatalogLists& lists, size_t expectedApps = 0);
bool loadCatalog(CatalogState& catalog, const std::wstring& server);
// Starts the load thread: it runs loadCatalog and posts WM_APP+4 to window; after a
// success it keeps the lists as the disk cache of server and channel (none when channel is
// empty or there is no cache folder, see catalog_cache.h).
bool startCatalogLoadThread(CatalogState& catalog, HWND window, const std::wstring& server,
                            const std::wstring& channel = std::wstring());
// Writes the store's lists as the cache of server and channel (after a successful load, on
// the loading thread); nothing when channel is empty.
void cacheLoadedCatalog(const CatalogState& catalog, const std::wstring& server, const std::wstring& channel);

// Icons. rebuildIconFile: when body is an icon file with a usable best image, fills
// rebuilt with a one-image icon file of it and returns true; false means decode the
// body as it is.
constexpr size_t kMaxIconBytes = 4194304;
bool rebuildIconFile(const std::string& body, std::string& rebuilt);
// GDI+ must be started. Null on failure, and for an image declaring more than
// kMaxIconSide pixels on a side or none the header reader knows; noMemory tells an
// allocation failure apart. The caller owns the bitmap.
HBITMAP decodeIconImage(const std::string& bytes, bool& noMemory);
// Queues the icon of a record in state 0 (with a location) for the fetch pool: at most 4
// fetches run at once through one shared session, the newest requests first; a request
// whose record a reload replaced is dropped. The worker keeps the icon scaled to sizes
// (the sizes the views draw it at) and nothing else. A failed fetch leaves state 3 and is
// tried again after the retry pause, 3 attempts in all; an image larger than
// kMaxIconSide is refused at once and for good. Each fetch ends with WM_APP+3 to
// notifyWindow when an image was received (ready, refused or undecodable).
void requestIcon(CatalogState& catalog, HWND notifyWindow, const AppRef& app, const std::wstring& server,
                 const std::vector<IconSize>& sizes);
// A ready icon fetched once more to be kept at other sizes (the display scale changed, or
// a view draws a size not kept): the kept icon stays drawn until the new one replaces it,
// and stays for good when the fetch fails. WM_APP+3 follows the replacement.
void refetchIcon(CatalogState& catalog, HWND notifyWindow, const AppRef& app, const std::wstring& server,
                 const std::vector<IconSize>& sizes);
// Start-up: the icon of a record in state 0 taken from its kept file, read before (file
// reads only, while the display starts): kept at once, without a fetch, when the file is
// of the record's location (server + icon), less than a day old and drawn at every size
// asked for. False leaves the record as it was, for requestIcon.
struct IconCacheEntry;
bool keepIconFromEntry(const AppRef& app, const std::wstring& server, const IconCacheEntry& entry,
                       const std::vector<IconSize>& sizes);
// Pause before a failed icon is fetched again: 30000 ms; tests shorten it.
void setIconRetryPause(unsigned milliseconds);

// Install report.
std::string installReportBody(int appId, const std::wstring& channel);
bool reportInstall(const std::wstring& server, int appId, const std::wstring& channel);
