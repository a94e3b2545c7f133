// Downloads that outlive a run, against the loopback test server: a job of an earlier run
// (restored from the journal) or a failed one continues its part file with If-Range, a file
// changed on the server starts over from 0, and a verified file is used again unfetched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/format.h"
#include "download/manager.h"
#include "download/retry.h"
#include "download/support.h"
#include "download/verify.h"
#include "json/encoding.h"
#include "support/test_server.h"

namespace {

constexpr int64_t kSize = 300000;

uint32_t noPause(int32_t) { return 5; }

std::string pattern(size_t size) {
    std::string out;
    for (size_t i = 0; i < size; ++i) out.push_back(static_cast<char>(testserver::patternByte(i)));
    return out;
}

class Resume : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(testserver::httpBase().empty()) << "test server not running";
        setDownloadDirectory(dir.path());
        retryPause = &noPause;
        path = testserver::uniquePath("resume") + "/setup.exe";
        url = json::toUtf8(testserver::httpBase()) + path;
        const std::wstring reference = dir.file(L"reference.bin");
        dltest::writeFile(reference, served);
        fileMd5Hex(reference, md5);
        DeleteFileW(reference.c_str());
    }
    void TearDown() override {
        std::shared_ptr<Task> t = find();
        if (t) {
            m.cancel(kId);
            if (t->thread) WaitForSingleObject(t->thread.get(), 30000);
        }
        std::lock_guard<std::mutex> lock(m.tasksLock);
        m.tasks.erase(kId);
        m.finishedFiles.erase(kId);
        retryPause = &realRetryPause;
        setDownloadDirectory(std::wstring());
    }
    std::shared_ptr<Task> find() {
        std::lock_guard<std::mutex> lock(m.tasksLock);
        auto it = m.tasks.find(kId);
        return it == m.tasks.end() ? nullptr : it->second;
    }
    // The journal's entry of an interrupted download of `path` into setup.exe.
    JournalEntry entry(int64_t done, const std::string& etag) {
        JournalEntry e;
        e.appId = kId;
        e.name = L"setup";
        e.url = url;
        e.filePath = dir.file(L"setup.exe");
        e.partPath = e.filePath + L".part";
        e.totalBytes = kSize;
        e.doneBytes = done;
        e.etag = etag;
        e.md5 = md5;
        return e;
    }
    // again: as from the download view while the catalog does not list the application.
    std::shared_ptr<Task> startAndFinish(bool again = false) {
        if (again)
            m.startAgain(kId);
        else
            m.start(kId, L"setup", url, md5, kSize);
        std::shared_ptr<Task> t = find();
        EXPECT_TRUE(t && t->thread);
        if (t && t->thread) {
            EXPECT_EQ(WaitForSingleObject(t->thread.get(), 60000), WAIT_OBJECT_0);
        }
        return t;
    }
    void expectServed(const std::shared_ptr<Task>& t) {
        ASSERT_TRUE(t);
        EXPECT_EQ(t->state.load(), TaskState::Completed) << json::toUtf8(t->getError());
        EXPECT_TRUE(t->md5Ok.load());
        EXPECT_TRUE(dltest::readFile(dir.file(L"setup.exe")) == served) << "content differs";
        EXPECT_FALSE(dltest::fileExists(dir.file(L"setup.exe.part")));
    }

    static constexpr int32_t kId = 9101;
    DownloadManager& m = DownloadManager::instance();
    dltest::TempDir dir{L"resume"};
    const std::string served = pattern(kSize);
    std::string path, url, md5;
};

}  // namespace

TEST_F(Resume, AJobOfAnEarlierRunContinuesWithIfRangeFromWhatItsPartFileHolds) {
    ASSERT_TRUE(testserver::script(path, R"([{"body_size":300000,"headers":[["ETag","\"r1\""]]}])"));
    // The journal says 200000 bytes; the part file (one that grows) holds only 150000.
    dltest::writeFile(dir.file(L"setup.exe.part"), served.substr(0, 150000));
    m.restore({entry(200000, "\"r1\"")});

    const TaskInfo shown = m.snapshot()[kId];
    EXPECT_EQ(shown.state, static_cast<int32_t>(TaskState::Failed));
    EXPECT_TRUE(shown.interrupted);
    EXPECT_EQ(shown.errorText, L"下载中断，可继续下载");
    EXPECT_EQ(shown.downloadedBytes, 150000);

    expectServed(startAndFinish());
    const auto reqs = testserver::requests(path);
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].header("Range"), "bytes=0-0");
    EXPECT_EQ(reqs[1].header("Range"), "bytes=150000-299999");
    EXPECT_EQ(reqs[1].header("If-Range"), "\"r1\"");
}

TEST_F(Resume, AFileChangedOnTheServerSinceTheProbeStartsOverFromZero) {
    // The probe still sees the recorded version; by the range request it has changed.
    ASSERT_TRUE(testserver::script(path, R"([{"body_size":300000,"headers":[["ETag","\"r1\""]],"times":1},
                                             {"body_size":300000,"headers":[["ETag","\"r2\""]]}])"));
    std::string part = served.substr(0, 100000);
    part.resize(kSize, 'x');  // pre-sized; the tail is not the file's
    dltest::writeFile(dir.file(L"setup.exe.part"), part);
    m.restore({entry(100000, "\"r1\"")});

    expectServed(startAndFinish(true));
    const auto reqs = testserver::requests(path);
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[1].header("Range"), "bytes=100000-299999");
    EXPECT_EQ(reqs[1].header("If-Range"), "\"r1\"");
    EXPECT_EQ(reqs[2].header("Range"), "bytes=0-299999");
    EXPECT_EQ(reqs[2].header("If-Range"), "");
}

TEST_F(Resume, AFailedJobKeepsWhatItFetchedForTheJournalAndAStartAgainContinuesIt) {
    // Probe, then 100000 bytes and a dropped connection, then errors until the job gives up.
    ASSERT_TRUE(testserver::script(path, R"([{"body_size":300000,"headers":[["ETag","\"r1\""]],"times":1},
                                             {"body_size":300000,"headers":[["ETag","\"r1\""]],"cut_after":100000,"times":1},
                                             {"status":503,"body":"busy","ranges":false}])"));
    std::shared_ptr<Task> failed = startAndFinish();
    ASSERT_TRUE(failed);
    ASSERT_EQ(failed->state.load(), TaskState::Failed);

    const std::vector<JournalEntry> journal = m.journalEntries();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].state, JournalState::Interrupted);
    EXPECT_EQ(journal[0].doneBytes, 100000);
    EXPECT_EQ(journal[0].totalBytes, kSize);
    EXPECT_EQ(journal[0].etag, "\"r1\"");
    EXPECT_EQ(journal[0].partPath, dir.file(L"setup.exe.part"));

    ASSERT_TRUE(testserver::script(path, R"([{"body_size":300000,"headers":[["ETag","\"r1\""]]}])"));
    const size_t before = testserver::requests(path).size();
    expectServed(startAndFinish());
    const auto reqs = testserver::requests(path);
    ASSERT_EQ(reqs.size(), before + 2);
    EXPECT_EQ(reqs[before + 1].header("Range"), "bytes=100000-299999");
    EXPECT_EQ(reqs[before + 1].header("If-Range"), "\"r1\"");
}

TEST_F(Resume, AVerifiedFileOfAnEarlierRunIsUsedWithoutAnyRequest) {
    ASSERT_TRUE(testserver::script(path, R"([{"body_size":300000}])"));
    // Under the name the server gave it then, which no default would produce.
    const std::wstring earlier = dir.file(L"setup-1.2.3-x64.exe");
    dltest::writeFile(earlier, served);
    JournalEntry finished = entry(kSize, "");
    finished.state = JournalState::Finished;
    finished.filePath = earlier;
    finished.partPath.clear();
    m.restore({finished});

    m.start(kId, L"setup", url, md5, kSize);
    std::shared_ptr<Task> t = find();
    ASSERT_TRUE(t && t->thread);
    ASSERT_EQ(WaitForSingleObject(t->thread.get(), 60000), WAIT_OBJECT_0);
    EXPECT_EQ(t->state.load(), TaskState::Completed) << json::toUtf8(t->getError());
    EXPECT_EQ(t->getFilePath(), earlier);
    EXPECT_EQ(t->downloadedBytes.load(), kSize);
    EXPECT_TRUE(testserver::requests(path).empty());
}

TEST_F(Resume, AFileUnderTheJobsNameWithAnotherDigestIsDownloadedOver) {
    ASSERT_TRUE(testserver::script(path, R"([{"body_size":300000}])"));
    dltest::writeFile(dir.file(L"setup.exe"), served.substr(1) + "!");  // same size, other bytes
    expectServed(startAndFinish());
    EXPECT_EQ(testserver::requests(path).size(), 2u);
}
