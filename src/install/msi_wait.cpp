// Waiting for Windows Installer to be free before a package starts.
#include "install/msi_wait.h"

#include <cwchar>

#include "scoped.h"

namespace {

bool endsWithNoCase(const std::wstring& s, const wchar_t* suffix) {
    size_t n = wcslen(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; i++) {
        wchar_t c = s[s.size() - n + i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != suffix[i]) return false;
    }
    return true;
}

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
