#include "catalog/icon_cache.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "catalog/catalog.h"
#include "catalog/catalog_cache.h"
#include "json/encoding.h"
#include "json/json.h"
#include "scoped.h"

namespace {

constexpr char kIconMagic[] = "KVICON 2";
// A file of the version before drawn copies were kept: its body still serves.
constexpr char kIconMagicBodyOnly[] = "KVICON 1";
constexpr size_t kMaxCopyBytes = size_t(kMaxKeptCopySide) * kMaxKeptCopySide * sizeof(uint32_t);
constexpr size_t kMaxIconFileBytes = kMaxIconBytes + kMaxKeptCopies * kMaxCopyBytes + 16384;

bool keepable(IconSize size) {
    return size.width >= 1 && size.height >= 1 && size.width <= kMaxKeptCopySide && size.height <= kMaxKeptCopySide;
}

bool keepable(const IconCopy& copy) {
    return keepable(copy.size) && copy.pixels.size() == size_t(copy.size.width) * size_t(copy.size.height);
}

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
    // The body, then each copy's pixels; one line per copy gives its size.
    std::string data = entry.body;
    std::string sizes;
    size_t copies = 0;
    for (const IconCopy& copy : entry.copies) {
        if (copies == kMaxKeptCopies || !keepable(copy)) continue;
        ++copies;
        data.append(reinterpret_cast<const char*>(copy.pixels.data()), copy.pixels.size() * sizeof(uint32_t));
        char size[32];
        std::snprintf(size, sizeof size, "%d %d\n", copy.size.width, copy.size.height);
        sizes += size;
    }
    std::string text = std::string(kIconMagic) + "\n" + quoted(entry.url) + "\n" + quoted(entry.etag) + "\n" +
                       quoted(entry.lastModified) + "\n";
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "%lld %zu %zu %016llx\n", static_cast<long long>(entry.checkedAt),
                  entry.body.size(), copies, static_cast<unsigned long long>(cacheChecksum(data)));
    text += numbers;
    text += sizes;
    text += data;
    return text;
}

bool parseIconCacheEntry(const std::string& bytes, const std::wstring& url, IconCacheEntry& entry) {
    if (bytes.size() > kMaxIconFileBytes) return false;
    size_t at = 0;
    std::string line;
    IconCacheEntry read;
    if (!takeLine(bytes, at, line) || (line != kIconMagic && line != kIconMagicBodyOnly)) return false;
    const bool withCopies = line == kIconMagic;
    if (!takeLine(bytes, at, line) || !unquote(line, read.url) || read.url != url) return false;
    if (!takeLine(bytes, at, line) || !unquote(line, read.etag)) return false;
    if (!takeLine(bytes, at, line) || !unquote(line, read.lastModified)) return false;
    if (!takeLine(bytes, at, line)) return false;
    long long checkedAt = 0;
    unsigned long long length = 0, copies = 0, sum = 0;
    char tail = 0;
    if (withCopies ? std::sscanf(line.c_str(), "%lld %llu %llu %16llx%c", &checkedAt, &length, &copies, &sum, &tail) != 4
                   : std::sscanf(line.c_str(), "%lld %llu %16llx%c", &checkedAt, &length, &sum, &tail) != 3)
        return false;
    if (length == 0 || length > kMaxIconBytes || copies > kMaxKeptCopies) return false;
    size_t expected = static_cast<size_t>(length);
    for (unsigned long long i = 0; i < copies; ++i) {
        long long w = 0, h = 0;
        if (!takeLine(bytes, at, line) || std::sscanf(line.c_str(), "%lld %lld%c", &w, &h, &tail) != 2) return false;
        if (w < 1 || h < 1 || w > kMaxKeptCopySide || h > kMaxKeptCopySide) return false;
        IconCopy copy;
        copy.size = IconSize{static_cast<int>(w), static_cast<int>(h)};
        expected += size_t(w) * size_t(h) * sizeof(uint32_t);
        read.copies.push_back(std::move(copy));
    }
    if (expected != bytes.size() - at || cacheChecksum(bytes, at) != sum) return false;
    read.checkedAt = checkedAt;
    read.body.assign(bytes, at, static_cast<size_t>(length));
    size_t from = at + static_cast<size_t>(length);
    for (IconCopy& copy : read.copies) {
        copy.pixels.resize(size_t(copy.size.width) * size_t(copy.size.height));
        std::memcpy(copy.pixels.data(), bytes.data() + from, copy.pixels.size() * sizeof(uint32_t));
        from += copy.pixels.size() * sizeof(uint32_t);
    }
    entry = std::move(read);
    return true;
}

std::shared_ptr<const IconImage> imageFromKeptCopies(const std::vector<IconCopy>& kept, const std::vector<IconSize>& sizes) {
    if (sizes.empty()) return nullptr;
    auto image = std::make_shared<IconImage>();
    for (const IconSize size : sizes) {
        if (image->copy(size)) continue;
        const auto found = std::find_if(kept.begin(), kept.end(), [&](const IconCopy& c) { return c.size == size; });
        if (found == kept.end() || !keepable(*found)) return nullptr;
        image->copies.push_back(*found);
    }
    return image;
}

std::vector<IconCopy> copiesToKeep(const IconImage& image, const std::vector<IconCopy>& earlier) {
    std::vector<IconCopy> out;
    const auto add = [&](const IconCopy& copy) {
        if (out.size() == kMaxKeptCopies || !keepable(copy)) return;
        for (const IconCopy& have : out)
            if (have.size == copy.size) return;
        out.push_back(copy);
    };
    for (const IconCopy& copy : image.copies) add(copy);
    for (const IconCopy& copy : earlier) add(copy);
    return out;
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
