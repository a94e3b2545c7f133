// The install queue with real installers through the shell: one installer at a time, in the
// order accepted, each judged by its own registry change; the queue moves on past launch
// failures and stops starting installers once the window is gone; the download manager
// keeps a waiting job in Installing whatever the user interface does meanwhile.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "download/manager.h"
#include "download/support.h"
#include "install_fixtures.h"
#include "install_test_util.h"

namespace {

const unsigned kPauseMs = 500;  // stands in for the 2-second pause between re-checks

// The log must show exactly these installers, each started after the one before ended and
// after at least `gapMs` more (its re-checks).
void expectOneAfterAnother(const std::vector<LogEvent>& log, const std::vector<std::string>& keys,
                           const std::vector<unsigned>& gapMs) {
    ASSERT_EQ(log.size(), keys.size() * 2) << describe(log);
    for (size_t i = 0; i < keys.size(); i++) {
        const LogEvent& start = log[2 * i];
        const LogEvent& end = log[2 * i + 1];
        EXPECT_EQ(start.key, keys[i]) << describe(log);
        EXPECT_EQ(start.event, "start") << describe(log);
        EXPECT_EQ(end.key, keys[i]) << describe(log);
        EXPECT_EQ(end.event, "end") << describe(log);
        if (i > 0) {
            EXPECT_GE(start.tick, log[2 * i - 1].tick + gapMs[i - 1]) << describe(log);
        }
    }
}

std::shared_ptr<Task> installingTask(int32_t appId, const std::wstring& name, const std::wstring& file) {
    auto task = std::make_shared<Task>();
    task->appId = appId;
    task->name = name;
    task->setPaths(file);
    task->state = TaskState::Installing;
    return task;
}

class InstallQueue : public testing::Test {
protected:
    void SetUp() override {
        setInstallRecheckPause(kPauseMs);
        DeleteFileW(tempFile(L"kv-install-order.log").c_str());
        window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    }
    void TearDown() override {
        if (window) DestroyWindow(window);
        DeleteFileW(tempFile(L"kv-install-order.log").c_str());
    }

    std::shared_ptr<Task> accept(const std::wstring& file, const std::wstring& name) {
        auto task = installingTask(static_cast<int32_t>(tasks.size()) + 1, name, file);
        EXPECT_TRUE(startInstallerRunner(task, window));
        tasks.push_back(task);
        return task;
    }

    // Pumps this thread's messages until every accepted task has left Installing and its
    // WM_APP+1 (posted right after the state is set) has arrived; the number that arrived.
    int waitForAll(DWORD timeoutMs = 120000) {
        int notified = 0;
        DWORD start = GetTickCount();
        for (;;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.hwnd == window && msg.message == WM_APP + 1) notified++;
                else DispatchMessageW(&msg);
            }
            EnumWindows(closeErrorBox, 0);
            bool done = notified >= static_cast<int>(tasks.size());
            for (auto& t : tasks) done = done && t->state.load() != TaskState::Installing;
            if (done || GetTickCount() - start > timeoutMs) return notified;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        }
    }

    HWND window = nullptr;
    std::vector<std::shared_ptr<Task>> tasks;
};

TEST_F(InstallQueue, TwoAcceptedBackToBackRunOneAfterTheOtherEachJudgedByItsOwnChange) {
    TestEntry a(HKEY_CURRENT_USER, L"KVTestQueueA");
    auto first = accept(packagePath(L"slow-a.exe"), L"KV Queue A");
    auto second = accept(packagePath(L"slow-fail.exe"), L"KV Queue Fail");
    EXPECT_EQ(second->state.load(), TaskState::Installing) << "waiting counts as installing";

    EXPECT_EQ(waitForAll(), 2);
    EXPECT_EQ(first->state.load(), TaskState::Installed);
    EXPECT_EQ(second->state.load(), TaskState::InstallFailed) << "the entry of the first is not the second's";
    EXPECT_TRUE(a.exists());
    std::vector<LogEvent> log = readOrderLog();
    expectOneAfterAnother(log, {"KVTestQueueA", "KVTestQueueFail"}, {0});
    std::string times;
    for (const LogEvent& e : log) times += " " + e.key + " " + e.event + " +" + std::to_string(e.tick - log[0].tick) + " ms";
    std::printf("queue:%s\n", times.c_str());
}

TEST_F(InstallQueue, CancelledInstallerQueuedBehindOneThatRegistersIsNotReportedInstalled) {
    setInstallRecheckPause(1000);  // looks long enough to see the other's entry if both ran at once
    TestEntry entry(HKEY_CURRENT_USER, L"KVTestRegister");
    auto registers = accept(packagePath(L"register.exe"), L"星舟测试 Demo");
    auto cancelled = accept(packagePath(L"cancel.exe"), L"KV Never Installed");
    EXPECT_EQ(waitForAll(), 2);
    EXPECT_EQ(registers->state.load(), TaskState::Installed);
    EXPECT_EQ(cancelled->state.load(), TaskState::InstallFailed);
}

TEST_F(InstallQueue, AQueueOfThreeKeepsItsOrderAndWaitsForTheReChecks) {
    TestEntry a(HKEY_CURRENT_USER, L"KVTestQueueA"), b(HKEY_CURRENT_USER, L"KVTestQueueB");
    auto fail = accept(packagePath(L"slow-fail.exe"), L"KV Queue Fail");
    auto second = accept(packagePath(L"slow-b.exe"), L"KV Queue B");
    auto third = accept(packagePath(L"slow-a.exe"), L"KV Queue A");
    EXPECT_EQ(waitForAll(), 3);
    EXPECT_EQ(fail->state.load(), TaskState::InstallFailed);
    EXPECT_EQ(second->state.load(), TaskState::Installed);
    EXPECT_EQ(third->state.load(), TaskState::Installed);
    // A non-zero exit gets 2 more looks before the next installer may start.
    expectOneAfterAnother(readOrderLog(), {"KVTestQueueFail", "KVTestQueueB", "KVTestQueueA"}, {2 * kPauseMs, 0});
}

TEST_F(InstallQueue, AJobThatCannotLaunchEndsInstallFailedSayingWhyAndTheNextOneRuns) {
    const std::wstring vanished = tempFile(L"kv-queue-vanished.exe");
    const std::wstring notProgram = tempFile(L"kv-queue-not-a-program.exe");
    dltest::writeFile(notProgram, "this is text, not a program\r\n");
    const struct {
        const wchar_t* what;
        std::wstring file;
        const wchar_t* error;
    } cases[] = {
        {L"file removed while it waited", vanished, L"安装文件已不存在，请重新下载"},
        {L"file the shell cannot run", notProgram, L"安装程序未能启动，可点击右侧按钮重试"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.what)));
        tasks.clear();
        TestEntry a(HKEY_CURRENT_USER, L"KVTestQueueA"), registered(HKEY_CURRENT_USER, L"KVTestRegister");
        if (c.file == vanished) {
            ASSERT_TRUE(CopyFileW(packagePath(L"register.exe").c_str(), vanished.c_str(), FALSE));
        }
        auto running = accept(packagePath(L"slow-a.exe"), L"KV Queue A");
        auto broken = accept(c.file, L"KV Broken Package");
        EXPECT_TRUE(broken->installWaiting.load()) << "it waits behind the one running";
        auto after = accept(packagePath(L"register.exe"), L"星舟测试 Demo");
        if (c.file == vanished) {
            ASSERT_TRUE(DeleteFileW(vanished.c_str()));
        }
        EXPECT_EQ(waitForAll(), 3);
        EXPECT_EQ(running->state.load(), TaskState::Installed);
        EXPECT_EQ(broken->state.load(), TaskState::InstallFailed);
        EXPECT_EQ(broken->getError(), c.error);
        EXPECT_FALSE(broken->installStarted.load());
        EXPECT_TRUE(running->installStarted.load());
        EXPECT_FALSE(broken->installWaiting.load());
        EXPECT_EQ(after->state.load(), TaskState::Installed);
        EXPECT_TRUE(registered.exists());
    }
    DeleteFileW(notProgram.c_str());
}

TEST_F(InstallQueue, NoInstallerStartsAfterTheWindowIsGone) {
    TestEntry a(HKEY_CURRENT_USER, L"KVTestQueueA"), never(HKEY_CURRENT_USER, L"KVTestRegister");
    auto running = accept(packagePath(L"slow-a.exe"), L"KV Queue A");
    auto waiting = accept(packagePath(L"register.exe"), L"星舟测试 Demo");
    ASSERT_TRUE(dltest::waitFor([] { return !readOrderLog().empty(); }, 30000)) << "the first installer started";
    DestroyWindow(window);
    window = nullptr;
    ASSERT_TRUE(dltest::waitFor([&] { return running->state.load() != TaskState::Installing; }, 60000));
    EXPECT_EQ(running->state.load(), TaskState::Installed) << "the installer already running finishes";
    ASSERT_TRUE(dltest::waitFor([&] { return waiting->state.load() != TaskState::Installing; }, 10000));
    EXPECT_EQ(waiting->state.load(), TaskState::Completed);
    Sleep(1500);
    EXPECT_FALSE(never.exists()) << "the waiting installer never ran";
    EXPECT_EQ(readOrderLog().size(), 2u);
}

// Through the download manager, as the window drives it: a job waiting for its turn shows
// Installing in every snapshot and cannot be cancelled, cleared or installed twice.
TEST(InstallQueueManager, AWaitingJobSurvivesARepaintStormAndEndsWithItsOwnOutcome) {
    setInstallRecheckPause(kPauseMs);
    DeleteFileW(tempFile(L"kv-install-order.log").c_str());
    TestEntry a(HKEY_CURRENT_USER, L"KVTestQueueA");
    DownloadManager& m = DownloadManager::instance();
    dltest::MessageWindow sink;
    m.window = sink.hwnd();
    const int32_t runningId = 7401, waitingId = 7402;
    auto put = [&](int32_t id, const std::wstring& name, const std::wstring& file) {
        auto t = std::make_shared<Task>();
        t->appId = id;
        t->name = name;
        t->setPaths(file);
        t->state = TaskState::Completed;
        std::lock_guard<std::mutex> lock(m.tasksLock);
        m.tasks[id] = t;
        return t;
    };
    auto running = put(runningId, L"KV Queue A", packagePath(L"slow-a.exe"));
    auto waiting = put(waitingId, L"KV Queue Fail", packagePath(L"slow-fail.exe"));

    ASSERT_TRUE(m.install(runningId));
    ASSERT_TRUE(m.install(waitingId));
    int storms = 0, notWaiting = 0;
    DWORD start = GetTickCount();
    while (running->state.load() == TaskState::Installing && GetTickCount() - start < 60000) {
        auto snap = m.snapshot();
        if (snap.count(waitingId) == 0 || snap[waitingId].state != static_cast<int32_t>(TaskState::Installing))
            notWaiting++;
        m.cancel(waitingId);
        m.clearFinished();
        if (m.install(waitingId)) notWaiting++;
        m.tick();
        sink.drain();
        storms++;
        Sleep(2);
    }
    EXPECT_EQ(notWaiting, 0) << "of " << storms << " rounds";
    EXPECT_GT(storms, 10);
    std::printf("queue: %d rounds of snapshot, cancel, clear, install and tick while waiting\n", storms);
    EXPECT_EQ(running->state.load(), TaskState::Installed);
    ASSERT_TRUE(dltest::waitFor([&] { return waiting->state.load() != TaskState::Installing; }, 60000));
    EXPECT_EQ(waiting->state.load(), TaskState::InstallFailed);
    EXPECT_FALSE(waiting->cancelRequested.load());
    EXPECT_EQ(m.snapshot().count(waitingId), 1u) << "still listed after all the clears";
    expectOneAfterAnother(readOrderLog(), {"KVTestQueueA", "KVTestQueueFail"}, {0});

    m.window = nullptr;
    std::lock_guard<std::mutex> lock(m.tasksLock);
    m.tasks.erase(runningId);
    m.tasks.erase(waitingId);
}

}  // namespace
