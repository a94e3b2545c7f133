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
        jobs_.push_back(QueuedInstall{std::move(task), notifyWindow});
        if (workerRunning_) return true;
        ScopedHandle thread(CreateThread(nullptr, 0, workerEntry, this, 0, nullptr));
        if (!thread) {
            jobs_.pop_back();
            return false;
        }
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
        return true;
    }

    static void runOne(const QueuedInstall& job) {
        Task& task = *job.task;
        // The main window is gone: the program is closing and no installer may start any more.
        if (job.notifyWindow && !IsWindow(job.notifyWindow)) {
            task.state = TaskState::Completed;
            return;
        }
        TaskState outcome = TaskState::Completed;
        try {
            outcome = runInstaller(task);
        } catch (...) {
            // Out of memory while reading the registry: the file is still there to try again.
            outcome = TaskState::Completed;
        }
        task.state = outcome;
        if (job.notifyWindow) PostMessageW(job.notifyWindow, WM_APP + 1, 0, 0);
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

bool startInstallerRunner(std::shared_ptr<Task> task, HWND notifyWindow) {
    return installQueue().add(std::move(task), notifyWindow);
}
