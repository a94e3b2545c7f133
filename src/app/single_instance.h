// One program per user session: two managers over one download folder would truncate each
// other's part files and run installers side by side. A second start brings the first
// one's window to the front and ends before it makes a window or a request.
#pragma once

#include <windows.h>

// True when this process is the first (it then holds the session's claim until it ends);
// false when another one runs: its main window, once found (it may still be starting), has
// been restored and brought to the front.
bool claimSingleInstance();

// The session-wide name of the claim.
inline constexpr wchar_t kInstanceMutexName[] = L"Local\\KelvoManager.Instance";

// Restores a minimized window and brings it to the front, without waiting for its thread.
void bringToFront(HWND window);
