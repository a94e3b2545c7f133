#include "net/proxy_resolve.h"

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <mutex>
#include <new>

#include "net/winhttp_handle.h"

namespace {

std::atomic<uint32_t> autoBoundMs{proxy::kAutoBoundMs};
std::mutex memoryLock;  // memory
proxy::AutoMemory memory(proxy::kAutoKeepMs);
std::mutex detectionLock;  // one detection at a time; the others then take its outcome
// One script run at a time: Wine's runs beside each other fail now and then (error 1003),
// and a failure is remembered for minutes. Wine keeps the fetched script, so a run is short.
std::mutex scriptLock;

const wchar_t kDetectionKey[] = L"detect";

std::wstring takeGlobal(LPWSTR text) {
    std::wstring out = text ? text : L"";
    if (text) GlobalFree(text);
    return out;
}

proxy::UserSettings readUserSettings() {
    proxy::UserSettings s;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return s;
    s.autoDetect = config.fAutoDetect != FALSE;
    s.pacUrl = takeGlobal(config.lpszAutoConfigUrl);
    s.proxy = takeGlobal(config.lpszProxy);
    s.bypass = takeGlobal(config.lpszProxyBypass);
    return s;
}

// A slow automatic-configuration call on a thread of its own. Shared by that thread and the
// waiting caller; whoever lets go last frees it, so a caller that stops waiting leaves the
// thread to finish by itself.
struct AutoJob {
    LONG holders = 2;
    bool detect = false;  // else run the script at pac for url
    std::wstring url;
    std::wstring pac;
    bool ok = false;
    std::wstring proxy;
    std::wstring bypass;
};

void release(AutoJob* job) {
    if (InterlockedDecrement(&job->holders) == 0) delete job;
}

void runJob(AutoJob& job) {
    if (job.detect) {
        LPWSTR found = nullptr;
        const bool detected = WinHttpDetectAutoProxyConfigUrl(
                                  WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A, &found) != FALSE;
        job.pac = takeGlobal(found);
        job.ok = detected && !job.pac.empty();
        return;
    }
    ScopedInternet session(
        WinHttpOpen(L"", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = job.pac.c_str();
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info = {};
    if (!session || !WinHttpGetProxyForUrl(session.get(), job.url.c_str(), &options, &info)) return;
    std::wstring list = takeGlobal(info.lpszProxy);
    std::wstring bypass = takeGlobal(info.lpszProxyBypass);
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
        job.proxy = std::move(list);
        job.bypass = std::move(bypass);
    }
    job.ok = true;
}

DWORD WINAPI autoJobThread(LPVOID param) {
    auto* job = static_cast<AutoJob*>(param);
    try {
        runJob(*job);
    } catch (...) {
        job->ok = false;
    }
    release(job);
    return 0;
}

// Runs the job, waiting at most the bound; false when it failed or took longer.
bool runBounded(AutoJob* job) {
    HANDLE thread = CreateThread(nullptr, 0, autoJobThread, job, 0, nullptr);
    if (!thread) {
        release(job);  // the share the thread would have let go
        return false;
    }
    const bool finished = WaitForSingleObject(thread, autoBoundMs.load()) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return finished;
}

bool recall(const std::wstring& key, proxy::AutoMemory::Outcome& outcome) {
    std::lock_guard<std::mutex> hold(memoryLock);
    return memory.recall(key, GetTickCount64(), outcome);
}

void remember(const std::wstring& key, const proxy::AutoMemory::Outcome& outcome) {
    std::lock_guard<std::mutex> hold(memoryLock);
    memory.remember(key, outcome, GetTickCount64());
}

// The script address that network detection finds, or empty.
std::wstring detectedScript() {
    std::lock_guard<std::mutex> one(detectionLock);
    proxy::AutoMemory::Outcome outcome;
    if (!recall(kDetectionKey, outcome)) {
        auto* job = new (std::nothrow) AutoJob;
        if (job) {
            job->detect = true;
            if (runBounded(job)) {
                outcome.ok = job->ok;
                outcome.text = job->pac;
            }
            release(job);
        }
        remember(kDetectionKey, outcome);
    }
    return outcome.ok ? outcome.text : std::wstring();
}

proxy::AutoAnswer scriptAnswer(const proxy::UserSettings& settings, const std::wstring& url) {
    proxy::AutoAnswer answer;
    std::wstring pac = settings.autoDetect ? detectedScript() : std::wstring();
    if (pac.empty()) pac = settings.pacUrl;
    if (pac.empty()) return answer;
    // Only failures are remembered: a script answers for each address anew. Asked under the
    // lock, so that requests queued behind a run that failed do not each wait for it again.
    const std::wstring key = L"script " + pac;
    std::lock_guard<std::mutex> one(scriptLock);
    proxy::AutoMemory::Outcome failed;
    if (recall(key, failed)) return answer;
    auto* job = new (std::nothrow) AutoJob;
    if (job) {
        job->url = url;
        job->pac = pac;
        if (runBounded(job) && job->ok) {
            answer.ok = true;
            answer.proxy = job->proxy;
            answer.bypass = job->bypass;
        }
        release(job);
    }
    if (!answer.ok) remember(key, failed);
    return answer;
}

}  // namespace

proxy::Route resolveProxyRoute(const std::wstring& url, const UrlParts& parts) {
    const proxy::UserSettings settings = readUserSettings();
    proxy::AutoAnswer automatic;
    if (proxy::wantsAutomatic(settings)) automatic = scriptAnswer(settings, url);
    return proxy::chooseRoute(settings, automatic, parts);
}

void setAutoProxyLimits(uint32_t boundMs, uint64_t keepMs) {
    autoBoundMs = boundMs;
    std::lock_guard<std::mutex> hold(memoryLock);
    memory.setKeep(keepMs);
}
