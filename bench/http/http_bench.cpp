// http_bench engine|bare URL
// Downloads URL once and prints bytes, seconds, MB/s and the process's peak memory.
// "engine" goes through httpRequest with a sink that discards; "bare" is the plainest
// synchronous WinHTTP read loop, the platform's own ceiling for comparison.
#include <windows.h>
#include <psapi.h>
#include <winhttp.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "net/http.h"
#include "net/url.h"
#include "net/winhttp_handle.h"

namespace {

bool engineLoop(const std::wstring& url, unsigned long long& bytes) {
    HttpResponse response;
    std::wstring error;
    HttpDataSink sink = [&bytes](const unsigned char*, unsigned long n) {
        bytes += n;
        return true;
    };
    HttpResult result = httpRequest(url, {}, nullptr, L"GET", sink, response, error, nullptr);
    if (result != HttpResult::Ok) fwprintf(stderr, L"engine: result %d, %ls\n", static_cast<int>(result), error.c_str());
    return result == HttpResult::Ok;
}

bool bareLoop(const std::wstring& url, unsigned long long& bytes) {
    UrlParts parts;
    if (!crackUrl(url, parts)) return false;
    ScopedInternet session(WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return false;
    ScopedInternet connection(WinHttpConnect(session.get(), parts.host.c_str(), parts.port, 0));
    if (!connection) return false;
    std::wstring object = parts.path + parts.query;
    ScopedInternet request(WinHttpOpenRequest(connection.get(), L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                              WINHTTP_DEFAULT_ACCEPT_TYPES, parts.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return false;
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        fwprintf(stderr, L"bare: send/receive failed %lu\n", GetLastError());
        return false;
    }
    std::vector<unsigned char> buffer(65536);
    for (;;) {
        DWORD got = 0;
        if (!WinHttpReadData(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got)) {
            fwprintf(stderr, L"bare: read failed %lu\n", GetLastError());
            return false;
        }
        if (got == 0) return true;
        bytes += got;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 || (wcscmp(argv[1], L"engine") != 0 && wcscmp(argv[1], L"bare") != 0)) {
        fwprintf(stderr, L"usage: http_bench engine|bare URL\n");
        return 2;
    }
    unsigned long long bytes = 0;
    LARGE_INTEGER freq, start, stop;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&start);
    bool ok = wcscmp(argv[1], L"engine") == 0 ? engineLoop(argv[2], bytes) : bareLoop(argv[2], bytes);
    QueryPerformanceCounter(&stop);
    double seconds = double(stop.QuadPart - start.QuadPart) / double(freq.QuadPart);
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
    wprintf(L"%-7ls %12llu bytes %8.2f s %9.1f MB/s  peak working set %6.1f MiB  peak private %6.1f MiB%ls\n", argv[1],
            bytes, seconds, seconds > 0 ? double(bytes) / 1e6 / seconds : 0.0, double(pmc.PeakWorkingSetSize) / 1048576.0,
            double(pmc.PeakPagefileUsage) / 1048576.0, ok ? L"" : L"  (FAILED)");
    return ok ? 0 : 1;
}
