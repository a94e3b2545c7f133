// The disk caches against the loopback test server, in a scratch cache folder: the catalog
// cache written after a load (replacing a damaged one) and read back only for its server
// and channel; an icon fetched once, read from disk within a day, then asked about with its
// validators: a 304 keeps it, a new answer replaces it.
#include <gtest/gtest.h>

#include <objbase.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "app/scratch_folder.h"
#include "catalog/catalog.h"
#include "catalog/catalog_cache.h"
#include "catalog/icon_cache.h"
#include "catalog/images.h"
#include "catalog/net_support.h"
#include "json/encoding.h"
#include "json/json.h"
#include "support/test_server.h"

using catalogtest::MessageSink;

namespace {

class GdiplusEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::Ok, Gdiplus::GdiplusStartup(&token_, &input, nullptr));
    }

private:
    ULONG_PTR token_ = 0;
};
const auto* const kGdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

// The disk caches in a scratch folder for one test (or in sub, a path below it), and none
// after it.
class CacheIn {
public:
    explicit CacheIn(const wchar_t* name, const std::wstring& sub = std::wstring()) : folder_(name) {
        setCacheFolder(sub.empty() ? folder_.path() : folder_ / sub);
    }
    ~CacheIn() { setCacheFolder(std::wstring()); }
    const ScratchFolder& scratch() const { return folder_; }

private:
    ScratchFolder folder_;
};

// A script step with these response headers added.
std::string withHeaders(std::string step, const std::string& headersJson) {
    step.insert(1, "\"headers\":" + headersJson + ",");
    return step;
}

// The centre colour of the icon kept after one fetch of path into fresh lists (0 when none).
COLORREF fetchCentre(const std::string& path, const std::vector<IconSize>& sizes = {{32, 32}}) {
    CatalogState catalog;
    auto lists = std::make_shared<CatalogLists>();
    App record;
    record.id = 9;
    record.icon = json::toWide(path);
    lists->apps.push_back(std::move(record));
    catalog.publish(lists);
    std::weak_ptr<const CatalogLists> held = lists;
    lists.reset();
    COLORREF centre = 0;
    {
        AppRef app = findApp(catalog, 9);
        MessageSink sink;
        requestIcon(catalog, sink.window(), app, testserver::httpBase(), sizes);
        if (sink.waitUntil([&] { return app->iconState.load() >= 2; }, 20000)) {
            if (const std::shared_ptr<const IconImage> image = keptIcon(*app)) {
                const IconCopy& copy = image->copies[0];
                const uint32_t p = copy.pixels[size_t(copy.size.height / 2) * copy.size.width + copy.size.width / 2];
                centre = RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
            }
        }
    }
    catalog.publish(nullptr);
    const DWORD start = GetTickCount();
    while (!held.expired() && GetTickCount() - start < 30000) Sleep(10);
    EXPECT_TRUE(held.expired());
    return centre;
}

// A server address of its own answering a catalog of one category and one app ("甲"), or
// empty when the script was refused.
std::wstring serveOneAppCatalog() {
    std::string prefix;
    const std::wstring base = catalogtest::uniqueBase(&prefix);
    const bool scripted = testserver::script(prefix + "/api/client/bootstrap",
                                             R"([{"content_type":"application/json","body":"{\"data\":{\"categories\":)"
                                             R"([{\"id\":\"c\",\"name\":\"分类\"}],\"apps\":[{\"id\":3,\"name\":\"甲\",)"
                                             R"(\"categoryIds\":[\"c\"]}]}}"}])");
    return scripted ? base : std::wstring();
}

// Makes the kept entry of url look asked about two days ago.
bool ageEntry(const std::wstring& url) {
    IconCacheEntry entry;
    if (!readIconCache(url, entry)) return false;
    entry.checkedAt -= 2 * kIconRevalidateSeconds;
    return writeIconCache(entry);
}

}  // namespace

TEST(CatalogDiskCache, ALoadReplacesADamagedCacheThatOnlyItsServerAndChannelRead) {
    CacheIn cache(L"catalog_cache");
    const std::wstring base = serveOneAppCatalog();
    ASSERT_FALSE(base.empty());
    ASSERT_TRUE(writeBytes(catalogCachePath(), "KVCATALOG 1\n\"" + json::toUtf8(base) + "\"\n\"ch\"\n999 0\n{"));
    CatalogState shown;
    EXPECT_FALSE(publishCachedCatalog(shown, base, L"ch")) << "a cut-off file is not shown";
    EXPECT_TRUE(shown.lists()->categories.empty());

    CatalogState catalog;
    MessageSink sink;
    ASSERT_TRUE(startCatalogLoadThread(catalog, sink.window(), base, L"ch"));
    ASSERT_TRUE(sink.waitUntil([&] { return sink.count(kMsgCatalogLoaded, 1) == 1; }, 30000));
    // Written on the loading thread after its message.
    const DWORD start = GetTickCount();
    while (!publishCachedCatalog(shown, base, L"ch") && GetTickCount() - start < 10000) Sleep(20);
    const auto lists = shown.lists();
    ASSERT_EQ(lists->categories.size(), 1u);
    EXPECT_EQ(lists->categories[0].name, L"分类");
    ASSERT_EQ(lists->apps.size(), 1u);
    EXPECT_EQ(lists->apps[0].name, L"甲");

    CatalogState other;
    EXPECT_FALSE(publishCachedCatalog(other, base + L"/other", L"ch")) << "another server";
    EXPECT_FALSE(publishCachedCatalog(other, base, L"beta")) << "another channel";
    EXPECT_TRUE(other.lists()->categories.empty());
}

TEST(IconDiskCache, FetchedOnceReadFromDiskForADayThenRevalidatedKeptOn304AndReplacedWhenChanged) {
    CacheIn cache(L"icon_cache");
    const std::string path = testserver::uniquePath("cached.png");
    testserver::reset(path);
    const std::wstring url = testserver::httpBase() + json::toWide(path);
    const std::string red = catalogtest::bytesStep(path + "-red", testimages::png(16, 16, 0xFF0000));
    const std::string blue = catalogtest::bytesStep(path + "-blue", testimages::png(16, 16, 0x0000FF));
    ASSERT_FALSE(red.empty());
    ASSERT_FALSE(blue.empty());
    const std::string lastModified = "Tue, 01 Dec 2026 10:00:00 GMT";
    ASSERT_TRUE(testserver::script(
        path, "[" + withHeaders(red, R"([["ETag","\"a\""],["Last-Modified",")" + lastModified + R"("]])") + "," +
                  R"({"status":304,"headers":[["ETag","\"a\""]]},)" + withHeaders(blue, R"([["ETag","\"b\""]])") + "]"));

    EXPECT_EQ(fetchCentre(path), RGB(255, 0, 0));
    EXPECT_EQ(testserver::requests(path).size(), 1u);
    EXPECT_EQ(fetchCentre(path), RGB(255, 0, 0)) << "from disk";
    EXPECT_EQ(testserver::requests(path).size(), 1u) << "not asked again within a day";

    ASSERT_TRUE(ageEntry(url));
    EXPECT_EQ(fetchCentre(path), RGB(255, 0, 0)) << "kept on 304";
    auto asked = testserver::requests(path);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].header("If-None-Match"), "\"a\"");
    EXPECT_EQ(asked[1].header("If-Modified-Since"), lastModified);
    IconCacheEntry entry;
    ASSERT_TRUE(readIconCache(url, entry));
    EXPECT_FALSE(revalidationDue(entry.checkedAt, unixNow())) << "good for another day";
    EXPECT_EQ(fetchCentre(path), RGB(255, 0, 0));
    EXPECT_EQ(testserver::requests(path).size(), 2u);

    ASSERT_TRUE(ageEntry(url));
    EXPECT_EQ(fetchCentre(path), RGB(0, 0, 255)) << "a changed icon replaces the kept one";
    EXPECT_EQ(testserver::requests(path).size(), 3u);
    ASSERT_TRUE(readIconCache(url, entry));
    EXPECT_EQ(entry.etag, L"\"b\"");
    EXPECT_EQ(fetchCentre(path), RGB(0, 0, 255));
    EXPECT_EQ(testserver::requests(path).size(), 3u);
}

TEST(IconDiskCache, AKeptIconShowsAsDrawnWithoutDecodingAndIsKeptAgainWithASizeItLacked) {
    CacheIn cache(L"icon_drawn");
    const std::string path = testserver::uniquePath("drawn.png");
    testserver::reset(path);
    const std::wstring url = testserver::httpBase() + json::toWide(path);
    const std::string red = catalogtest::bytesStep(path + "-red", testimages::png(16, 16, 0xFF0000));
    ASSERT_TRUE(testserver::script(path, "[" + withHeaders(red, R"([["ETag","\"a\""]])") + "]"));
    EXPECT_EQ(fetchCentre(path), RGB(255, 0, 0));
    IconCacheEntry entry;
    ASSERT_TRUE(readIconCache(url, entry));
    ASSERT_EQ(entry.copies.size(), 1u);
    EXPECT_TRUE(entry.copies[0].size == (IconSize{32, 32}));

    // What shows is the kept drawing: a body that would not decode is not even tried.
    IconCacheEntry drawnOnly = entry;
    drawnOnly.body = "not an image";
    std::fill(drawnOnly.copies[0].pixels.begin(), drawnOnly.copies[0].pixels.end(), 0xFF00FF00u);
    ASSERT_TRUE(writeIconCache(drawnOnly));
    EXPECT_EQ(fetchCentre(path), RGB(0, 255, 0));

    ASSERT_TRUE(writeIconCache(entry));
    EXPECT_EQ(fetchCentre(path, {{48, 48}}), RGB(255, 0, 0)) << "drawn from the kept body";
    ASSERT_TRUE(readIconCache(url, entry));
    std::vector<IconSize> kept;
    for (const IconCopy& copy : entry.copies) kept.push_back(copy.size);
    EXPECT_EQ(kept, (std::vector<IconSize>{{48, 48}, {32, 32}}));
    EXPECT_EQ(testserver::requests(path).size(), 1u);
}

TEST(IconDiskCache, TheFolderKeepsToItsBoundRemovingTheLeastRecentlyUsedIcon) {
    CacheIn cache(L"icon_cache_bound");
    const auto entry = [](const wchar_t* name) {
        IconCacheEntry e;
        e.url = std::wstring(L"http://127.0.0.1/") + name;
        e.checkedAt = unixNow();
        e.body.assign(1000, 'x');
        return e;
    };
    const uint64_t fileSize = formatIconCacheEntry(entry(L"a")).size();
    setIconCacheLimit(3 * fileSize + fileSize / 2);  // three fit, four do not
    for (const wchar_t* name : {L"a", L"b", L"c"}) {
        ASSERT_TRUE(writeIconCache(entry(name)));
        Sleep(30);  // distinct last-use times
    }
    IconCacheEntry read;
    ASSERT_TRUE(readIconCache(entry(L"a").url, read)) << "used now: no longer the oldest";
    Sleep(30);
    ASSERT_TRUE(writeIconCache(entry(L"d")));
    setIconCacheLimit(kIconCacheLimitBytes);
    for (const auto& [name, kept] : std::vector<std::pair<const wchar_t*, bool>>{
             {L"a", true}, {L"b", false}, {L"c", true}, {L"d", true}})
        EXPECT_EQ(readIconCache(entry(name).url, read), kept) << json::toUtf8(name);
}

TEST(CatalogDiskCache, AFolderThatCannotBeMadeLeavesLoadsAndIconsWorkingAsWithoutACache) {
    // A file where the cache folder's parent should be: nothing below it can be created.
    CacheIn cache(L"cache_unwritable", L"blocked\\cache");
    ASSERT_TRUE(writeBytes(cache.scratch() / L"blocked", "a file, not a folder"));
    const std::wstring base = serveOneAppCatalog();
    ASSERT_FALSE(base.empty());
    CatalogState catalog;
    MessageSink sink;
    ASSERT_TRUE(startCatalogLoadThread(catalog, sink.window(), base, L"ch"));
    ASSERT_TRUE(sink.waitUntil([&] { return sink.count(kMsgCatalogLoaded, 1) == 1; }, 30000));
    ASSERT_EQ(catalog.lists()->apps.size(), 1u);

    const std::string path = testserver::uniquePath("uncached.png");
    testserver::reset(path);
    const std::string red = catalogtest::bytesStep(path + "-red", testimages::png(16, 16, 0xFF0000));
    ASSERT_FALSE(red.empty());
    ASSERT_TRUE(testserver::script(path, "[" + red + "," + red + "]"));
    EXPECT_EQ(fetchCentre(path), RGB(255, 0, 0));
    EXPECT_EQ(fetchCentre(path), RGB(255, 0, 0));
    EXPECT_EQ(testserver::requests(path).size(), 2u) << "nothing kept, so fetched each time";
    CatalogState shown;
    EXPECT_FALSE(publishCachedCatalog(shown, base, L"ch"));
}
