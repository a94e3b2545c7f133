// Right before an installer starts: it is put into a fresh folder of its own (never run from
// the download folder, where DLL-named files may lie), which goes away after the judgement;
// a file changed since verification is refused; a Windows Installer package waits for an
// installation already in progress.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "download/support.h"
#include "install/msi_wait.h"
#include "install_fixtures.h"
#include "install_test_util.h"

namespace {

std::wstring folderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

bool sameText(const std::wstring& a, const std::wstring& b) { return lstrcmpiW(a.c_str(), b.c_str()) == 0; }

// What the "where" test installer noted: image path, working folder, "dll" or "nodll".
std::vector<std::wstring> readWhere() {
    std::string bytes = dltest::readFile(tempFile(L"kv-install-where.txt"));
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// A download folder holding the "where" installer and a planted DLL-named file.
class InstallerStart : public testing::Test {
protected:
    void SetUp() override {
        setInstallRecheckPause(300);
        DeleteFileW(tempFile(L"kv-install-where.txt").c_str());
        CreateDirectoryW(downloads.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(packagePath(L"where.exe").c_str(), installer.c_str(), FALSE));
        dltest::writeFile(downloads + L"\\version.dll", "not a library\r\n");
    }
    void TearDown() override {
        DeleteFileW(installer.c_str());
        DeleteFileW((downloads + L"\\version.dll").c_str());
        RemoveDirectoryW(downloads.c_str());
        DeleteFileW(tempFile(L"kv-install-where.txt").c_str());
    }

    const std::wstring downloads = tempFile(L"kv-downloads-planted");
    const std::wstring installer = downloads + L"\\where-setup.exe";
};

// A folder in the temporary folder, its last change `hoursAgo` hours back.
void makeFolderChanged(const std::wstring& path, int hoursAgo) {
    CreateDirectoryW(path.c_str(), nullptr);
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    ScopedFile dir(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t;
    t.LowPart = now.dwLowDateTime;
    t.HighPart = now.dwHighDateTime;
    t.QuadPart -= static_cast<unsigned long long>(hoursAgo) * 36000000000ULL;
    FILETIME then = {t.LowPart, t.HighPart};
    SetFileTime(dir.get(), nullptr, nullptr, &then);
}

TEST_F(InstallerStart, RunsFromAFreshFolderOfItsOwnThatIsRemovedAfterTheJudgement) {
    TestEntry entry(HKEY_CURRENT_USER, L"KVTestWhere");
    // Left by earlier runs: an empty folder unchanged for hours goes, the others stay.
    const std::wstring oldEmpty = tempFile(L"kv-setup-test-old"), recent = tempFile(L"kv-setup-test-recent"),
                       oldFull = tempFile(L"kv-setup-test-full");
    CreateDirectoryW(oldFull.c_str(), nullptr);
    dltest::writeFile(oldFull + L"\\left.txt", "x");
    makeFolderChanged(oldEmpty, 2);
    makeFolderChanged(recent, 0);
    makeFolderChanged(oldFull, 2);
    auto task = taskFor(installer, L"KV Where Tool");
    task->noteVerified(installer);
    RunOutcome r = runTask(task);
    EXPECT_EQ(r.state, TaskState::Installed);
    std::vector<std::wstring> where = readWhere();
    ASSERT_EQ(where.size(), 3u) << "the installer ran and noted where";
    const std::wstring ranFrom = folderOf(where[0]);
    std::printf("start: ran from %ls, working folder %ls, %ls\n", ranFrom.c_str(), where[1].c_str(), where[2].c_str());
    EXPECT_FALSE(sameText(ranFrom, downloads)) << "not from the download folder";
    EXPECT_TRUE(sameText(folderOf(ranFrom), folderOf(tempFile(L"x")))) << "a folder of its own in the temporary folder";
    EXPECT_TRUE(sameText(where[1], ranFrom) || sameText(where[1], ranFrom + L"\\")) << "working folder";
    EXPECT_EQ(where[2], L"nodll") << "the planted file is not beside it";
    EXPECT_FALSE(fileExists(ranFrom)) << "its folder is gone";
    EXPECT_TRUE(fileExists(installer)) << "the downloaded file stays";
    EXPECT_FALSE(fileExists(oldEmpty));
    EXPECT_TRUE(fileExists(recent));
    EXPECT_TRUE(fileExists(oldFull + L"\\left.txt"));
    DeleteFileW((oldFull + L"\\left.txt").c_str());
    RemoveDirectoryW(oldFull.c_str());
    RemoveDirectoryW(recent.c_str());
    RemoveDirectoryW(oldEmpty.c_str());
}

TEST_F(InstallerStart, AFileChangedAfterVerificationIsNotRun) {
    TestEntry entry(HKEY_CURRENT_USER, L"KVTestWhere");
    auto task = taskFor(installer, L"KV Where Tool");
    task->noteVerified(installer);
    std::string bytes = dltest::readFile(installer);
    bytes[bytes.size() / 2] ^= 0x55;
    bytes += "!";
    dltest::writeFile(installer, bytes);
    RunOutcome r = runTask(task);
    EXPECT_TRUE(r.notified);
    EXPECT_EQ(r.state, TaskState::InstallFailed);
    EXPECT_EQ(task->getError(), L"安装包已被改动，已禁止安装");
    EXPECT_FALSE(task->installStarted.load());
    EXPECT_FALSE(fileExists(tempFile(L"kv-install-where.txt"))) << "it never ran";
    EXPECT_FALSE(entry.exists());
}

TEST(WindowsInstallerWait, WaitsWhileAnInstallationIsInProgressBoundedAndGivenUp) {
    EXPECT_TRUE(isWindowsInstallerPackage(L"C:\\d\\Setup.MSI"));
    EXPECT_FALSE(isWindowsInstallerPackage(L"C:\\d\\setup.exe"));
    EXPECT_TRUE(waitForWindowsInstallerIdle(5000, 50, {})) << "nothing in progress: at once";

    ScopedHandle busy(CreateMutexW(nullptr, FALSE, L"Global\\_MSIExecute"));
    ASSERT_TRUE(busy);
    DWORD start = GetTickCount();
    EXPECT_FALSE(waitForWindowsInstallerIdle(400, 50, {}));
    DWORD bounded = GetTickCount() - start;
    int asked = 0;
    start = GetTickCount();
    EXPECT_FALSE(waitForWindowsInstallerIdle(60000, 50, [&] { return ++asked == 3; }));
    DWORD abandoned = GetTickCount() - start;
    std::printf("msi wait: gave up after %lu ms (limit 400), abandoned after %lu ms\n",
                static_cast<unsigned long>(bounded), static_cast<unsigned long>(abandoned));
    EXPECT_EQ(asked, 3);

    HANDLE raw = busy.get();
    std::thread release([raw] {
        Sleep(300);
        CloseHandle(raw);
    });
    busy.release();
    EXPECT_TRUE(waitForWindowsInstallerIdle(10000, 50, {})) << "the installation ends meanwhile";
    release.join();
}

}  // namespace
