// The installer runner: runs a downloaded installer through the shell, waits for it and
// judges from the exit code and the uninstall registry whether the software is installed.
#include "install/install.h"

#include <objbase.h>
#include <shellapi.h>

#include <atomic>

#include "download/task.h"
#include "scoped.h"

namespace {

std::atomic<unsigned> recheckPauseMs{2000};

struct RunnerJob {
    std::shared_ptr<Task> task;
    HWND notifyWindow;
};

class ComApartment {
public:
    ComApartment() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComApartment() {
        if (ok_) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool ok_;
};

// Installers often hand over to a second process and exit early, so a registration may
// appear after the exit: a cancelled one (non-zero) gets 2 more looks, a successful one 9.
TaskState judgeAfterExit(const InstalledSnapshot& before, bool alreadyInstalled, DWORD exitCode) {
    if (alreadyInstalled || hasNewEntry(before)) return TaskState::Installed;
    int checks = exitCode != 0 ? 2 : 9;
    for (int i = 0; i < checks; i++) {
        Sleep(recheckPauseMs.load());
        if (hasNewEntry(before)) return TaskState::Installed;
    }
    return exitCode != 0 ? TaskState::InstallFailed : TaskState::Completed;
}

TaskState runInstaller(const Task& task) {
    InstalledSnapshot before = takeInstalledSnapshot();
    bool alreadyInstalled = matchesInstalled(before, task.name);

    std::wstring file = task.getFilePath();
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = file.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) return TaskState::Completed;
    // The shell handed the file to a program that was already running (DDE and the like).
    if (!info.hProcess) return TaskState::Installed;

    ScopedHandle process(info.hProcess);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.get(), &exitCode)) exitCode = 0;
    process.reset();
    return judgeAfterExit(before, alreadyInstalled, exitCode);
}

DWORD WINAPI installerThread(LPVOID param) {
    RunnerJob* job = static_cast<RunnerJob*>(param);
    try {
        TaskState outcome = TaskState::Completed;
        {
            ComApartment com;
            outcome = runInstaller(*job->task);
        }
        job->task->state = outcome;
    } catch (...) {
        // Out of memory while reading the registry: the file is still there to try again.
        job->task->state = TaskState::Completed;
    }
    if (job->notifyWindow) PostMessageW(job->notifyWindow, WM_APP + 1, 0, 0);
    delete job;
    return 0;
}

}  // namespace

bool startInstallerRunner(std::shared_ptr<Task> task, HWND notifyWindow) {
    RunnerJob* job = new RunnerJob{std::move(task), notifyWindow};
    ScopedHandle thread(CreateThread(nullptr, 0, installerThread, job, 0, nullptr));
    if (!thread) {
        delete job;
        return false;
    }
    return true;
}

void setInstallRecheckPause(unsigned milliseconds) { recheckPauseMs = milliseconds; }
