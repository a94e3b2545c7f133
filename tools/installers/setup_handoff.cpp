// Test installer: hands over to a second process and exits at once (with exitCode, 0 unless
// set); the second process waits delayMs, then installs and registers like setup_register,
// or, with a non-zero childExitCode, behaves like a cancelled setup and exits with it. With
// handOverAfterMs the first process waits that long, idle for input as a setup showing its
// first page, before it hands over.
#include "setup_common.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmdLine, int) {
    SetupConfig cfg = readConfig();
    std::wstring args = cmdLine;
    int rc = runUninstallCommand(cfg, args);
    if (rc >= 0) return rc;
    if (args.compare(0, 6, L"/child") == 0) {
        if (cfg.logOrder) noteOrder(cfg, "start");
        Sleep(cfg.delayMs);
        rc = cfg.childExitCode;
        if (rc == 0 && !installForUser(cfg)) rc = 2;
        if (cfg.logOrder) noteOrder(cfg, "end");
        return rc;
    }
    if (cfg.handOverAfterMs) {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        Sleep(cfg.handOverAfterMs);
    }
    return startSelf(selfPath(), L"/child") ? cfg.exitCode : 2;
}
