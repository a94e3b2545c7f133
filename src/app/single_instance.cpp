#include "app/single_instance.h"

#include "app/main_window.h"
#include "scoped.h"

namespace {

// How long a second start looks for the first one's window: the first may have taken the
// claim a moment ago and not yet made its window.
constexpr int kFindTries = 50;
constexpr DWORD kFindPauseMs = 100;

}  // namespace

void bringToFront(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    // This process was started by the user and may give the foreground away; the first one
    // then may take it, whatever Windows thinks of its own last input.
    if (process) AllowSetForegroundWindow(process);
    // Asynchronous: a first program that hangs must not hang the second one too.
    if (IsIconic(window)) ShowWindowAsync(window, SW_RESTORE);
    SetForegroundWindow(window);
}

bool claimSingleInstance() {
    // Held until the process ends: the claim is the mutex's existence, not its ownership.
    static ScopedHandle claim;
    claim.reset(CreateMutexW(nullptr, FALSE, kInstanceMutexName));
    if (!claim) return true;  // cannot tell: better a second window than no program at all
    if (GetLastError() != ERROR_ALREADY_EXISTS) return true;
    claim.reset();
    for (int i = 0; i < kFindTries; ++i) {
        HWND first = FindWindowW(kMainWindowClass, nullptr);
        if (first) {
            bringToFront(first);
            break;
        }
        Sleep(kFindPauseMs);
    }
    return false;
}
