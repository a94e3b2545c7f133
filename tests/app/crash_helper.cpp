// Installs the crash filter and then faults with an access violation, on the main
// thread or (with the argument "thread") on a second thread.
#include "app/crash_log.h"
#include "scoped.h"

#include <cstring>

namespace {

int* volatile target = nullptr;  // volatile: the compiler cannot drop the faulting store

DWORD WINAPI faultingThread(void*) {
    *target = 1;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);  // no error dialog to wait on
    SetUnhandledExceptionFilter(crashFilter);
    if (argc > 1 && strcmp(argv[1], "thread") == 0) {
        ScopedHandle thread(CreateThread(nullptr, 0, faultingThread, nullptr, 0, nullptr));
        if (thread) WaitForSingleObject(thread.get(), INFINITE);
        return 2;
    }
    *target = 1;
    return 1;
}
