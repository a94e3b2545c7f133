// Test installer: installs and registers like setup_register, then starts the installed
// program (its copy in the programs folder, with "/run") and exits with 0, as installers do
// that offer to run the software at the end. The program runs until the event
// "KVTestRunning-<key>" it creates is set, or runMs at most.
#include "setup_common.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmdLine, int) {
    SetupConfig cfg = readConfig();
    std::wstring args = cmdLine;
    int rc = runUninstallCommand(cfg, args);
    if (rc >= 0) return rc;
    if (args.compare(0, 4, L"/run") == 0) {
        HANDLE quit = CreateEventW(nullptr, TRUE, FALSE, (L"KVTestRunning-" + cfg.key).c_str());
        if (!quit) return 2;
        WaitForSingleObject(quit, cfg.runMs);
        CloseHandle(quit);
        return 0;
    }
    if (!installForUser(cfg)) return 2;
    return startSelf(installDirFor(cfg) + L"\\uninstall.exe", L"/run") ? 0 : 2;
}
