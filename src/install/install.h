// Installation: what the uninstall registry says is installed, and the queue that runs
// downloaded installers one at a time and judges from the registry whether each installed.
#pragma once

#include <windows.h>

#include <cstdint>
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

// Queues a task already switched to Installing behind any installer that is running or
// waiting: installers run one at a time, in the order they were queued. Each ends by
// setting the task's final state and posting WM_APP+1 to notifyWindow (if not null); once
// notifyWindow has been destroyed, the jobs still waiting are dropped without starting.
// False when the queue's thread could not be created (the task was not queued).
bool startInstallerRunner(std::shared_ptr<Task> task, HWND notifyWindow);

// Runs the task's installer through the shell on the calling thread, waits for it and
// returns the final state judged from its exit code and the uninstall registry.
TaskState runInstaller(const Task& task);

// Pause before each registry re-check after the installer exits: 2000 ms; tests shorten it.
void setInstallRecheckPause(unsigned milliseconds);
