// Test installer: installs a read-me and an uninstaller into the user's programs folder,
// registers a per-user uninstall entry and exits with 0.
#include "setup_common.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmdLine, int) {
    SetupConfig cfg = readConfig();
    int rc = runUninstallCommand(cfg, cmdLine);
    if (rc >= 0) return rc;
    return installForUser(cfg) ? 0 : 2;
}
