// Whole downloads through the manager against the loopback test server: probe, size, name,
// ranges, resume and rollback, retries, give-up texts, cancel, the connection limit,
// verification, archive sniffing, write failures and hostile answers.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <vector>

#include "download/format.h"
#include "download/manager.h"
#include "download/retry.h"
#include "download/support.h"
#include "download/verify.h"
#include "json/encoding.h"
#include "support/test_server.h"

namespace {

std::mutex pausesLock;
std::vector<int32_t> pausesSeen;

uint32_t shortPause(int32_t attempt) {
    std::lock_guard<std::mutex> lock(pausesLock);
    pausesSeen.push_back(attempt);
    return 5;
}
uint32_t longPause(int32_t) { return 4000; }

std::string pattern(size_t size, const std::string& magic = std::string()) {
    std::string out = magic;
    for (size_t i = out.size(); i < size; ++i) out.push_back(static_cast<char>(testserver::patternByte(i)));
    return out;
}

class Transfer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(testserver::httpBase().empty()) << "test server not running";
        setDownloadDirectory(dir.path());
        retryPause = &shortPause;
        std::lock_guard<std::mutex> lock(pausesLock);
        pausesSeen.clear();
    }
    void TearDown() override {
        for (int32_t id : ids) {
            m.cancel(id);
            std::shared_ptr<Task> t = find(id);
            if (t && t->thread) WaitForSingleObject(t->thread.get(), 30000);
            std::lock_guard<std::mutex> lock(m.tasksLock);
            m.tasks.erase(id);
        }
        retryPause = &realRetryPause;
        setDownloadDirectory(std::wstring());
    }
    // Takes the job out of the manager without touching its files, so its name is free
    // again once nothing else holds the job.
    void forget(std::shared_ptr<Task>& t) {
        {
            std::lock_guard<std::mutex> lock(m.tasksLock);
            m.tasks.erase(t->appId);
        }
        t.reset();
    }
    std::shared_ptr<Task> find(int32_t id) {
        std::lock_guard<std::mutex> lock(m.tasksLock);
        auto it = m.tasks.find(id);
        return it == m.tasks.end() ? nullptr : it->second;
    }
    static std::string urlFor(const std::string& path, const std::string& query = "channel=test") {
        return json::toUtf8(testserver::httpBase()) + path + "?" + query;
    }
    std::shared_ptr<Task> begin(int32_t id, const std::string& url, const std::string& md5 = "",
                                int64_t packageSize = 0, const std::wstring& name = L"测试软件") {
        ids.push_back(id);
        m.start(id, name, url, md5, packageSize);
        return find(id);
    }
    // Runs a download to its end (thread finished).
    std::shared_ptr<Task> download(int32_t id, const std::string& url, const std::string& md5 = "",
                                   int64_t packageSize = 0, const std::wstring& name = L"测试软件") {
        auto t = begin(id, url, md5, packageSize, name);
        EXPECT_TRUE(t);
        if (t) {
            EXPECT_EQ(WaitForSingleObject(t->thread.get(), 120000), WAIT_OBJECT_0);
        }
        return t;
    }
    std::string md5Of(const std::string& data) {
        const std::wstring ref = dir.file(L"reference.bin");
        dltest::writeFile(ref, data);
        std::string hex;
        fileMd5Hex(ref, hex);
        DeleteFileW(ref.c_str());
        return hex;
    }
    // The finished file holds exactly the served bytes.
    void expectFile(const std::shared_ptr<Task>& t, const std::string& served) {
        EXPECT_EQ(t->state.load(), TaskState::Completed) << json::toUtf8(t->getError());
        const std::string got = dltest::readFile(t->getFilePath());
        EXPECT_EQ(got.size(), served.size());
        EXPECT_TRUE(got == served) << "content differs";
        EXPECT_FALSE(dltest::fileExists(t->getPartPath()));
        EXPECT_EQ(t->downloadedBytes.load(), static_cast<int64_t>(served.size()));
    }

    DownloadManager& m = DownloadManager::instance();
    dltest::TempDir dir{L"xfer"};
    std::vector<int32_t> ids;
};

TEST_F(Transfer, ProbeWith200AndLengthTakesTheSizeAndSendsNoRange) {
    const std::string p = testserver::uniquePath("api/client/download/7");
    ASSERT_TRUE(testserver::script(p, R"([{"ranges":false,"body_size":100000}])"));
    const std::string served = pattern(100000);
    auto t = download(8101, urlFor(p), md5Of(served), 5);
    expectFile(t, served);
    EXPECT_TRUE(t->md5Ok.load());
    EXPECT_EQ(t->totalBytes.load(), 100000);
    EXPECT_EQ(t->getFilePath(), dir.file(L"测试软件.exe"));  // a numeric last segment names nothing
    auto reqs = testserver::requests(p);
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].header("Range"), "bytes=0-0");
    EXPECT_EQ(reqs[1].header("Range"), "");
    EXPECT_EQ(reqs[1].path, p + "?channel=test");
}

TEST_F(Transfer, A206WithUnknownTotalKeepsTheCatalogSizeAndUsesRanges) {
    const std::string p = testserver::uniquePath("api/client/download/8");
    ASSERT_TRUE(testserver::script(p, R"([{"total_known":false,"body_size":50000}])"));
    auto t = download(8102, urlFor(p), "", 50000);
    expectFile(t, pattern(50000));
    EXPECT_EQ(t->totalBytes.load(), 50000);
    auto reqs = testserver::requests(p);
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[1].header("Range"), "bytes=0-49999");
}

TEST_F(Transfer, AProbeWithoutSizesKeepsTheCatalogSizeAndSendsNoRange) {
    // Catalog size 0: no pre-sizing, any complete body counts; otherwise the catalog's size stays.
    const int64_t catalogSizes[] = {0, 3000};
    int32_t id = 8103;
    for (int64_t catalogSize : catalogSizes) {
        const std::string p = testserver::uniquePath("api/client/download/9");
        ASSERT_TRUE(testserver::script(p, R"([{"ranges":false,"content_length":false,"body_size":3000}])"));
        auto t = download(id++, urlFor(p), "", catalogSize);
        expectFile(t, pattern(3000));
        EXPECT_EQ(t->totalBytes.load(), catalogSize);
        EXPECT_EQ(testserver::requests(p).back().header("Range"), "");
    }
}

TEST_F(Transfer, NamesComeFromTheFinalAddressAndArchivesFromTheirBytes) {
    const std::string zip("PK\x03\x04", 4), rar("Rar!\x1a\x07\x00", 7), sevenZip("7z\xbc\xaf\x27\x1c", 6);
    const struct {
        int id;
        const wchar_t* file;
        std::string magic;
        bool archive;
    } cases[] = {
        {101, L"中.exe", "", false},
        {102, L"setup.msi", "", false},
        {103, L"Tool.zip", zip, true},
        {104, L"pack.rar", rar, true},
        {105, L"pack.7z", sevenZip, true},
        {106, L"setup%ZZ.exe", "", false},
        {107, L"测试软件.exe", "", false},
        {108, L"测试软件.exe", "", false},   // CON.exe would open a device
        {109, L"....evil.exe", "", false},   // ../../ loses its slashes: stays in the folder
        {110, L"测试软件.exe", "", false},   // 300-character name
        {111, L"App.zip", zip, true},
        {112, L"ab.exe", "", false},
    };
    int32_t id = 8110;
    for (const auto& c : cases) {
        const std::string base = testserver::uniquePath("api/client/download/" + std::to_string(c.id));
        const std::string served = pattern(200000, c.magic);
        auto t = download(++id, urlFor(base, "channel=test&size=200000"), md5Of(served));
        ASSERT_TRUE(t);
        EXPECT_EQ(t->getFilePath(), dir.file(c.file)) << c.id;
        EXPECT_EQ(t->isArchive.load(), c.archive) << c.id;
        EXPECT_TRUE(t->md5Ok.load()) << c.id;
        expectFile(t, served);
        DeleteFileW(t->getFilePath().c_str());
        forget(t);  // several cases end with the same name
    }
    EXPECT_FALSE(dltest::fileExists(dir.path() + L"\\..\\evil.exe"));
}

TEST_F(Transfer, TwoRunningJobsWithTheSameFileNameNeverShareAFile) {
    const std::string base = testserver::uniquePath("api/client/download/102");
    const std::string prefix = base.substr(0, base.find("/api/"));
    // Both redirect to one slow setup.msi, so the two runs overlap.
    ASSERT_TRUE(testserver::script(prefix + "/files/102/setup.msi",
                       R"([{"body_size":300000,"chunk":30000,"interval_ms":60}])"));
    auto a = begin(8128, urlFor(base, "channel=test&size=300000"), "", 0, L"甲");
    auto b = begin(8129, urlFor(base, "channel=test&size=300000"), "", 0, L"乙");
    ASSERT_EQ(WaitForSingleObject(a->thread.get(), 60000), WAIT_OBJECT_0);
    ASSERT_EQ(WaitForSingleObject(b->thread.get(), 60000), WAIT_OBJECT_0);
    std::set<std::wstring> names{a->getFilePath(), b->getFilePath()};
    EXPECT_EQ(names, (std::set<std::wstring>{dir.file(L"setup.msi"), dir.file(L"setup (2).msi")}));
    expectFile(a, pattern(300000));
    expectFile(b, pattern(300000));
}

TEST_F(Transfer, AFinishedFileStaysItsJobsWhenAnotherAppsDownloadHasTheSameName) {
    const std::string base = testserver::uniquePath("api/client/download/114");
    const std::string other = base.substr(0, base.find("/api/")) + "/api/client/download/115";
    const std::string served = pattern(200000, "AAAA"), servedOther = pattern(200000, "BBBB");
    auto a = download(8140, urlFor(base, "channel=test&size=200000"), "", 0, L"甲");
    ASSERT_TRUE(a);
    expectFile(a, served);
    EXPECT_EQ(a->getFilePath(), dir.file(L"setup.exe"));

    // Another application whose installer is also called setup.exe, downloaded after the
    // first one finished: it must not take over the first one's file.
    auto b = download(8141, urlFor(other, "channel=test&size=200000"), "", 0, L"乙");
    ASSERT_TRUE(b);
    expectFile(b, servedOther);
    EXPECT_EQ(b->getFilePath(), dir.file(L"setup (2).exe"));
    EXPECT_TRUE(dltest::readFile(a->getFilePath()) == served) << "the first job's file was replaced";

    // Clearing the second job leaves the first one's file alone.
    m.clearFinished();
    EXPECT_TRUE(dltest::readFile(a->getFilePath()) == served);

    // A new download of the first application replaces its own file under its own name.
    a.reset();
    b.reset();
    auto again = download(8142, urlFor(base, "channel=test&size=200000"), "", 0, L"甲");
    ASSERT_TRUE(again);
    expectFile(again, served);
    EXPECT_EQ(again->getFilePath(), dir.file(L"setup.exe"));
}

TEST_F(Transfer, AJobKeepsTheFolderItWasAcceptedWith) {
    const std::wstring later = dir.file(L"later");
    const std::string base = testserver::uniquePath("api/client/download/116");
    ASSERT_TRUE(testserver::script(base, R"([{"delay_ms":300,"body_size":5000}])"));
    auto t = begin(8143, urlFor(base), "", 5000);
    setDownloadDirectory(later);  // saved in the settings while the job probes
    ASSERT_EQ(WaitForSingleObject(t->thread.get(), 60000), WAIT_OBJECT_0);
    EXPECT_EQ(t->state.load(), TaskState::Completed) << json::toUtf8(t->getError());
    EXPECT_EQ(t->getFilePath(), dir.file(L"测试软件.exe"));
    EXPECT_FALSE(dltest::fileExists(later));
}

TEST_F(Transfer, AFourKilobyteNameEndsCleanly) {
    const std::string base = testserver::uniquePath("api/client/download/113");
    auto t = download(8130, urlFor(base, "channel=test&size=5000"), "", 5000);
    ASSERT_TRUE(t);
    TaskState s = t->state.load();
    EXPECT_TRUE(s == TaskState::Completed || s == TaskState::Failed);
    if (s == TaskState::Failed) {
        EXPECT_NE(t->getError(), L"");
    }
    EXPECT_EQ(t->getFilePath().rfind(dir.path(), 0), 0u);
}

TEST_F(Transfer, AServerIgnoringRangeOnResumeStartsOverFromZero) {
    const int n = 300000;
    const std::string p = testserver::uniquePath("api/client/download/10");
    ASSERT_TRUE(testserver::script(p, R"([{"body_size":300000},{"body_size":300000,"cut_after":5000,"close":true},
                             {"body_size":300000,"ranges":false}])"));
    auto t = download(8140, urlFor(p), "", n);
    expectFile(t, pattern(n));
    auto reqs = testserver::requests(p);
    ASSERT_EQ(reqs.size(), 4u);
    EXPECT_EQ(reqs[1].header("Range"), "bytes=0-299999");
    EXPECT_EQ(reqs[2].header("Range"), "bytes=5000-299999");
    EXPECT_EQ(reqs[3].header("Range"), "bytes=0-299999");
}

TEST_F(Transfer, A206CutOffAfter3MiBResumesWhereItStopped) {
    const int n = 4 * 1048576;
    const std::string p = testserver::uniquePath("api/client/download/11");
    ASSERT_TRUE(testserver::script(p, R"([{"body_size":4194304},{"body_size":4194304,"cut_after":3145728,"close":true},
                             {"body_size":4194304}])"));
    auto t = begin(8141, urlFor(p), "", 0);
    // Resuming keeps what arrived: the count never goes down.
    int64_t last = 0;
    bool decreased = false;
    while (WaitForSingleObject(t->thread.get(), 1) == WAIT_TIMEOUT) {
        int64_t now = t->downloadedBytes.load();
        if (now < last) decreased = true;
        last = now;
    }
    EXPECT_FALSE(decreased);
    expectFile(t, pattern(n));
    auto reqs = testserver::requests(p);
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[2].header("Range"), "bytes=3145728-4194303");
    EXPECT_EQ(t->retryCount.load(), 0);
}

TEST_F(Transfer, ShortRangeAnswersFillTheRangeWithoutCountingRetries) {
    const int n = 300000;
    const struct {
        const char* what;
        std::string steps;
        int64_t packageSize;
        std::vector<std::string> ranges;  // of the transfer requests after the probe
        std::vector<int32_t> pauses;
    } cases[] = {
        {"a server capping every answer at 64 KiB",
         R"([{"body_size":300000,"range_cap":65536}])", 0,
         {"bytes=0-299999", "bytes=65536-299999", "bytes=131072-299999", "bytes=196608-299999",
          "bytes=262144-299999"},
         {}},
        {"capped answers of unknown total",
         R"([{"body_size":300000,"range_cap":65536,"total_known":false}])", n,
         {"bytes=0-299999", "bytes=65536-299999", "bytes=131072-299999", "bytes=196608-299999",
          "bytes=262144-299999"},
         {}},
        {"a short 206 in the middle of a resumed transfer",
         R"([{"body_size":300000},{"body_size":300000,"cut_after":100000,"close":true},
             {"body_size":300000,"range_cap":50000},{"body_size":300000}])", 0,
         {"bytes=0-299999", "bytes=100000-299999", "bytes=150000-299999"},
         {1}},
        {"a 206 that delivers nothing counts as a failed attempt",
         R"([{"body_size":300000},{"raw":"HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-299999/300000\r\nContent-Length: 0\r\n\r\n"},
             {"body_size":300000}])", 0,
         {"bytes=0-299999", "bytes=0-299999"},
         {1}},
    };
    int32_t id = 8300;
    for (const auto& c : cases) {
        {
            std::lock_guard<std::mutex> lock(pausesLock);
            pausesSeen.clear();
        }
        const std::string p = testserver::uniquePath("api/client/download/50");
        ASSERT_TRUE(testserver::script(p, c.steps));
        auto t = download(++id, urlFor(p), md5Of(pattern(n)), c.packageSize);
        expectFile(t, pattern(n));
        EXPECT_TRUE(t->md5Ok.load()) << c.what;
        auto reqs = testserver::requests(p);
        std::vector<std::string> ranges;
        for (size_t i = 1; i < reqs.size(); ++i) ranges.push_back(reqs[i].header("Range"));
        EXPECT_EQ(ranges, c.ranges) << c.what;
        std::lock_guard<std::mutex> lock(pausesLock);
        EXPECT_EQ(pausesSeen, c.pauses) << c.what;
    }
}

TEST_F(Transfer, AnswersWhoseOffsetOrSizesDisagreeAreRefusedBeforeWriting) {
    const int n = 300000;
    const struct {
        const char* what;
        std::string steps;
        int64_t packageSize;
        std::vector<std::string> ranges;
    } cases[] = {
        {"a 206 from another offset than asked",
         R"([{"body_size":300000},{"body_size":300000,"range_shift":1000},{"body_size":300000}])", 0,
         {"bytes=0-299999", "bytes=0-299999"}},
        {"a resumed 206 from an earlier offset",
         R"([{"body_size":300000},{"body_size":300000,"cut_after":100000,"close":true},
             {"body_size":300000,"range_shift":-5000},{"body_size":300000}])", 0,
         {"bytes=0-299999", "bytes=100000-299999", "bytes=100000-299999"}},
        {"a 206 whose Content-Length is shorter than its Content-Range",
         R"([{"body_size":300000},{"body_size":300000,"length_delta":-1000},{"body_size":300000}])", 0,
         {"bytes=0-299999", "bytes=0-299999"}},
        {"a resumed 206 whose Content-Length is longer than its Content-Range",
         R"([{"body_size":300000},{"body_size":300000,"cut_after":100000,"close":true},
             {"body_size":300000,"length_delta":7},{"body_size":300000}])", 0,
         {"bytes=0-299999", "bytes=100000-299999", "bytes=100000-299999"}},
        {"a 200 shorter than the total the probe gave",
         R"([{"body_size":300000},{"body_size":200000,"ranges":false},{"body_size":300000}])", 0,
         {"bytes=0-299999", "bytes=0-299999"}},
        {"a 200 without length that ends before the known total",
         R"([{"body_size":300000},{"body_size":200000,"ranges":false,"content_length":false},{"body_size":300000}])",
         0, {"bytes=0-299999", "bytes=0-299999"}},
        {"a plain 200 shorter than the catalog size",
         R"([{"ranges":false,"content_length":false,"body_size":300000},
             {"ranges":false,"content_length":false,"body_size":200000},{"ranges":false,"body_size":300000}])", n,
         {"", ""}},
    };
    int32_t id = 8310;
    for (const auto& c : cases) {
        const std::string p = testserver::uniquePath("api/client/download/51");
        ASSERT_TRUE(testserver::script(p, c.steps));
        auto t = download(++id, urlFor(p), "", c.packageSize);
        expectFile(t, pattern(n));
        auto reqs = testserver::requests(p);
        std::vector<std::string> ranges;
        for (size_t i = 1; i < reqs.size(); ++i) ranges.push_back(reqs[i].header("Range"));
        EXPECT_EQ(ranges, c.ranges) << c.what;
    }
}

TEST_F(Transfer, AServerThatKeepsDisagreeingFailsWithAMessage) {
    const struct {
        const char* what;
        std::string steps;
    } cases[] = {
        {"every 206 from another offset", R"([{"body_size":300000},{"body_size":300000,"range_shift":77}])"},
        {"every 200 shorter than the total", R"([{"body_size":300000},{"body_size":1000,"ranges":false}])"},
    };
    int32_t id = 8320;
    for (const auto& c : cases) {
        const std::string p = testserver::uniquePath("api/client/download/52");
        ASSERT_TRUE(testserver::script(p, c.steps));
        auto t = download(++id, urlFor(p), "", 0);
        EXPECT_EQ(t->state.load(), TaskState::Failed) << c.what;
        EXPECT_EQ(t->getError(), L"网络不稳定，重试多次仍失败，请稍后再试") << c.what;
        EXPECT_EQ(testserver::requests(p).size(), 14u) << c.what;
        EXPECT_EQ(t->downloadedBytes.load(), 0) << c.what;
        EXPECT_FALSE(dltest::fileExists(t->getFilePath())) << c.what;
    }
}

TEST_F(Transfer, ACutHeaderBlockIsAFailedAttempt) {
    const std::string cut = R"({"raw":"HTTP/1.1 200 OK\r\nContent-Le","hold_ms":100})";
    const std::string noEnd = R"({"raw":"HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-4999/5000\r\n","hold_ms":100})";
    const struct {
        const char* what;
        std::string steps;
        int64_t packageSize;
        size_t requests;
    } cases[] = {
        {"on the probe", "[" + cut + "," + cut + R"(,{"body_size":5000}])", 0, 4},
        {"on a range request", R"([{"body_size":5000},)" + noEnd + R"(,{"body_size":5000}])", 0, 3},
        {"on a transfer of unknown size", R"([{"total_known":false,"body_size":5000},)" + cut +
                                              R"(,{"total_known":false,"body_size":5000}])",
         0, 3},
    };
    int32_t id = 8330;
    for (const auto& c : cases) {
        const std::string p = testserver::uniquePath("api/client/download/53");
        ASSERT_TRUE(testserver::script(p, c.steps));
        auto t = download(++id, urlFor(p), "", c.packageSize);
        expectFile(t, pattern(5000));
        EXPECT_EQ(testserver::requests(p).size(), c.requests) << c.what;
    }
}

TEST_F(Transfer, A416Or401GivesUpAtOnceWithTheEnginesText) {
    const struct {
        int status;
        const wchar_t* text;
    } cases[] = {{416, L"HTTP 416"}, {401, L"HTTP 401"}, {400, L"HTTP 400"}};
    int32_t id = 8150;
    for (const auto& c : cases) {
        const std::string p = testserver::uniquePath("api/client/download/12");
        ASSERT_TRUE(testserver::script(p, R"([{"body_size":1000},{"status":)" + std::to_string(c.status) +
                                  R"(,"ranges":false,"body":"refused"}])"));
        auto t = download(++id, urlFor(p), "", 1000);
        EXPECT_EQ(t->state.load(), TaskState::Failed);
        EXPECT_EQ(t->getError(), c.text);
        EXPECT_EQ(testserver::requests(p).size(), 2u);
        EXPECT_EQ(t->retryCount.load(), 0);
        EXPECT_TRUE(dltest::fileExists(t->getPartPath()));  // kept until cleared
    }
}

TEST_F(Transfer, Thirteen503sUseTwelveRetriesThenGiveUp) {
    dltest::MessageWindow sink;
    m.window = sink.hwnd();
    const std::string p = testserver::uniquePath("api/client/download/13");
    ASSERT_TRUE(testserver::script(p, R"([{"body_size":1000},{"status":503,"ranges":false,"body":"busy","times":13},{"body_size":1000}])"));
    auto t = download(8160, urlFor(p), "", 1000);
    m.window = nullptr;
    EXPECT_EQ(t->state.load(), TaskState::Failed);
    EXPECT_EQ(t->getError(), L"网络不稳定，重试多次仍失败，请稍后再试");
    EXPECT_EQ(t->retryCount.load(), 12);
    EXPECT_EQ(testserver::requests(p).size(), 14u);
    {
        std::lock_guard<std::mutex> lock(pausesLock);
        std::vector<int32_t> expected{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        EXPECT_EQ(pausesSeen, expected);
    }
    EXPECT_GE(sink.count(WM_APP + 1), 13);  // one per retry, one for the failure
}

TEST_F(Transfer, CancelDuringAPauseEndsTheRunnerPromptly) {
    retryPause = &longPause;
    const std::string p = testserver::uniquePath("api/client/download/14");
    ASSERT_TRUE(testserver::script(p, R"([{"body_size":1000},{"status":503,"ranges":false,"body":"busy"}])"));
    auto t = begin(8170, urlFor(p), "", 1000);
    ASSERT_TRUE(dltest::waitFor([&] { return t->retryCount.load() == 1; }));
    Sleep(200);
    const DWORD before = GetTickCount();
    m.cancel(8170);
    ASSERT_EQ(WaitForSingleObject(t->thread.get(), 10000), WAIT_OBJECT_0);
    EXPECT_LT(GetTickCount() - before, 1500u);  // the pause had 3.8 s to go
    EXPECT_EQ(t->state.load(), TaskState::Cancelled);
    EXPECT_EQ(t->getError(), L"");
}

TEST_F(Transfer, ASeventhDownloadWaitsForASlot) {
    std::vector<std::shared_ptr<Task>> jobs;
    std::vector<std::string> paths;
    for (int i = 0; i < 7; ++i) {
        paths.push_back(testserver::uniquePath("api/client/download/" + std::to_string(20 + i)));
        ASSERT_TRUE(testserver::script(paths.back(),
                           R"([{"body_size":100000},{"body_size":100000,"chunk":10000,"interval_ms":150}])"));
    }
    std::atomic<bool> stop{false};
    std::atomic<int> peak{0};
    std::thread watch([&] {
        while (!stop) {
            {
                std::lock_guard<std::mutex> lock(m.slotLock);
                if (m.activeRequests > peak) peak = m.activeRequests;
            }
            Sleep(2);
        }
    });
    for (int i = 0; i < 7; ++i)
        jobs.push_back(begin(8180 + i, urlFor(paths[i]), "", 100000, L"并发 " + std::to_wstring(i)));
    // Six transfers in flight; one job still waits in state 0 with nothing received.
    bool sawWaiting = dltest::waitFor([&] {
        int transferring = 0, waiting = 0;
        for (size_t i = 0; i < jobs.size(); ++i) {
            size_t n = testserver::requests(paths[i]).size();
            if (n >= 2) ++transferring;
            else if (jobs[i]->state.load() == TaskState::Downloading && jobs[i]->downloadedBytes.load() == 0)
                ++waiting;
        }
        return transferring == 6 && waiting == 1;
    });
    EXPECT_TRUE(sawWaiting);
    for (auto& j : jobs) ASSERT_EQ(WaitForSingleObject(j->thread.get(), 60000), WAIT_OBJECT_0);
    stop = true;
    watch.join();
    EXPECT_LE(peak.load(), kMaxRequestsInFlight);
    for (auto& j : jobs) expectFile(j, pattern(100000));
}

TEST_F(Transfer, CancelDuringVerificationWinsAndLeavesNoFile) {
    const int n = 48 * 1048576;
    bool caught = false;
    for (int round = 0; round < 3 && !caught; ++round) {
        const std::string p = testserver::uniquePath("api/client/download/30");
        ASSERT_TRUE(testserver::script(p, R"([{"body_size":50331648}])"));
        auto t = begin(8190 + round, urlFor(p), "0123456789abcdef0123456789abcdef", n);
        dltest::waitFor([&] {
            TaskState s = t->state.load();
            return s != TaskState::Downloading;
        }, 60000);
        if (t->state.load() == TaskState::Verifying) {
            m.cancel(8190 + round);
            caught = true;
        }
        ASSERT_EQ(WaitForSingleObject(t->thread.get(), 60000), WAIT_OBJECT_0);
        if (caught) {
            EXPECT_EQ(t->state.load(), TaskState::Cancelled);
            EXPECT_FALSE(dltest::fileExists(t->getFilePath()));
            EXPECT_FALSE(dltest::fileExists(t->getPartPath()));
        }
        DeleteFileW(t->getFilePath().c_str());
    }
    EXPECT_TRUE(caught) << "verification was never observed";
}

TEST_F(Transfer, TheCatalogDigestMustMatchExactly) {
    const std::string p = testserver::uniquePath("api/client/download/31");
    ASSERT_TRUE(testserver::script(p, R"([{"body_size":70000}])"));
    const std::string good = md5Of(pattern(70000));
    std::string upper = good;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    const struct {
        std::string md5;
        bool ok;
    } cases[] = {{good, true}, {upper, false}, {good + " ", false}, {" " + good, false}, {"", true}};
    int32_t id = 8200;
    for (const auto& c : cases) {
        auto t = download(++id, urlFor(p), c.md5, 70000);
        EXPECT_EQ(t->state.load(), TaskState::Completed) << c.md5;
        EXPECT_EQ(t->md5Ok.load(), c.ok) << c.md5;
        EXPECT_TRUE(dltest::fileExists(t->getFilePath()));
    }
}

TEST_F(Transfer, AFullDiskStopsWithoutRetry) {
    // The build's fixture links fulldisk.exe.part to /dev/full: every write there fails
    // with ERROR_DISK_FULL and setting its size fails too.
    const char* bin = getenv("KV_BINARY_DIR");
    ASSERT_TRUE(bin);
    const std::wstring full = testserver::hostPathToWindows(std::string(bin) + "/download-fulldisk");
    setDownloadDirectory(full);
    const struct {
        const char* what;
        const char* steps;
        int64_t packageSize;
    } cases[] = {
        {"size unknown: the first write fails", R"([{"ranges":false,"content_length":false,"body_size":300000}])", 0},
        {"size known: pre-sizing fails", R"([{"body_size":300000}])", 300000},
    };
    int32_t id = 8210;
    for (const auto& c : cases) {
        const std::string p = testserver::uniquePath("api/client/download/32");
        ASSERT_TRUE(testserver::script(p, c.steps));
        auto t = download(++id, urlFor(p), "", c.packageSize, L"fulldisk");
        EXPECT_EQ(t->state.load(), TaskState::Failed) << c.what;
        EXPECT_EQ(t->getError(), L"磁盘写入失败") << c.what;
        EXPECT_EQ(t->retryCount.load(), 0) << c.what;
        EXPECT_LE(testserver::requests(p).size(), 2u) << c.what;
        forget(t);  // the next case must write the same linked part file
    }
}

TEST_F(Transfer, AFileTheDiskCannotHoldFailsAtOnceAndLeavesNothing) {
    // A probe claiming 1 PB with no catalog size to hold it against.
    const std::string p = testserver::uniquePath("api/client/download/36");
    ASSERT_TRUE(testserver::script(p, R"([{"raw":"HTTP/1.1 200 OK\r\nContent-Length: 1125899906842624\r\n\r\nabc","hold_ms":100}])"));
    auto t = download(8226, urlFor(p), "", 0);
    EXPECT_EQ(t->state.load(), TaskState::Failed);
    const std::wstring text = t->getError();
    EXPECT_EQ(text.rfind(L"磁盘空间不足（需要 1048576.00 GB，可用 ", 0), 0u) << json::toUtf8(text);
    EXPECT_FALSE(dltest::fileExists(t->getPartPath()));
    EXPECT_EQ(testserver::requests(p).size(), 1u);
}

TEST_F(Transfer, AWholeBodyWithoutLengthLongerThanTheCatalogSizeIsTakenWhole) {
    // The catalog says 3000 bytes; the server ignores ranges and sends 5000 without a length.
    const std::string p = testserver::uniquePath("api/client/download/37");
    ASSERT_TRUE(testserver::script(p, R"([{"ranges":false,"content_length":false,"body_size":5000}])"));
    const std::string served = pattern(5000);
    auto t = download(8227, urlFor(p), md5Of(served), 3000);
    expectFile(t, served);
    EXPECT_TRUE(t->md5Ok.load());
    EXPECT_EQ(t->totalBytes.load(), 5000);
    EXPECT_EQ(testserver::requests(p).size(), 2u);
}

TEST_F(Transfer, AFileThatCannotBeReadToVerifyIsNeverInstalled) {
    verifyRetryPauseMs = 20;
    const std::string p = testserver::uniquePath("api/client/download/38");
    ASSERT_TRUE(testserver::script(p, R"([{"body_size":20000},{"body_size":20000,"chunk":1000,"interval_ms":100}])"));
    const std::string served = pattern(20000);
    auto t = begin(8228, urlFor(p), md5Of(served), 20000);
    ASSERT_TRUE(dltest::waitFor([&] { return t->downloadedBytes.load() > 0; }));
    // Another program holds the file without letting anyone read it (as a scanner may).
    ScopedFile holder(CreateFileW(t->getPartPath().c_str(), GENERIC_WRITE, FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    ASSERT_EQ(WaitForSingleObject(t->thread.get(), 60000), WAIT_OBJECT_0);
    verifyRetryPauseMs = 750;
    EXPECT_EQ(t->state.load(), TaskState::Completed) << json::toUtf8(t->getError());
    ASSERT_FALSE(t->md5Ok.load());
    EXPECT_TRUE(m.snapshot()[8228].md5Unverified);
    EXPECT_FALSE(m.install(8228));
    EXPECT_EQ(t->state.load(), TaskState::Completed);
}

TEST_F(Transfer, ACancelWakesAJobWaitingForAConnectionSlot) {
    for (int i = 0; i < kMaxRequestsInFlight; ++i) m.acquireSlot();
    const std::string p = testserver::uniquePath("api/client/download/39");
    ASSERT_TRUE(testserver::script(p, R"([{"body_size":1000}])"));
    auto t = begin(8229, urlFor(p), "", 1000);
    Sleep(200);
    m.cancel(8229);
    const DWORD waited = WaitForSingleObject(t->thread.get(), 3000);
    for (int i = 0; i < kMaxRequestsInFlight; ++i) m.releaseSlot();
    EXPECT_EQ(waited, WAIT_OBJECT_0) << "the cancelled job still waited for a slot";
    EXPECT_EQ(t->state.load(), TaskState::Cancelled);
    EXPECT_TRUE(testserver::requests(p).empty());
}

TEST_F(Transfer, AnUncreatablePartFileFailsTheJob) {
    // The download folder is a file: nothing can be created in it.
    const std::wstring notDir = dir.file(L"plainfile");
    dltest::writeFile(notDir, "x");
    setDownloadDirectory(notDir);
    const std::string p = testserver::uniquePath("api/client/download/33");
    ASSERT_TRUE(testserver::script(p, R"([{"body_size":1000}])"));
    auto t = download(8220, urlFor(p), "", 1000);
    EXPECT_EQ(t->state.load(), TaskState::Failed);
    EXPECT_EQ(t->getError(), L"无法创建下载文件");
}

TEST_F(Transfer, TheProbeHasFiveAttempts) {
    const struct {
        int failures;
        TaskState outcome;
    } cases[] = {{4, TaskState::Completed}, {5, TaskState::Failed}};
    int32_t id = 8225;
    for (const auto& c : cases) {
        const std::string p = testserver::uniquePath("api/client/download/35");
        ASSERT_TRUE(testserver::script(p, R"([{"raw":"garbage","times":)" + std::to_string(c.failures) +
                                  R"(},{"body_size":1000}])"));
        auto t = download(++id, urlFor(p), "", 1000);
        EXPECT_EQ(t->state.load(), c.outcome) << c.failures;
        EXPECT_EQ(testserver::requests(p).size(), c.outcome == TaskState::Completed ? 6u : 5u) << c.failures;
        if (c.outcome == TaskState::Failed) {
            EXPECT_NE(t->getError(), L"");
        }
    }
}

TEST_F(Transfer, AnUnreachableServerFailsTheProbeWithTheEngineText) {
    auto t = download(8230, "http://127.0.0.1:1/api/client/download/1?channel=test", "", 1000);
    EXPECT_EQ(t->state.load(), TaskState::Failed);
    EXPECT_EQ(t->getError().rfind(L"请求发送失败 (winhttp ", 0), 0u) << json::toUtf8(t->getError());
}

TEST_F(Transfer, ARejectedFinalAddressSendsTheNextAttemptBackToTheOwnAddress) {
    const std::string own = testserver::uniquePath("api/client/download/34");
    const std::string mirror = testserver::uniquePath("mirror/setup.exe");
    const std::string mirror2 = testserver::uniquePath("mirror2/setup.exe");
    // The own address redirects to a mirror that answers the probe, then 404s; the own
    // address, asked again, sends the download to a second mirror.
    ASSERT_TRUE(testserver::script(own, R"([{"status":302,"ranges":false,"location":")" + mirror +
                                R"("},{"status":302,"ranges":false,"location":")" + mirror2 + R"("}])"));
    ASSERT_TRUE(testserver::script(mirror, R"([{"body_size":9000},{"status":404,"ranges":false,"body":"gone"}])"));
    ASSERT_TRUE(testserver::script(mirror2, R"([{"body_size":9000}])"));
    auto t = download(8240, urlFor(own), "", 9000);
    expectFile(t, pattern(9000));
    auto ownReqs = testserver::requests(own);
    auto mirrorReqs = testserver::requests(mirror);
    // Probe via the own address to the mirror; the transfer asks the remembered mirror (404),
    // then the own address again, which now redirects to the second mirror.
    EXPECT_EQ(mirrorReqs.size(), 2u);
    EXPECT_EQ(ownReqs.size(), 2u);
    std::lock_guard<std::mutex> lock(t->urlLock);
    EXPECT_EQ(t->rejectedUrls.count(json::toUtf8(testserver::httpBase()) + mirror), 1u);
    EXPECT_EQ(t->effectiveUrl, json::toUtf8(testserver::httpBase()) + mirror2);
}

TEST_F(Transfer, HostileAnswersEndInAMessageOrACorrectFile) {
    const struct {
        const char* what;
        std::string steps;
        int64_t packageSize;
        const char* correct;  // the only file a completed download may leave; null: it must fail
    } cases[] = {
        {"length 2^63-1", R"([{"raw":"HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775807\r\n\r\nabc"}])", 0, nullptr},
        {"length 2^64", R"([{"raw":"HTTP/1.1 200 OK\r\nContent-Length: 18446744073709551616\r\n\r\nabc"}])", 0, nullptr},
        {"negative length", R"([{"raw":"HTTP/1.1 200 OK\r\nContent-Length: -5\r\nConnection: close\r\n\r\nabc"}])", 0, "abc"},
        {"range total 2^63-1",
         R"([{"raw":"HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-0/9223372036854775807\r\nContent-Length: 1\r\n\r\na"}])",
         0, nullptr},
        {"range total beyond the file",
         R"([{"raw":"HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-0/5000000\r\nContent-Length: 1\r\n\r\n\u0000"},
             {"body_size":1000}])",
         0, ""},
        {"garbage answer", R"([{"raw":"NONSENSE\r\n\r\n"}])", 1000, nullptr},
    };
    int32_t id = 8250;
    for (const auto& c : cases) {
        const std::string p = testserver::uniquePath("api/client/download/40");
        ASSERT_TRUE(testserver::script(p, c.steps));
        auto t = download(++id, urlFor(p), "", c.packageSize);
        ASSERT_TRUE(t) << c.what;
        TaskState s = t->state.load();
        EXPECT_TRUE(s == TaskState::Completed || s == TaskState::Failed) << c.what;
        if (!c.correct) {
            EXPECT_EQ(s, TaskState::Failed) << c.what;
        }
        if (s == TaskState::Failed) {
            EXPECT_NE(t->getError(), L"") << c.what;
        }
        EXPECT_GE(t->totalBytes.load(), 0) << c.what;
        EXPECT_GE(t->downloadedBytes.load(), 0) << c.what;
        if (s == TaskState::Completed) {
            const std::string got = dltest::readFile(t->getFilePath());
            EXPECT_EQ(static_cast<int64_t>(got.size()), t->downloadedBytes.load()) << c.what;
            // "" stands for the route's later answer, the pattern of body_size bytes.
            EXPECT_TRUE(got == (*c.correct ? std::string(c.correct) : pattern(1000))) << c.what << ": content differs";
        }
    }
}

TEST_F(Transfer, AnEndlessRangeAnswerStopsAtTheRangeEnd) {
    const std::string base = testserver::uniquePath("hostile/endless206");
    auto t = download(8270, urlFor(base), "", 0);
    expectFile(t, pattern(1000));
}

TEST_F(Transfer, AnEndlessBodyIsEndedByCancel) {
    const std::string base = testserver::uniquePath("hostile/endless");
    auto t = begin(8271, urlFor(base), "", 0);
    ASSERT_TRUE(dltest::waitFor([&] { return t->downloadedBytes.load() > 4 * 1048576; }, 60000));
    m.cancel(8271);
    EXPECT_EQ(WaitForSingleObject(t->thread.get(), 30000), WAIT_OBJECT_0);
    EXPECT_EQ(t->state.load(), TaskState::Cancelled);
}

}  // namespace
