#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "catalog/catalog.h"
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

struct CatalogLoadJob {
    CatalogState* catalog;
    HWND window;
    std::wstring server;
};

DWORD WINAPI catalogLoadThread(void* param) {
    std::unique_ptr<CatalogLoadJob> job(static_cast<CatalogLoadJob*>(param));
    bool ok = false;
    try {
        ok = loadCatalog(*job->catalog, job->server);
    } catch (...) {
        ok = false;
    }
    HWND window = job->window;
    job.reset();
    PostMessageW(window, kMsgCatalogLoaded, ok ? 1 : 0, 0);
    return 0;
}

}  // namespace

bool parseBootstrap(std::string& body, CatalogLists& lists, size_t expectedApps) {
    // Each category and application becomes its record as soon as its element has been
    // read, and the element is freed at once: the tree of the whole answer never
    // exists beside the text and the records. They go into lists only once the whole
    // text has been accepted.
    CatalogLists built;
    // Sized for the list it is likely to replace: growing by doubling would hold two
    // arrays of records at once near the end, when the memory in use is highest.
    built.apps.reserve(expectedApps);
    const std::vector<json::ElementStream> streams = {
        {{"data", "categories"},
         [&built](const json::Value& element) {
             Category category;
             if (element.kind == json::Object) {
                 category.id = wideString(element.lookup("id"));
                 category.name = wideString(element.lookup("name"));
             }
             built.categories.push_back(std::move(category));
         }},
        {{"data", "apps"}, [&built](const json::Value& element) { built.apps.push_back(parseApp(element)); }},
    };
    std::shared_ptr<json::Value> root = json::parse(body, streams);
    std::string().swap(body);
    if (!root || !root->lookup("data")) return false;
    lists.categories = std::move(built.categories);
    lists.apps = std::move(built.apps);
    return true;
}

bool loadCatalog(CatalogState& catalog, const std::wstring& server) {
    markStartup(StartupMark::CatalogRequestStarted);
    try {
        std::string body;
        std::wstring error;
        if (!httpGetText(server + L"/api/client/bootstrap", body, error)) {
            catalog.setLastError(error.empty() ? std::wstring(L"网络错误") : error);
            return false;
        }
        markStartup(StartupMark::CatalogAnswerReceived);
        auto lists = std::make_shared<CatalogLists>();
        if (!parseBootstrap(body, *lists, catalog.lists()->apps.size())) {
            catalog.setLastError(L"数据格式错误");
            return false;
        }
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

bool startCatalogLoadThread(CatalogState& catalog, HWND window, const std::wstring& server) {
    auto* job = new (std::nothrow) CatalogLoadJob{&catalog, window, server};
    if (!job) return false;
    ScopedHandle thread(CreateThread(nullptr, 0, catalogLoadThread, job, 0, nullptr));
    if (!thread) {
        delete job;
        return false;
    }
    return true;
}
