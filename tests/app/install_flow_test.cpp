#include "app/install_flow.h"
#include "install/install.h"
#include "scratch_folder.h"
#include "window_support.h"

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>

namespace {

constexpr int kWithPackage = 501;
constexpr int kWithoutPackage = 502;

// The flow against a real window, real download jobs and a catalog and report endpoint on
// the test server whose report answer stalls for 20 s.
class InstallFlow : public MainWindowTest {
protected:
    ScratchFolder folder{L"flow"};
    std::string prefix;

    void SetUp() override {
        MainWindowTest::SetUp();
        setInstallRecheckPause(0);
        prefix = testserver::uniquePath("flow");
        ASSERT_TRUE(testserver::script(
            prefix + "/api/client/bootstrap",
            R"([{"content_type":"application/json","body":"{\"data\":{\"categories\":[{\"id\":\"c\",\"name\":\"n\"}],)"
            R"(\"apps\":[{\"id\":501,\"name\":\"有包\",\"categoryIds\":[\"c\"],\"hasPackage\":true,\"md5\":\"00\"},)"
            R"({\"id\":502,\"name\":\"无包\",\"categoryIds\":[\"c\"],\"hasPackage\":false}]}}"}])"));
        ASSERT_TRUE(testserver::script(prefix + "/api/client/report", R"([{"delay_ms":20000,"body":"{}"}])"));
        gApp.config.server = server + std::wstring(prefix.begin(), prefix.end());
        gApp.config.channel = L"a b/\u00e9";
        open();
        ASSERT_TRUE(findApp(gApp.catalog, kWithPackage));
    }

    void TearDown() override {
        {
            DownloadManager& m = DownloadManager::instance();
            std::lock_guard<std::mutex> lock(m.tasksLock);
            m.tasks.clear();
        }
        MainWindowTest::TearDown();
    }

    // A finished job as the runner leaves it; a verified installer gets a real program
    // that exits at once without installing anything.
    void addFinished(int id, const std::wstring& name, bool md5Ok, bool archive) {
        auto task = std::make_shared<Task>();
        task->appId = id;
        task->name = name;
        task->state = TaskState::Completed;
        task->md5Ok = md5Ok;
        task->isArchive = archive;
        const std::wstring file = folder / (std::to_wstring(id) + (archive ? L".zip" : L".exe"));
        const char* binary = std::getenv("KV_BINARY_DIR");
        ASSERT_NE(binary, nullptr);
        ASSERT_TRUE(CopyFileW((testserver::hostPathToWindows(binary) + L"\\installers\\kv_setup_cancel.exe").c_str(),
                              file.c_str(), FALSE));
        task->setPaths(file);
        DownloadManager& m = DownloadManager::instance();
        std::lock_guard<std::mutex> lock(m.tasksLock);
        m.tasks[id] = task;
    }

    // The job's state. No job there is a failure of its own, not a state: the flow must never
    // lose a job, and a lost one must not pass for a cancelled one.
    std::optional<TaskState> state(int id) {
        auto tasks = DownloadManager::instance().snapshot();
        auto found = tasks.find(id);
        if (found == tasks.end()) {
            if (!vanished) ADD_FAILURE() << "job " << id << " is gone from the download manager";
            vanished = true;
            return std::nullopt;
        }
        return static_cast<TaskState>(found->second.state);
    }

    std::shared_ptr<Task> liveTask(int id) {
        DownloadManager& m = DownloadManager::instance();
        std::lock_guard<std::mutex> lock(m.tasksLock);
        auto found = m.tasks.find(id);
        return found == m.tasks.end() ? nullptr : found->second;
    }

    // Pumps until the job is in `want` and more() holds; ends at once when the job vanishes.
    bool pumpUntilState(int id, TaskState want, const std::function<bool()>& more = [] { return true; }) {
        bool reached = false;
        pumpUntil([&] {
            const std::optional<TaskState> s = state(id);
            reached = s == want && more();
            return reached || !s;
        });
        return reached;
    }

    bool vanished = false;

    size_t reports() { return testserver::requests(prefix + "/api/client/report").size(); }
};

TEST_F(InstallFlow, AVerifiedDownloadRunsItsInstallerAndReportsWithoutWaitingForTheServer) {
    addFinished(kWithPackage, L"有包", true, false);
    const DWORD start = GetTickCount();
    SendMessageW(window, WM_DOWNLOAD_FINISHED, kWithPackage, 0);
    // Waiting for the report would take its whole 20 s stall; starting an installer under a
    // loaded machine can take seconds.
    EXPECT_LT(GetTickCount() - start, 15000u) << "the window waited for the stalled report";
    EXPECT_EQ(gApp.bannerText, L"有包");
    EXPECT_TRUE(gApp.bannerVerified);
    EXPECT_FALSE(gApp.bannerIsArchive);
    EXPECT_EQ(gApp.bannerTaskId, kWithPackage);
    EXPECT_EQ(gApp.toastText, L"「有包」下载完成，正在打开安装向导");
    EXPECT_EQ(gApp.toastKind, 1);
    ASSERT_TRUE(pumpUntilState(kWithPackage, TaskState::InstallFailed, [&] { return reports() == 1; }));
    const auto recorded = testserver::requests(prefix + "/api/client/report");
    EXPECT_EQ(recorded[0].method, "POST");
    EXPECT_EQ(recorded[0].body, installReportBody(kWithPackage, gApp.config.channel));

    // Pressed again from the card, then from the panel: one more run and report each.
    gApp.hitRects = {{{300, 300, 400, 400}, HitCardButton, kWithPackage}};
    const DWORD again = GetTickCount();
    click(350, 350);
    EXPECT_LT(GetTickCount() - again, 15000u);
    EXPECT_EQ(gApp.toastText, L"正在打开安装向导：有包");
    ASSERT_TRUE(pumpUntilState(kWithPackage, TaskState::InstallFailed, [&] { return reports() == 2; }));
    gApp.hitRects = {{{300, 300, 400, 400}, HitPanelInstall, kWithPackage}};
    click(350, 350);
    EXPECT_EQ(gApp.toastText, L"正在打开安装向导：有包");
    ASSERT_TRUE(pumpUntilState(kWithPackage, TaskState::InstallFailed, [&] { return reports() == 3; }));
    pumpFor(300);
    EXPECT_EQ(reports(), 3u);
}

TEST_F(InstallFlow, AFileThatFailedItsCheckIsNeverRun) {
    addFinished(kWithPackage, L"有包", false, false);
    SendMessageW(window, WM_DOWNLOAD_FINISHED, kWithPackage, 0);
    EXPECT_EQ(gApp.toastText, L"下载完成，但 MD5 校验不一致，请谨慎安装");
    EXPECT_EQ(gApp.toastKind, 2);
    EXPECT_FALSE(gApp.bannerVerified);
    for (int kind : {HitCardButton, HitPanelInstall, HitPanelRetry}) {
        gApp.toastText.clear();
        gApp.hitRects = {{{300, 300, 400, 400}, kind, kWithPackage}};
        click(350, 350);
        EXPECT_EQ(gApp.toastText, L"文件校验不一致，已禁止安装，请删除后重新下载") << kind;
        EXPECT_EQ(gApp.toastKind, 2);
        EXPECT_EQ(state(kWithPackage), TaskState::Completed);
    }
    pumpFor(500);
    EXPECT_EQ(state(kWithPackage), TaskState::Completed);
    EXPECT_EQ(reports(), 0u);
}

TEST_F(InstallFlow, AnArchiveIsKeptAndNeverRunOrReported) {
    addFinished(kWithPackage, L"有包", true, true);
    SendMessageW(window, WM_DOWNLOAD_FINISHED, kWithPackage, 0);
    EXPECT_EQ(gApp.toastText, L"「有包」下载成功，压缩包已保存，可打开文件夹解压安装");
    EXPECT_EQ(gApp.toastKind, 1);
    EXPECT_TRUE(gApp.bannerIsArchive);
    gApp.hitRects = {{{300, 300, 400, 400}, HitPanelInstall, kWithPackage}};
    click(350, 350);
    pumpFor(500);
    EXPECT_EQ(state(kWithPackage), TaskState::Completed);
    EXPECT_EQ(reports(), 0u);
}

TEST_F(InstallFlow, ACardPressStartsADownloadWithTheEncodedChannelOrShowsTheRunningOne) {
    // Slow enough to be running still when the card is pressed again (30 s in all).
    ASSERT_TRUE(testserver::script(prefix + "/api/client/download/501",
                                   R"([{"body_size":300000,"chunk":1000,"interval_ms":100}])"));
    gApp.hitRects = {{{300, 300, 400, 400}, HitCardButton, kWithoutPackage}};
    click(350, 350);
    EXPECT_EQ(gApp.toastText, L"该应用暂未上架安装包");
    EXPECT_EQ(gApp.toastKind, 2);

    gApp.hitRects = {{{300, 300, 400, 400}, HitCardButton, kWithPackage}};
    click(350, 350);
    EXPECT_EQ(gApp.toastText, L"开始下载：有包");
    EXPECT_EQ(gApp.toastKind, 0);
    const std::string download = prefix + "/api/client/download/501?channel=a%20b%2F%C3%A9";
    ASSERT_TRUE(pumpUntil([&] { return !testserver::requests(download).empty(); }));

    // A second press while it runs switches to the download manager and starts nothing.
    ASSERT_EQ(state(kWithPackage), TaskState::Downloading);
    gApp.hitRects = {{{300, 300, 400, 400}, HitCardButton, kWithPackage}};
    click(350, 350);
    EXPECT_EQ(gApp.viewMode, 1);
    gApp.hitRects = {{{300, 300, 400, 400}, HitPanelCancel, kWithPackage}};
    click(350, 350);
    EXPECT_EQ(state(kWithPackage), TaskState::Cancelled);

    // "重试" starts afresh.
    const size_t before = testserver::requests(download).size();
    gApp.hitRects = {{{300, 300, 400, 400}, HitPanelRetry, kWithPackage}};
    click(350, 350);
    EXPECT_EQ(gApp.toastText, L"开始下载：有包");
    ASSERT_TRUE(pumpUntil([&] { return testserver::requests(download).size() > before; }));
    gApp.hitRects = {{{300, 300, 400, 400}, HitPanelCancel, kWithPackage}};
    click(350, 350);
}

TEST_F(InstallFlow, ALateFinishedMessageOfAnotherJobOrOfACancelledOneDoesNothing) {
    addFinished(kWithPackage, L"有包", true, false);
    std::shared_ptr<Task> task = liveTask(kWithPackage);
    ASSERT_TRUE(task);
    task->generation = 12;
    // The job that finished was replaced by a new download (generation 12) before its
    // message was read.
    SendMessageW(window, WM_DOWNLOAD_FINISHED, kWithPackage, 11);
    // The job now shown was cancelled while the runner finished.
    task->state = TaskState::Cancelled;
    SendMessageW(window, WM_DOWNLOAD_FINISHED, kWithPackage, 12);
    EXPECT_TRUE(gApp.bannerText.empty());
    EXPECT_TRUE(gApp.toastText.empty());
    pumpFor(500);
    EXPECT_EQ(state(kWithPackage), TaskState::Cancelled) << "nothing was run";
    EXPECT_EQ(reports(), 0u);
}

TEST_F(InstallFlow, AnInstallerThatCannotStartShowsNoSuccessAndIsNotReported) {
    addFinished(kWithPackage, L"有包", true, false);
    std::shared_ptr<Task> task = liveTask(kWithPackage);
    ASSERT_TRUE(task);
    task->generation = 3;
    ASSERT_TRUE(DeleteFileW(task->getFilePath().c_str()));
    SendMessageW(window, WM_DOWNLOAD_FINISHED, kWithPackage, 3);
    EXPECT_EQ(gApp.bannerGeneration, 3u);
    ASSERT_TRUE(pumpUntil([&] { return state(kWithPackage) == TaskState::InstallFailed; }));
    ASSERT_TRUE(pumpUntil([&] { return gApp.bannerInstall == BannerInstall::NotStarted; }));
    EXPECT_EQ(gApp.toastText, L"安装程序未能启动：有包");
    EXPECT_EQ(gApp.toastKind, 2);
    EXPECT_EQ(DownloadManager::instance().snapshot()[kWithPackage].errorText, L"安装文件已不存在，请重新下载");
    pumpFor(500);
    EXPECT_EQ(reports(), 0u);
}

TEST_F(InstallFlow, MessagesAndPressesForUnknownJobsDoNothing) {
    SendMessageW(window, WM_DOWNLOAD_FINISHED, 777, 0);
    EXPECT_TRUE(gApp.bannerText.empty());
    EXPECT_TRUE(gApp.toastText.empty());
    onPanelInstall(777);
    EXPECT_TRUE(gApp.toastText.empty());
    EXPECT_EQ(reports(), 0u);
}

}  // namespace
