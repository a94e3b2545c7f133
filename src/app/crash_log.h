// The crash log: one line per unhandled exception, appended to kv_crash.log in the
// temporary folder. The line holds the exception code, the faulting address and up to
// 16 return addresses of the faulting thread, all relative to the executable's load
// address so they can be matched against its map whatever address it was loaded at.
#pragma once

#include <windows.h>

// For SetUnhandledExceptionFilter. Always returns EXCEPTION_CONTINUE_SEARCH so the
// system's own crash handling goes on.
LONG WINAPI crashFilter(EXCEPTION_POINTERS* exceptionPointers);
