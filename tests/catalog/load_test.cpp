// Catalog loads and install reports against the loopback test server.
#include <gtest/gtest.h>

#include "catalog/catalog.h"
#include "catalog/net_support.h"
#include "json/encoding.h"
#include "json/json.h"
#include "support/test_server.h"

using catalogtest::MessageSink;

namespace {

// A base URL whose bootstrap answers with these steps.
std::wstring scriptedServer(const std::string& stepsJson, std::string* prefix = nullptr) {
    std::string p;
    std::wstring base = catalogtest::uniqueBase(&p);
    EXPECT_TRUE(testserver::script(p + "/api/client/bootstrap", stepsJson));
    if (prefix) *prefix = p;
    return base;
}

std::string bodyStep(const std::string& body, int status = 200) {
    return "[{\"status\":" + std::to_string(status) + ",\"body\":\"" + json::escape(body) + "\"}]";
}

std::shared_ptr<CatalogLists> markerLists() {
    auto lists = std::make_shared<CatalogLists>();
    lists->categories.push_back({L"old", L"旧分类"});
    return lists;
}

// Runs a load on its own thread as the program does and waits for WM_APP+4.
bool loadOnThread(CatalogState& catalog, const std::wstring& server, WPARAM& result) {
    MessageSink sink;
    if (!startCatalogLoadThread(catalog, sink.window(), server)) return false;
    if (!sink.waitUntil([&] { return sink.count(kMsgCatalogLoaded) > 0; }, 60000)) return false;
    result = sink.received.back().wParam;
    EXPECT_EQ(0, sink.received.back().lParam);
    return true;
}

}  // namespace

TEST(CatalogLoad, FillsTheListsAndPostsSuccess) {
    std::string prefix;
    std::wstring server = scriptedServer(bodyStep(R"({"code":0,"data":{"categories":[{"id":"2","name":"聊天社交"},
        {"id":"5","name":"办公软件"}],"apps":[{"id":7,"name":"微信","version":"3.9.10","categoryIds":["2"]},
        {"id":8,"name":"WPS Office","categoryId":"5"},{"id":7,"name":"重复","categoryId":"5"}]}})"), &prefix);
    CatalogState catalog;
    catalog.setLastError(L"earlier failure");
    WPARAM result = 99;
    ASSERT_TRUE(loadOnThread(catalog, server, result));
    EXPECT_EQ(1u, result);
    EXPECT_TRUE(catalog.lastError().empty());
    auto lists = catalog.lists();
    ASSERT_EQ(2u, lists->categories.size());
    EXPECT_EQ(L"办公软件", lists->categories[1].name);
    ASSERT_EQ(3u, lists->apps.size());
    EXPECT_EQ(L"3.9", lists->apps[0].version);
    EXPECT_EQ(L"微信", findApp(catalog, 7)->name);

    auto requests = testserver::requests(prefix + "/");
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("GET", requests[0].method);
    EXPECT_EQ(prefix + "/api/client/bootstrap", requests[0].path) << "no channel, no query";
    EXPECT_TRUE(requests[0].header("Cookie").empty());
}

TEST(CatalogLoad, FailuresKeepTheOldListsAndSayWhy) {
    struct Case {
        const char* what;
        std::string steps;
        bool ok;
        std::wstring error;
        size_t categories, apps;
    } cases[] = {
        {"empty 200 body", bodyStep(""), false, L"数据格式错误", 1, 0},
        {"not JSON", bodyStep("<html>维护中</html>"), false, L"数据格式错误", 1, 0},
        {"no data member", bodyStep(R"({"code":0,"apps":[]})"), false, L"数据格式错误", 1, 0},
        {"500", bodyStep("oops", 500), false, L"HTTP 500", 1, 0},
        {"404", bodyStep("", 404), false, L"HTTP 404", 1, 0},
        {"data as an array", bodyStep(R"({"data":[1,2]})"), true, L"", 0, 0},
        {"no apps", bodyStep(R"({"data":{"categories":[{"id":"a","name":"A"},{"id":"b","name":"B"}]}})"), true,
         L"", 2, 0},
        {"8 MiB of nesting", bodyStep(std::string(8 * 1024 * 1024, '[')), false, L"数据格式错误", 1, 0},
    };
    for (const Case& c : cases) {
        CatalogState catalog;
        catalog.publish(markerLists());
        WPARAM result = 99;
        ASSERT_TRUE(loadOnThread(catalog, scriptedServer(c.steps), result)) << c.what;
        EXPECT_EQ(c.ok ? 1u : 0u, result) << c.what;
        EXPECT_EQ(c.error, catalog.lastError()) << c.what;
        EXPECT_EQ(c.categories, catalog.lists()->categories.size()) << c.what;
        EXPECT_EQ(c.apps, catalog.lists()->apps.size()) << c.what;
        if (!c.ok) {
            EXPECT_EQ(L"old", catalog.lists()->categories[0].id) << c.what;
        }
    }
}

TEST(CatalogLoad, AnUnreachableServerGivesTheEnginesMessage) {
    // A port that was just free: nothing listens there.
    CatalogState catalog;
    catalog.publish(markerLists());
    EXPECT_FALSE(loadCatalog(catalog, L"http://127.0.0.1:1"));
    EXPECT_FALSE(catalog.lastError().empty());
    EXPECT_EQ(L"old", catalog.lists()->categories[0].id);
    EXPECT_FALSE(loadCatalog(catalog, L"not a url"));
    EXPECT_FALSE(catalog.lastError().empty());
}

TEST(CatalogLoad, OfTwoOverlappingLoadsTheLastToFinishDecides) {
    const std::string slowBody = R"({"data":{"categories":[{"id":"slow","name":"慢"}]}})";
    const std::string fastBody = R"({"data":{"categories":[{"id":"fast","name":"快"}]}})";
    std::wstring slow = scriptedServer("[{\"delay_ms\":1500,\"body\":\"" + json::escape(slowBody) + "\"}]");
    std::wstring fast = scriptedServer(bodyStep(fastBody));
    // Kept for the process's life: a load still running after a failed wait must not
    // find its store gone.
    static CatalogState catalog;
    MessageSink sink;
    ASSERT_TRUE(startCatalogLoadThread(catalog, sink.window(), slow));
    ASSERT_TRUE(startCatalogLoadThread(catalog, sink.window(), fast));
    ASSERT_TRUE(sink.waitUntil([&] { return sink.count(kMsgCatalogLoaded) == 2; }, 60000));
    EXPECT_EQ(2, sink.count(kMsgCatalogLoaded, 1)) << json::toUtf8(catalog.lastError());
    ASSERT_EQ(1u, catalog.lists()->categories.size());
    EXPECT_EQ(L"slow", catalog.lists()->categories[0].id);
}

namespace {

// A bootstrap of n applications with names long enough that it arrives in many pieces.
std::string manyApps(int n, const std::string& tail = "]}}") {
    std::string body = R"({"code":0,"data":{"categories":[{"id":"1","name":"工具"}],"apps":[)";
    for (int i = 1; i <= n; ++i) {
        if (i > 1) body += ",";
        body += R"({"id":)" + std::to_string(i) + R"(,"name":"应用 \")" + std::to_string(i) + R"(\" )" +
                std::string(200, 'x') + R"(","categoryIds":["1"]})";
    }
    return body + tail;
}

std::string slowStep(const std::string& body, int chunk) {
    return "[{\"body\":\"" + json::escape(body) + "\",\"chunk\":" + std::to_string(chunk) + ",\"interval_ms\":1}]";
}

}  // namespace

TEST(CatalogLoad, AnAnswerArrivingInPiecesGivesTheWholeAnswersLists) {
    const std::string body = manyApps(600);
    std::string copy = body;
    CatalogLists whole;
    ASSERT_TRUE(parseBootstrap(copy, whole));
    for (int chunk : {997, 4096, 65536}) {
        CatalogState catalog;
        catalog.publish(markerLists());
        ASSERT_TRUE(loadCatalog(catalog, scriptedServer(slowStep(body, chunk)))) << json::toUtf8(catalog.lastError());
        auto lists = catalog.lists();
        ASSERT_EQ(whole.apps.size(), lists->apps.size()) << chunk;
        ASSERT_EQ(1u, lists->categories.size()) << chunk;
        for (size_t i = 0; i < whole.apps.size(); ++i) {
            EXPECT_EQ(whole.apps[i].id, lists->apps[i].id) << chunk;
            EXPECT_EQ(whole.apps[i].name, lists->apps[i].name) << chunk;
        }
    }
}

TEST(CatalogLoad, AnAnswerGoingBadHalfWayPublishesNothing) {
    const struct {
        const char* what;
        std::string steps;
        std::wstring error;  // the start of the message
    } cases[] = {
        {"bad JSON after many applications", slowStep(manyApps(600, ",oops]}}"), 4096), L"数据格式错误"},
        {"the closing brackets never come", slowStep(manyApps(600, ""), 4096), L"数据格式错误"},
        {"text after the answer", slowStep(manyApps(600, "]}} {}"), 4096), L"数据格式错误"},
        {"connection cut mid-answer",
         "[{\"body\":\"" + json::escape(manyApps(600)) + "\",\"cut_after\":70000}]", L"读取数据"},
        {"more than 8 MiB", "[{\"body\":\"" + json::escape(manyApps(40000)) + "\"}]", L"响应过大"},
    };
    for (const auto& c : cases) {
        CatalogState catalog;
        catalog.publish(markerLists());
        WPARAM result = 99;
        ASSERT_TRUE(loadOnThread(catalog, scriptedServer(c.steps), result)) << c.what;
        EXPECT_EQ(0u, result) << c.what;
        EXPECT_EQ(0u, catalog.lastError().rfind(c.error, 0)) << c.what << ": " << json::toUtf8(catalog.lastError());
        ASSERT_EQ(1u, catalog.lists()->categories.size()) << c.what;
        EXPECT_EQ(L"old", catalog.lists()->categories[0].id) << c.what;
        EXPECT_TRUE(catalog.lists()->apps.empty()) << c.what;
    }
}

TEST(CatalogLoad, TheDemoCatalogLoadsWhole) {
    CatalogState catalog;
    ASSERT_TRUE(loadCatalog(catalog, catalogtest::uniqueBase())) << json::toUtf8(catalog.lastError());
    auto lists = catalog.lists();
    EXPECT_GE(lists->categories.size(), 12u);
    EXPECT_GE(lists->apps.size(), 40u);
    for (const App& app : lists->apps) {
        EXPECT_FALSE(app.name.empty());
        EXPECT_FALSE(app.categoryIds.empty()) << app.id;
        for (const std::wstring& id : app.categoryIds) {
            bool known = false;
            for (const Category& c : lists->categories) known = known || c.id == id;
            EXPECT_TRUE(known) << app.id;
        }
        if (app.hasPackage) {
            EXPECT_EQ(32u, app.md5.size()) << app.id;
        }
    }
}

// The body's text is tabled beside installReportBody; here it goes out whole, once, with its
// one header.
TEST(InstallReport, PostsExactlyTheBodyAndTheOneHeader) {
    std::string prefix;
    std::wstring server = catalogtest::uniqueBase(&prefix);
    EXPECT_TRUE(reportInstall(server, 7, L"q\"b\\s\n渠道"));
    auto requests = testserver::requests(prefix + "/");
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("POST", requests[0].method);
    EXPECT_EQ(prefix + "/api/client/report", requests[0].path);
    EXPECT_EQ("application/json", requests[0].header("Content-Type"));
    EXPECT_EQ(installReportBody(7, L"q\"b\\s\n渠道"), requests[0].body);
}

TEST(InstallReport, TheStatusDecides) {
    struct Case {
        int status;
        bool ok;
    } cases[] = {{204, true}, {200, true}, {302, true}, {404, false}, {500, false}};
    for (const Case& c : cases) {
        std::string prefix;
        std::wstring server = catalogtest::uniqueBase(&prefix);
        std::string steps = "[{\"status\":" + std::to_string(c.status) + "}]";
        if (c.status == 302) {
            steps = "[{\"status\":302,\"location\":\"" + prefix + "/moved\"}]";
            testserver::script(prefix + "/moved", "[{\"status\":204}]");
        }
        ASSERT_TRUE(testserver::script(prefix + "/api/client/report", steps));
        EXPECT_EQ(c.ok, reportInstall(server, 1, L"default")) << c.status;
    }
    EXPECT_FALSE(reportInstall(L"http://127.0.0.1:1", 1, L"default"));
}
