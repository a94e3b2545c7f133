// download_bench URL MD5 DIR
// Downloads URL once through the DownloadManager into DIR (ranges as the server offers,
// digest checked against MD5) and prints the transfer rate, the digest time apart, and the
// process's peak memory.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>

#include "download/format.h"
#include "download/manager.h"
#include "json/encoding.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        fwprintf(stderr, L"usage: download_bench URL MD5 DIR\n");
        return 2;
    }
    setDownloadDirectory(argv[3]);
    DownloadManager& m = DownloadManager::instance();

    LARGE_INTEGER freq, t0, t1 = {}, t2 = {};
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    m.start(1, L"bench", json::toUtf8(argv[1]), json::toUtf8(argv[2]), 0);
    std::shared_ptr<Task> task;
    {
        std::lock_guard<std::mutex> lock(m.tasksLock);
        task = m.tasks[1];
    }
    for (;;) {
        TaskState s = task->state.load();
        if (s == TaskState::Verifying && t1.QuadPart == 0) QueryPerformanceCounter(&t1);
        if (s != TaskState::Downloading && s != TaskState::Verifying) break;
        Sleep(5);
    }
    QueryPerformanceCounter(&t2);
    if (t1.QuadPart == 0) t1 = t2;

    const double transfer = static_cast<double>(t1.QuadPart - t0.QuadPart) / freq.QuadPart;
    const double digest = static_cast<double>(t2.QuadPart - t1.QuadPart) / freq.QuadPart;
    const long long bytes = task->downloadedBytes.load();
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
    wprintf(L"manager %12lld bytes %8.2f s %9.1f MB/s  digest+move %6.2f s  md5 %ls  state %d  "
            L"peak working set %6.1f MiB  peak private %6.1f MiB\n",
            bytes, transfer, bytes / 1048576.0 / transfer, digest, task->md5Ok.load() ? L"ok" : L"MISMATCH",
            static_cast<int>(task->state.load()), pmc.PeakWorkingSetSize / 1048576.0,
            pmc.PeakPagefileUsage / 1048576.0);
    if (task->state.load() != TaskState::Completed) {
        fwprintf(stderr, L"failed: %ls\n", task->getError().c_str());
        return 1;
    }
    DeleteFileW(task->getFilePath().c_str());
    return task->md5Ok.load() ? 0 : 1;
}
