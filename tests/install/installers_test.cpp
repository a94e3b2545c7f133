// The registering test installer is a real per-user install: entry values, installed files,
// and an uninstall command that removes both.
#include <gtest/gtest.h>

#include "install_test_util.h"

namespace {

DWORD runAndWait(std::wstring commandLine, DWORD timeoutMs = 30000) {
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 0xFFFFFFFF;
    DWORD code = 0xFFFFFFFE;
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

TEST(TestInstaller, RegistersAPerUserEntryWithAWorkingUninstaller) {
    TestEntry entry(HKEY_CURRENT_USER, L"KVTestRegister");
    std::wstring dir = installDirOf(L"KVTestRegister");
    ASSERT_EQ(runAndWait(L"\"" + packagePath(L"register.exe") + L"\""), 0u);

    ASSERT_TRUE(entry.exists());
    EXPECT_EQ(entry.value(L"DisplayName"), L"星舟测试 Demo");
    EXPECT_EQ(entry.value(L"DisplayVersion"), L"1.2.3");
    EXPECT_EQ(entry.value(L"Publisher"), L"Kelvo 测试");
    EXPECT_EQ(entry.value(L"InstallLocation"), dir);
    std::wstring uninstall = entry.value(L"UninstallString");
    EXPECT_EQ(uninstall, L"\"" + dir + L"\\uninstall.exe\" /uninstall");
    EXPECT_TRUE(fileExists(dir + L"\\readme.txt"));
    EXPECT_TRUE(fileExists(dir + L"\\uninstall.exe"));

    ASSERT_EQ(runAndWait(uninstall), 0u);
    EXPECT_FALSE(entry.exists()) << "the entry is gone when the uninstaller exits";
    EXPECT_FALSE(fileExists(dir + L"\\readme.txt"));
    for (int i = 0; i < 100 && fileExists(dir); i++) Sleep(100);
    EXPECT_FALSE(fileExists(dir)) << "the uninstaller and its folder are removed after it exits";
}

TEST(TestInstaller, RunningItAgainUpdatesTheSameEntry) {
    TestEntry entry(HKEY_CURRENT_USER, L"KVTestRegister");
    ASSERT_EQ(runAndWait(L"\"" + packagePath(L"register.exe") + L"\""), 0u);
    InstalledSnapshot before = takeInstalledSnapshot();
    ASSERT_EQ(runAndWait(L"\"" + packagePath(L"register.exe") + L"\""), 0u);
    EXPECT_FALSE(hasNewEntry(before));
    EXPECT_TRUE(entry.exists());
}

TEST(TestInstaller, UpdateWithoutAnInstalledEntryFails) {
    TestEntry entry(HKEY_CURRENT_USER, L"KVTestUpdate");
    EXPECT_EQ(runAndWait(L"\"" + packagePath(L"update.exe") + L"\""), 1u);
    EXPECT_FALSE(entry.exists());
}

}  // namespace
