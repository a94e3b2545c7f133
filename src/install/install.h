// Installation: what the uninstall registry says is installed, and the thread that
// runs a downloaded installer and judges from the registry whether it installed.
#pragma once

#include <windows.h>

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

// Starts the installer-runner thread for a task already switched to Installing; it
// ends by setting the final state and posting WM_APP+1 to notifyWindow (if not null).
// False when the thread could not be created.
bool startInstallerRunner(std::shared_ptr<Task> task, HWND notifyWindow);

// Pause before each registry re-check after the installer exits: 2000 ms; tests shorten it.
void setInstallRecheckPause(unsigned milliseconds);
