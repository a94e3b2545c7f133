// The install queue: installers run one at a time, in the order they were accepted. Two at
// once would judge each other's results (a new uninstall entry of one counts for the other)
// and Windows Installer packages refuse to start beside another installation (1618).
#include "install/install.h"

#include <deque>
#include <mutex>

#include "download/task.h"
#include "scoped.h"

namespace {

struct QueuedInstall {
    std::shared_ptr<Task> task;
    HWND notifyWindow = nullptr;
};

// One worker thread drains the queue and ends when it finds it empty; the next accepted
// install starts a new one. Jobs wait in state Installing, which nothing else changes.
class InstallQueue {
public:
    bool add(std::shared_ptr<Task> task, HWND notifyWindow) {
        std::lock_guard<std::mutex> lock(lock_);
        Task* queued = task.get();
        jobs_.push_back(QueuedInstall{std::move(task), notifyWindow});
        if (workerRunning_) {
            // Another installer runs (or is about to): this one waits its turn.
            queued->installWaiting = true;
            return true;
        }
        ScopedHandle thread(CreateThread(nullptr, 0, workerEntry, this, 0, nullptr));
        if (!thread) {
            jobs_.pop_back();
            return false;
        }
        queued->installWaiting = false;
        workerRunning_ = true;
        return true;
    }

private:
    // Hands out the oldest job; false (and the worker is done) when there is none.
    bool next(QueuedInstall& out) {
        std::lock_guard<std::mutex> lock(lock_);
        if (jobs_.empty()) {
            workerRunning_ = false;
            return false;
        }
        out = std::move(jobs_.front());
        jobs_.pop_front();
        out.task->installWaiting = false;
        return true;
    }

    static void post(const QueuedInstall& job, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        if (job.notifyWindow) PostMessageW(job.notifyWindow, message, wParam, lParam);
    }

    static void runOne(const QueuedInstall& job) {
        Task& task = *job.task;
        // The main window is gone: the program is closing and no installer may start any more.
        if (job.notifyWindow && !IsWindow(job.notifyWindow)) {
            task.state = TaskState::Completed;
            return;
        }
        const WPARAM appId = static_cast<WPARAM>(static_cast<INT_PTR>(task.appId));
        const LPARAM generation = static_cast<LPARAM>(task.generation);
        TaskState outcome = TaskState::Completed;
        bool registered = false;
        InstallerEvents events;
        events.started = [&] {
            // The window repaints on this too: the row no longer waits.
            task.installStarted = true;
            post(job, kMsgInstallerStarted, appId, generation);
        };
        events.registered = [&] {
            // The card shows the software installed at once; the queue still waits for the
            // installer's last page to close before the next one starts.
            registered = true;
            task.state = TaskState::Installed;
            post(job, WM_APP + 1);
        };
        events.abandoned = [&] { return job.notifyWindow && !IsWindow(job.notifyWindow); };
        try {
            outcome = runInstaller(task, events);
        } catch (...) {
            // Out of memory while reading the registry: the file is still there to try again.
            outcome = TaskState::Completed;
        }
        if (registered) return;
        if (!task.installStarted) {
            if (events.abandoned()) {
                task.state = TaskState::Completed;
                return;
            }
            const std::wstring file = task.getFilePath();
            task.setError(installerNotStartedText(GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES,
                                                  events.fileChanged));
            task.state = TaskState::InstallFailed;
            post(job, WM_APP + 1);
            post(job, kMsgInstallerNotStarted, appId, generation);
            return;
        }
        task.state = outcome;
        post(job, WM_APP + 1);
    }

    static DWORD WINAPI workerEntry(void* param) {
        InstallQueue* queue = static_cast<InstallQueue*>(param);
        try {
            QueuedInstall job;
            while (queue->next(job)) {
                runOne(job);
                job = QueuedInstall();
            }
        } catch (...) {
        }
        return 0;
    }

    std::mutex lock_;
    std::deque<QueuedInstall> jobs_;
    bool workerRunning_ = false;
};

// Never destroyed: its worker may still run while the process runs its exit handlers.
InstallQueue& installQueue() {
    static InstallQueue* queue = new InstallQueue;
    return *queue;
}

}  // namespace

std::wstring installerNotStartedText(bool fileExists, bool fileChanged) {
    if (fileChanged) return L"安装包已被改动，已禁止安装";
    return fileExists ? L"安装程序未能启动，可点击右侧按钮重试" : L"安装文件已不存在，请重新下载";
}

bool startInstallerRunner(std::shared_ptr<Task> task, HWND notifyWindow) {
    return installQueue().add(std::move(task), notifyWindow);
}
