// The disk caches' plain decisions: the catalog and icon files read back only when whole
// and of the same server, channel or address; which lists a finished load leaves on
// screen; when an icon is asked about again; which icons go first when the folder is full.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "catalog/catalog.h"
#include "catalog/catalog_cache.h"
#include "catalog/icon_cache.h"

namespace {

std::unique_ptr<CatalogLists> sampleLists() {
    auto listsPtr = std::make_unique<CatalogLists>();
    CatalogLists& lists = *listsPtr;
    lists.categories.push_back({L"c1", L"装机必备"});
    lists.categories.push_back({L"c2", L"名字里有\"引号\"和\n换行"});
    App app;
    app.id = 42;
    app.name = L"星舟测试";
    app.version = L"3.1";
    app.categoryIds = {L"c1", L"c2"};
    app.description = L"说明 \\ 反斜杠";
    app.icon = L"/icons/42.png";
    app.packageSize = 5000000000LL;
    app.md5 = "0123456789abcdef0123456789abcdef";
    app.hasPackage = true;
    app.downloads = 77;
    app.updatedAt = 1732780800000LL;
    lists.apps.push_back(std::move(app));
    App second;
    second.id = 7;
    second.name = L"第二";
    second.categoryIds = {L"c2"};
    lists.apps.push_back(std::move(second));
    return listsPtr;
}

bool parses(std::string text, const std::wstring& server = L"http://a", const std::wstring& channel = L"ch") {
    CatalogLists lists;
    return parseCatalogCache(text, server, channel, lists);
}

}  // namespace

TEST(CatalogCacheFile, ReadsBackWhatWasWrittenAndNothingElse) {
    const auto sample = sampleLists();
    const CatalogLists& lists = *sample;
    const std::string text = formatCatalogCache(lists, L"http://a", L"ch");
    std::string copy = text;
    CatalogLists read;
    ASSERT_TRUE(parseCatalogCache(copy, L"http://a", L"ch", read));
    ASSERT_EQ(read.categories.size(), 2u);
    EXPECT_EQ(read.categories[1].name, lists.categories[1].name);
    ASSERT_EQ(read.apps.size(), 2u);
    const App& a = read.apps[0];
    EXPECT_EQ(a.id, 42);
    EXPECT_EQ(a.name, L"星舟测试");
    EXPECT_EQ(a.version, L"3.1");
    EXPECT_EQ(a.categoryIds, (std::vector<std::wstring>{L"c1", L"c2"}));
    EXPECT_EQ(a.description, lists.apps[0].description);
    EXPECT_EQ(a.icon, L"/icons/42.png");
    EXPECT_EQ(a.packageSize, 5000000000LL);
    EXPECT_EQ(a.md5, lists.apps[0].md5);
    EXPECT_TRUE(a.hasPackage);
    EXPECT_EQ(a.downloads, 77);
    EXPECT_EQ(a.updatedAt, 1732780800000LL);

    EXPECT_FALSE(parses(text, L"http://b")) << "another server";
    EXPECT_FALSE(parses(text, L"http://a", L"other")) << "another channel";
    for (size_t cut = 0; cut < text.size(); ++cut) ASSERT_FALSE(parses(text.substr(0, cut))) << "cut at " << cut;
    EXPECT_FALSE(parses(text + "x")) << "a byte too many";
    for (size_t at : {size_t(0), text.find("\"c1\""), text.size() / 2, text.size() - 3}) {
        std::string damaged = text;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x20);
        EXPECT_FALSE(parses(damaged)) << "byte " << at << " changed";
    }
    // Whole and checked, but not a catalog: refused by the answer's own reader.
    const std::string body = "[1,2,3]";
    const std::string head = text.substr(0, text.find('\n', text.find('\n', text.find('\n') + 1) + 1) + 1);
    char line[80];
    std::snprintf(line, sizeof line, "%zu %016llx\n", body.size(), static_cast<unsigned long long>(cacheChecksum(body)));
    EXPECT_FALSE(parses(head + line + body));
    EXPECT_TRUE(parses(formatCatalogCache(CatalogLists(), L"http://a", L"ch"))) << "an empty catalog reads back";
    EXPECT_FALSE(parses(std::string(kMaxCatalogCacheBytes + 1, '{'))) << "oversized";
    EXPECT_FALSE(parses("")) << "empty";
    EXPECT_FALSE(parses("\x89PNG\r\n\x1a\n some other file")) << "foreign";
}

TEST(IconCacheFile, ReadsBackOnlyAWholeEntryOfTheSameAddressWithinTheIconBound) {
    IconCacheEntry entry;
    entry.url = L"http://a/icons/1.png";
    entry.etag = L"\"v1\"";
    entry.lastModified = L"Tue, 01 Dec 2026 10:00:00 GMT";
    entry.checkedAt = 1765000000;
    entry.body = std::string("\x89PNG\r\n\x1a\n\0\0 image bytes\n\n", 24);
    const IconCacheEntry bodyOnly = entry;
    entry.copies = {{{2, 3}, {1, 2, 3, 4, 5, 0x0A0A0A0A}}, {{1, 1}, {0xFF00FF00}}};
    const std::string text = formatIconCacheEntry(entry);
    IconCacheEntry read;
    ASSERT_TRUE(parseIconCacheEntry(text, entry.url, read));
    EXPECT_EQ(read.etag, entry.etag);
    EXPECT_EQ(read.lastModified, entry.lastModified);
    EXPECT_EQ(read.checkedAt, entry.checkedAt);
    EXPECT_EQ(read.body, entry.body);
    ASSERT_EQ(read.copies.size(), 2u);
    EXPECT_TRUE(read.copies[0].size == entry.copies[0].size);
    EXPECT_EQ(read.copies[0].pixels, entry.copies[0].pixels);
    EXPECT_EQ(read.copies[1].pixels, entry.copies[1].pixels);

    // A file from before drawn copies were kept: its body still serves.
    std::string older = formatIconCacheEntry(bodyOnly);
    older.replace(0, 8, "KVICON 1");
    older.replace(older.find(" 24 0 "), 6, " 24 ");
    ASSERT_TRUE(parseIconCacheEntry(older, entry.url, read));
    EXPECT_EQ(read.body, entry.body);
    EXPECT_TRUE(read.copies.empty());
    std::string tooLarge = text;
    tooLarge.replace(tooLarge.find("\n2 3\n"), 5, "\n257 3");
    EXPECT_FALSE(parseIconCacheEntry(tooLarge, entry.url, read)) << "a copy larger than any drawn icon";

    EXPECT_FALSE(parseIconCacheEntry(text, L"http://a/icons/2.png", read)) << "another address";
    for (size_t cut = 0; cut < text.size(); ++cut) ASSERT_FALSE(parseIconCacheEntry(text.substr(0, cut), entry.url, read));
    std::string damaged = text;
    damaged[damaged.size() - 5] ^= 1;
    EXPECT_FALSE(parseIconCacheEntry(damaged, entry.url, read)) << "damaged body";
    IconCacheEntry big = entry;
    big.body.assign(kMaxIconBytes + 1, 'x');
    EXPECT_FALSE(parseIconCacheEntry(formatIconCacheEntry(big), entry.url, read)) << "larger than an icon may be";
    IconCacheEntry empty = entry;
    empty.body.clear();
    EXPECT_FALSE(parseIconCacheEntry(formatIconCacheEntry(empty), entry.url, read)) << "no image";
    EXPECT_FALSE(parseIconCacheEntry(formatCatalogCache(*sampleLists(), entry.url, L"ch"), entry.url, read)) << "foreign";
}

TEST(CacheDecisions, WhatALoadLeavesOnScreenWhenIconsAreAskedAgainAndWhatGoesFirst) {
    EXPECT_EQ(viewAfterLoad(true, false), LoadView::Fresh);
    EXPECT_EQ(viewAfterLoad(true, true), LoadView::Fresh);
    EXPECT_EQ(viewAfterLoad(false, true), LoadView::Cached);
    EXPECT_EQ(viewAfterLoad(false, false), LoadView::Error);

    const int64_t t = 1765000000;
    EXPECT_FALSE(revalidationDue(t, t));
    EXPECT_FALSE(revalidationDue(t, t + kIconRevalidateSeconds - 1));
    EXPECT_TRUE(revalidationDue(t, t + kIconRevalidateSeconds));
    EXPECT_TRUE(revalidationDue(t, t - 1)) << "the clock went back";

    IconCacheEntry entry;
    entry.etag = L"\"e\"";
    IconValidators v = validatorsOf(entry);
    EXPECT_EQ(v.ifNoneMatch, L"\"e\"");
    EXPECT_TRUE(v.ifModifiedSince.empty());

    // Sizes 10, 20, 30, 40 used at 4, 1, 3, 2: least recently used first, only as many as needed.
    const std::vector<CachedFile> files = {{10, 4}, {20, 1}, {30, 3}, {40, 2}};
    EXPECT_EQ(evictionOrder(files, 100), std::vector<size_t>{});
    EXPECT_EQ(evictionOrder(files, 99), std::vector<size_t>{1});
    EXPECT_EQ(evictionOrder(files, 40), (std::vector<size_t>{1, 3}));
    EXPECT_EQ(evictionOrder(files, 0), (std::vector<size_t>{1, 3, 2, 0}));
}

TEST(CacheDecisions, AKeptIconIsShownAsDrawnOnlyWithEverySizeAskedAndKeepsItsNewestCopies) {
    const IconCopy small{{32, 32}, std::vector<uint32_t>(32 * 32, 1)};
    const IconCopy large{{48, 48}, std::vector<uint32_t>(48 * 48, 2)};
    const IconCopy cut{{48, 48}, std::vector<uint32_t>(10, 3)};
    const IconCopy huge{{300, 300}, std::vector<uint32_t>(300 * 300, 4)};
    const auto sizesOf = [](const std::shared_ptr<const IconImage>& image) {
        return image ? image->sizes() : std::vector<IconSize>();
    };
    EXPECT_EQ(sizesOf(imageFromKeptCopies({small, large}, {{48, 48}})), (std::vector<IconSize>{{48, 48}}));
    EXPECT_EQ(sizesOf(imageFromKeptCopies({small, large}, {{48, 48}, {32, 32}})),
              (std::vector<IconSize>{{48, 48}, {32, 32}}));
    EXPECT_EQ(imageFromKeptCopies({small, large}, {{32, 32}, {64, 64}}), nullptr) << "a size not kept";
    EXPECT_EQ(imageFromKeptCopies({cut}, {{48, 48}}), nullptr) << "pixels missing";
    EXPECT_EQ(imageFromKeptCopies({small}, {}), nullptr);

    IconImage drawn;
    drawn.copies = {IconCopy{{48, 48}, std::vector<uint32_t>(48 * 48, 9)}};
    const std::vector<IconCopy> kept = copiesToKeep(drawn, {huge, small, large, cut});
    ASSERT_EQ(kept.size(), 2u) << "the new drawing first, then other sizes within the bound";
    EXPECT_EQ(kept[0].pixels[0], 9u);
    EXPECT_TRUE(kept[1].size == small.size);
    std::vector<IconCopy> many;
    for (int side = 1; side <= 6; ++side) many.push_back(IconCopy{{side, side}, std::vector<uint32_t>(side * side)});
    EXPECT_EQ(copiesToKeep(drawn, many).size(), kMaxKeptCopies);
}

TEST(CacheDecisions, AStartKeepsAnIconReadBeforeOnlyWhenItIsTheRecordsFreshAndDrawnAtTheSize) {
    IconCacheEntry good;
    good.url = L"http://a/icons/42.png";
    good.checkedAt = unixNow();
    good.copies = {IconCopy{{32, 32}, std::vector<uint32_t>(32 * 32, 7)}};
    IconCacheEntry other = good, stale = good;
    other.url = L"http://b/icons/42.png";
    stale.checkedAt -= kIconRevalidateSeconds;
    const struct {
        const char* what;
        const IconCacheEntry& entry;
        IconSize size;
        int32_t stateBefore;
        bool kept;
    } cases[] = {
        {"fresh, of the record, at the size", good, {32, 32}, 0, true},
        {"of another server", other, {32, 32}, 0, false},
        {"a day old: to be asked about", stale, {32, 32}, 0, false},
        {"not drawn at the size", good, {48, 48}, 0, false},
        {"already asked for", good, {32, 32}, 1, false},
    };
    for (const auto& c : cases) {
        const std::shared_ptr<const CatalogLists> lists = sampleLists();
        const AppRef app(lists, &lists->apps[0]);
        app->iconState.store(c.stateBefore);
        EXPECT_EQ(keepIconFromEntry(app, L"http://a", c.entry, {c.size}), c.kept) << c.what;
        EXPECT_EQ(app->iconState.load(), c.kept ? 2 : c.stateBefore) << c.what;
        EXPECT_EQ(keptIcon(*app) != nullptr, c.kept) << c.what;
    }
}
