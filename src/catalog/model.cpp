#include "catalog/catalog.h"

#include <cwctype>
#include <utility>

#include "json/encoding.h"
#include "json/json.h"

App::App(App&& other) noexcept
    : id(other.id),
      name(std::move(other.name)),
      version(std::move(other.version)),
      categoryIds(std::move(other.categoryIds)),
      description(std::move(other.description)),
      icon(std::move(other.icon)),
      packageSize(other.packageSize),
      md5(std::move(other.md5)),
      hasPackage(other.hasPackage),
      downloads(other.downloads),
      updatedAt(other.updatedAt),
      iconBitmap(other.iconBitmap.exchange(nullptr)),
      iconState(other.iconState.exchange(0)),
      paintCache(std::move(other.paintCache)) {}

App& App::operator=(App&& other) noexcept {
    if (this == &other) return *this;
    id = other.id;
    name = std::move(other.name);
    version = std::move(other.version);
    categoryIds = std::move(other.categoryIds);
    description = std::move(other.description);
    icon = std::move(other.icon);
    packageSize = other.packageSize;
    md5 = std::move(other.md5);
    hasPackage = other.hasPackage;
    downloads = other.downloads;
    updatedAt = other.updatedAt;
    HBITMAP old = iconBitmap.exchange(other.iconBitmap.exchange(nullptr));
    if (old) DeleteObject(old);
    iconState = other.iconState.exchange(0);
    paintCache = std::move(other.paintCache);
    return *this;
}

App::~App() {
    if (HBITMAP bitmap = iconBitmap.load()) DeleteObject(bitmap);
}

CategoryIndex::CategoryIndex(const CatalogLists& lists)
    : appsData_(lists.apps.data()),
      appCount_(lists.apps.size()),
      categoriesData_(lists.categories.data()),
      categoryCount_(lists.categories.size()) {
    for (const Category& category : lists.categories) categories_[category.id] = &category;  // the last one stays
    apps_.reserve(lists.apps.size());
    for (const App& app : lists.apps) {
        apps_.emplace(app.id, &app);  // the first record with the id stays
        for (const std::wstring& id : app.categoryIds) {
            std::vector<const App*>& apps = members_[id];
            if (apps.empty() || apps.back() != &app) apps.push_back(&app);  // an id named twice lists the app once
        }
    }
}

const std::vector<const App*>& CategoryIndex::appsOf(const std::wstring& id) const {
    static const std::vector<const App*> none;
    auto found = members_.find(id);
    return found == members_.end() ? none : found->second;
}

const Category* CategoryIndex::category(const std::wstring& id) const {
    auto found = categories_.find(id);
    return found == categories_.end() ? nullptr : found->second;
}

const App* CategoryIndex::app(int32_t id) const {
    auto found = apps_.find(id);
    return found == apps_.end() ? nullptr : found->second;
}

bool CategoryIndex::describes(const CatalogLists& lists) const {
    return appsData_ == lists.apps.data() && appCount_ == lists.apps.size() &&
           categoriesData_ == lists.categories.data() && categoryCount_ == lists.categories.size();
}

std::shared_ptr<const CategoryIndex> CatalogLists::categoryIndex() const {
    std::lock_guard<std::mutex> guard(indexLock_);
    if (!index_ || !index_->describes(*this)) index_ = std::make_shared<const CategoryIndex>(*this);
    return index_;
}

CatalogState::CatalogState() : lists_(std::make_shared<const CatalogLists>()) {}

std::shared_ptr<const CatalogLists> CatalogState::lists() const {
    std::lock_guard<std::mutex> guard(lock_);
    return lists_;
}

void CatalogState::publish(std::shared_ptr<const CatalogLists> lists) {
    if (!lists) lists = std::make_shared<const CatalogLists>();
    lists->categoryIndex();  // here, on the loading thread, not in the first paint
    // The old lists are released outside the lock: freeing thousands of records (and
    // their bitmaps) must not stall a painter waiting for lists().
    {
        std::lock_guard<std::mutex> guard(lock_);
        lists_.swap(lists);
    }
}

std::wstring CatalogState::lastError() const {
    std::lock_guard<std::mutex> guard(lock_);
    return lastError_;
}

void CatalogState::setLastError(const std::wstring& text) {
    std::lock_guard<std::mutex> guard(lock_);
    lastError_ = text;
}

std::wstring normalizeVersion(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (std::iswdigit(c)) {
            out.push_back(c);
        } else if (c == L' ' || c == L',' || c == L'.') {
            if (!out.empty() && out.back() != L'.') out.push_back(L'.');
        }
    }
    while (!out.empty() && out.back() == L'.') out.pop_back();
    const size_t first = out.find(L'.');
    if (first != std::wstring::npos) {
        const size_t second = out.find(L'.', first + 1);
        if (second != std::wstring::npos) out.resize(second);
    }
    return out;
}

namespace {

// The member as a wide string when it is a JSON string, else empty (same as
// toWide(asString("")) without copying the UTF-8 text first).
std::wstring wideMember(const json::Value& node, const char* key) {
    const json::Value* v = node.lookup(key);
    if (!v || v->kind != json::String) return std::wstring();
    return json::toWide(v->string());
}

}  // namespace

App parseApp(const json::Value& node) {
    App app;
    if (const json::Value* v = node.lookup("id")) app.id = v->asInt(0);
    app.name = wideMember(node, "name");
    app.version = normalizeVersion(wideMember(node, "version"));
    if (const json::Value* ids = node.lookup("categoryIds")) {
        if (ids->kind == json::Array) {
            // Sized once: a long list grows while its whole tree is still held.
            app.categoryIds.reserve(ids->array().size());
            for (const auto& element : ids->array()) {
                if (!element || element->kind != json::String) continue;
                std::wstring id = json::toWide(element->string());
                if (!id.empty()) app.categoryIds.push_back(std::move(id));
            }
        }
    }
    if (app.categoryIds.empty()) {
        std::wstring id = wideMember(node, "categoryId");
        if (!id.empty()) app.categoryIds.push_back(std::move(id));
    }
    app.description = wideMember(node, "description");
    app.icon = wideMember(node, "icon");
    if (const json::Value* v = node.lookup("packageSize")) app.packageSize = v->asInt64(0);
    if (const json::Value* v = node.lookup("md5")) {
        if (v->kind == json::String) app.md5 = v->string();
    }
    if (const json::Value* v = node.lookup("hasPackage")) app.hasPackage = v->asBool(false);
    if (const json::Value* v = node.lookup("downloads")) app.downloads = v->asInt64(0);
    if (const json::Value* v = node.lookup("updatedAt")) app.updatedAt = v->asInt64(0);
    return app;
}

const App* findApp(const std::vector<App>& apps, int id) {
    for (const App& app : apps) {
        if (app.id == id) return &app;
    }
    return nullptr;
}

AppRef findApp(const CatalogState& catalog, int id) {
    std::shared_ptr<const CatalogLists> lists = catalog.lists();
    const App* app = findApp(lists->apps, id);
    if (!app) return nullptr;
    return AppRef(lists, app);
}
