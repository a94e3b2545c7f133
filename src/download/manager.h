// The download manager: one job per catalog application, each run on its own thread.
// The user interface starts, cancels, installs, reveals and clears jobs, and reads them
// only through snapshot(). Changes are announced by posting WM_APP+1 to `window`;
// a finished download also posts WM_APP+2 (wParam = application id, lParam = the job's
// generation, so a message that arrives after the job was replaced is known as stale).
// Lock order: tasksLock before a job's errorLock; urlLock, pathLock and slotLock alone.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "download/task.h"

constexpr UINT WM_DOWNLOAD_CHANGED = WM_APP + 1;
constexpr UINT WM_DOWNLOAD_FINISHED = WM_APP + 2;

class DownloadManager {
public:
    static DownloadManager& instance();

    std::atomic<HWND> window{nullptr};  // main window; set while it is being created
    std::mutex tasksLock;
    std::map<int32_t, std::shared_ptr<Task>> tasks;
    std::mutex slotLock;
    std::condition_variable slotFree;
    int32_t activeRequests = 0;

    // User-interface thread.
    void start(int32_t appId, const std::wstring& name, const std::string& url, const std::string& md5,
               int64_t packageSize);
    void cancel(int32_t appId);
    // False when the job does not qualify or no installer could be queued for it.
    bool install(int32_t appId);
    void openInFolder(int32_t appId);
    void clearFinished();
    void tick();
    std::map<int32_t, TaskInfo> snapshot();

    // Connection limit: at most 6 requests in flight over all jobs. A job waiting for a slot
    // gives up (false, no slot taken) as soon as its cancel flag is set.
    bool acquireSlot(const std::atomic<bool>* cancelFlag = nullptr);
    void releaseSlot();

    // Runner thread.
    void run(std::shared_ptr<Task> task);
    bool downloadPart(Task* task, int64_t start, int64_t end, bool useRange, bool allowFullBody);

    void post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

private:
    DownloadManager() = default;
    void fail(Task* task, const std::wstring& text);
    std::atomic<uint64_t> nextGeneration{1};
};

constexpr int32_t kMaxRequestsInFlight = 6;
