#include "app/app_state.h"
#include "app/config.h"
#include "app/crash_log.h"
#include "app/dpi.h"
#include "app/startup.h"

#include <windows.h>

#include <utility>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    makeProcessDpiAware();
    SetUnhandledExceptionFilter(crashFilter);
    Config loaded = loadConfig(&gApp.configUnreadable);
    gApp.config.server = std::move(loaded.server);
    gApp.config.channel = std::move(loaded.channel);
    gApp.config.downloadDir = std::move(loaded.downloadDir);
    if (!initWindows(instance)) return 1;
    return runMessageLoop();
}
