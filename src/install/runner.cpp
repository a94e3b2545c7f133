// The installer runner: runs a downloaded installer with all the processes it starts, and
// judges from the exit code and the uninstall registry whether the software is installed.
#include "install/install.h"

#include <objbase.h>

#include <atomic>

#include "download/task.h"
#include "install/installed_app.h"
#include "install/installer_folder.h"
#include "install/msi_wait.h"
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

std::wstring windowsFolder() {
    wchar_t path[MAX_PATH];
    UINT n = GetWindowsDirectoryW(path, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(path, n) : std::wstring();
}

}  // namespace

TaskState runInstaller(const Task& task, InstallerEvents& events) {
    ComApartment com;
    std::wstring file = task.getFilePath();
    // Removed while the job waited for its turn: a failed launch, without the shell's error box.
    if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) return TaskState::Completed;
    if (isWindowsInstallerPackage(file)) {
        // Given up after the limit, the package starts anyway and Windows Installer decides.
        waitForWindowsInstallerIdle(kMsiWaitLimitMs, recheckPauseMs.load(), events.abandoned);
        if (events.abandoned && events.abandoned()) return TaskState::Completed;
    }

    InstallerFolder folder;
    PlaceResult placed = folder.place(file, task.verifiedSize.load(), task.verifiedWriteTime.load());
    if (placed == PlaceResult::Changed) events.fileChanged = true;
    if (placed != PlaceResult::Placed) return TaskState::Completed;

    // Taken right before this installer starts, after the one before it has been judged,
    // so that only this installer's own registrations count.
    InstalledSnapshot before = takeInstalledSnapshot();
    bool alreadyInstalled = matchesInstalled(before, task.name);

    InstallerProcesses installer;
    LaunchResult launched = installer.launch(folder.file(), folder.folder());
    folder.release();
    if (launched == LaunchResult::Failed) return TaskState::Completed;
    if (events.started) events.started();
    if (launched == LaunchResult::NoProcess) {
        // A program already running was handed the file and may still be reading it.
        folder.keep();
        return TaskState::Installed;
    }

    // The real setup often runs in a later process of the tree, and the last one may be the
    // installed program itself. A registration decides the outcome at once, but setups write
    // their entry before their last page: the slot is held until the tree has ended, or
    // nothing but the installed application is left of it.
    if (installer.followsTree()) {
        bool registered = false;
        const std::vector<std::wstring> notTheApp = {windowsFolder(), folder.folder()};
        while (!installer.waitForEnd(recheckPauseMs.load())) {
            InstalledSnapshot now = takeInstalledSnapshot();
            if (!hasNewKey(before, now)) continue;
            if (!registered && events.registered) events.registered();
            registered = true;
            std::vector<std::wstring> appFolders = installedAppFolders(newEntryPlaces(before, now), notTheApp);
            if (onlyInstalledAppLeft(installer.remainingImages(), appFolders)) break;
        }
        if (registered) return TaskState::Installed;
    } else {
        installer.waitForEnd(INFINITE);
    }
    return judgeAfterExit(before, alreadyInstalled, installer.firstExitCode());
}

TaskState runInstaller(const Task& task, const std::function<void()>& started) {
    InstallerEvents events;
    events.started = started;
    return runInstaller(task, events);
}

void setInstallRecheckPause(unsigned milliseconds) { recheckPauseMs = milliseconds; }
