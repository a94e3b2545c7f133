// Test installer: hands over to a second process and exits at once (with exitCode, 0 unless
// set); the second process waits delayMs, then installs and registers like setup_register.
#include "setup_common.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmdLine, int) {
    SetupConfig cfg = readConfig();
    std::wstring args = cmdLine;
    int rc = runUninstallCommand(cfg, args);
    if (rc >= 0) return rc;
    if (args.compare(0, 6, L"/child") == 0) {
        Sleep(cfg.delayMs);
        return installForUser(cfg) ? 0 : 2;
    }
    return startSelf(selfPath(), L"/child") ? cfg.exitCode : 2;
}
