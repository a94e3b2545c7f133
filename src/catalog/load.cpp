#include <algorithm>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "catalog/catalog.h"
#include "catalog/catalog_cache.h"
#include "json/encoding.h"
#include "json/json.h"
#include "net/http.h"
#include "scoped.h"
#include "startup_marks.h"

namespace {

std::wstring wideString(const json::Value* v) {
    if (!v || v->kind != json::String) return std::wstring();
    return json::toWide(v->string());
}

constexpr size_t kMostReservedApps = 4096;

struct CatalogLoadJob {
    CatalogState* catalog;
    HWND window;
    std::wstring server;
    std::wstring channel;
};

DWORD WINAPI catalogLoadThread(void* param) {
    std::unique_ptr<CatalogLoadJob> job(static_cast<CatalogLoadJob*>(param));
    bool ok = false;
    try {
        ok = loadCatalog(*job->catalog, job->server);
    } catch (...) {
        ok = false;
    }
    PostMessageW(job->window, kMsgCatalogLoaded, ok ? 1 : 0, 0);
    if (ok) cacheLoadedCatalog(*job->catalog, job->server, job->channel);
    return 0;
}

// Turns a bootstrap answer into records while it is read: each category and application
// becomes its record as soon as its element is complete, and the element is freed at
// once, so neither the text nor the tree of the whole answer exists beside the records.
// The records go into lists only once the whole text has been accepted.
// Only the members that become fields are built; the rest of the answer is read and
// checked but never held, so an answer of any shape costs about what its records cost.
// An application in no category is not kept: no view can show it, and an answer of empty
// objects would otherwise make a record of some hundred bytes out of every three.
class BootstrapReader {
public:
    explicit BootstrapReader(size_t expectedApps)
        : parser_({{{"data", "categories"},
                    [this](const json::Value& element) {
                        Category category;
                        if (element.kind == json::Object) {
                            category.id = wideString(element.lookup("id"));
                            category.name = wideString(element.lookup("name"));
                        }
                        built_.categories.push_back(std::move(category));
                    },
                    {"id", "name"}},
                   {{"data", "apps"},
                    [this](const json::Value& element) {
                        App app = parseApp(element);
                        if (!app.categoryIds.empty()) built_.apps.push_back(std::move(app));
                    },
                    {"id", "name", "version", "categoryIds", "categoryId", "description", "icon", "packageSize", "md5",
                     "hasPackage", "downloads", "updatedAt"}}},
                  json::OffPaths::Skip) {
        // Sized for the list it is likely to replace: growing by doubling would hold two
        // arrays of records at once near the end, when the memory in use is highest. Only
        // up to a bound: the last answer's size is no promise about the next one's.
        built_.apps.reserve(std::min(expectedApps, kMostReservedApps));
    }

    // An answer too large to hold as records is treated like an unreadable one; the rest
    // of it is still taken (and ignored), so the request ends as it would have anyway.
    void feed(const char* data, size_t size) {
        if (noMemory_) return;
        try {
            parser_.feed(data, size);
        } catch (const std::bad_alloc&) {
            noMemory_ = true;
            std::vector<Category>().swap(built_.categories);
            std::vector<App>().swap(built_.apps);
        }
    }

    // False means "数据格式错误"; lists are then left as they were.
    bool finish(CatalogLists& lists) {
        if (noMemory_) return false;
        std::shared_ptr<json::Value> root = parser_.finish();
        if (!root || !root->lookup("data")) return false;
        lists.categories = std::move(built_.categories);
        lists.apps = std::move(built_.apps);
        return true;
    }

private:
    CatalogLists built_;
    json::StreamParser parser_;
    bool noMemory_ = false;
};

}  // namespace

bool parseBootstrap(std::string& body, CatalogLists& lists, size_t expectedApps) {
    BootstrapReader reader(expectedApps);
    reader.feed(body.data(), body.size());
    std::string().swap(body);
    return reader.finish(lists);
}

bool loadCatalog(CatalogState& catalog, const std::wstring& server) {
    markStartup(StartupMark::CatalogRequestStarted);
    try {
        auto lists = std::make_shared<CatalogLists>();
        BootstrapReader reader(catalog.lists()->apps.size());
        std::wstring error;
        const bool received = httpGetText(
            server + L"/api/client/bootstrap",
            [&reader](const unsigned char* data, unsigned long size) {
                reader.feed(reinterpret_cast<const char*>(data), size);
                return true;
            },
            error);
        if (!received) {
            catalog.setLastError(error.empty() ? std::wstring(L"网络错误") : error);
            return false;
        }
        markStartup(StartupMark::CatalogAnswerReceived);
        if (!reader.finish(*lists)) {
            catalog.setLastError(L"数据格式错误");
            return false;
        }
        const std::shared_ptr<const CatalogLists> replaced = catalog.lists();
        if (replaced->fromCache) carryKeptIcons(*replaced, *lists);
        catalog.publish(std::move(lists));
        markStartup(StartupMark::CatalogPublished);
        catalog.setLastError(std::wstring());
        return true;
    } catch (const std::bad_alloc&) {
        // An answer too large to hold as records is treated like an unreadable one.
        catalog.setLastError(L"数据格式错误");
        return false;
    }
}

void cacheLoadedCatalog(const CatalogState& catalog, const std::wstring& server, const std::wstring& channel) {
    try {
        if (!channel.empty()) saveCatalogCache(*catalog.lists(), server, channel);
    } catch (...) {
        // Without a cache the next start is as it would have been anyway.
    }
}

bool startCatalogLoadThread(CatalogState& catalog, HWND window, const std::wstring& server,
                            const std::wstring& channel) {
    auto* job = new (std::nothrow) CatalogLoadJob{&catalog, window, server, channel};
    if (!job) return false;
    ScopedHandle thread(CreateThread(nullptr, 0, catalogLoadThread, job, 0, nullptr));
    if (!thread) {
        delete job;
        return false;
    }
    return true;
}
