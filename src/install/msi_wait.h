// Windows Installer runs one installation at a time: a package started while another is in
// its execute phase fails with 1618. Before a package starts, the one running is waited for.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// How long a package waits for another installation at most before it starts anyway
// (and may then fail as Windows Installer decides): 10 minutes.
constexpr DWORD kMsiWaitLimitMs = 10 * 60 * 1000;

// Whether the file is a Windows Installer package or patch, by its name.
bool isWindowsInstallerPackage(const std::wstring& file);

// Waits while another installation holds Windows Installer's execute mutex, looking every
// pollMs, for at most limitMs; `abandoned` (may be empty) is asked at each look and ends the
// wait. True when no installation is in progress any more.
bool waitForWindowsInstallerIdle(DWORD limitMs, DWORD pollMs, const std::function<bool()>& abandoned);
