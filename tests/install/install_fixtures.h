// What several install tests share: scratch paths in the temporary folder, the order log
// that the slow test installers write, and a file type of this user registered for a test.
#pragma once

#include <windows.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "download/support.h"

inline std::wstring tempFile(const std::wstring& name) {
    wchar_t temp[MAX_PATH];
    return std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + name;
}

// What the slow and logging test installers note: "<key> start|end <tick>".
struct LogEvent {
    std::string key;
    std::string event;
    uint64_t tick = 0;
};

inline std::vector<LogEvent> readOrderLog() {
    std::vector<LogEvent> out;
    std::istringstream in(dltest::readFile(tempFile(L"kv-install-order.log")));
    LogEvent e;
    while (in >> e.key >> e.event >> e.tick) out.push_back(e);
    return out;
}

inline std::string describe(const std::vector<LogEvent>& log) {
    std::string s;
    for (const LogEvent& e : log) s += e.key + " " + e.event + " " + std::to_string(e.tick) + "; ";
    return s;
}

// A file type of this user: the extension names the class, and each (subkey, value) pair
// is written below the class's key; both are removed again when it goes.
class TestFileType {
public:
    TestFileType(std::wstring extension, std::wstring progId,
                 const std::vector<std::pair<std::wstring, std::wstring>>& values)
        : extension_(std::move(extension)), progId_(std::move(progId)) {
        remove();
        ok_ = set(L"Software\\Classes\\" + extension_, progId_);
        for (const auto& v : values) ok_ = ok_ && set(L"Software\\Classes\\" + progId_ + L"\\" + v.first, v.second);
    }
    ~TestFileType() { remove(); }
    TestFileType(const TestFileType&) = delete;
    TestFileType& operator=(const TestFileType&) = delete;
    bool ok() const { return ok_; }

private:
    // The user's classes are what Windows reads; Wine's HKEY_CLASSES_ROOT shows only the
    // machine's, so those are written too where that is allowed.
    static bool set(const std::wstring& key, const std::wstring& value) {
        DWORD size = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, value.c_str(), size);
        return RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), nullptr, REG_SZ, value.c_str(), size) == ERROR_SUCCESS;
    }
    void remove() {
        for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            RegDeleteTreeW(hive, (L"Software\\Classes\\" + extension_).c_str());
            RegDeleteTreeW(hive, (L"Software\\Classes\\" + progId_).c_str());
        }
    }
    std::wstring extension_, progId_;
    bool ok_ = false;
};
