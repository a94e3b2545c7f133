// Starting an installer inside a job object and following its processes through the job's
// completion port. The job has no kill-on-close limit: closing our handles, or our window,
// never ends a user's installer.
#include "install/process_tree.h"

#include <shellapi.h>

#include <atomic>
#include <cwchar>

#include "install/install.h"

namespace {

std::atomic<bool> assignmentRefused{false};

// Exit code of a process that was started suspended and ended before it ran.
const UINT kNeverRan = 1;


}  // namespace

void setInstallJobRefused(bool refused) { assignmentRefused = refused; }

bool startsAsProgram(const std::wstring& file) { return endsWithNoCase(file, L".exe"); }

LaunchResult InstallerProcesses::launch(const std::wstring& file, const std::wstring& directory) {
    if (!startsAsProgram(file)) return openThroughShell(file, directory, makeJob());
    if (makeJob()) {
        LaunchResult result = startSuspendedInJob(file, directory);
        if (result == LaunchResult::Started) return result;
        dropJob();
    }
    // Needs elevation, the job was refused, or the file is not a program Windows can start
    // this way: the shell launches it (and asks, or explains) as it always did.
    return openThroughShell(file, directory, false);
}

bool InstallerProcesses::makeJob() {
    job_.reset(CreateJobObjectW(nullptr, nullptr));
    port_.reset(job_ ? CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1) : nullptr);
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {};
    association.CompletionKey = job_.get();
    association.CompletionPort = port_.get();
    if (!port_ || !SetInformationJobObject(job_.get(), JobObjectAssociateCompletionPortInformation, &association,
                                           sizeof(association))) {
        dropJob();
        return false;
    }
    // A setup that starts a process expressly outside its job (often the installed program)
    // would fail without this; such a process simply leaves the tree.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    return true;
}

bool InstallerProcesses::assign(HANDLE process) const {
    if (assignmentRefused.load()) return false;
    return AssignProcessToJobObject(job_.get(), process) != FALSE;
}

void InstallerProcesses::dropJob() {
    port_.reset();
    job_.reset();
}

LaunchResult InstallerProcesses::startSuspendedInJob(const std::wstring& file, const std::wstring& directory) {
    std::wstring commandLine = L"\"" + file + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(file.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_NEW_CONSOLE,
                        nullptr, directory.empty() ? nullptr : directory.c_str(), &startup, &info))
        return LaunchResult::Failed;
    ScopedHandle process(info.hProcess), thread(info.hThread);
    if (!assign(process.get()) || ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        TerminateProcess(process.get(), kNeverRan);
        WaitForSingleObject(process.get(), 5000);
        return LaunchResult::Failed;
    }
    process_ = std::move(process);
    return LaunchResult::Started;
}

LaunchResult InstallerProcesses::openThroughShell(const std::wstring& file, const std::wstring& directory,
                                                  bool joinJob) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = file.c_str();
    info.lpDirectory = directory.empty() ? nullptr : directory.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) {
        dropJob();
        return LaunchResult::Failed;
    }
    if (!info.hProcess) {
        dropJob();
        return LaunchResult::NoProcess;
    }
    process_.reset(info.hProcess);
    // Refused (a process that may not join another job, or one already ended): only the
    // first process can be waited for.
    if (!joinJob || !assign(process_.get())) dropJob();
    return LaunchResult::Started;
}

bool InstallerProcesses::noProcessLeft() const {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
    if (QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation, &accounting, sizeof(accounting),
                                  nullptr))
        return accounting.ActiveProcesses == 0;
    return WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0;
}

bool InstallerProcesses::waitForEnd(DWORD timeoutMs) {
    if (ended_ || !process_) return true;
    if (!port_) {
        ended_ = WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0;
        return ended_;
    }
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        DWORD left = timeoutMs == INFINITE ? INFINITE : (elapsed >= timeoutMs ? 0 : timeoutMs - elapsed);
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED detail = nullptr;
        if (!GetQueuedCompletionStatus(port_.get(), &message, &key, &detail, left)) {
            if (GetLastError() == WAIT_TIMEOUT) break;
            // A port that no longer answers: from here on only the first process is followed.
            dropJob();
            elapsed = GetTickCount() - start;
            left = timeoutMs == INFINITE ? INFINITE : (elapsed >= timeoutMs ? 0 : timeoutMs - elapsed);
            ended_ = WaitForSingleObject(process_.get(), left) == WAIT_OBJECT_0;
            return ended_;
        }
        if (key == reinterpret_cast<ULONG_PTR>(job_.get()) && message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
            ended_ = true;
            return true;
        }
    }
    // The time is up: the job's own count stands in for a message that may have been lost.
    ended_ = noProcessLeft();
    return ended_;
}

std::vector<std::wstring> InstallerProcesses::remainingImages() const {
    std::vector<std::wstring> images;
    if (!port_) return images;
    // Room for 256 processes; a longer list than that counts as one unknown process more.
    struct {
        JOBOBJECT_BASIC_PROCESS_ID_LIST header;
        ULONG_PTR more[255];
    } list = {};
    if (!QueryInformationJobObject(job_.get(), JobObjectBasicProcessIdList, &list, sizeof(list), nullptr)) {
        images.emplace_back();
        return images;
    }
    const ULONG_PTR* ids = list.header.ProcessIdList;
    for (DWORD i = 0; i < list.header.NumberOfProcessIdsInList; i++) {
        const DWORD id = static_cast<DWORD>(ids[i]);
        ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id));
        if (!process) {
            // Ended since the list was made: nothing left to wait for.
            if (GetLastError() != ERROR_INVALID_PARAMETER) images.emplace_back();
            continue;
        }
        wchar_t path[MAX_PATH * 4];
        DWORD size = MAX_PATH * 4;
        if (WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) continue;
        images.emplace_back(QueryFullProcessImageNameW(process.get(), 0, path, &size) ? std::wstring(path, size)
                                                                                      : std::wstring());
    }
    if (list.header.NumberOfAssignedProcesses > list.header.NumberOfProcessIdsInList) images.emplace_back();
    return images;
}

DWORD InstallerProcesses::firstExitCode() const {
    DWORD code = 0;
    if (!process_ || !GetExitCodeProcess(process_.get(), &code)) return 0;
    return code;
}

bool endsWithNoCase(const std::wstring& s, const wchar_t* suffix) {
    size_t n = std::wcslen(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; i++) {
        wchar_t c = s[s.size() - n + i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != suffix[i]) return false;
    }
    return true;
}
