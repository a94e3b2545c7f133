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
#include <vector>

#include "download/journal.h"
#include "download/task.h"

constexpr UINT WM_DOWNLOAD_CHANGED = WM_APP + 1;
constexpr UINT WM_DOWNLOAD_FINISHED = WM_APP + 2;

class DownloadManager {
public:
    static DownloadManager& instance();

    std::atomic<HWND> window{nullptr};  // main window; set while it is being created
    std::mutex tasksLock;
    std::map<int32_t, std::shared_ptr<Task>> tasks;
    // Verified files of earlier runs by application, from the journal: tried before a new
    // download of the same application fetches anything.
    std::map<int32_t, JournalEntry> finishedFiles;
    std::mutex slotLock;
    std::condition_variable slotFree;
    int32_t activeRequests = 0;

    // User-interface thread. A start after a failed or cancelled job of the same address
    // and digest continues that job's part file.
    void start(int32_t appId, const std::wstring& name, const std::string& url, const std::string& md5,
               int64_t packageSize);
    // Starts a failed or cancelled job again with its own address and digest, for a job whose
    // application the catalog shown does not list (one restored while offline).
    void startAgain(int32_t appId);
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
    // ifRange: the validator each request names (a continued download); a whole body in
    // answer means the file changed: false with *fileChanged set, nothing written.
    bool downloadPart(Task* task, int64_t start, int64_t end, bool useRange, bool allowFullBody,
                      const std::string& ifRange = std::string(), bool* fileChanged = nullptr);

    void post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    // The journal's side (any thread but the window's). restore: entries read at start
    // become interrupted jobs or remembered finished files (files checked here; entries of
    // applications that have a job already are left out); journalEntries: what to save now.
    void restore(const std::vector<JournalEntry>& entries);
    std::vector<JournalEntry> journalEntries();

private:
    DownloadManager() = default;
    void fail(Task* task, const std::wstring& text);
    // The first of `candidates` that exists with the job's digest becomes the job's file,
    // finished without a transfer; false when none does.
    bool reuseVerifiedFile(Task* task, const std::vector<std::wstring>& candidates);
    std::atomic<uint64_t> nextGeneration{1};
};

constexpr int32_t kMaxRequestsInFlight = 6;
