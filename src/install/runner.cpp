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

    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = file.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) return TaskState::Completed;
    if (started) started();
    // The shell handed the file to a program that was already running (DDE and the like).
    if (!info.hProcess) return TaskState::Installed;

    ScopedHandle process(info.hProcess);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.get(), &exitCode)) exitCode = 0;
    process.reset();
    return judgeAfterExit(before, alreadyInstalled, exitCode);
}

void setInstallRecheckPause(unsigned milliseconds) { recheckPauseMs = milliseconds; }
