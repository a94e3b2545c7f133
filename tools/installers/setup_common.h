// Shared parts of the test installers: the settings appended to the program file, and the
// per-user install that the registering installers perform.
//
// Settings trailer at the very end of the .exe (make-package.py writes it):
//   UTF-8 lines "name=...", "key=...", "version=...", "publisher=...", "delayMs=...",
//   "exitCode=...", "childExitCode=...", "handOverAfterMs=...", "runMs=...", "finishPageMs=...",
//   "logOrder=..."
//   then the text length as 4 bytes little-endian, then the 8 bytes "KVSETUP1".
// The shell starts an installer without arguments, so the trailer is how one program file
// becomes the package of one particular application.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <string>

struct SetupConfig {
    std::wstring name = L"KV Test App";
    std::wstring key = L"KVTestApp";
    std::wstring version = L"1.0.0";
    std::wstring publisher = L"Kelvo Test";
    DWORD delayMs = 10000;      // hand-over installer: the second process waits this long
    int exitCode = 0;           // hand-over installer: what the first process returns
    int childExitCode = 0;      // hand-over installer: the second process registers only when 0
    DWORD handOverAfterMs = 0;  // hand-over installer: the first process waits, ready for input, this long
    DWORD runMs = 60000;        // launching installer: longest run of the program it starts
    DWORD finishPageMs = 0;     // slow installer: stays this long on its last page after registering
    bool logOrder = false;      // hand-over installer: the second process notes its start and end
};

const wchar_t kUninstallRoot[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

inline std::wstring selfPath() {
    wchar_t path[MAX_PATH * 2];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    return std::wstring(path, n);
}

inline std::wstring fromUtf8(const std::string& s) {
    if (s.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n);
    return out;
}

inline std::string readTrailer(const std::wstring& exe) {
    HANDLE f = CreateFileW(exe.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) return std::string();
    std::string text;
    LARGE_INTEGER size = {};
    unsigned char tail[12];
    DWORD got = 0;
    LARGE_INTEGER pos;
    pos.QuadPart = -12;
    if (GetFileSizeEx(f, &size) && size.QuadPart > 12 && SetFilePointerEx(f, pos, nullptr, FILE_END) &&
        ReadFile(f, tail, 12, &got, nullptr) && got == 12 && memcmp(tail + 4, "KVSETUP1", 8) == 0) {
        DWORD len = tail[0] | (tail[1] << 8) | (tail[2] << 16) | (static_cast<DWORD>(tail[3]) << 24);
        pos.QuadPart = -12 - static_cast<LONGLONG>(len);
        if (len <= 4096 && len + 12 <= size.QuadPart && SetFilePointerEx(f, pos, nullptr, FILE_END)) {
            text.resize(len);
            if (len && (!ReadFile(f, &text[0], len, &got, nullptr) || got != len)) text.clear();
        }
    }
    CloseHandle(f);
    return text;
}

inline SetupConfig readConfig() {
    SetupConfig cfg;
    std::wstring text = fromUtf8(readTrailer(selfPath()));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        size_t eq = line.find(L'=');
        if (eq == std::wstring::npos) continue;
        std::wstring k = line.substr(0, eq), v = line.substr(eq + 1);
        if (k == L"name") cfg.name = v;
        else if (k == L"key") cfg.key = v;
        else if (k == L"version") cfg.version = v;
        else if (k == L"publisher") cfg.publisher = v;
        else if (k == L"delayMs") cfg.delayMs = static_cast<DWORD>(_wtoi(v.c_str()));
        else if (k == L"exitCode") cfg.exitCode = _wtoi(v.c_str());
        else if (k == L"childExitCode") cfg.childExitCode = _wtoi(v.c_str());
        else if (k == L"handOverAfterMs") cfg.handOverAfterMs = static_cast<DWORD>(_wtoi(v.c_str()));
        else if (k == L"runMs") cfg.runMs = static_cast<DWORD>(_wtoi(v.c_str()));
        else if (k == L"finishPageMs") cfg.finishPageMs = static_cast<DWORD>(_wtoi(v.c_str()));
        else if (k == L"logOrder") cfg.logOrder = v == L"1";
    }
    return cfg;
}

// "%TEMP%\kv-install-order.log": one line "<key> start|end <GetTickCount64>" per event, which
// the install-queue tests read to see which installers ran and whether two ran at once.
inline void noteOrder(const SetupConfig& cfg, const char* event) {
    wchar_t temp[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, temp);
    std::wstring path = std::wstring(temp, n) + L"kv-install-order.log";
    std::string line;
    for (wchar_t c : cfg.key) line.push_back(c < 128 ? static_cast<char>(c) : '?');
    line += std::string(" ") + event + " " + std::to_string(GetTickCount64()) + "\n";
    // Appending opens may meet another writer's open for a moment.
    for (int attempt = 0; attempt < 50; attempt++) {
        HANDLE f = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_ALWAYS, 0, nullptr);
        if (f != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            CloseHandle(f);
            return;
        }
        Sleep(20);
    }
}

inline bool setString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Writes the entry's values; createKey false means the entry must already exist (an update).
inline bool writeUninstallEntry(const SetupConfig& cfg, const std::wstring& installDir, bool createKey) {
    std::wstring path = kUninstallRoot + cfg.key;
    HKEY key = nullptr;
    LONG rc = createKey ? RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                          &key, nullptr)
                        : RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_SET_VALUE, &key);
    if (rc != ERROR_SUCCESS) return false;
    DWORD one = 1;
    bool ok = setString(key, L"DisplayName", cfg.name) && setString(key, L"DisplayVersion", cfg.version) &&
              setString(key, L"Publisher", cfg.publisher);
    if (ok && !installDir.empty()) {
        ok = setString(key, L"InstallLocation", installDir) &&
             setString(key, L"UninstallString", L"\"" + installDir + L"\\uninstall.exe\" /uninstall") &&
             RegSetValueExW(key, L"NoModify", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4) == 0 &&
             RegSetValueExW(key, L"NoRepair", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4) == 0;
    }
    RegCloseKey(key);
    return ok;
}

// The user's own programs folder: %LOCALAPPDATA%\Programs\<key>.
inline std::wstring installDirFor(const SetupConfig& cfg) {
    wchar_t base[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, base)))
        return std::wstring();
    std::wstring programs = std::wstring(base) + L"\\Programs";
    CreateDirectoryW(programs.c_str(), nullptr);
    return programs + L"\\" + cfg.key;
}

// Installs a read-me and a copy of this program as the uninstaller, then registers.
inline bool installForUser(const SetupConfig& cfg) {
    std::wstring dir = installDirFor(cfg);
    if (dir.empty() || cfg.key.empty()) return false;
    CreateDirectoryW(dir.c_str(), nullptr);
    std::wstring readme = dir + L"\\readme.txt";
    HANDLE f = CreateFileW(readme.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    std::wstring text = L"\xFEFF" + cfg.name + L" " + cfg.version + L"\r\n";
    DWORD written = 0;
    WriteFile(f, text.c_str(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(f);
    if (!CopyFileW(selfPath().c_str(), (dir + L"\\uninstall.exe").c_str(), FALSE)) return false;
    return writeUninstallEntry(cfg, dir, true);
}

inline bool startSelf(const std::wstring& exe, const std::wstring& args) {
    std::wstring cmd = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

// "/uninstall": removes the entry and the read-me at once; the running uninstaller cannot
// delete itself, so a copy in the temporary folder removes it and the folder afterwards.
// "/cleanup": that copy's part. Returns -1 for any other command line.
inline int runUninstallCommand(const SetupConfig& cfg, const std::wstring& args) {
    std::wstring dir = installDirFor(cfg);
    std::wstring uninstaller = dir + L"\\uninstall.exe";
    if (args.compare(0, 10, L"/uninstall") == 0) {
        if (dir.empty() || cfg.key.empty()) return 1;
        RegDeleteKeyW(HKEY_CURRENT_USER, (kUninstallRoot + cfg.key).c_str());
        DeleteFileW((dir + L"\\readme.txt").c_str());
        if (lstrcmpiW(selfPath().c_str(), uninstaller.c_str()) != 0) {
            DeleteFileW(uninstaller.c_str());
            RemoveDirectoryW(dir.c_str());
            return 0;
        }
        wchar_t temp[MAX_PATH];
        DWORD n = GetTempPathW(MAX_PATH, temp);
        std::wstring copy = std::wstring(temp, n) + cfg.key + L"-uninstall.exe";
        if (!CopyFileW(selfPath().c_str(), copy.c_str(), FALSE) || !startSelf(copy, L"/cleanup")) return 1;
        return 0;
    }
    if (args.compare(0, 8, L"/cleanup") == 0) {
        for (int i = 0; i < 100; i++) {
            if (DeleteFileW(uninstaller.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) break;
            Sleep(100);
        }
        RemoveDirectoryW(dir.c_str());
        return 0;
    }
    return -1;
}
