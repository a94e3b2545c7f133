// Test installer that notes where it runs: "%TEMP%\kv-install-where.txt" gets its image path,
// its working folder and whether a file named version.dll lies beside it (UTF-16 lines),
// then it installs and registers like setup_register.
#include "setup_common.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmdLine, int) {
    SetupConfig cfg = readConfig();
    int rc = runUninstallCommand(cfg, cmdLine);
    if (rc >= 0) return rc;
    std::wstring self = selfPath();
    std::wstring beside = self.substr(0, self.find_last_of(L'\\')) + L"\\version.dll";
    wchar_t cwd[MAX_PATH * 2];
    DWORD n = GetCurrentDirectoryW(MAX_PATH * 2, cwd);
    std::wstring text = self + L"\n" + std::wstring(cwd, n) + L"\n" +
                        (GetFileAttributesW(beside.c_str()) != INVALID_FILE_ATTRIBUTES ? L"dll" : L"nodll") + L"\n";
    wchar_t temp[MAX_PATH];
    DWORD t = GetTempPathW(MAX_PATH, temp);
    HANDLE f = CreateFileW((std::wstring(temp, t) + L"kv-install-where.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                           CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    WriteFile(f, text.c_str(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(f);
    return installForUser(cfg) ? 0 : 2;
}
