// Shared pieces of the download tests: a temporary folder, a message-only window that
// records what the manager posts, and a bounded wait.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "scoped.h"

namespace dltest {

class TempDir {
public:
    explicit TempDir(const std::wstring& tag) {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        path_ = std::wstring(base) + L"kv_dl_" + tag + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                std::to_wstring(GetTickCount());
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TempDir() { removeTree(path_); }
    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

    static void removeTree(const std::wstring& dir) {
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::wstring n = fd.cFileName;
                if (n == L"." || n == L"..") continue;
                std::wstring p = dir + L"\\" + n;
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    removeTree(p);
                else
                    DeleteFileW(p.c_str());
            } while (FindNextFileW(h, &fd));
            FindClose(h);
        }
        RemoveDirectoryW(dir.c_str());
    }

private:
    std::wstring path_;
};

inline bool fileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string readFile(const std::wstring& path) {
    std::string out;
    ScopedFile h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             0, nullptr));
    if (!h) return out;
    std::vector<char> buf(65536);
    DWORD got = 0;
    while (ReadFile(h.get(), buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr) && got > 0)
        out.append(buf.data(), got);
    return out;
}

inline void writeFile(const std::wstring& path, const std::string& data) {
    ScopedFile h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD put = 0;
    if (h && !data.empty()) WriteFile(h.get(), data.data(), static_cast<DWORD>(data.size()), &put, nullptr);
}

// Records the manager's WM_APP+1 / WM_APP+2 posts; must be pumped on the creating thread.
class MessageWindow {
public:
    MessageWindow() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KVDownloadTestSink";
        RegisterClassW(&wc);
        hwnd_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                                nullptr);
    }
    ~MessageWindow() { DestroyWindow(hwnd_); }
    HWND hwnd() const { return hwnd_; }

    struct Posted {
        UINT message;
        WPARAM wParam;
    };
    // Everything posted so far, oldest first.
    std::vector<Posted> drain() {
        std::vector<Posted> out;
        MSG msg;
        while (PeekMessageW(&msg, hwnd_, WM_APP + 1, WM_APP + 2, PM_REMOVE)) out.push_back({msg.message, msg.wParam});
        return out;
    }
    int count(UINT message) {
        int n = 0;
        for (const Posted& p : drain())
            if (p.message == message) ++n;
        return n;
    }

private:
    HWND hwnd_ = nullptr;
};

// Polls until pred() holds or the time is up; true when it held.
inline bool waitFor(const std::function<bool()>& pred, int timeoutMs = 20000) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace dltest
