#include "download/format.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>

#include "scoped.h"

namespace {

// Written on the user-interface thread and by the folder workers, read by runner threads:
// every access copies the whole string under the lock. Never destroyed, because runner
// threads may still read it while the process runs its exit handlers.
struct FolderSetting {
    std::mutex lock;
    std::wstring configured;
    std::wstring defaultFolder;  // empty until found
};

FolderSetting& folderSetting() {
    static FolderSetting* setting = new FolderSetting;
    return *setting;
}

std::wstring findDefaultFolder() {
    std::wstring base;
    PWSTR known = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Downloads, 0, nullptr, &known)) && known) base = known;
    CoTaskMemFree(known);
    if (base.empty()) {
        wchar_t buf[MAX_PATH] = {};
        if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES_COMMONX86, nullptr, SHGFP_TYPE_CURRENT, buf)))
            base = buf;
    }
    if (!base.empty()) return base + L"\\星舟软件管家";

    wchar_t module[MAX_PATH] = {};
    DWORD len = GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring self(module, len < MAX_PATH ? len : MAX_PATH);
    size_t cut = self.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return L".";
    return self.substr(0, cut);
}

struct RefreshJob {
    HWND window;
    UINT message;
};

DWORD WINAPI refreshThread(void* param) {
    std::unique_ptr<RefreshJob> job(static_cast<RefreshJob*>(param));
    try {
        std::wstring configured;
        {
            FolderSetting& s = folderSetting();
            std::lock_guard<std::mutex> lock(s.lock);
            configured = s.configured;
        }
        ensureDownloadDirectory(configured);
    } catch (...) {
    }
    if (job->window) PostMessageW(job->window, job->message, 0, 0);
    return 0;
}

std::wstring printed(const wchar_t* format, ...) {
    wchar_t buf[48];
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(buf, 47, format, args);
    va_end(args);
    if (n < 0) n = 47;
    buf[n] = 0;
    return buf;
}

}  // namespace

void setDownloadDirectory(const std::wstring& path) {
    std::wstring p = path;
    while (!p.empty() && p.back() == L'\\') p.pop_back();
    FolderSetting& s = folderSetting();
    std::lock_guard<std::mutex> lock(s.lock);
    s.configured = p;
}

std::wstring downloadDirectory() {
    FolderSetting& s = folderSetting();
    std::lock_guard<std::mutex> lock(s.lock);
    return s.configured.empty() ? s.defaultFolder : s.configured;
}

std::wstring ensureDownloadDirectory(const std::wstring& folder) {
    std::wstring dir = folder;
    if (dir.empty()) {
        FolderSetting& s = folderSetting();
        {
            std::lock_guard<std::mutex> lock(s.lock);
            dir = s.defaultFolder;
        }
        if (dir.empty()) {
            dir = findDefaultFolder();
            std::lock_guard<std::mutex> lock(s.lock);
            s.defaultFolder = dir;
        }
    }
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

bool refreshDownloadDirectory(HWND window, UINT message) {
    auto* job = new (std::nothrow) RefreshJob{window, message};
    if (!job) return false;
    ScopedHandle thread(CreateThread(nullptr, 0, refreshThread, job, 0, nullptr));
    if (!thread) {
        delete job;
        return false;
    }
    return true;
}

std::wstring formatSize(int64_t bytes) {
    if (bytes <= 0) return L"0 B";
    if (bytes < 1024) return printed(L"%d B", static_cast<int>(bytes));
    if (bytes < 1048576) return printed(L"%d KB", static_cast<int>(bytes / 1024));
    if (bytes < 1073741824) return printed(L"%.1f MB", static_cast<double>(bytes) / 1048576.0);
    return printed(L"%.2f GB", static_cast<double>(bytes) / 1073741824.0);
}

std::wstring formatSpeed(int32_t bytesPerSecond) {
    if (bytesPerSecond <= 0) return std::wstring();
    if (bytesPerSecond < 1024) return printed(L"%d B/s", bytesPerSecond);
    if (bytesPerSecond < 1048576) return printed(L"%d KB/s", bytesPerSecond / 1024);
    return printed(L"%.1f MB/s", static_cast<double>(bytesPerSecond) / 1048576.0);
}

std::wstring formatDate(int64_t ms) {
    if (ms < 1) return std::wstring();
    // Far-future values would overflow the file time; they have no meaningful date.
    if (ms > (INT64_MAX - 116444736000000000LL) / 10000) return std::wstring();
    ULARGE_INTEGER t;
    t.QuadPart = static_cast<ULONGLONG>(ms) * 10000ULL + 116444736000000000ULL;
    FILETIME utc{t.LowPart, t.HighPart};
    FILETIME local;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return std::wstring();
    return printed(L"%02d-%02d", st.wMonth, st.wDay);
}
