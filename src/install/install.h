// Installation: what the uninstall registry says is installed, and the queue that runs
// downloaded installers one at a time and judges from the registry whether each installed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

struct Task;

struct InstalledSnapshot {
    std::set<std::wstring> keys;            // hive prefix + subkey name, e.g. "CU\{GUID}"
    std::vector<std::wstring> displayNames;  // REG_SZ "DisplayName" values, enumeration order
};

InstalledSnapshot takeInstalledSnapshot();
std::wstring normalizeName(const std::wstring& s);
bool matchesInstalled(const InstalledSnapshot& before, const std::wstring& appName);
bool hasNewEntry(const InstalledSnapshot& before);
// The comparison behind hasNewEntry: does `after` hold a key that `before` lacks.
bool hasNewKey(const InstalledSnapshot& before, const InstalledSnapshot& after);

enum class TaskState : int32_t;

// Posted to the notify window when a queued installer's process has started, and when it
// could not be started (file gone, elevation declined, launch refused): wParam = the
// application id, lParam = the task's generation.
constexpr UINT kMsgInstallerStarted = WM_APP + 5;
constexpr UINT kMsgInstallerNotStarted = WM_APP + 6;

// Queues a task already switched to Installing behind any installer that is running or
// waiting: installers run one at a time, in the order they were queued; a task queued
// behind another is marked installWaiting until its turn. Each ends by setting the task's
// final state and posting WM_APP+1 to notifyWindow (if not null); once notifyWindow has
// been destroyed, the jobs still waiting are dropped without starting. An installer that
// cannot be started ends in InstallFailed with the reason in the task's errorText.
// False when the queue's thread could not be created (the task was not queued).
bool startInstallerRunner(std::shared_ptr<Task> task, HWND notifyWindow);

// What runInstaller tells its caller on the way, all on the calling thread.
struct InstallerEvents {
    std::function<void()> started;     // once, as soon as the installer runs; never if it could not start
    std::function<void()> registered;  // once, when its uninstall entry appears while its processes still run
    std::function<bool()> abandoned;   // asked while it waits to start: true gives up the start
    bool fileChanged = false;          // set when the file was no longer the verified one and was not run
};

// Runs the task's installer on the calling thread, as the shell would, from a folder of its
// own, with every process it starts, and returns the final state judged from the uninstall
// registry while they run and from the first process's exit code once they have all ended.
// It returns only when the whole tree has ended, apart from processes that run the newly
// installed application (and those that left the tree), so that the next installer never
// runs beside this one.
TaskState runInstaller(const Task& task, InstallerEvents& events);
TaskState runInstaller(const Task& task, const std::function<void()>& started = {});

// The row text of an installer that was not started: whether its file is still there, and
// whether it was refused because it changed after verification.
std::wstring installerNotStartedText(bool fileExists, bool fileChanged = false);

// Pause between the registry looks while the installer's processes run and after they have
// ended: 2000 ms; tests shorten it.
void setInstallRecheckPause(unsigned milliseconds);

// Tests: every installer's assignment to its job counts as refused, as where a process may
// not join a second job; such an installer is followed by its first process only.
void setInstallJobRefused(bool refused);
