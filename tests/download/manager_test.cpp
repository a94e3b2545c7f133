// The download manager's operations on real tasks: start, cancel, install, clear, tick,
// snapshot, the connection slots, and what each posts to the main window.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "download/format.h"
#include "download/manager.h"
#include "download/shell_open.h"
#include "download/support.h"
#include "install/install.h"

namespace {

// Nothing listens on port 1: every request fails at once.
const char* const kDeadUrl = "http://127.0.0.1:1/api/client/download/1?channel=test";

class Manager : public ::testing::Test {
protected:
    void SetUp() override {
        setDownloadDirectory(dir.path());
        m.window = sink.hwnd();
        sink.drain();
    }
    void TearDown() override {
        {
            std::lock_guard<std::mutex> lock(m.tasksLock);
            for (int32_t id : ids) m.tasks.erase(id);
        }
        m.window = nullptr;
        setDownloadDirectory(std::wstring());
    }
    // A task placed in the map directly, in a given state.
    std::shared_ptr<Task> put(int32_t id, TaskState state) {
        auto t = std::make_shared<Task>();
        t->appId = id;
        t->name = L"Job " + std::to_wstring(id);
        t->state = state;
        t->setPaths(dir.file(L"job" + std::to_wstring(id) + L".exe"));
        std::lock_guard<std::mutex> lock(m.tasksLock);
        m.tasks[id] = t;
        ids.push_back(id);
        return t;
    }
    std::shared_ptr<Task> find(int32_t id) {
        std::lock_guard<std::mutex> lock(m.tasksLock);
        auto it = m.tasks.find(id);
        return it == m.tasks.end() ? nullptr : it->second;
    }

    DownloadManager& m = DownloadManager::instance();
    dltest::TempDir dir{L"mgr"};
    dltest::MessageWindow sink;
    std::vector<int32_t> ids;
};

TEST_F(Manager, StartAddsAJobAnnouncesItAndIgnoresAStartWhileActive) {
    ids.push_back(9001);
    m.start(9001, L"测试 App", kDeadUrl, "", 1234);
    auto first = find(9001);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->totalBytes.load(), 1234);
    EXPECT_EQ(first->getFilePath(), dir.file(L"测试 App.exe"));
    EXPECT_EQ(first->getPartPath(), dir.file(L"测试 App.exe.part"));
    EXPECT_GE(sink.count(WM_APP + 1), 1);

    m.start(9001, L"other", kDeadUrl, "", 1);
    EXPECT_EQ(find(9001), first);

    // The dead address fails the probe five times, then the job fails with the engine's text.
    ASSERT_TRUE(dltest::waitFor([&] { return first->state.load() == TaskState::Failed; }, 30000));
    EXPECT_NE(first->getError(), L"");
    EXPECT_EQ(m.snapshot()[9001].errorText, first->getError());

    m.start(9001, L"again", kDeadUrl, "", 0);
    auto second = find(9001);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->state.load(), TaskState::Downloading);
    EXPECT_EQ(second->downloadedBytes.load(), 0);
    m.cancel(9001);
}

TEST_F(Manager, DefaultFileNamesComeFromTheApplicationName) {
    const struct {
        int32_t id;
        std::wstring name;
        std::wstring file;
    } cases[] = {
        {9011, L"    ", L"app.exe"},
        {9012, L"<>:\"|?*", L"app.exe"},
        {9013, std::wstring(60, L'长'), std::wstring(50, L'长') + L".exe"},
        {9014, L"a/b\\c", L"abc.exe"},
    };
    for (const auto& c : cases) {
        ids.push_back(c.id);
        m.start(c.id, c.name, kDeadUrl, "", 0);
        auto t = find(c.id);
        ASSERT_TRUE(t);
        EXPECT_EQ(t->getFilePath(), dir.file(c.file));
        m.cancel(c.id);
    }
}

TEST_F(Manager, CancelActsOnlyOnActiveJobs) {
    const TaskState states[] = {TaskState::Downloading, TaskState::Verifying, TaskState::Completed,
                                TaskState::Failed,      TaskState::Installed, TaskState::Installing,
                                TaskState::InstallFailed};
    int32_t id = 9020;
    for (TaskState s : states) {
        auto t = put(++id, s);
        sink.drain();
        m.cancel(id);
        bool active = s == TaskState::Downloading || s == TaskState::Verifying;
        EXPECT_EQ(t->state.load(), active ? TaskState::Cancelled : s) << static_cast<int>(s);
        EXPECT_EQ(t->cancelRequested.load(), active);
        EXPECT_EQ(sink.count(WM_APP + 1), active ? 1 : 0);
    }
    m.cancel(424242);  // unknown id: nothing
}

TEST_F(Manager, InstallRefusesArchivesMismatchesAndUnfinishedJobs) {
    auto archive = put(9031, TaskState::Completed);
    archive->isArchive = true;
    auto mismatch = put(9032, TaskState::InstallFailed);
    mismatch->md5Ok = false;
    auto failed = put(9033, TaskState::Failed);
    auto downloading = put(9034, TaskState::Downloading);
    EXPECT_FALSE(m.install(9031));
    EXPECT_FALSE(m.install(9032));
    EXPECT_FALSE(m.install(9033));
    EXPECT_FALSE(m.install(9034));
    EXPECT_FALSE(m.install(424242));
    EXPECT_EQ(archive->state.load(), TaskState::Completed);
    EXPECT_EQ(mismatch->state.load(), TaskState::InstallFailed);
    EXPECT_EQ(sink.count(WM_APP + 1), 0);
}

TEST_F(Manager, ClearFinishedKeepsActiveAndInstallingJobsAndDeletesPartFilesOfFailures) {
    const TaskState states[] = {TaskState::Downloading, TaskState::Verifying, TaskState::Completed,
                                TaskState::Failed,      TaskState::Cancelled, TaskState::Installed,
                                TaskState::Installing,  TaskState::InstallFailed};
    std::vector<std::shared_ptr<Task>> made;
    int32_t id = 9050;
    for (TaskState s : states) {
        auto t = put(++id, s);
        dltest::writeFile(t->getPartPath(), "partial");
        t->partCreated = true;
        made.push_back(t);
    }
    // A job that failed before it made its part file names one it never wrote (another
    // download's, say): that file is not its to delete.
    auto early = put(++id, TaskState::Failed);
    dltest::writeFile(early->getPartPath(), "someone else's");
    sink.drain();
    m.clearFinished();
    EXPECT_EQ(sink.count(WM_APP + 1), 1);
    auto snap = m.snapshot();
    for (size_t i = 0; i < made.size(); ++i) {
        TaskState s = states[i];
        bool stays = s == TaskState::Downloading || s == TaskState::Verifying || s == TaskState::Installing;
        bool deleted = s == TaskState::Failed || s == TaskState::Cancelled;
        EXPECT_EQ(snap.count(made[i]->appId), stays ? 1u : 0u) << static_cast<int>(s);
        EXPECT_EQ(dltest::fileExists(made[i]->getPartPath()), !deleted) << static_cast<int>(s);
    }
    EXPECT_EQ(snap.count(early->appId), 0u);
    EXPECT_TRUE(dltest::fileExists(early->getPartPath()));
}

TEST_F(Manager, ClearFinishedOnNothingStillAnnounces) {
    std::map<int32_t, std::shared_ptr<Task>> saved;
    {
        std::lock_guard<std::mutex> lock(m.tasksLock);
        saved.swap(m.tasks);
    }
    m.clearFinished();
    EXPECT_EQ(sink.count(WM_APP + 1), 1);
    std::lock_guard<std::mutex> lock(m.tasksLock);
    m.tasks.swap(saved);
}

// The shell can wait seconds on a dead share: showing a file or a folder hands the shell call
// to a thread of its own and returns while that call still waits.
TEST_F(Manager, ShowingAFileOrFolderLeavesTheCallerFreeWhileTheShellWaits) {
    // Shared with the shell threads, which may still be leaving the hook when the test ends.
    struct Shell {
        std::mutex lock;
        std::condition_variable changed;
        bool release = false;
        std::vector<std::pair<std::wstring, bool>> calls;
        std::vector<std::thread::id> callers;
    };
    auto shell = std::make_shared<Shell>();
    setShellOpenHook([shell](const std::wstring& target, bool select) {
        std::unique_lock<std::mutex> held(shell->lock);
        shell->calls.emplace_back(target, select);
        shell->callers.push_back(std::this_thread::get_id());
        shell->changed.notify_all();
        shell->changed.wait_for(held, std::chrono::seconds(10), [&] { return shell->release; });
    });
    auto finished = put(41, TaskState::Completed);

    m.openInFolder(41);
    EXPECT_TRUE(openFolderDetached(dir.path()));
    EXPECT_FALSE(openFolderDetached(std::wstring()));
    m.openInFolder(999);  // no such job: nothing is shown
    {
        std::unique_lock<std::mutex> held(shell->lock);
        // Both calls wait in the shell at once, each on a thread that is not this one.
        ASSERT_TRUE(shell->changed.wait_for(held, std::chrono::seconds(10), [&] { return shell->calls.size() == 2; }));
        auto calls = shell->calls;
        std::sort(calls.begin(), calls.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
        EXPECT_EQ(calls[0], std::make_pair(finished->getFilePath(), true));
        EXPECT_EQ(calls[1], std::make_pair(dir.path(), false));
        for (const auto& caller : shell->callers) EXPECT_NE(caller, std::this_thread::get_id());
        shell->release = true;
        shell->changed.notify_all();
    }
    setShellOpenHook(nullptr);
}

// A download folder that names a file (a program, say) is never handed to the shell's
// "open", which would run it; an existing folder is.
TEST_F(Manager, OpeningTheFolderOpensOnlyAnExistingFolder) {
    struct Shell {
        std::mutex lock;
        std::condition_variable changed;
        std::vector<std::wstring> targets;
    };
    auto shell = std::make_shared<Shell>();
    setShellOpenHook([shell](const std::wstring& target, bool) {
        std::lock_guard<std::mutex> held(shell->lock);
        shell->targets.push_back(target);
        shell->changed.notify_all();
    });
    const std::wstring program = dir.file(L"tool.exe");
    HANDLE f = CreateFileW(program.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);

    EXPECT_TRUE(openFolderDetached(program));
    EXPECT_TRUE(openFolderDetached(dir.file(L"missing")));
    EXPECT_TRUE(openFolderDetached(dir.path()));
    {
        std::unique_lock<std::mutex> held(shell->lock);
        ASSERT_TRUE(shell->changed.wait_for(held, std::chrono::seconds(10), [&] { return !shell->targets.empty(); }));
    }
    // The refused ones end before the shell is reached; give them as long again.
    Sleep(300);
    {
        std::lock_guard<std::mutex> held(shell->lock);
        EXPECT_EQ(shell->targets, std::vector<std::wstring>{dir.path()});
    }
    setShellOpenHook(nullptr);
}

// tick() reads the clock itself: each step below brackets that reading between two reads of
// its own, waits for the sample's age rather than sleeping a fixed time, and judges the
// result against the ages the bracket allows.
struct TickBracket {
    DWORD before, after;
};

TickBracket timedTick(DownloadManager& m) {
    const DWORD before = GetTickCount();
    m.tick();
    return {before, GetTickCount()};
}

void waitUntilOlderThan(uint32_t sampleTick, DWORD ms) {
    ASSERT_TRUE(dltest::waitFor([&] { return GetTickCount() - sampleTick >= ms; }, 5000));
}

TEST_F(Manager, TickSamplesThenComputesSpeedOfDownloadingJobsOnly) {
    auto t = put(9061, TaskState::Downloading);
    auto done = put(9062, TaskState::Completed);
    done->speed = 777;
    t->downloadedBytes = 1000;
    const TickBracket first = timedTick(m);  // first sample only
    EXPECT_EQ(t->speed.load(), 0);
    EXPECT_GE(t->sampleTick, first.before);
    EXPECT_LE(t->sampleTick, first.after);
    EXPECT_EQ(done->sampleTick, 0u);
    EXPECT_EQ(sink.count(WM_APP + 1), 0);

    // Under 250 ms after the sample: nothing. A try whose own reads lie 250 ms or more
    // apart proves nothing and is made again with a fresh sample.
    bool judged = false;
    for (int attempt = 0; attempt < 20 && !judged; ++attempt) {
        t->sampleTick = GetTickCount();
        t->sampleBytes = t->downloadedBytes;
        const uint32_t sampled = t->sampleTick;
        t->downloadedBytes += 1000;
        const TickBracket soon = timedTick(m);
        if (soon.after - sampled >= 250) continue;
        judged = true;
        EXPECT_EQ(t->speed.load(), 0);
        EXPECT_EQ(t->sampleTick, sampled);
        EXPECT_EQ(sink.count(WM_APP + 1), 0);
    }
    ASSERT_TRUE(judged) << "no tick came within 250 ms of its sample";

    // Once the sample is 400 ms old: bytes over the elapsed time, whatever it turned out to be.
    t->sampleTick = GetTickCount();
    t->sampleBytes = t->downloadedBytes;
    const uint32_t sampled = t->sampleTick;
    t->downloadedBytes += 400000;
    waitUntilOlderThan(sampled, 400);
    const TickBracket late = timedTick(m);
    const double slowest = 400000.0 / ((late.after - sampled) / 1000.0);
    const double fastest = 400000.0 / ((late.before - sampled) / 1000.0);
    EXPECT_GE(t->speed.load(), static_cast<int32_t>(slowest) - 1);
    EXPECT_LE(t->speed.load(), static_cast<int32_t>(fastest) + 1);
    EXPECT_GE(t->sampleTick, late.before);
    EXPECT_LE(t->sampleTick, late.after);
    EXPECT_EQ(t->sampleBytes, t->downloadedBytes.load());
    EXPECT_EQ(sink.count(WM_APP + 1), 1);
    EXPECT_EQ(done->speed.load(), 777);

    // Rolled back below the sample: speed 0, still a new sample and an announcement.
    waitUntilOlderThan(t->sampleTick, 250);
    t->downloadedBytes = 10;
    m.tick();
    EXPECT_EQ(t->speed.load(), 0);
    EXPECT_EQ(t->sampleBytes, 10);
    EXPECT_EQ(sink.count(WM_APP + 1), 1);
}

TEST_F(Manager, SnapshotCopiesEveryFieldInIdOrder) {
    auto t = put(9072, TaskState::Failed);
    put(9071, TaskState::Downloading);
    t->downloadedBytes = 5;
    t->totalBytes = 10;
    t->speed = 3;
    t->md5Ok = false;
    t->isArchive = true;
    t->retryCount = 4;
    t->setError(L"磁盘写入失败");
    auto snap = m.snapshot();
    ASSERT_EQ(snap.count(9072), 1u);
    const TaskInfo& i = snap[9072];
    EXPECT_EQ(i.appId, 9072);
    EXPECT_EQ(i.name, L"Job 9072");
    EXPECT_EQ(i.state, 3);
    EXPECT_EQ(i.downloadedBytes, 5);
    EXPECT_EQ(i.totalBytes, 10);
    EXPECT_EQ(i.speed, 3);
    EXPECT_FALSE(i.md5Ok);
    EXPECT_TRUE(i.isArchive);
    EXPECT_EQ(i.errorText, L"磁盘写入失败");
    EXPECT_EQ(i.retryCount, 4);
    EXPECT_EQ(std::next(snap.find(9071))->first, 9072);
    TaskInfo blank;
    EXPECT_TRUE(blank.md5Ok);
}

TEST_F(Manager, ASeventhRequestWaitsForAFreeSlot) {
    for (int i = 0; i < kMaxRequestsInFlight; ++i) m.acquireSlot();
    std::atomic<bool> got{false};
    std::thread seventh([&] {
        m.acquireSlot();
        got = true;
    });
    Sleep(300);
    EXPECT_FALSE(got.load());
    m.releaseSlot();
    EXPECT_TRUE(dltest::waitFor([&] { return got.load(); }, 5000));
    seventh.join();
    for (int i = 0; i < kMaxRequestsInFlight; ++i) m.releaseSlot();
    std::lock_guard<std::mutex> lock(m.slotLock);
    EXPECT_EQ(m.activeRequests, 0);
}

}  // namespace
