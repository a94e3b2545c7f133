#include "catalog/catalog_cache.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

#include "json/encoding.h"
#include "json/json.h"
#include "file_replace.h"
#include "scoped.h"

namespace {

// Never destroyed: icon fetches and the catalog load, which are not waited for, ask for the
// folder while the process runs its exit handlers.
std::mutex& folderLock = *new std::mutex;
std::wstring& folderSetting = *new std::wstring;

constexpr char kCatalogMagic[] = "KVCATALOG 1";

std::string quoted(const std::wstring& text) { return "\"" + json::escape(json::toUtf8(text)) + "\""; }

void appendNumber(std::string& out, int64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    out += text;
}

// One record as the bootstrap answer gives it, so that the cache is read back by the same
// reader as the answer (and with the same tolerance).
void appendApp(std::string& out, const App& app) {
    out += "{\"id\":";
    appendNumber(out, app.id);
    out += ",\"name\":" + quoted(app.name) + ",\"version\":" + quoted(app.version) + ",\"categoryIds\":[";
    for (size_t i = 0; i < app.categoryIds.size(); ++i) {
        if (i) out += ',';
        out += quoted(app.categoryIds[i]);
    }
    out += "],\"description\":" + quoted(app.description) + ",\"icon\":" + quoted(app.icon) + ",\"packageSize\":";
    appendNumber(out, app.packageSize);
    out += ",\"md5\":\"" + json::escape(app.md5) + "\",\"hasPackage\":";
    out += app.hasPackage ? "true" : "false";
    out += ",\"downloads\":";
    appendNumber(out, app.downloads);
    out += ",\"updatedAt\":";
    appendNumber(out, app.updatedAt);
    out += '}';
}

std::string hex16(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// The next line of bytes from at (without its "\n"); false when there is none.
bool takeLine(const std::string& bytes, size_t& at, std::string& line) {
    const size_t end = bytes.find('\n', at);
    if (end == std::string::npos || end - at > 4096) return false;
    line.assign(bytes, at, end - at);
    at = end + 1;
    return true;
}

}  // namespace

void setCacheFolder(const std::wstring& folder) {
    std::lock_guard<std::mutex> hold(folderLock);
    folderSetting = folder;
}

std::wstring cacheFolder() {
    std::lock_guard<std::mutex> hold(folderLock);
    return folderSetting;
}

std::wstring defaultCacheFolder() {
    PWSTR known = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known)) && known) folder = known;
    CoTaskMemFree(known);
    if (folder.empty()) return folder;
    return folder + L"\\KelvoManager\\Cache";
}

uint64_t cacheChecksum(const std::string& bytes, size_t offset) {
    uint64_t hash = 14695981039346656037ull;
    for (size_t i = offset; i < bytes.size(); ++i) {
        hash ^= static_cast<unsigned char>(bytes[i]);
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string formatCatalogCache(const CatalogLists& lists, const std::wstring& server, const std::wstring& channel) {
    std::string body = "{\"data\":{\"categories\":[";
    for (size_t i = 0; i < lists.categories.size(); ++i) {
        if (i) body += ',';
        body += "{\"id\":" + quoted(lists.categories[i].id) + ",\"name\":" + quoted(lists.categories[i].name) + "}";
    }
    body += "],\"apps\":[";
    for (size_t i = 0; i < lists.apps.size(); ++i) {
        if (i) body += ',';
        appendApp(body, lists.apps[i]);
    }
    body += "]}}";
    std::string text = std::string(kCatalogMagic) + "\n" + quoted(server) + "\n" + quoted(channel) + "\n";
    appendNumber(text, static_cast<int64_t>(body.size()));
    text += " " + hex16(cacheChecksum(body)) + "\n";
    text += body;
    return text;
}

bool parseCatalogCache(std::string& bytes, const std::wstring& server, const std::wstring& channel,
                       CatalogLists& lists) {
    if (bytes.size() > kMaxCatalogCacheBytes) return false;
    size_t at = 0;
    std::string line;
    if (!takeLine(bytes, at, line) || line != kCatalogMagic) return false;
    if (!takeLine(bytes, at, line) || line != quoted(server)) return false;
    if (!takeLine(bytes, at, line) || line != quoted(channel)) return false;
    if (!takeLine(bytes, at, line)) return false;
    unsigned long long length = 0, sum = 0;
    char tail = 0;
    if (std::sscanf(line.c_str(), "%llu %16llx%c", &length, &sum, &tail) != 2) return false;
    if (length != bytes.size() - at || cacheChecksum(bytes, at) != sum) return false;
    bytes.erase(0, at);
    CatalogLists read;
    if (!parseBootstrap(bytes, read)) return false;
    lists.categories = std::move(read.categories);
    lists.apps = std::move(read.apps);
    return true;
}

std::wstring catalogCachePath() {
    const std::wstring folder = cacheFolder();
    if (folder.empty()) return folder;
    return folder + L"\\catalog.cache";
}

bool readCacheFile(const std::wstring& path, size_t maxBytes, std::string& bytes) {
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return false;
    // An oversized file is not read whole: one byte past the bound tells it apart.
    const size_t want = static_cast<uint64_t>(size.QuadPart) > maxBytes ? maxBytes + 1 : static_cast<size_t>(size.QuadPart);
    try {
        const size_t start = bytes.size();
        bytes.resize(start + want);
        size_t got = 0;
        while (got < want) {
            DWORD n = 0;
            const DWORD ask = static_cast<DWORD>(std::min<size_t>(want - got, 1u << 20));
            if (!ReadFile(file.get(), &bytes[start + got], ask, &n, nullptr) || n == 0) break;
            got += n;
        }
        bytes.resize(start + got);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool replaceCacheFile(const std::wstring& path, const std::string& bytes) {
    // Of its own per thread: an icon and a catalog may be written at the same time.
    return replaceFileContents(path, bytes, L"." + std::to_wstring(GetCurrentThreadId()) + L".tmp");
}

bool publishCachedCatalog(CatalogState& catalog, const std::wstring& server, const std::wstring& channel) {
    try {
        const std::wstring path = catalogCachePath();
        if (path.empty()) return false;
        std::string bytes;
        if (!readCacheFile(path, kMaxCatalogCacheBytes, bytes)) return false;
        auto lists = std::make_shared<CatalogLists>();
        // A cache that cannot be shown stays until the next load replaces it: one of another
        // server is still the right one after switching back.
        if (!parseCatalogCache(bytes, server, channel, *lists) || lists->categories.empty()) return false;
        lists->fromCache = true;
        catalog.publish(std::move(lists));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool saveCatalogCache(const CatalogLists& lists, const std::wstring& server, const std::wstring& channel) {
    try {
        const std::wstring folder = cacheFolder();
        if (folder.empty()) return false;
        SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
        const std::string text = formatCatalogCache(lists, server, channel);
        if (text.size() > kMaxCatalogCacheBytes) return false;
        return replaceCacheFile(folder + L"\\catalog.cache", text);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

LoadView viewAfterLoad(bool loadSucceeded, bool cacheShown) {
    if (loadSucceeded) return LoadView::Fresh;
    return cacheShown ? LoadView::Cached : LoadView::Error;
}

void carryKeptIcons(const CatalogLists& from, const CatalogLists& to) {
    std::unordered_map<int32_t, const App*> kept;
    for (const App& app : from.apps) {
        // An icon already asked for at other sizes is fetched anew instead: the new record
        // would never ask again.
        const std::shared_ptr<const IconImage> image = app.iconState.load() == 2 ? keptIcon(app) : nullptr;
        if (image && !image->refetchAsked.load()) kept.emplace(app.id, &app);
    }
    if (kept.empty()) return;
    for (const App& app : to.apps) {
        auto found = kept.find(app.id);
        if (found == kept.end() || found->second->icon != app.icon || app.iconState.load() != 0) continue;
        keepIcon(app, keptIcon(*found->second));
        app.iconState.store(2);
    }
}
