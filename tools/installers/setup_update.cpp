// Test update installer: rewrites the name and version of an uninstall entry that already
// exists and exits with 0; without that entry there is nothing to update and it exits with 1.
#include "setup_common.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return writeUninstallEntry(readConfig(), std::wstring(), false) ? 0 : 1;
}
