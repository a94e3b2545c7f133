#include "download/shell_open.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <memory>
#include <mutex>
#include <new>
#include <utility>

#include "scoped.h"

namespace {

struct ShellJob {
    std::wstring target;
    bool selectItem = false;
};

std::mutex& hookLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}
std::function<void(const std::wstring&, bool)>& hookSlot() {
    static auto* hook = new std::function<void(const std::wstring&, bool)>;
    return *hook;
}

bool isExistingFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void callShell(const ShellJob& job) {
    if (job.selectItem) {
        PIDLIST_ABSOLUTE item = ILCreateFromPathW(job.target.c_str());
        if (!item) return;
        SHOpenFolderAndSelectItems(item, 0, nullptr, 0);
        ILFree(item);
    } else {
        ShellExecuteW(nullptr, L"open", job.target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    }
}

DWORD WINAPI shellThread(LPVOID parameter) {
    std::unique_ptr<ShellJob> job(static_cast<ShellJob*>(parameter));
    try {
        // Opening a path through the shell runs it when it names a program: only a folder
        // that exists is ever opened. Checked here, since the look can wait on a dead share.
        if (!job->selectItem && !isExistingFolder(job->target)) return 0;
        std::function<void(const std::wstring&, bool)> hook;
        {
            std::lock_guard<std::mutex> lock(hookLock());
            hook = hookSlot();
        }
        if (hook) {
            hook(job->target, job->selectItem);
            return 0;
        }
        // The shell's folder views want a single-threaded apartment on the calling thread.
        const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        callShell(*job);
        if (SUCCEEDED(com)) CoUninitialize();
    } catch (...) {
    }
    return 0;
}

bool startShellJob(const std::wstring& target, bool selectItem) {
    if (target.empty()) return false;
    ShellJob* job = new (std::nothrow) ShellJob;
    if (!job) return false;
    try {
        job->target = target;
    } catch (...) {
        delete job;
        return false;
    }
    job->selectItem = selectItem;
    ScopedHandle thread(CreateThread(nullptr, 0, shellThread, job, 0, nullptr));
    if (!thread) {
        delete job;
        return false;
    }
    return true;
}

}  // namespace

bool openFolderDetached(const std::wstring& folder) { return startShellJob(folder, false); }

bool showInFolderDetached(const std::wstring& path) { return startShellJob(path, true); }

void setShellOpenHook(std::function<void(const std::wstring&, bool)> hook) {
    std::lock_guard<std::mutex> lock(hookLock());
    hookSlot() = std::move(hook);
}
