// Scoped owner for WinHTTP handles (session, connection, request).
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "scoped.h"

struct WinHttpHandleTraits {
    static HINTERNET invalid() { return nullptr; }
    static bool valid(HINTERNET h) { return h != nullptr; }
    static void close(HINTERNET h) { WinHttpCloseHandle(h); }
};
using ScopedInternet = Scoped<HINTERNET, WinHttpHandleTraits>;
