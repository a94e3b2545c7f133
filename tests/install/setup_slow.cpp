// Test installer that takes its time: notes its start in the order log, waits delayMs,
// installs and registers like setup_register when its exit code is 0 (nothing otherwise),
// stays finishPageMs on its "last page", notes its end and exits with that code. The
// install-queue tests read the log to see which installers ran and whether any two ran at
// the same time.
#include "setup_common.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmdLine, int) {
    SetupConfig cfg = readConfig();
    int rc = runUninstallCommand(cfg, cmdLine);
    if (rc >= 0) return rc;
    noteOrder(cfg, "start");
    Sleep(cfg.delayMs);
    rc = cfg.exitCode;
    if (rc == 0 && !installForUser(cfg)) rc = 2;
    Sleep(cfg.finishPageMs);
    noteOrder(cfg, "end");
    return rc;
}
