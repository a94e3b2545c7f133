// One install the way a user makes it: a real installer downloaded from the loopback server,
// verified against its digest, run through the shell and found in the uninstall registry.
#include <gtest/gtest.h>

#include "download/format.h"
#include "download/manager.h"
#include "download/support.h"
#include "install_test_util.h"
#include "json/encoding.h"
#include "json/json.h"
#include "support/test_server.h"

namespace {

// Pumps this thread's messages until the job reaches `state` or the time is up.
bool waitForState(int32_t appId, TaskState state, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        auto jobs = DownloadManager::instance().snapshot();
        auto it = jobs.find(appId);
        if (it != jobs.end() && it->second.state == static_cast<int32_t>(state)) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(20);
    }
}

TEST(InstallEndToEnd, DownloadedVerifiedInstallerEndsInstalledWithItsEntry) {
    const int32_t appId = 7301;
    const std::wstring appName = L"KV 下载安装测试";
    TestEntry entry(HKEY_CURRENT_USER, L"KVTestE2E");

    std::shared_ptr<json::Value> info = json::parse(dltest::readFile(packagePath(L"e2e.json")));
    ASSERT_TRUE(info && info->lookup("md5") && info->lookup("size"));
    std::string md5 = info->lookup("md5")->asString("");
    int64_t size = info->lookup("size")->asInt64(0);
    ASSERT_EQ(md5.size(), 32u);

    std::string path = testserver::uniquePath("kv-e2e-setup.exe");
    ASSERT_TRUE(testserver::script(path, R"([{"file":")" + std::string(KV_TEST_PACKAGES_DIR) + R"(/e2e.exe"}])"));
    std::string url = json::toUtf8(testserver::httpBase()) + path;

    wchar_t temp[MAX_PATH];
    std::wstring folder = std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + L"kv_install_e2e_" +
                          std::to_wstring(GetCurrentProcessId());
    setDownloadDirectory(folder);
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    DownloadManager& manager = DownloadManager::instance();
    manager.window = window;

    manager.start(appId, appName, url, md5, size);
    ASSERT_TRUE(waitForState(appId, TaskState::Completed, 60000));
    TaskInfo done = manager.snapshot()[appId];
    EXPECT_TRUE(done.md5Ok);
    EXPECT_FALSE(done.isArchive);
    EXPECT_EQ(done.downloadedBytes, size);

    ASSERT_TRUE(manager.install(appId));
    EXPECT_TRUE(waitForState(appId, TaskState::Installed, 60000));
    EXPECT_TRUE(entry.exists());
    EXPECT_EQ(entry.value(L"DisplayName"), appName);
    EXPECT_EQ(entry.value(L"DisplayVersion"), L"3.0");
    EXPECT_FALSE(manager.install(appId)) << "an installed job cannot be installed again";

    manager.clearFinished();
    manager.window = nullptr;
    DestroyWindow(window);
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do DeleteFileW((folder + L"\\" + fd.cFileName).c_str());
        while (FindNextFileW(find, &fd));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
