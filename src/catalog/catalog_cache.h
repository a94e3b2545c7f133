// The last accepted catalog kept on disk, so that a start shows it at once (also without a
// network) while the load runs behind it. The file names the server and channel it came
// from; a file of another server or channel, or one damaged, cut short or too large, is
// never shown and is replaced by the next successful load.
#pragma once

#include <cstdint>
#include <string>

#include "catalog/catalog.h"

// The folder of the disk caches (catalog and icons). Empty, the default, keeps no disk
// cache at all; the program sets defaultCacheFolder() at start, tests a scratch folder.
void setCacheFolder(const std::wstring& folder);
std::wstring cacheFolder();
// <local application data>\KelvoManager\Cache: per machine, never roamed, nothing the user
// edits. Empty when the system names no such folder.
std::wstring defaultCacheFolder();

// A cache file larger than this is not read.
constexpr size_t kMaxCatalogCacheBytes = 32u * 1024 * 1024;

// The file text for these lists from server and channel.
std::string formatCatalogCache(const CatalogLists& lists, const std::wstring& server, const std::wstring& channel);
// Fills lists from a file text written by formatCatalogCache for the same server and
// channel; false (lists untouched) for any other text. Consumes bytes.
bool parseCatalogCache(std::string& bytes, const std::wstring& server, const std::wstring& channel,
                       CatalogLists& lists);

// The file in the cache folder; empty when there is no cache folder.
std::wstring catalogCachePath();
// Reads the cache of server and channel and publishes it to the store (lists marked
// fromCache); false when there is none that may be shown (nothing published then).
bool publishCachedCatalog(CatalogState& catalog, const std::wstring& server, const std::wstring& channel);
// Writes lists as the cache of server and channel in one step (temporary file, then moved
// over the old one); false when there is no cache folder or it cannot be written.
bool saveCatalogCache(const CatalogLists& lists, const std::wstring& server, const std::wstring& channel);

// What the content area shows once a load has ended.
enum class LoadView {
    Fresh,   // the lists the load just published
    Cached,  // the load failed; the cached catalog already shown stays, with a toast
    Error,   // the load failed and no catalog is shown: the connection error
};
LoadView viewAfterLoad(bool loadSucceeded, bool cacheShown);

// The toast when a load failed and the cached catalog stays.
inline constexpr wchar_t kCachedCatalogToast[] = L"无法连接服务器，当前显示上次获取的目录";

// Hands the icons already kept by the cached lists being replaced to the records of the
// fresh lists that have the same id and icon location, so that the refresh behind the
// cached catalog does not flash placeholders.
void carryKeptIcons(const CatalogLists& from, const CatalogLists& to);

// FNV-1a over bytes: the check sum of the cache files.
uint64_t cacheChecksum(const std::string& bytes, size_t offset = 0);

// Writes bytes to a temporary file beside path, then moves it over path in one step; on
// failure path keeps its old content (or stays absent).
bool replaceCacheFile(const std::wstring& path, const std::string& bytes);
// Appends at most maxBytes + 1 bytes of the file (so that a larger file is told apart);
// false when it cannot be opened.
bool readCacheFile(const std::wstring& path, size_t maxBytes, std::string& bytes);
