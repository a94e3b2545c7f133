// The installer runner with real installers started through the shell: every outcome, from
// the exit code and the uninstall entries before and after.
#include <gtest/gtest.h>

#include "install_fixtures.h"
#include "install_test_util.h"
#include "scoped.h"

namespace {

const unsigned kPauseMs = 500;  // stands in for the 2-second pause between re-checks

class InstallerRunner : public testing::Test {
protected:
    void SetUp() override { setInstallRecheckPause(kPauseMs); }
};

TEST_F(InstallerRunner, CancelledInstallerEndsInstallFailedAfterTwoMoreLooks) {
    RunOutcome r = runInstall(packagePath(L"cancel.exe"), L"KV Never Installed");
    EXPECT_TRUE(r.notified);
    EXPECT_EQ(r.state, TaskState::InstallFailed);
    EXPECT_GE(r.elapsedMs, 2 * kPauseMs);
}

TEST_F(InstallerRunner, PortableProgramEndsCompletedAfterNineMoreLooks) {
    RunOutcome r = runInstall(packagePath(L"portable.exe"), L"KV Portable Tool");
    EXPECT_TRUE(r.notified);
    EXPECT_EQ(r.state, TaskState::Completed);
    EXPECT_GE(r.elapsedMs, 9 * kPauseMs);
}

TEST_F(InstallerRunner, SoftwareAlreadyPresentEndsInstalledWhateverTheInstallerDoes) {
    TestEntry present(HKEY_CURRENT_USER, L"KVTest{AlreadyHere}");
    ASSERT_TRUE(present.create(L"KV Already Here 3.1 (x64)"));
    for (const wchar_t* package : {L"cancel.exe", L"portable.exe"}) {
        RunOutcome r = runInstall(packagePath(package), L"KV Already Here");
        EXPECT_TRUE(r.notified) << testing::PrintToString(std::wstring(package));
        EXPECT_EQ(r.state, TaskState::Installed) << testing::PrintToString(std::wstring(package));
    }
}

TEST_F(InstallerRunner, UpdateOfAnExistingEntryIsNotANewInstall) {
    TestEntry entry(HKEY_CURRENT_USER, L"KVTestUpdate");
    ASSERT_TRUE(entry.create(L"KV Old Tool 1.0"));
    RunOutcome r = runInstall(packagePath(L"update.exe"), L"KV Updated Tool");
    EXPECT_TRUE(r.notified);
    EXPECT_EQ(r.state, TaskState::Completed);
    EXPECT_EQ(entry.value(L"DisplayName"), L"KV Updated Tool") << "the update did run";
    EXPECT_EQ(entry.value(L"DisplayVersion"), L"2.0");
}

struct HandoffCase {
    const wchar_t* package;
    const wchar_t* key;
    const wchar_t* appName;
    TaskState expected;
    const char* what;
};

TEST_F(InstallerRunner, InstallerThatHandsOverIsJudgedByWhatItsSecondProcessRegisters) {
    const HandoffCase cases[] = {
        {L"handoff-late.exe", L"KVTestHandoffLate", L"KV Handoff Late", TaskState::Installed,
         "exit 0, registered 1.5 s later"},
        {L"handoff-fail-quick.exe", L"KVTestHandoffQuick", L"KV Handoff Quick", TaskState::Installed,
         "exit 3, registered at once: a new entry wins over the exit code"},
        {L"handoff-fail-late.exe", L"KVTestHandoffFail", L"KV Handoff Fail", TaskState::Installed,
         "exit 1, registered 2.5 s later, while the second process still runs"},
    };
    for (const HandoffCase& c : cases) {
        TestEntry entry(HKEY_CURRENT_USER, c.key);
        RunOutcome r = runInstall(packagePath(c.package), c.appName);
        EXPECT_TRUE(r.notified) << c.what;
        EXPECT_EQ(r.state, c.expected) << c.what;
        EXPECT_TRUE(entry.waitUntilExists(15000)) << c.what << ": the second process registers in the end";
        Sleep(200);  // let it finish writing its values before the entry is removed
    }
}

TEST_F(InstallerRunner, FileThatCannotBeLaunchedEndsInstallFailedSayingWhy) {
    RunOutcome r = runInstall(packagePath(L"no-such-installer.exe"), L"KV Missing");
    EXPECT_TRUE(r.notified);
    EXPECT_EQ(r.state, TaskState::InstallFailed);
    EXPECT_EQ(r.error, L"安装文件已不存在，请重新下载");
}

// A file type of this user whose "open" is sent over DDE to an already running program.
class DdeFileType : public TestFileType {
public:
    DdeFileType()
        : TestFileType(L".kvddetest", L"KVTest.DdeFile",
                       {{L"shell\\open\\command", L"\"" + packagePath(L"kv_dde_server.exe") + L"\" \"%1\""},
                        {L"shell\\open\\ddeexec", L"[open(\"%1\")]"},
                        {L"shell\\open\\ddeexec\\application", L"KVTestDde"},
                        {L"shell\\open\\ddeexec\\topic", L"System"}}) {}
};

TEST_F(InstallerRunner, FileHandedToARunningProgramLeavesNoProcessAndEndsInstalled) {
    DdeFileType type;
    ASSERT_TRUE(type.ok());
    wchar_t temp[MAX_PATH];
    std::wstring file = std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + L"kv-install-test.kvddetest";
    ASSERT_TRUE(ScopedFile(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)));

    ScopedHandle ready(CreateEventW(nullptr, TRUE, FALSE, L"KVTestDdeReady"));
    std::wstring cmd = L"\"" + packagePath(L"kv_dde_server.exe") + L"\" KVTestDdeReady";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    ScopedHandle server(pi.hProcess), serverThread(pi.hThread);
    ASSERT_EQ(WaitForSingleObject(ready.get(), 10000), WAIT_OBJECT_0);

    RunOutcome r = runInstall(file, L"KV Dde Document");
    EXPECT_TRUE(r.notified);
    EXPECT_EQ(r.state, TaskState::Installed);
    ASSERT_EQ(WaitForSingleObject(server.get(), 15000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(server.get(), &code);
    EXPECT_EQ(code, 0u) << "the running program received the open command";
    DeleteFileW(file.c_str());
}

TEST_F(InstallerRunner, NoWindowToNotifyIsFine) {
    auto task = std::make_shared<Task>();
    task->name = L"KV Portable Quiet";
    task->setPaths(packagePath(L"cancel.exe"));
    task->state = TaskState::Installing;
    ASSERT_TRUE(startInstallerRunner(task, nullptr));
    for (int i = 0; i < 300 && task->state == TaskState::Installing; i++) Sleep(100);
    EXPECT_EQ(task->state.load(), TaskState::InstallFailed);
}

}  // namespace
