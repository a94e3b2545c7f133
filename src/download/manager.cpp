#include "download/manager.h"


#include <algorithm>
#include <new>

#include "download/format.h"
#include "download/naming.h"
#include "download/shell_open.h"
#include "install/install.h"

namespace {

bool isActive(TaskState s) { return s == TaskState::Downloading || s == TaskState::Verifying; }

// Size of a plain file; -1 when missing or a folder.
int64_t fileSizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::wstring folderOfFile(const std::wstring& path) {
    const size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

// The journal's view of a job's file and address.
JournalEntry entryOf(Task& t, JournalState state) {
    JournalEntry e;
    e.appId = t.appId;
    e.state = state;
    e.name = t.name;
    e.url = t.url;
    e.md5 = t.md5;
    {
        std::lock_guard<std::mutex> lock(t.pathLock);
        e.filePath = t.filePath;
        e.partPath = t.partPath;
    }
    {
        std::lock_guard<std::mutex> lock(t.urlLock);
        e.effectiveUrl = t.effectiveUrl;
        e.etag = t.etag;
        e.lastModified = t.lastModified;
    }
    e.totalBytes = t.totalBytes.load();
    e.doneBytes = t.durableBytes.load();
    return e;
}

// A finished job whose file this program verified against the catalog's digest.
bool holdsVerifiedFile(const Task& t, TaskState s) {
    const bool done = s == TaskState::Completed || s == TaskState::Installed || s == TaskState::Installing ||
                      s == TaskState::InstallFailed;
    return done && t.md5Ok && !t.md5.empty() && t.verifiedSize.load() >= 0;
}

// A failed or cancelled job whose runner has ended hands its part file to the next job of
// the same address and digest, which continues it; a part file nothing will continue is
// deleted. A runner still ending keeps its file, and the new job takes a name of its own.
void takeOverPart(Task& previous, Task& next) {
    const TaskState s = previous.state.load();
    if ((s != TaskState::Failed && s != TaskState::Cancelled) || !previous.partCreated) return;
    if (previous.thread && WaitForSingleObject(previous.thread.get(), 0) != WAIT_OBJECT_0) return;
    const std::wstring part = previous.getPartPath();
    if (previous.url != next.url || previous.md5 != next.md5 || fileSizeOf(part) < 0) {
        DeleteFileW(part.c_str());
        previous.partCreated = false;
        return;
    }
    {
        std::lock(previous.pathLock, next.pathLock);
        std::lock_guard<std::mutex> a(previous.pathLock, std::adopt_lock);
        std::lock_guard<std::mutex> b(next.pathLock, std::adopt_lock);
        next.fileClaim = std::move(previous.fileClaim);
        next.filePath = previous.filePath;
        next.partPath = previous.partPath;
    }
    {
        std::lock(previous.urlLock, next.urlLock);
        std::lock_guard<std::mutex> a(previous.urlLock, std::adopt_lock);
        std::lock_guard<std::mutex> b(next.urlLock, std::adopt_lock);
        next.effectiveUrl = previous.effectiveUrl;
        next.etag = previous.etag;
        next.lastModified = previous.lastModified;
    }
    next.directory = previous.directory;
    next.carriesPart = true;
    next.carriedBytes = previous.durableBytes.load();
    if (previous.totalBytes.load() > 0) next.totalBytes = previous.totalBytes.load();
    next.downloadedBytes = next.carriedBytes;
    next.durableBytes = next.carriedBytes;
    next.partCreated = true;
    previous.partCreated = false;
}

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
    if (message == WM_DOWNLOAD_CHANGED) journalChanged();
    HWND w = window.load();
    if (w) PostMessageW(w, message, wParam, lParam);
}

void DownloadManager::start(int32_t appId, const std::wstring& name, const std::string& url, const std::string& md5,
                            int64_t packageSize) {
    std::shared_ptr<Task> previous;
    std::wstring earlierFile;
    {
        std::lock_guard<std::mutex> lock(tasksLock);
        auto it = tasks.find(appId);
        if (it != tasks.end()) {
            if (isActive(it->second->state.load())) return;
            previous = it->second;
        }
        auto f = finishedFiles.find(appId);
        if (f != finishedFiles.end() && !md5.empty() && f->second.md5 == md5) earlierFile = f->second.filePath;
    }

    auto task = std::make_shared<Task>();
    task->appId = appId;
    task->generation = nextGeneration.fetch_add(1);
    task->name = name;
    task->url = url;
    task->md5 = md5;
    task->totalBytes = packageSize;
    task->catalogSize = packageSize;
    task->earlierFile = earlierFile;
    // Fixed now: a folder chosen later in the settings is for later downloads.
    task->directory = downloadDirectory();
    task->setPaths(task->directory + L"\\" + sanitizeFileName(name) + L".exe");
    if (previous) takeOverPart(*previous, *task);

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

void DownloadManager::startAgain(int32_t appId) {
    std::shared_ptr<Task> previous;
    {
        std::lock_guard<std::mutex> lock(tasksLock);
        auto it = tasks.find(appId);
        if (it == tasks.end()) return;
        previous = it->second;
    }
    const TaskState s = previous->state.load();
    if (s != TaskState::Failed && s != TaskState::Cancelled) return;
    start(appId, previous->name, previous->url, previous->md5, previous->catalogSize);
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
            // A verified file stays known to the journal, so a new download can use it.
            if (holdsVerifiedFile(t, s)) finishedFiles[t.appId] = entryOf(t, JournalState::Finished);
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
        info.interrupted = t.interrupted.load();
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

void DownloadManager::restore(const std::vector<JournalEntry>& entries) {
    for (const JournalEntry& e : entries) {
        const int64_t partSize = e.state == JournalState::Finished ? -1 : fileSizeOf(e.partPath);
        const int64_t fileSize = e.state == JournalState::Finished ? fileSizeOf(e.filePath) : -1;
        const EntryFate fate = entryFate(e, partSize, fileSize);
        if (fate == EntryFate::Drop) continue;
        if (fate == EntryFate::KeepFinished) {
            std::lock_guard<std::mutex> lock(tasksLock);
            finishedFiles.emplace(e.appId, e);
            continue;
        }
        auto task = std::make_shared<Task>();
        // Another job of this run, or another entry, holds the name: not this entry's file.
        if (claimKey(task->claimPaths(e.filePath)) != claimKey(e.filePath)) continue;
        task->appId = e.appId;
        task->generation = nextGeneration.fetch_add(1);
        task->name = e.name;
        task->url = e.url;
        task->md5 = e.md5;
        task->effectiveUrl = e.effectiveUrl;
        task->etag = e.etag;
        task->lastModified = e.lastModified;
        task->directory = folderOfFile(e.filePath);
        task->totalBytes = e.totalBytes;
        const int64_t done = std::min(e.doneBytes, partSize);
        task->durableBytes = done;
        task->downloadedBytes = done;
        task->partCreated = true;
        if (e.state == JournalState::Cancelled) {
            task->state = TaskState::Cancelled;
        } else {
            task->state = TaskState::Failed;
            task->interrupted = true;
            task->setError(L"下载中断，可继续下载");
        }
        std::lock_guard<std::mutex> lock(tasksLock);
        if (tasks.count(e.appId) == 0) tasks[e.appId] = task;
    }
    post(WM_DOWNLOAD_CHANGED);
}

std::vector<JournalEntry> DownloadManager::journalEntries() {
    std::vector<JournalEntry> out;
    std::lock_guard<std::mutex> lock(tasksLock);
    for (auto& entry : tasks) {
        Task& t = *entry.second;
        const TaskState s = t.state.load();
        if (holdsVerifiedFile(t, s)) {
            out.push_back(entryOf(t, JournalState::Finished));
        } else if (t.partCreated && (isActive(s) || s == TaskState::Failed || s == TaskState::Cancelled)) {
            out.push_back(entryOf(t, s == TaskState::Cancelled ? JournalState::Cancelled : JournalState::Interrupted));
        }
    }
    for (auto& f : finishedFiles) {
        if (tasks.count(f.first) == 0) out.push_back(f.second);
    }
    return out;
}
