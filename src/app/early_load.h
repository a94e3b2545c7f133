// The first catalog load, started as soon as the configuration is known, before GDI+, the
// fonts and the windows, so that the request runs beside them; the main window takes it
// over at its creation instead of starting a load of its own.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "catalog/icon_cache.h"

struct CatalogState;

enum class EarlyLoad { None, Running, Succeeded, Failed };

// Starts the load on its own thread; false when the thread cannot be made (the window
// then starts an ordinary load). At most once per process. With a channel, the thread
// first publishes the cached catalog of server and channel when there is one (its request
// then waits for the first frame, see earlyLoadFrameShown), and keeps the loaded catalog
// as the new cache after a success.
bool startEarlyCatalogLoad(CatalogState& catalog, const std::wstring& server,
                           const std::wstring& channel = std::wstring());

// Hands the early load to window, once: Running when its load-finished message will be
// posted there, Succeeded or Failed when the load already ended and posted nothing, None
// when there is no early load to take (none started, or already taken).
EarlyLoad adoptEarlyCatalogLoad(HWND window);

// Waits up to timeout milliseconds for the early load to end (any thread); false when none
// was started or it is still running.
bool waitForEarlyCatalogLoad(DWORD timeout);

// Waits up to timeout milliseconds for the early load to have looked for the cached
// catalog; true when it published one (the store then holds it until the load replaces it).
bool earlyCatalogCacheShown(DWORD timeout);

// The first frame is on screen: a refresh waiting behind the cached catalog goes now (it
// waits at most 2 s for this).
void earlyLoadFrameShown();

// The first frame shows fewer cards than this at any start-up size.
constexpr size_t kFirstFrameCards = 24;

// The kept icon files of the first cards of the published cached catalog (its first
// category's first icons), read with it; handed over once, to the first caller after
// earlyCatalogCacheShown returned true.
std::vector<IconCacheEntry> takeEarlyIconEntries();
