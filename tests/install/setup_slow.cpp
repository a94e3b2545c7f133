// Test installer that takes its time: notes its start in the order log, waits delayMs,
// installs and registers like setup_register when its exit code is 0 (nothing otherwise),
// notes its end and exits with that code. The install-queue tests read the log to see
// which installers ran and whether any two ran at the same time.
#include "setup_common.h"

#include <string>

namespace {

// "%TEMP%\kv-install-order.log": one line "<key> start|end <GetTickCount64>" per event.
void note(const SetupConfig& cfg, const char* event) {
    wchar_t temp[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, temp);
    std::wstring path = std::wstring(temp, n) + L"kv-install-order.log";
    std::string line;
    for (wchar_t c : cfg.key) line.push_back(c < 128 ? static_cast<char>(c) : '?');
    line += std::string(" ") + event + " " + std::to_string(GetTickCount64()) + "\n";
    // Appending opens may meet another writer's open for a moment.
    for (int attempt = 0; attempt < 50; attempt++) {
        HANDLE f = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_ALWAYS, 0, nullptr);
        if (f != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            CloseHandle(f);
            return;
        }
        Sleep(20);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmdLine, int) {
    SetupConfig cfg = readConfig();
    int rc = runUninstallCommand(cfg, cmdLine);
    if (rc >= 0) return rc;
    note(cfg, "start");
    Sleep(cfg.delayMs);
    rc = cfg.exitCode;
    if (rc == 0 && !installForUser(cfg)) rc = 2;
    note(cfg, "end");
    return rc;
}
