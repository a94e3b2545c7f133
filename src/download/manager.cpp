#include "download/manager.h"


#include <new>

#include "download/format.h"
#include "download/naming.h"
#include "download/shell_open.h"
#include "install/install.h"

namespace {

bool isActive(TaskState s) { return s == TaskState::Downloading || s == TaskState::Verifying; }

// Owns the heap reference it is given; nothing thrown inside leaves the thread.
DWORD WINAPI runnerEntry(void* param) {
    std::unique_ptr<std::shared_ptr<Task>> ref(static_cast<std::shared_ptr<Task>*>(param));
    std::shared_ptr<Task> task = std::move(*ref);
    ref.reset();
    try {
        DownloadManager::instance().run(task);
    } catch (...) {
        TaskState s = task->state.load();
        if (isActive(s) && task->state.compare_exchange_strong(s, TaskState::Failed)) {
            task->setError(L"下载中断，请重试");
            DownloadManager::instance().post(WM_DOWNLOAD_CHANGED);
        }
    }
    return 0;
}

}  // namespace

// Never destroyed: runner and installer threads are not waited for and may still
// reach the manager while the process runs its exit handlers.
DownloadManager& DownloadManager::instance() {
    static DownloadManager* manager = new DownloadManager;
    return *manager;
}

void DownloadManager::post(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND w = window.load();
    if (w) PostMessageW(w, message, wParam, lParam);
}

void DownloadManager::start(int32_t appId, const std::wstring& name, const std::string& url, const std::string& md5,
                            int64_t packageSize) {
    {
        std::lock_guard<std::mutex> lock(tasksLock);
        auto it = tasks.find(appId);
        if (it != tasks.end() && isActive(it->second->state.load())) return;
    }

    auto task = std::make_shared<Task>();
    task->appId = appId;
    task->generation = nextGeneration.fetch_add(1);
    task->name = name;
    task->url = url;
    task->md5 = md5;
    task->totalBytes = packageSize;
    // Fixed now: a folder chosen later in the settings is for later downloads.
    task->directory = downloadDirectory();
    task->setPaths(task->directory + L"\\" + sanitizeFileName(name) + L".exe");

    {
        std::lock_guard<std::mutex> lock(tasksLock);
        tasks[appId] = task;
    }
    post(WM_DOWNLOAD_CHANGED);

    auto* ref = new (std::nothrow) std::shared_ptr<Task>(task);
    HANDLE h = ref ? CreateThread(nullptr, 0, runnerEntry, ref, 0, nullptr) : nullptr;
    if (h) {
        task->thread.reset(h);
        return;
    }
    delete ref;
    task->state = TaskState::Failed;
    task->setError(L"下载中断，请重试");
    post(WM_DOWNLOAD_CHANGED);
}

void DownloadManager::cancel(int32_t appId) {
    {
        std::lock_guard<std::mutex> lock(tasksLock);
        auto it = tasks.find(appId);
        if (it == tasks.end()) return;
        Task& t = *it->second;
        // The runner may finish at this very moment: the cancel counts only if it comes first.
        TaskState s = t.state.load();
        while (isActive(s) && !t.state.compare_exchange_weak(s, TaskState::Cancelled)) {
        }
        if (!isActive(s)) return;
        t.cancelRequested = true;
    }
    // Wakes a runner waiting for a connection slot. Taking slotLock first means a waiter
    // that has just seen the flag clear is already asleep and gets the notice.
    { std::lock_guard<std::mutex> slots(slotLock); }
    slotFree.notify_all();
    post(WM_DOWNLOAD_CHANGED);
}

bool DownloadManager::install(int32_t appId) {
    std::shared_ptr<Task> task;
    {
        std::lock_guard<std::mutex> lock(tasksLock);
        auto it = tasks.find(appId);
        if (it == tasks.end()) return false;
        TaskState s = it->second->state.load();
        if ((s != TaskState::Completed && s != TaskState::InstallFailed) || it->second->isArchive ||
            !it->second->md5Ok)
            return false;
        task = it->second;
    }
    const TaskState before = task->state.load();
    // Installing at once, also while it waits in the install queue behind another installer.
    task->installStarted = false;
    task->setError(std::wstring());
    task->state = TaskState::Installing;
    post(WM_DOWNLOAD_CHANGED);
    if (!startInstallerRunner(task, window.load())) {
        task->state = before;
        post(WM_DOWNLOAD_CHANGED);
        return false;
    }
    return true;
}

void DownloadManager::openInFolder(int32_t appId) {
    std::shared_ptr<Task> task;
    {
        std::lock_guard<std::mutex> lock(tasksLock);
        auto it = tasks.find(appId);
        if (it == tasks.end()) return;
        task = it->second;
    }
    showInFolderDetached(task->getFilePath());
}

void DownloadManager::clearFinished() {
    {
        std::lock_guard<std::mutex> lock(tasksLock);
        for (auto it = tasks.begin(); it != tasks.end();) {
            Task& t = *it->second;
            TaskState s = t.state.load();
            const bool finished = s == TaskState::Completed || s == TaskState::Failed || s == TaskState::Cancelled ||
                                  s == TaskState::Installed || s == TaskState::InstallFailed;
            if (!finished) {
                ++it;
                continue;
            }
            // Marked before the part file is looked at: a cancelled runner that creates its
            // part file just now sees the mark and deletes the file itself.
            t.cleared = true;
            if ((s == TaskState::Failed || s == TaskState::Cancelled) && t.partCreated)
                DeleteFileW(t.getPartPath().c_str());
            it = tasks.erase(it);
        }
    }
    post(WM_DOWNLOAD_CHANGED);
}

void DownloadManager::tick() {
    const DWORD now = GetTickCount();
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(tasksLock);
        for (auto& entry : tasks) {
            Task& t = *entry.second;
            if (t.state.load() != TaskState::Downloading) continue;
            const int64_t bytes = t.downloadedBytes.load();
            if (t.sampleTick == 0) {
                t.sampleTick = now;
                t.sampleBytes = bytes;
                continue;
            }
            const double elapsed = static_cast<uint32_t>(now - t.sampleTick) / 1000.0;
            if (elapsed < 0.25) continue;
            const double rate = static_cast<double>(bytes - t.sampleBytes) / elapsed;
            t.speed = rate <= 0 ? 0 : (rate >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(rate));
            t.sampleTick = now;
            t.sampleBytes = bytes;
            changed = true;
        }
    }
    if (changed) post(WM_DOWNLOAD_CHANGED);
}

std::map<int32_t, TaskInfo> DownloadManager::snapshot() {
    std::map<int32_t, TaskInfo> out;
    std::lock_guard<std::mutex> lock(tasksLock);
    for (auto& entry : tasks) {
        Task& t = *entry.second;
        TaskInfo info;
        info.appId = t.appId;
        info.name = t.name;
        info.state = static_cast<int32_t>(t.state.load());
        info.downloadedBytes = t.downloadedBytes.load();
        info.totalBytes = t.totalBytes.load();
        info.speed = t.speed.load();
        info.md5Ok = t.md5Ok.load();
        info.md5Unverified = t.md5Unverified.load();
        info.isArchive = t.isArchive.load();
        info.errorText = t.getError();
        info.retryCount = t.retryCount.load();
        info.generation = t.generation;
        info.installWaiting = t.installWaiting.load();
        out.emplace(entry.first, std::move(info));
    }
    return out;
}

bool DownloadManager::acquireSlot(const std::atomic<bool>* cancelFlag) {
    std::unique_lock<std::mutex> lock(slotLock);
    slotFree.wait(lock, [&] { return activeRequests < kMaxRequestsInFlight || (cancelFlag && cancelFlag->load()); });
    if (cancelFlag && cancelFlag->load()) return false;
    ++activeRequests;
    return true;
}

void DownloadManager::releaseSlot() {
    {
        std::lock_guard<std::mutex> lock(slotLock);
        --activeRequests;
    }
    slotFree.notify_one();
}
