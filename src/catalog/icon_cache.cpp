#include "catalog/icon_cache.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <new>

#include "catalog/catalog.h"
#include "catalog/catalog_cache.h"
#include "json/encoding.h"
#include "json/json.h"
#include "scoped.h"

namespace {

constexpr char kIconMagic[] = "KVICON 1";
constexpr size_t kMaxIconFileBytes = kMaxIconBytes + 16384;

std::string quoted(const std::wstring& text) { return "\"" + json::escape(json::toUtf8(text)) + "\""; }

// A quoted line as written by quoted(); false for anything else.
bool unquote(const std::string& line, std::wstring& text) {
    std::shared_ptr<json::Value> value = json::parse(line);
    if (!value || value->kind != json::String) return false;
    text = json::toWide(value->string());
    return true;
}

bool takeLine(const std::string& bytes, size_t& at, std::string& line) {
    const size_t end = bytes.find('\n', at);
    if (end == std::string::npos || end - at > 8192) return false;
    line.assign(bytes, at, end - at);
    at = end + 1;
    return true;
}

struct FindTraits {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static bool valid(HANDLE h) { return h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { FindClose(h); }
};

std::atomic<uint64_t> limitBytes{kIconCacheLimitBytes};

// The folder's size as last counted plus what was written since; -1 until counted. Counting
// walks the folder, so it is done once and again only when the bound is passed. The lock is
// never destroyed: fetch workers may write an icon while the process exits.
std::mutex& sizeLock = *new std::mutex;
int64_t knownSize = -1;

std::wstring iconFolder() {
    const std::wstring folder = cacheFolder();
    return folder.empty() ? folder : folder + L"\\icons";
}

uint64_t fileTimeValue(const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

// Walks the folder and removes the least recently used icons until the rest fits; sizeLock held.
void trimFolder(const std::wstring& folder) {
    std::vector<CachedFile> files;
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    Scoped<HANDLE, FindTraits> find(FindFirstFileW((folder + L"\\*.icon").c_str(), &found));
    uint64_t total = 0;
    if (find) {
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            CachedFile file;
            file.size = (uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            file.lastUsed = fileTimeValue(found.ftLastWriteTime);
            files.push_back(file);
            names.push_back(found.cFileName);
            total += file.size;
        } while (FindNextFileW(find.get(), &found));
    }
    for (size_t index : evictionOrder(files, limitBytes.load())) {
        if (DeleteFileW((folder + L"\\" + names[index]).c_str())) total -= files[index].size;
    }
    knownSize = static_cast<int64_t>(total);
}

}  // namespace

std::string formatIconCacheEntry(const IconCacheEntry& entry) {
    std::string text = std::string(kIconMagic) + "\n" + quoted(entry.url) + "\n" + quoted(entry.etag) + "\n" +
                       quoted(entry.lastModified) + "\n";
    char numbers[80];
    std::snprintf(numbers, sizeof numbers, "%lld %zu %016llx\n", static_cast<long long>(entry.checkedAt),
                  entry.body.size(), static_cast<unsigned long long>(cacheChecksum(entry.body)));
    text += numbers;
    text += entry.body;
    return text;
}

bool parseIconCacheEntry(const std::string& bytes, const std::wstring& url, IconCacheEntry& entry) {
    if (bytes.size() > kMaxIconFileBytes) return false;
    size_t at = 0;
    std::string line;
    IconCacheEntry read;
    if (!takeLine(bytes, at, line) || line != kIconMagic) return false;
    if (!takeLine(bytes, at, line) || !unquote(line, read.url) || read.url != url) return false;
    if (!takeLine(bytes, at, line) || !unquote(line, read.etag)) return false;
    if (!takeLine(bytes, at, line) || !unquote(line, read.lastModified)) return false;
    if (!takeLine(bytes, at, line)) return false;
    long long checkedAt = 0;
    unsigned long long length = 0, sum = 0;
    char tail = 0;
    if (std::sscanf(line.c_str(), "%lld %llu %16llx%c", &checkedAt, &length, &sum, &tail) != 3) return false;
    if (length == 0 || length > kMaxIconBytes || length != bytes.size() - at || cacheChecksum(bytes, at) != sum)
        return false;
    read.checkedAt = checkedAt;
    read.body.assign(bytes, at, std::string::npos);
    entry = std::move(read);
    return true;
}

bool revalidationDue(int64_t checkedAt, int64_t now) {
    return now < checkedAt || now - checkedAt >= kIconRevalidateSeconds;
}

IconValidators validatorsOf(const IconCacheEntry& entry) { return IconValidators{entry.etag, entry.lastModified}; }

std::vector<size_t> evictionOrder(const std::vector<CachedFile>& files, uint64_t limit) {
    uint64_t total = 0;
    for (const CachedFile& file : files) total += file.size;
    std::vector<size_t> order(files.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return files[a].lastUsed < files[b].lastUsed; });
    std::vector<size_t> removed;
    for (size_t index : order) {
        if (total <= limit) break;
        removed.push_back(index);
        total -= files[index].size;
    }
    return removed;
}

int64_t unixNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    // 100-ns intervals since 1601 to seconds since 1970.
    return static_cast<int64_t>(fileTimeValue(now) / 10000000ull) - 11644473600ll;
}

std::wstring iconCachePath(const std::wstring& url) {
    const std::wstring folder = iconFolder();
    if (folder.empty()) return folder;
    // The address itself is in the file; two addresses with one name take turns.
    wchar_t name[40];
    std::swprintf(name, 40, L"%016llx.icon", static_cast<unsigned long long>(cacheChecksum(json::toUtf8(url))));
    return folder + L"\\" + name;
}

bool readIconCache(const std::wstring& url, IconCacheEntry& entry) {
    try {
        const std::wstring path = iconCachePath(url);
        if (path.empty()) return false;
        std::string bytes;
        if (!readCacheFile(path, kMaxIconFileBytes, bytes)) return false;
        if (!parseIconCacheEntry(bytes, url, entry)) return false;
        // Used now: the last to be removed when the folder is trimmed.
        ScopedFile file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            FILETIME now;
            GetSystemTimeAsFileTime(&now);
            SetFileTime(file.get(), nullptr, nullptr, &now);
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool writeIconCache(const IconCacheEntry& entry) {
    try {
        const std::wstring folder = iconFolder();
        if (folder.empty() || entry.body.empty() || entry.body.size() > kMaxIconBytes) return false;
        SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
        const std::string text = formatIconCacheEntry(entry);
        if (!replaceCacheFile(iconCachePath(entry.url), text)) return false;
        std::lock_guard<std::mutex> hold(sizeLock);
        if (knownSize < 0) {
            trimFolder(folder);
        } else {
            knownSize += static_cast<int64_t>(text.size());
            if (static_cast<uint64_t>(knownSize) > limitBytes.load()) trimFolder(folder);
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void forgetIconCache(const std::wstring& url) {
    const std::wstring path = iconCachePath(url);
    if (!path.empty()) DeleteFileW(path.c_str());
}

void setIconCacheLimit(uint64_t bytes) {
    limitBytes.store(bytes);
    std::lock_guard<std::mutex> hold(sizeLock);
    knownSize = -1;
}
