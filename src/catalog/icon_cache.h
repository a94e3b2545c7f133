// Icons kept on disk, keyed by their address, in the "icons" folder of the cache folder
// (catalog_cache.h): an icon is fetched once, then read from disk by the fetch worker and
// asked for again at most once a day with its validators (If-None-Match,
// If-Modified-Since). The folder is held to a size bound, the least recently used icons
// removed first. A file that is damaged, cut short, of another address or larger than an
// icon may be is ignored and replaced. Beside the bytes as received, a file keeps the icon
// as the views draw it, so that a start shows kept icons without decoding or scaling them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalog/icon_image.h"

// An icon as kept: its address, the validators of the answer that brought it, when the
// server was last asked about it (seconds since 1970), its bytes as received and the
// copies drawn from them.
struct IconCacheEntry {
    std::wstring url;
    std::wstring etag;
    std::wstring lastModified;
    int64_t checkedAt = 0;
    std::string body;
    std::vector<IconCopy> copies;
};

// A file keeps at most this many drawn copies, none larger than this on a side (the views
// draw icons far smaller): the bound on what it may hold beside the body.
constexpr size_t kMaxKeptCopies = 4;
constexpr int kMaxKeptCopySide = 256;

// The icon made of kept copies when they hold every size asked for; else null.
std::shared_ptr<const IconImage> imageFromKeptCopies(const std::vector<IconCopy>& kept, const std::vector<IconSize>& sizes);
// The copies to keep once image was drawn from the kept body: its own first, then earlier
// ones of other sizes, within the bounds above.
std::vector<IconCopy> copiesToKeep(const IconImage& image, const std::vector<IconCopy>& earlier);

constexpr int64_t kIconRevalidateSeconds = 24 * 60 * 60;
constexpr uint64_t kIconCacheLimitBytes = 32ull * 1024 * 1024;

// The file text of an entry, and back; parseIconCacheEntry refuses (false) any text that
// is not an entry for url with an icon body within the icon bound.
std::string formatIconCacheEntry(const IconCacheEntry& entry);
bool parseIconCacheEntry(const std::string& bytes, const std::wstring& url, IconCacheEntry& entry);

// True when the server must be asked again (a day has passed, or the clock went back).
bool revalidationDue(int64_t checkedAt, int64_t now);

// The headers of a revalidation: the validators the entry has.
struct IconValidators {
    std::wstring ifNoneMatch;
    std::wstring ifModifiedSince;
};
IconValidators validatorsOf(const IconCacheEntry& entry);

// A file of the folder: its size and when it was last used (any increasing clock).
struct CachedFile {
    uint64_t size = 0;
    uint64_t lastUsed = 0;
};
// The indexes of the files to remove, least recently used first, so that the rest fits in
// limit bytes.
std::vector<size_t> evictionOrder(const std::vector<CachedFile>& files, uint64_t limit);

// Seconds since 1970 (UTC).
int64_t unixNow();

// The disk side; all of it does nothing (false) without a cache folder. Any thread.
// readIconCache marks the file as used.
bool readIconCache(const std::wstring& url, IconCacheEntry& entry);
bool writeIconCache(const IconCacheEntry& entry);
void forgetIconCache(const std::wstring& url);
std::wstring iconCachePath(const std::wstring& url);  // empty without a cache folder
// The size bound of the folder; tests make it smaller.
void setIconCacheLimit(uint64_t bytes);
