// The installer runner: runs a downloaded installer with all the processes it starts, and
// judges from the exit code and the uninstall registry whether the software is installed.
#include "install/install.h"

#include <objbase.h>

#include <atomic>

#include "download/task.h"
#include "install/process_tree.h"

namespace {

std::atomic<unsigned> recheckPauseMs{2000};

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

// Once the last process has ended a registration may still follow from a process outside
// the tree (a service, an elevated setup): a cancelled installer (non-zero) gets 2 more
// looks, a successful one 9.
TaskState judgeAfterExit(const InstalledSnapshot& before, bool alreadyInstalled, DWORD exitCode) {
    if (alreadyInstalled || hasNewEntry(before)) return TaskState::Installed;
    int checks = exitCode != 0 ? 2 : 9;
    for (int i = 0; i < checks; i++) {
        Sleep(recheckPauseMs.load());
        if (hasNewEntry(before)) return TaskState::Installed;
    }
    return exitCode != 0 ? TaskState::InstallFailed : TaskState::Completed;
}

}  // namespace

TaskState runInstaller(const Task& task, const std::function<void()>& started) {
    ComApartment com;
    std::wstring file = task.getFilePath();
    // Removed while the job waited for its turn: a failed launch, without the shell's error box.
    if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) return TaskState::Completed;

    // Taken right before this installer starts, after the one before it has been judged,
    // so that only this installer's own registrations count.
    InstalledSnapshot before = takeInstalledSnapshot();
    bool alreadyInstalled = matchesInstalled(before, task.name);

    InstallerProcesses installer;
    LaunchResult launched = installer.launch(file);
    if (launched == LaunchResult::Failed) return TaskState::Completed;
    if (started) started();
    if (launched == LaunchResult::NoProcess) return TaskState::Installed;

    // The real setup often runs in a later process of the tree, and the last one may be the
    // installed program itself: a registration while the tree runs decides at once.
    if (installer.followsTree()) {
        while (!installer.waitForEnd(recheckPauseMs.load())) {
            if (hasNewEntry(before)) return TaskState::Installed;
        }
    } else {
        installer.waitForEnd(INFINITE);
    }
    return judgeAfterExit(before, alreadyInstalled, installer.firstExitCode());
}

void setInstallRecheckPause(unsigned milliseconds) { recheckPauseMs = milliseconds; }
