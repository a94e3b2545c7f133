#include "app/app_state.h"
#include "app/config.h"
#include "app/crash_log.h"
#include "app/dpi.h"
#include "app/early_load.h"
#include "app/journal_file.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "catalog/catalog_cache.h"
#include "startup_marks.h"

#include <windows.h>

#include <utility>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    markStartup(StartupMark::EntryReached);
    // Before any window, font or request: a second start only hands over to the first.
    if (!claimSingleInstance()) return 0;
    makeProcessDpiAware();
    SetUnhandledExceptionFilter(crashFilter);
    Config loaded = loadConfig(&gApp.configUnreadable);
    gApp.config.server = std::move(loaded.server);
    gApp.config.channel = std::move(loaded.channel);
    gApp.config.downloadDir = std::move(loaded.downloadDir);
    setCacheFolder(defaultCacheFolder());
    startEarlyCatalogLoad(gApp.catalog, gApp.config.server, gApp.config.channel);
    startDownloadJournal();
    if (!initWindows(instance)) return 1;
    return runMessageLoop();
}
