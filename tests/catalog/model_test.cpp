// Catalog records: version texts, application members of every kind, lookups, the
// bootstrap shapes, and publishing whole lists to readers on other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <thread>

#include "catalog/catalog.h"
#include "json/json.h"

namespace {

App appFrom(const std::string& text) {
    std::shared_ptr<json::Value> node = json::parse(text);
    EXPECT_TRUE(node) << text;
    return node ? parseApp(*node) : App();
}

std::shared_ptr<CatalogLists> listsOf(int n) {
    auto lists = std::make_shared<CatalogLists>();
    for (int i = 0; i < n; ++i) {
        lists->categories.push_back({std::to_wstring(n), L"c"});
        App app;
        app.id = n;
        lists->apps.push_back(std::move(app));
    }
    return lists;
}

}  // namespace

TEST(Version, KeepsDigitsAndAtMostTwoNumbers) {
    struct Case {
        const wchar_t* text;
        const wchar_t* expected;
    } cases[] = {
        {L"v1.2.3 beta", L"1.2"}, {L"2,0,1", L"2.0"}, {L"10", L"10"},      {L"Build 7", L"7"},
        {L"beta", L""},           {L"1.0.", L"1.0"},  {L"1..2", L"1.2"},   {L".5", L"5"},
        {L"1.2.3.4", L"1.2"},     {L"", L""},         {L"1 2", L"1.2"},    {L"V 2.0 (64位)", L"2.0"},
        {L"3.11.0-rc1", L"3.11"}, {L"..", L""},       {L"2023 版", L"2023"}, {L"1, 5", L"1.5"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, normalizeVersion(c.text)) << c.text;
}

TEST(ParseApp, ReadsEveryMember) {
    App app = appFrom(R"({"id":42,"name":"微信","version":"3.9.10.27","categoryIds":["chat","social"],
        "description":"聊天与文件传输","icon":"/icons/wechat.png","packageSize":2147483648000,
        "md5":"d41d8cd98f00b204e9800998ecf8427e","hasPackage":true,"downloads":123456789012,
        "updatedAt":1733650000000,"extra":{"ignored":1}})");
    EXPECT_EQ(42, app.id);
    EXPECT_EQ(L"微信", app.name);
    EXPECT_EQ(L"3.9", app.version);
    EXPECT_EQ((std::vector<std::wstring>{L"chat", L"social"}), app.categoryIds);
    EXPECT_EQ(L"聊天与文件传输", app.description);
    EXPECT_EQ(L"/icons/wechat.png", app.icon);
    EXPECT_EQ(2147483648000LL, app.packageSize);
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", app.md5);
    EXPECT_TRUE(app.hasPackage);
    EXPECT_EQ(123456789012LL, app.downloads);
    EXPECT_EQ(1733650000000LL, app.updatedAt);
    EXPECT_EQ(nullptr, app.iconBitmap.load());
    EXPECT_EQ(0, app.iconState.load());
}

TEST(ParseApp, MembersOfAnotherKindKeepTheirDefaults) {
    App app = appFrom(R"({"id":"12","name":5,"version":1.2,"categoryIds":"a","categoryId":7,
        "description":null,"icon":["x"],"packageSize":"10","md5":false,"hasPackage":1,
        "downloads":"9","updatedAt":{}})");
    EXPECT_EQ(0, app.id);
    EXPECT_TRUE(app.name.empty());
    EXPECT_TRUE(app.version.empty());
    EXPECT_TRUE(app.categoryIds.empty());
    EXPECT_TRUE(app.description.empty());
    EXPECT_TRUE(app.icon.empty());
    EXPECT_EQ(0, app.packageSize);
    EXPECT_TRUE(app.md5.empty());
    EXPECT_FALSE(app.hasPackage);
    EXPECT_EQ(0, app.downloads);
    EXPECT_EQ(0, app.updatedAt);

    for (const char* node : {"[]", "null", "\"text\"", "17"}) {
        App empty = appFrom(node);
        EXPECT_EQ(0, empty.id) << node;
        EXPECT_TRUE(empty.name.empty()) << node;
    }
}

TEST(ParseApp, NumbersAreTruncatedAndTextsConverted) {
    EXPECT_EQ(12, appFrom(R"({"id":12.7})").id);
    EXPECT_EQ(-3, appFrom(R"({"id":-3.9})").id);
    EXPECT_EQ(1, appFrom(R"({"id":4294967297})").id) << "cut to 32 bits";
    EXPECT_EQ(L"\uFFFDx", appFrom("{\"name\":\"\xC3x\"}").name) << "invalid UTF-8";
    EXPECT_EQ("\xE4\xB8\xAD", appFrom(R"({"md5":"中"})").md5) << "md5 stays UTF-8";
}

TEST(ParseApp, CategoryIdsAreNonEmptyStrings) {
    struct Case {
        const char* text;
        std::vector<std::wstring> expected;
    } cases[] = {
        {R"({"categoryIds":["3","5"]})", {L"3", L"5"}},
        {R"({"categoryIds":[3,5],"categoryId":"7"})", {L"7"}},
        {R"({"categoryIds":[3,5]})", {}},
        {R"({"categoryIds":["","5",null]})", {L"5"}},
        {R"({"categoryIds":["4"],"categoryId":"7"})", {L"4"}},
        {R"({"categoryIds":[],"categoryId":"7"})", {L"7"}},
        {R"({"categoryId":""})", {}},
        {R"({"categoryId":7})", {}},
        {R"({})", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, appFrom(c.text).categoryIds) << c.text;
}

TEST(FindApp, FirstRecordWithTheIdOrNull) {
    std::vector<App> apps;
    for (int id : {5, 7, 5}) {
        App app;
        app.id = id;
        app.name = std::to_wstring(apps.size());
        apps.push_back(std::move(app));
    }
    ASSERT_NE(nullptr, findApp(apps, 5));
    EXPECT_EQ(L"0", findApp(apps, 5)->name);
    EXPECT_EQ(L"1", findApp(apps, 7)->name);
    EXPECT_EQ(nullptr, findApp(apps, 6));
    EXPECT_EQ(nullptr, findApp(std::vector<App>(), 0));
}

TEST(FindApp, AFoundRecordOutlivesAReload) {
    CatalogState catalog;
    EXPECT_EQ(nullptr, findApp(catalog, 1));
    auto lists = std::make_shared<CatalogLists>();
    App app;
    app.id = 1;
    app.name = L"old";
    lists->apps.push_back(std::move(app));
    catalog.publish(lists);
    lists.reset();
    AppRef found = findApp(catalog, 1);
    catalog.publish(listsOf(0));
    ASSERT_TRUE(found);
    EXPECT_EQ(L"old", found->name);
    EXPECT_EQ(nullptr, findApp(catalog, 1));
}

TEST(Bootstrap, ShapesOfTheAnswer) {
    struct Case {
        const char* body;
        bool ok;
        size_t categories, apps;
    } cases[] = {
        {"", false, 0, 0},
        {"not json", false, 0, 0},
        {"[]", false, 0, 0},
        {"{}", false, 0, 0},
        {R"({"code":0})", false, 0, 0},
        {R"({"data":[]})", true, 0, 0},
        {R"({"data":null})", true, 0, 0},
        {R"({"data":{}})", true, 0, 0},
        {R"({"data":{"categories":[{"id":"a","name":"A"},{"id":"b","name":"B"}]}})", true, 2, 0},
        {R"({"data":{"categories":{},"apps":"x"}})", true, 0, 0},
        {R"({"data":{"categories":[1,null,[]],"apps":[1,null,{"id":3,"categoryId":"c"}]}})", true, 3, 1},
        {R"({"data":{"apps":[{"id":1,"categoryId":"c"}]},"data":5})", true, 0, 1},
    };
    for (const Case& c : cases) {
        std::string body = c.body;
        CatalogLists lists;
        EXPECT_EQ(c.ok, parseBootstrap(body, lists)) << c.body;
        EXPECT_EQ(c.categories, lists.categories.size()) << c.body;
        EXPECT_EQ(c.apps, lists.apps.size()) << c.body;
        EXPECT_TRUE(body.empty()) << "the body is consumed";
    }
}

TEST(Bootstrap, CategoriesAndAppsInServerOrder) {
    std::string body = R"({"data":{"categories":[{"id":"2","name":"聊天社交"},{"id":3,"name":"办公"},"x"],
        "apps":[{"id":9,"name":"b","categoryIds":["2"]},{"id":9,"name":"a","categoryId":"9"},{"id":1},
        {"id":2,"categoryIds":[""],"categoryId":""}]}})";
    CatalogLists lists;
    ASSERT_TRUE(parseBootstrap(body, lists));
    ASSERT_EQ(3u, lists.categories.size());
    EXPECT_EQ(L"2", lists.categories[0].id);
    EXPECT_EQ(L"聊天社交", lists.categories[0].name);
    EXPECT_EQ(L"", lists.categories[1].id) << "a numeric id is not a category id";
    EXPECT_EQ(L"办公", lists.categories[1].name);
    EXPECT_EQ(L"", lists.categories[2].name);
    ASSERT_EQ(2u, lists.apps.size()) << "an application in no category can never be shown, so it is not kept";
    EXPECT_EQ(L"b", lists.apps[0].name);
    EXPECT_EQ(L"a", lists.apps[1].name);
    EXPECT_EQ(L"b", findApp(lists.apps, 9)->name) << "duplicate ids: the first wins";
}

TEST(Bootstrap, TheFirstMemberOfEachKeyIsTheOneRead) {
    std::string body = R"({"data":{"apps":[{"id":1,"categoryId":"a"}],"categories":[{"id":"a"}],
        "apps":[{"id":2,"categoryId":"a"}],"categories":[]},"data":{"apps":[{"id":4,"categoryId":"a"}]}})";
    CatalogLists lists;
    ASSERT_TRUE(parseBootstrap(body, lists));
    ASSERT_EQ(1u, lists.apps.size());
    EXPECT_EQ(1, lists.apps[0].id);
    ASSERT_EQ(1u, lists.categories.size());
    EXPECT_EQ(L"a", lists.categories[0].id);
}

TEST(Bootstrap, AFaultAfterTheListsLeavesTheOldOnes) {
    // The records of the answer are made while it is read; a fault found after them
    // must still leave what was there.
    const char* bodies[] = {
        R"({"data":{"categories":[{"id":"n"}],"apps":[{"id":7},{"id":8}]})",
        R"({"data":{"categories":[{"id":"n"}],"apps":[{"id":7},{"id":8}]}} trailing)",
        R"({"data":{"apps":[{"id":7},{"id":8}],"categories":[{"id":"n"}]},"more":[1,]})",
        R"({"apps":[{"id":7}],"categories":[{"id":"n"}]})",
    };
    for (const char* text : bodies) {
        CatalogLists lists;
        lists.categories.push_back({L"old", L"旧"});
        lists.apps.emplace_back();
        lists.apps.back().id = 99;
        std::string body = text;
        EXPECT_FALSE(parseBootstrap(body, lists, 2)) << text;
        ASSERT_EQ(1u, lists.categories.size()) << text;
        EXPECT_EQ(L"old", lists.categories[0].id) << text;
        ASSERT_EQ(1u, lists.apps.size()) << text;
        EXPECT_EQ(99, lists.apps[0].id) << text;
    }
}

TEST(Bootstrap, TheExpectedCountOnlySizesTheList) {
    for (size_t expected : {size_t(0), size_t(1), size_t(3), size_t(1000)}) {
        std::string body = R"({"data":{"apps":[{"id":1,"categoryId":"c"},{"id":2,"categoryId":"c"},{"id":3,"categoryId":"c"}]}})";
        CatalogLists lists;
        ASSERT_TRUE(parseBootstrap(body, lists, expected)) << expected;
        ASSERT_EQ(3u, lists.apps.size()) << expected;
        EXPECT_EQ(3, lists.apps[2].id) << expected;
    }
}

TEST(Bootstrap, HostileAnswersNeverCrash) {
    std::string hugeName =
        R"({"data":{"apps":[{"categoryId":"c","name":")" + std::string(6 * 1024 * 1024, 'x') + R"("}]}})";
    std::string invalid = "{\"data\":{\"categories\":[{\"id\":\"\xFF\xFE\",\"name\":\"\xED\xA0\x80\"}]}}";
    std::string wrongKinds = R"({"data":{"categories":[{"id":{},"name":[]}],"apps":[{"id":[],"name":{},
        "categoryIds":[{},[],true],"packageSize":1e308,"downloads":-1e308,"updatedAt":"x"}]}})";
    for (std::string* body : {&hugeName, &invalid, &wrongKinds}) {
        CatalogLists lists;
        std::string copy = *body;
        parseBootstrap(copy, lists);
    }
    CatalogLists lists;
    ASSERT_TRUE(parseBootstrap(hugeName, lists));
    EXPECT_EQ(6u * 1024 * 1024, lists.apps.at(0).name.size());
    ASSERT_TRUE(parseBootstrap(invalid, lists));
    EXPECT_FALSE(lists.categories.at(0).id.empty()) << "invalid UTF-8 becomes replacement characters";
}

TEST(CatalogStore, PublishesWholeListsAndTheLastPublisherWins) {
    CatalogState catalog;
    ASSERT_TRUE(catalog.lists());
    EXPECT_TRUE(catalog.lists()->apps.empty());

    std::shared_ptr<const CatalogLists> held = catalog.lists();
    catalog.publish(listsOf(3));
    EXPECT_TRUE(held->apps.empty()) << "a reader keeps what it took";
    EXPECT_EQ(3u, catalog.lists()->apps.size());
    catalog.publish(nullptr);
    EXPECT_TRUE(catalog.lists()->apps.empty());

    // Publishers and readers on several threads: every list a reader sees is complete.
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> threads;
    for (int p = 0; p < 2; ++p) {
        threads.emplace_back([&catalog, p] {
            for (int i = 0; i < 300; ++i) catalog.publish(listsOf(1 + (i * 7 + p) % 50));
        });
    }
    std::thread reader([&] {
        while (!stop.load()) {
            std::shared_ptr<const CatalogLists> lists = catalog.lists();
            const size_t n = lists->apps.size();
            if (lists->categories.size() != n) ++torn;
            for (const App& app : lists->apps) {
                if (app.id != static_cast<int>(n)) ++torn;
            }
        }
    });
    for (auto& t : threads) t.join();
    stop = true;
    reader.join();
    EXPECT_EQ(0, torn.load());
    catalog.publish(listsOf(9));
    EXPECT_EQ(9u, catalog.lists()->apps.size());
}

TEST(CatalogStore, DiscardedRecordsReleaseTheirBitmaps) {
    HBITMAP bitmaps[3];
    {
        CatalogState catalog;
        auto lists = listsOf(3);
        for (int i = 0; i < 3; ++i) {
            bitmaps[i] = CreateBitmap(8, 8, 1, 32, nullptr);
            ASSERT_NE(nullptr, bitmaps[i]);
            lists->apps[i].iconBitmap.store(bitmaps[i]);
            lists->apps[i].iconState.store(2);
        }
        catalog.publish(lists);
        lists.reset();
        AppRef reader = findApp(catalog, 3);
        catalog.publish(listsOf(1));
        EXPECT_EQ(static_cast<DWORD>(OBJ_BITMAP), GetObjectType(bitmaps[0])) << "still held by a reader";
        reader.reset();
        for (HBITMAP b : bitmaps) EXPECT_EQ(0u, GetObjectType(b)) << "deleted with its record";
    }
}

TEST(CatalogStore, LastErrorIsReadWhole) {
    CatalogState catalog;
    EXPECT_TRUE(catalog.lastError().empty());
    std::thread a([&] {
        for (int i = 0; i < 2000; ++i) catalog.setLastError(L"数据格式错误");
    });
    std::thread b([&] {
        for (int i = 0; i < 2000; ++i) catalog.setLastError(std::wstring(200, L'x'));
    });
    for (int i = 0; i < 2000; ++i) {
        std::wstring e = catalog.lastError();
        ASSERT_TRUE(e.empty() || e == L"数据格式错误" || e == std::wstring(200, L'x'));
    }
    a.join();
    b.join();
}

namespace {

std::shared_ptr<CatalogLists> indexedLists(const std::vector<std::pair<std::wstring, std::wstring>>& categories,
                                           const std::vector<std::pair<int, std::vector<std::wstring>>>& apps) {
    auto lists = std::make_shared<CatalogLists>();
    for (const auto& c : categories) lists->categories.push_back({c.first, c.second});
    for (const auto& a : apps) {
        App app;
        app.id = a.first;
        app.categoryIds = a.second;
        lists->apps.push_back(std::move(app));
    }
    return lists;
}

std::vector<int> idsOf(const std::vector<const App*>& apps) {
    std::vector<int> ids;
    for (const App* app : apps) ids.push_back(app->id);
    return ids;
}

}  // namespace

TEST(CategoryIndex, MembersInCatalogOrderOnceEach) {
    auto lists = indexedLists({{L"a", L"甲"}, {L"b", L"乙"}, {L"a", L"甲二"}},
                              {{5, {L"a"}}, {3, {L"b", L"a", L"a"}}, {9, {L"ab"}}, {1, {L"A", L"a"}}, {7, {}}});
    const auto index = lists->categoryIndex();
    struct Case {
        const wchar_t* id;
        std::vector<int> apps;
    } cases[] = {
        {L"a", {5, 3, 1}},  // an id named twice lists the app once; exact matches only
        {L"b", {3}},
        {L"ab", {9}},       // an id no category has still collects its applications
        {L"A", {1}},
        {L"zz", {}},        // unknown
        {L"", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(c.apps, idsOf(index->appsOf(c.id))) << std::string(c.id, c.id + wcslen(c.id));

    ASSERT_NE(nullptr, index->category(L"a"));
    EXPECT_EQ(L"甲二", index->category(L"a")->name) << "the last of repeated ids";
    EXPECT_EQ(L"乙", index->category(L"b")->name);
    EXPECT_EQ(nullptr, index->category(L"ab"));
    EXPECT_EQ(nullptr, index->category(L""));
}

TEST(CategoryIndex, EmptyListsHaveNoMembers) {
    CatalogLists lists;
    const auto index = lists.categoryIndex();
    EXPECT_TRUE(index->appsOf(L"a").empty());
    EXPECT_TRUE(index->appsOf(L"").empty());
    EXPECT_EQ(nullptr, index->category(L""));
}

TEST(CategoryIndex, BuiltOncePerListsAndOnPublish) {
    CatalogState catalog;
    auto lists = indexedLists({{L"a", L"甲"}}, {{1, {L"a"}}, {2, {L"a"}}});
    const CatalogLists* raw = lists.get();
    catalog.publish(lists);
    const auto first = raw->categoryIndex();
    EXPECT_EQ(first, catalog.lists()->categoryIndex()) << "the published lists keep the index publish built";
    EXPECT_EQ((std::vector<int>{1, 2}), idsOf(first->appsOf(L"a")));

    // Lists that were never published and change before their next use are indexed again.
    auto building = indexedLists({{L"a", L"甲"}}, {{1, {L"a"}}});
    EXPECT_EQ((std::vector<int>{1}), idsOf(building->categoryIndex()->appsOf(L"a")));
    App more;
    more.id = 2;
    more.categoryIds = {L"a"};
    building->apps.push_back(std::move(more));
    EXPECT_EQ((std::vector<int>{1, 2}), idsOf(building->categoryIndex()->appsOf(L"a")));
}

TEST(CategoryIndex, ReadersOnOtherThreadsSeeOneIndex) {
    auto lists = indexedLists({{L"a", L"甲"}}, {{1, {L"a"}}, {2, {L"b"}}, {3, {L"a"}}});
    std::shared_ptr<const CategoryIndex> seen[4];
    std::vector<std::thread> readers;
    for (auto& s : seen) readers.emplace_back([&lists, &s] { s = lists->categoryIndex(); });
    for (auto& t : readers) t.join();
    for (const auto& s : seen) {
        EXPECT_EQ(seen[0], s);
        EXPECT_EQ((std::vector<int>{1, 3}), idsOf(s->appsOf(L"a")));
    }
}
