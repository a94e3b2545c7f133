#include "app/install_flow.h"

#include <windows.h>

#include <memory>
#include <new>

#include "app/app_state.h"
#include "app/main_window.h"
#include "download/manager.h"
#include "json/encoding.h"
#include "net/url.h"
#include "scoped.h"

namespace {

bool isBusy(TaskState s) {
    return s == TaskState::Downloading || s == TaskState::Verifying || s == TaskState::Installing;
}

const TaskInfo* findTask(const std::map<int32_t, TaskInfo>& tasks, int32_t appId) {
    auto found = tasks.find(appId);
    return found == tasks.end() ? nullptr : &found->second;
}

std::wstring quotedName(const std::wstring& name) { return L"「" + name + L"」"; }

struct ReportJob {
    std::wstring server;
    int32_t appId;
    std::wstring channel;
};

DWORD WINAPI reportThread(void* param) {
    std::unique_ptr<ReportJob> job(static_cast<ReportJob*>(param));
    try {
        reportInstall(job->server, job->appId, job->channel);
    } catch (...) {
    }
    return 0;
}

bool isBannerOf(int32_t appId, uint64_t generation) {
    return !gApp.bannerText.empty() && gApp.bannerTaskId == appId && gApp.bannerGeneration == generation;
}

}  // namespace

InstallStep installStep(bool hasPackage, const TaskInfo* task) {
    if (!hasPackage) return InstallStep::NoPackage;
    if (!task) return InstallStep::Download;
    const auto state = static_cast<TaskState>(task->state);
    if (state == TaskState::Completed || state == TaskState::InstallFailed) {
        if (task->isArchive) return InstallStep::RevealArchive;
        if (task->md5Unverified) return InstallStep::RefuseUnverified;
        return task->md5Ok ? InstallStep::RunInstaller : InstallStep::RefuseMismatch;
    }
    if (isBusy(state)) return InstallStep::Busy;
    return InstallStep::Download;
}

bool cardShowsManager(const TaskInfo* task) { return task && isBusy(static_cast<TaskState>(task->state)); }

bool isCurrentFinish(const TaskInfo* task, uint64_t generation) {
    return task && task->generation == generation && static_cast<TaskState>(task->state) == TaskState::Completed;
}

FinishedStep finishedStep(const TaskInfo& task) {
    if (task.isArchive) return FinishedStep::Archive;
    if (task.md5Unverified) return FinishedStep::Unverified;
    return task.md5Ok ? FinishedStep::RunInstaller : FinishedStep::Mismatch;
}

std::string downloadUrl(const std::wstring& server, int32_t appId, const std::wstring& channel) {
    return json::toUtf8(server) + "/api/client/download/" + std::to_string(appId) +
           "?channel=" + percentEncode(json::toUtf8(channel));
}

std::wstring noPackageText() { return L"该应用暂未上架安装包"; }
std::wstring downloadStartedText(const std::wstring& name) { return L"开始下载：" + name; }
std::wstring archiveKeptText(const std::wstring& name) {
    return quotedName(name) + L"是压缩包，已保存到下载目录，解压后即可使用";
}
std::wstring installerStartedText(const std::wstring& name) { return L"正在打开安装向导：" + name; }
std::wstring mismatchRefusedText() { return L"文件校验不一致，已禁止安装，请删除后重新下载"; }
std::wstring unverifiedText() { return L"无法校验文件，已禁止安装"; }
std::wstring archiveDownloadedText(const std::wstring& name) {
    return quotedName(name) + L"下载成功，压缩包已保存，可打开文件夹解压安装";
}
std::wstring installerDownloadedText(const std::wstring& name) {
    return quotedName(name) + L"下载完成，正在打开安装向导";
}
std::wstring mismatchDownloadedText() { return L"下载完成，但 MD5 校验不一致，请谨慎安装"; }
std::wstring installerNotStartedToast(const std::wstring& name) { return L"安装程序未能启动：" + name; }

bool sendInstallReport(const std::wstring& server, int32_t appId, const std::wstring& channel) {
    auto* job = new (std::nothrow) ReportJob{server, appId, channel};
    if (!job) return false;
    ScopedHandle thread(CreateThread(nullptr, 0, reportThread, job, 0, nullptr));
    if (!thread) {
        delete job;
        return false;
    }
    return true;
}

void onCardButton(int appId) {
    AppRef app = findApp(gApp.catalog, appId);
    if (!app) return;
    const auto tasks = DownloadManager::instance().snapshot();
    if (cardShowsManager(findTask(tasks, appId))) {
        gApp.viewMode = 1;
        requestRepaint();
        return;
    }
    startInstallFlow(*app);
}

void startInstallFlow(const App& app) {
    DownloadManager& manager = DownloadManager::instance();
    const auto tasks = manager.snapshot();
    switch (installStep(app.hasPackage, findTask(tasks, app.id))) {
    case InstallStep::NoPackage:
        showToast(noPackageText(), 2);
        return;
    case InstallStep::RevealArchive:
        manager.openInFolder(app.id);
        showToast(archiveKeptText(app.name), 1);
        return;
    case InstallStep::RunInstaller:
        // The install is reported once its installer has really started.
        if (manager.install(app.id)) showToast(installerStartedText(app.name), 1);
        return;
    case InstallStep::RefuseMismatch:
        showToast(mismatchRefusedText(), 2);
        return;
    case InstallStep::RefuseUnverified:
        showToast(unverifiedText(), 2);
        return;
    case InstallStep::Busy:
        return;
    case InstallStep::Download:
        manager.start(app.id, app.name, downloadUrl(gApp.config.server, app.id, gApp.config.channel), app.md5,
                      app.packageSize);
        showToast(downloadStartedText(app.name), 0);
        return;
    }
}

void onPanelInstall(int appId) {
    DownloadManager& manager = DownloadManager::instance();
    const auto tasks = manager.snapshot();
    const TaskInfo* task = findTask(tasks, appId);
    if (task && !task->md5Ok) {
        showToast(task->md5Unverified ? unverifiedText() : mismatchRefusedText(), 2);
        return;
    }
    if (!manager.install(appId)) return;
    AppRef app = findApp(gApp.catalog, appId);
    showToast(installerStartedText(app ? app->name : std::wstring()), 1);
    requestRepaint();
}

void onDownloadFinished(int appId, uint64_t generation) {
    DownloadManager& manager = DownloadManager::instance();
    const auto tasks = manager.snapshot();
    const TaskInfo* task = findTask(tasks, appId);
    if (!isCurrentFinish(task, generation)) return;
    MessageBeep(MB_ICONASTERISK);
    gApp.bannerText = task->name;
    gApp.bannerVerified = task->md5Ok;
    gApp.bannerUnverifiable = task->md5Unverified;
    gApp.bannerIsArchive = task->isArchive;
    gApp.bannerTaskId = appId;
    gApp.bannerGeneration = generation;
    gApp.bannerInstall = BannerInstall::Opening;
    gApp.bannerTick = GetTickCount();
    requestRepaint();
    switch (finishedStep(*task)) {
    case FinishedStep::Archive:
        showToast(archiveDownloadedText(task->name), 1);
        break;
    case FinishedStep::RunInstaller:
        showToast(installerDownloadedText(task->name), 1);
        if (!manager.install(appId)) gApp.bannerInstall = BannerInstall::NotStarted;
        break;
    case FinishedStep::Mismatch:
        showToast(mismatchDownloadedText(), 2);
        break;
    case FinishedStep::Unverified:
        showToast(unverifiedText(), 2);
        break;
    }
    requestRepaint();
}

void onInstallerStarted(int appId, uint64_t generation) {
    const auto tasks = DownloadManager::instance().snapshot();
    const TaskInfo* task = findTask(tasks, appId);
    if (!task || task->generation != generation) return;
    sendInstallReport(gApp.config.server, appId, gApp.config.channel);
    if (isBannerOf(appId, generation)) gApp.bannerInstall = BannerInstall::Started;
    requestRepaint();
}

void onInstallerNotStarted(int appId, uint64_t generation) {
    const auto tasks = DownloadManager::instance().snapshot();
    const TaskInfo* task = findTask(tasks, appId);
    if (!task || task->generation != generation) return;
    showToast(installerNotStartedToast(task->name), 2);
    if (isBannerOf(appId, generation)) gApp.bannerInstall = BannerInstall::NotStarted;
    requestRepaint();
}
