// Helpers for the installation tests: test packages, uninstall entries that clean themselves
// up, and running one task through the installer runner.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <memory>
#include <string>

#include "download/task.h"
#include "install/install.h"

const wchar_t kUninstallPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The build tree is a Unix path; under Wine it is reached through drive Z:.
inline std::wstring packagePath(const std::wstring& name) {
    std::string dir = KV_TEST_PACKAGES_DIR;
    std::wstring out = !dir.empty() && dir[0] == '/' ? L"Z:" : L"";
    for (char c : dir) out.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
    return out + L"\\" + name;
}

// Folder the test installers install into: %LOCALAPPDATA%\Programs\<key>.
inline std::wstring installDirOf(const std::wstring& key) {
    wchar_t base[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, base))) return std::wstring();
    return std::wstring(base) + L"\\Programs\\" + key;
}

inline bool fileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// An uninstall entry a test makes or expects an installer to make. Removed (with whatever a
// test installer put into the user's programs folder) on construction and destruction.
class TestEntry {
public:
    TestEntry(HKEY hive, std::wstring name, REGSAM view = 0) : hive_(hive), name_(std::move(name)), view_(view) {
        remove();
    }
    ~TestEntry() { remove(); }
    TestEntry(const TestEntry&) = delete;
    TestEntry& operator=(const TestEntry&) = delete;

    std::wstring path() const { return std::wstring(kUninstallPath) + L"\\" + name_; }

    // Creates the entry; displayType 0 means no "DisplayName" value at all.
    bool create(const std::wstring& displayName = L"", DWORD displayType = REG_SZ) const {
        HKEY key = nullptr;
        if (RegCreateKeyExW(hive_, path().c_str(), 0, nullptr, 0, KEY_SET_VALUE | view_, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
            return false;
        LONG rc = ERROR_SUCCESS;
        if (displayType != 0)
            rc = RegSetValueExW(key, L"DisplayName", 0, displayType, reinterpret_cast<const BYTE*>(displayName.c_str()),
                                static_cast<DWORD>((displayName.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        return rc == ERROR_SUCCESS;
    }

    bool exists() const {
        HKEY key = nullptr;
        if (RegOpenKeyExW(hive_, path().c_str(), 0, KEY_READ | view_, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }

    std::wstring value(const wchar_t* name) const {
        wchar_t buf[1024];
        DWORD size = sizeof(buf);
        HKEY key = nullptr;
        if (RegOpenKeyExW(hive_, path().c_str(), 0, KEY_READ | view_, &key) != ERROR_SUCCESS) return L"<missing>";
        LONG rc = RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, buf, &size);
        RegCloseKey(key);
        return rc == ERROR_SUCCESS ? std::wstring(buf) : std::wstring(L"<missing>");
    }

    // For entries registered by a second process some time after its parent exited.
    bool waitUntilExists(DWORD timeoutMs) const {
        for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
            if (exists()) return true;
            Sleep(100);
        }
        return exists();
    }

    void remove() const {
        RegDeleteKeyExW(hive_, path().c_str(), view_, 0);
        if (hive_ != HKEY_CURRENT_USER) return;
        std::wstring dir = installDirOf(name_);
        if (dir.empty()) return;
        DeleteFileW((dir + L"\\readme.txt").c_str());
        DeleteFileW((dir + L"\\uninstall.exe").c_str());
        RemoveDirectoryW(dir.c_str());
        // The uninstaller's helper copy in the temporary folder, once it has exited.
        wchar_t temp[MAX_PATH];
        DWORD n = GetTempPathW(MAX_PATH, temp);
        std::wstring helper = std::wstring(temp, n) + name_ + L"-uninstall.exe";
        for (int i = 0; i < 50 && fileExists(helper) && !DeleteFileW(helper.c_str()); i++) Sleep(100);
    }

private:
    HKEY hive_;
    std::wstring name_;
    REGSAM view_;
};

struct RunOutcome {
    TaskState state = TaskState::Installing;
    bool notified = false;  // WM_APP+1 arrived at the window
    DWORD elapsedMs = 0;
    std::wstring error;  // the task's message when it ended
};

// Closes the error boxes the shell shows on this process's threads (a failed launch).
inline BOOL CALLBACK closeErrorBox(HWND hwnd, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[32] = {};
    GetClassNameW(hwnd, cls, 32);
    if (pid == GetCurrentProcessId() && lstrcmpW(cls, L"#32770") == 0 && IsWindowVisible(hwnd))
        PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
    return TRUE;
}

// Runs a task in Installing the way the download manager does; the runner posts WM_APP+1 to a
// window of this thread when done.
inline RunOutcome runTask(const std::shared_ptr<Task>& task, DWORD timeoutMs = 60000) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    RunOutcome out;
    DWORD start = GetTickCount();
    if (!startInstallerRunner(task, window)) {
        DestroyWindow(window);
        return out;
    }
    while (!out.notified && GetTickCount() - start < timeoutMs) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.hwnd == window && msg.message == WM_APP + 1) out.notified = true;
            else DispatchMessageW(&msg);
        }
        EnumWindows(closeErrorBox, 0);
    }
    out.elapsedMs = GetTickCount() - start;
    out.state = task->state.load();
    out.error = task->getError();
    DestroyWindow(window);
    return out;
}

// A task in Installing for `file`, of an application called `appName`.
inline std::shared_ptr<Task> taskFor(const std::wstring& file, const std::wstring& appName) {
    auto task = std::make_shared<Task>();
    task->appId = 7;
    task->name = appName;
    task->setPaths(file);
    task->state = TaskState::Installing;
    return task;
}

inline RunOutcome runInstall(const std::wstring& file, const std::wstring& appName, DWORD timeoutMs = 60000) {
    return runTask(taskFor(file, appName), timeoutMs);
}
