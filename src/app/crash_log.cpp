#include "app/crash_log.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

struct LogFile {  // the C runtime's file, closed on every path
    FILE* f;
    ~LogFile() {
        if (f) fclose(f);
    }
};

void* relative(uintptr_t address, uintptr_t base) {
    return reinterpret_cast<void*>(address - base);
}

}  // namespace

// Runs on the faulting thread with a possibly damaged heap: a fixed path buffer and
// frame array on the stack, nothing allocated but the runtime's file buffer.
LONG WINAPI crashFilter(EXCEPTION_POINTERS* exceptionPointers) {
    void* frames[16];
    USHORT count = RtlCaptureStackBackTrace(0, 16, frames, nullptr);
    uintptr_t base = reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr));

    static const char kName[] = "kv_crash.log";
    char path[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, path);
    // Checked first: strcat_s would end the process on overflow instead of failing.
    if (length == 0 || length + sizeof kName > MAX_PATH) return EXCEPTION_CONTINUE_SEARCH;
    if (strcat_s(path, MAX_PATH, kName) != 0) return EXCEPTION_CONTINUE_SEARCH;

    LogFile log{fopen(path, "a")};
    if (!log.f) return EXCEPTION_CONTINUE_SEARCH;

    DWORD code = 0;
    uintptr_t address = base;
    if (exceptionPointers && exceptionPointers->ExceptionRecord) {
        code = exceptionPointers->ExceptionRecord->ExceptionCode;
        address = reinterpret_cast<uintptr_t>(exceptionPointers->ExceptionRecord->ExceptionAddress);
    }
    fprintf(log.f, "code=%08lX rva=%p frames:", static_cast<unsigned long>(code), relative(address, base));
    for (USHORT i = 0; i < count; i++) fprintf(log.f, " %p", relative(reinterpret_cast<uintptr_t>(frames[i]), base));
    fputs("\n", log.f);
    return EXCEPTION_CONTINUE_SEARCH;
}
