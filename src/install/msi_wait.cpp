// Waiting for Windows Installer to be free before a package starts.
#include "install/msi_wait.h"

#include <cwchar>

#include "install/process_tree.h"
#include "scoped.h"

namespace {

// The mutex exists for exactly as long as an installation is in its execute phase.
bool installationInProgress() {
    ScopedHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\_MSIExecute"));
    return static_cast<bool>(mutex);
}

}  // namespace

bool isWindowsInstallerPackage(const std::wstring& file) {
    return endsWithNoCase(file, L".msi") || endsWithNoCase(file, L".msp");
}

bool waitForWindowsInstallerIdle(DWORD limitMs, DWORD pollMs, const std::function<bool()>& abandoned) {
    ULONGLONG start = GetTickCount64();
    while (installationInProgress()) {
        if (abandoned && abandoned()) return false;
        ULONGLONG waited = GetTickCount64() - start;
        if (waited >= limitMs) return false;
        Sleep(static_cast<DWORD>(limitMs - waited < pollMs ? limitMs - waited : pollMs));
    }
    return true;
}
