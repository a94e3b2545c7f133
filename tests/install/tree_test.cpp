// Installers followed as a whole process tree: a hand-over is judged when its second process
// registers or, failing that, when the last process of the tree has ended; an installer
// that starts the installed program is judged without waiting for that program; where no
// tree can be followed the runner judges by the first process as before; and the queue
// still runs one tree at a time.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "download/support.h"
#include "install/process_tree.h"
#include "install_fixtures.h"
#include "install_test_util.h"
#include "scoped.h"

namespace {

const unsigned kPauseMs = 500;  // stands in for the 2-second pause between looks

std::string narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out.push_back(c < 128 ? static_cast<char>(c) : '?');
    return out;
}

// The program a launching test installer started: still running while its event exists;
// told to quit, and waited for (bounded), when the test ends.
class LaunchedProgram {
public:
    explicit LaunchedProgram(const std::wstring& key) : event_(L"KVTestRunning-" + key) {}
    ~LaunchedProgram() { quit(); }
    LaunchedProgram(const LaunchedProgram&) = delete;
    LaunchedProgram& operator=(const LaunchedProgram&) = delete;

    bool running() const { return static_cast<bool>(ScopedHandle(OpenEventW(SYNCHRONIZE, FALSE, event_.c_str()))); }

    bool waitUntilRunning(DWORD timeoutMs) const {
        return dltest::waitFor([this] { return running(); }, static_cast<int>(timeoutMs));
    }

    bool quit() const {
        ScopedHandle quit(OpenEventW(EVENT_MODIFY_STATE, FALSE, event_.c_str()));
        if (quit) SetEvent(quit.get());
        quit.reset();
        return dltest::waitFor([this] { return !running(); }, 10000);
    }

private:
    std::wstring event_;
};

class InstallerTree : public testing::Test {
protected:
    void SetUp() override { setInstallRecheckPause(kPauseMs); }
    void TearDown() override {
        setInstallRecheckPause(kPauseMs);
        setInstallJobRefused(false);
    }
};

// runInstaller called directly on a thread of its own, with a `started` that counts.
struct DirectRun {
    TaskState state = TaskState::Installing;
    int startedCalls = 0;
    bool startedOnRunnerThread = false;
    DWORD startedAfterMs = 0;
    DWORD elapsedMs = 0;
};

DirectRun runDirect(const std::wstring& file, const std::wstring& appName) {
    Task task;
    task.name = appName;
    task.setPaths(file);
    task.state = TaskState::Installing;
    DirectRun out;
    std::atomic<bool> done{false};
    DWORD start = GetTickCount();
    std::thread runner([&] {
        DWORD self = GetCurrentThreadId();
        out.state = runInstaller(task, [&] {
            out.startedCalls++;
            out.startedOnRunnerThread = GetCurrentThreadId() == self;
            out.startedAfterMs = GetTickCount() - start;
        });
        out.elapsedMs = GetTickCount() - start;
        done = true;
    });
    // The shell's error box for a file it cannot run waits for a press on the runner's thread.
    for (int i = 0; i < 1200 && !done; i++) {
        EnumWindows(closeErrorBox, 0);
        Sleep(50);
    }
    runner.join();
    return out;
}

TEST(InstallerStart, ProgramsStartDirectlyEverythingElseThroughTheShell) {
    const struct {
        const wchar_t* file;
        bool program;
    } cases[] = {
        {L"C:\\Downloads\\setup.exe", true},  {L"C:\\Downloads\\SETUP.EXE", true},
        {L"C:\\Downloads\\tool.msi", false},  {L"C:\\Downloads\\setup.exe.txt", false},
        {L"C:\\Downloads\\exe", false},       {L"C:\\Downloads\\a.bat", false},
    };
    for (const auto& c : cases) EXPECT_EQ(startsAsProgram(c.file), c.program) << testing::PrintToString(std::wstring(c.file));
}

struct TreeCase {
    const wchar_t* package;
    const wchar_t* key;
    const wchar_t* appName;
    unsigned pauseMs;
    TaskState expected;
    DWORD notBeforeMs;  // the tree's own time, which the judgement has to wait for
    bool registers;
    const char* what;
};

TEST_F(InstallerTree, HandOverIsJudgedWhenTheSecondProcessRegistersOrTheTreeEnds) {
    const TreeCase cases[] = {
        {L"handoff-30s.exe", L"KVTestHandoff30", L"KV Handoff Thirty", 2000, TaskState::Installed, 30000, true,
         "exit 0, the second process registers after 30 s, with the real 2-second pause"},
        {L"handoff-cancel.exe", L"KVTestHandoffCancel", L"KV Handoff Cancel", kPauseMs, TaskState::InstallFailed,
         4000 + 2 * kPauseMs, false, "exit 1, the second process is cancelled after 4 s: 2 looks after the tree ends"},
        {L"portable.exe", L"KVTestNothing", L"KV Portable Tool", kPauseMs, TaskState::Completed, 9 * kPauseMs, false,
         "one process, exit 0, nothing registered: 9 looks after it ends"},
        {L"register.exe", L"KVTestRegister", L"星舟测试 Demo", kPauseMs, TaskState::Installed, 0, true,
         "one process that registers"},
    };
    for (const TreeCase& c : cases) {
        SCOPED_TRACE(c.what);
        TestEntry entry(HKEY_CURRENT_USER, c.key);
        setInstallRecheckPause(c.pauseMs);
        RunOutcome r = runInstall(packagePath(c.package), c.appName, 90000);
        std::printf("tree: %s judged %d after %lu ms\n", narrow(c.package).c_str(), static_cast<int>(r.state),
                    static_cast<unsigned long>(r.elapsedMs));
        EXPECT_TRUE(r.notified);
        EXPECT_EQ(r.state, c.expected);
        if (c.notBeforeMs) {
            EXPECT_GE(r.elapsedMs, c.notBeforeMs);
        }
        if (c.registers) {
            EXPECT_TRUE(entry.waitUntilExists(40000));
            Sleep(200);  // let it finish writing its values before the entry is removed
        } else {
            EXPECT_FALSE(entry.exists());
        }
    }
}

TEST_F(InstallerTree, InstallerThatStartsTheInstalledProgramIsJudgedWhileThatProgramRuns) {
    TestEntry entry(HKEY_CURRENT_USER, L"KVTestLaunch");
    LaunchedProgram program(L"KVTestLaunch");
    RunOutcome r = runInstall(packagePath(L"launch.exe"), L"KV Launch Tool", 30000);
    std::printf("tree: launch.exe judged %d after %lu ms\n", static_cast<int>(r.state),
                static_cast<unsigned long>(r.elapsedMs));
    EXPECT_TRUE(r.notified);
    EXPECT_EQ(r.state, TaskState::Installed);
    EXPECT_TRUE(entry.exists());
    EXPECT_TRUE(program.waitUntilRunning(10000)) << "the installed program was started";
    EXPECT_TRUE(program.running()) << "and still runs after the judgement: closing the job ended nothing";
    EXPECT_TRUE(program.quit());
}

TEST_F(InstallerTree, StartedIsCalledOnceOnTheRunnerThreadAsSoonAsTheInstallerRuns) {
    TestEntry entry(HKEY_CURRENT_USER, L"KVTestHandoffFail");
    DirectRun r = runDirect(packagePath(L"handoff-fail-late.exe"), L"KV Handoff Fail");
    EXPECT_EQ(r.state, TaskState::Installed);
    EXPECT_EQ(r.startedCalls, 1);
    EXPECT_TRUE(r.startedOnRunnerThread);
    EXPECT_GE(r.elapsedMs, 2500u) << "judged when the second process registered";
    // Called at the launch: the judgement came at least the hand-over's 2.5 s later.
    EXPECT_LT(r.startedAfterMs + 1500, r.elapsedMs);
    Sleep(200);
}

TEST_F(InstallerTree, StartedIsNeverCalledWhenNothingCouldBeLaunched) {
    const std::wstring notProgram = tempFile(L"kv-tree-not-a-program.exe");
    dltest::writeFile(notProgram, "this is text, not a program\r\n");
    const struct {
        const char* what;
        std::wstring file;
    } cases[] = {
        {"file gone", packagePath(L"no-such-installer.exe")},
        {"file the shell cannot run", notProgram},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DirectRun r = runDirect(c.file, L"KV Missing");
        EXPECT_EQ(r.state, TaskState::Completed);
        EXPECT_EQ(r.startedCalls, 0);
    }
    DeleteFileW(notProgram.c_str());
}

// A file type of this user whose "open" runs a hand-over installer with the file, as .msi
// files are run by msiexec.
class InstallerFileType : public TestFileType {
public:
    explicit InstallerFileType(const std::wstring& installer)
        : TestFileType(L".kvtreetest", L"KVTest.TreeFile", {{L"shell\\open\\command", L"\"" + installer + L"\" \"%1\""}}) {}
};

TEST_F(InstallerTree, DocumentOpenedThroughTheShellIsFollowedWithTheProcessesItStarts) {
    InstallerFileType type(packagePath(L"handoff-opened.exe"));
    ASSERT_TRUE(type.ok());
    const std::wstring document = tempFile(L"kv-tree-package.kvtreetest");
    dltest::writeFile(document, "package\r\n");
    const struct {
        bool refused;
        TaskState expected;
        const char* what;
    } cases[] = {
        {false, TaskState::Installed, "in the job: registered 9 s after the start, 8 s after the first process ended"},
        {true, TaskState::Completed, "the job refused: 9 looks after the first process ended, before the entry"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestEntry entry(HKEY_CURRENT_USER, L"KVTestHandoffOpened");
        setInstallJobRefused(c.refused);
        DirectRun r = runDirect(document, L"KV Handoff Opened");
        std::printf("tree: a document opened by handoff-opened.exe%s judged %d after %lu ms\n",
                    c.refused ? " without a job" : "", static_cast<int>(r.state),
                    static_cast<unsigned long>(r.elapsedMs));
        EXPECT_EQ(r.state, c.expected);
        EXPECT_EQ(r.startedCalls, 1);
        EXPECT_TRUE(entry.waitUntilExists(20000)) << "the installer did run";
        Sleep(200);
    }
    DeleteFileW(document.c_str());
}

// A refused job stands for every launch that cannot be put into one, a launch that needs
// elevation among them: the shell starts the file and its first process decides, as before.
TEST_F(InstallerTree, WhereNoJobCanHoldTheInstallerItsFirstProcessIsWaitedFor) {
    setInstallJobRefused(true);
    const TreeCase cases[] = {
        {L"handoff-fail-late.exe", L"KVTestHandoffFail", L"KV Handoff Fail", kPauseMs, TaskState::InstallFailed,
         2 * kPauseMs, true, "exit 1, registered after 2.5 s: later than the 2 looks"},
        {L"register.exe", L"KVTestRegister", L"星舟测试 Demo", kPauseMs, TaskState::Installed, 0, true,
         "one process that registers"},
    };
    for (const TreeCase& c : cases) {
        SCOPED_TRACE(c.what);
        TestEntry entry(HKEY_CURRENT_USER, c.key);
        DirectRun r = runDirect(packagePath(c.package), c.appName);
        std::printf("tree: %s without a job judged %d after %lu ms\n", narrow(c.package).c_str(),
                    static_cast<int>(r.state), static_cast<unsigned long>(r.elapsedMs));
        EXPECT_EQ(r.state, c.expected);
        EXPECT_EQ(r.startedCalls, 1);
        if (c.notBeforeMs) {
            EXPECT_GE(r.elapsedMs, c.notBeforeMs);
        }
        EXPECT_TRUE(entry.waitUntilExists(20000)) << "the installer did run";
        Sleep(200);
    }
}

class InstallQueueOfTrees : public testing::Test {
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
        auto task = std::make_shared<Task>();
        task->appId = static_cast<int32_t>(tasks.size()) + 1;
        task->name = name;
        task->setPaths(file);
        task->state = TaskState::Installing;
        EXPECT_TRUE(startInstallerRunner(task, window));
        tasks.push_back(task);
        return task;
    }

    // Pumps this thread's messages until every accepted task is judged and notified.
    bool waitForAll(DWORD timeoutMs = 60000) {
        int notified = 0;
        DWORD start = GetTickCount();
        for (;;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.hwnd == window && msg.message == WM_APP + 1) notified++;
                else DispatchMessageW(&msg);
            }
            bool done = notified >= static_cast<int>(tasks.size());
            for (auto& t : tasks) done = done && t->state.load() != TaskState::Installing;
            if (done) return true;
            if (GetTickCount() - start > timeoutMs) return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        }
    }

    HWND window = nullptr;
    std::vector<std::shared_ptr<Task>> tasks;
};

TEST_F(InstallQueueOfTrees, NextInstallerStartsOnlyAfterTheWholeTreeOfTheOneBefore) {
    TestEntry cancelled(HKEY_CURRENT_USER, L"KVTestHandoffCancel"), b(HKEY_CURRENT_USER, L"KVTestQueueB");
    auto first = accept(packagePath(L"handoff-cancel.exe"), L"KV Handoff Cancel");
    auto second = accept(packagePath(L"slow-b.exe"), L"KV Queue B");
    ASSERT_TRUE(waitForAll());
    EXPECT_EQ(first->state.load(), TaskState::InstallFailed);
    EXPECT_EQ(second->state.load(), TaskState::Installed);
    std::vector<LogEvent> log = readOrderLog();
    ASSERT_EQ(log.size(), 4u) << describe(log);
    EXPECT_EQ(log[0].key + " " + log[0].event, "KVTestHandoffCancel start") << describe(log);
    EXPECT_EQ(log[1].key + " " + log[1].event, "KVTestHandoffCancel end") << describe(log);
    EXPECT_EQ(log[2].key + " " + log[2].event, "KVTestQueueB start") << describe(log);
    EXPECT_GE(log[2].tick, log[1].tick + 2 * kPauseMs) << "the 2 looks come after the tree, before the next: "
                                                       << describe(log);
}

TEST_F(InstallQueueOfTrees, NextInstallerWaitsWhileTheOneBeforeStillShowsItsLastPage) {
    TestEntry finish(HKEY_CURRENT_USER, L"KVTestQueueFinish"), b(HKEY_CURRENT_USER, L"KVTestQueueB");
    auto first = accept(packagePath(L"slow-finish-page.exe"), L"KV Queue Finish");
    auto second = accept(packagePath(L"slow-b.exe"), L"KV Queue B");
    // The card may show the first installed while its last page is still open.
    ASSERT_TRUE(dltest::waitFor([&] { return first->state.load() == TaskState::Installed; }, 30000));
    std::vector<LogEvent> early = readOrderLog();
    ASSERT_TRUE(waitForAll());
    EXPECT_EQ(first->state.load(), TaskState::Installed);
    EXPECT_EQ(second->state.load(), TaskState::Installed);
    ASSERT_TRUE(dltest::waitFor([] { return readOrderLog().size() >= 4; }, 10000)) << describe(readOrderLog());
    std::vector<LogEvent> log = readOrderLog();
    ASSERT_EQ(log.size(), 4u) << describe(log);
    EXPECT_EQ(log[1].key + " " + log[1].event, "KVTestQueueFinish end") << describe(log);
    EXPECT_EQ(log[2].key + " " + log[2].event, "KVTestQueueB start") << describe(log);
    EXPECT_GE(log[2].tick, log[1].tick) << describe(log);
    std::printf("tree: installed shown with %zu log lines; last page closed +%llu ms, next started +%llu ms\n",
                early.size(), static_cast<unsigned long long>(log[1].tick - log[0].tick),
                static_cast<unsigned long long>(log[2].tick - log[0].tick));
}

TEST_F(InstallQueueOfTrees, AnInstalledProgramStillRunningDoesNotHoldTheQueue) {
    TestEntry launched(HKEY_CURRENT_USER, L"KVTestLaunch"), b(HKEY_CURRENT_USER, L"KVTestQueueB");
    LaunchedProgram program(L"KVTestLaunch");
    auto first = accept(packagePath(L"launch.exe"), L"KV Launch Tool");
    auto second = accept(packagePath(L"slow-b.exe"), L"KV Queue B");
    ASSERT_TRUE(waitForAll());
    EXPECT_EQ(first->state.load(), TaskState::Installed);
    EXPECT_EQ(second->state.load(), TaskState::Installed);
    EXPECT_TRUE(program.running()) << "the next installer ran while the first one's program still runs";
    EXPECT_TRUE(program.quit());
}

}  // namespace
