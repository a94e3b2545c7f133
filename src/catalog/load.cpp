#include <memory>
#include <new>
#include <utility>

#include "catalog/catalog.h"
#include "json/encoding.h"
#include "json/json.h"
#include "net/http.h"
#include "scoped.h"

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

bool parseBootstrap(std::string& body, CatalogLists& lists) {
    std::shared_ptr<json::Value> root = json::parse(body);
    // The text is no longer needed once the tree exists; give its memory back before
    // the records are built.
    std::string().swap(body);
    if (!root) return false;
    const json::Value* data = root->lookup("data");
    if (!data) return false;

    lists.categories.clear();
    lists.apps.clear();
    if (const json::Value* categories = data->lookup("categories")) {
        lists.categories.reserve(categories->array().size());
        for (const auto& element : categories->array()) {
            Category category;
            if (element && element->kind == json::Object) {
                category.id = wideString(element->lookup("id"));
                category.name = wideString(element->lookup("name"));
            }
            lists.categories.push_back(std::move(category));
        }
    }
    if (const json::Value* apps = data->lookup("apps")) {
        lists.apps.reserve(apps->array().size());
        for (const auto& element : apps->array()) lists.apps.push_back(element ? parseApp(*element) : App());
    }
    return true;
}

bool loadCatalog(CatalogState& catalog, const std::wstring& server) {
    try {
        std::string body;
        std::wstring error;
        if (!httpGetText(server + L"/api/client/bootstrap", body, error)) {
            catalog.setLastError(error.empty() ? std::wstring(L"网络错误") : error);
            return false;
        }
        auto lists = std::make_shared<CatalogLists>();
        if (!parseBootstrap(body, *lists)) {
            catalog.setLastError(L"数据格式错误");
            return false;
        }
        catalog.publish(std::move(lists));
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
