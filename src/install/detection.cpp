// Installed-software detection from the three uninstall keys, and the two matching rules.
#include "install/install.h"

#include "install/installed_app.h"
#include "scoped.h"

namespace {

const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t kUninstallKey32[] = L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Every failure is silent: an unreadable source adds nothing, an unreadable entry adds its key only.
void enumerateUninstall(HKEY hive, const wchar_t* subkey, const wchar_t* prefix, InstalledSnapshot& snapshot) {
    ScopedKey root;
    if (RegOpenKeyExW(hive, subkey, 0, KEY_READ, root.out()) != ERROR_SUCCESS) return;
    for (DWORD index = 0;; index++) {
        wchar_t name[256];
        DWORD nameLen = 256;
        if (RegEnumKeyExW(root.get(), index, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
        std::wstring entryName(name, nameLen);
        snapshot.keys.insert(prefix + entryName);

        ScopedKey entry;
        if (RegOpenKeyExW(root.get(), entryName.c_str(), 0, KEY_READ, entry.out()) != ERROR_SUCCESS) continue;
        // 512 bytes; a longer name fails the query, so the entry counts by its key only.
        wchar_t value[256];
        DWORD type = 0;
        DWORD size = sizeof(value);
        if (RegQueryValueExW(entry.get(), L"DisplayName", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
                ERROR_SUCCESS ||
            type != REG_SZ)
            continue;
        size_t chars = size / sizeof(wchar_t);
        // The stored text may or may not carry its terminator; it never reaches past the data size.
        size_t len = 0;
        while (len < chars && value[len] != L'\0') len++;
        snapshot.displayNames.emplace_back(value, len);
    }
}

// A text value of an entry, REG_EXPAND_SZ expanded; empty when absent or of another type.
std::wstring readText(HKEY key, const wchar_t* name) {
    wchar_t value[1024];
    DWORD type = 0;
    DWORD size = sizeof(value) - sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::wstring();
    size_t chars = size / sizeof(wchar_t);
    size_t len = 0;
    while (len < chars && value[len] != L'\0') len++;
    std::wstring text(value, len);
    if (type != REG_EXPAND_SZ) return text;
    wchar_t expanded[1024];
    DWORD n = ExpandEnvironmentStringsW(text.c_str(), expanded, 1024);
    return n > 0 && n <= 1024 ? std::wstring(expanded) : text;
}

}  // namespace

std::vector<UninstallPlaces> newEntryPlaces(const InstalledSnapshot& before, const InstalledSnapshot& after) {
    const struct {
        const wchar_t* prefix;
        HKEY hive;
        const wchar_t* subkey;
    } sources[] = {{L"LM64\\", HKEY_LOCAL_MACHINE, kUninstallKey},
                   {L"LM32\\", HKEY_LOCAL_MACHINE, kUninstallKey32},
                   {L"CU\\", HKEY_CURRENT_USER, kUninstallKey}};
    std::vector<UninstallPlaces> out;
    for (const std::wstring& key : after.keys) {
        if (before.keys.count(key)) continue;
        for (const auto& source : sources) {
            std::wstring prefix = source.prefix;
            if (key.compare(0, prefix.size(), prefix) != 0) continue;
            std::wstring path = std::wstring(source.subkey) + L"\\" + key.substr(prefix.size());
            ScopedKey entry;
            if (RegOpenKeyExW(source.hive, path.c_str(), 0, KEY_READ, entry.out()) != ERROR_SUCCESS) break;
            out.push_back(UninstallPlaces{readText(entry.get(), L"InstallLocation"),
                                          readText(entry.get(), L"DisplayIcon"),
                                          readText(entry.get(), L"UninstallString")});
            break;
        }
    }
    return out;
}

InstalledSnapshot takeInstalledSnapshot() {
    InstalledSnapshot snapshot;
    enumerateUninstall(HKEY_LOCAL_MACHINE, kUninstallKey, L"LM64\\", snapshot);
    enumerateUninstall(HKEY_LOCAL_MACHINE, kUninstallKey32, L"LM32\\", snapshot);
    enumerateUninstall(HKEY_CURRENT_USER, kUninstallKey, L"CU\\", snapshot);
    return snapshot;
}

std::wstring normalizeName(const std::wstring& s) {
    std::wstring out;
    out.reserve(s.size());
    for (wchar_t c : s) {
        if (c == L' ' || c == L'\u3000' || c == L'\t') continue;
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        out.push_back(c);
    }
    return out;
}

bool matchesInstalled(const InstalledSnapshot& before, const std::wstring& appName) {
    std::wstring k = normalizeName(appName);
    if (k.empty()) return false;
    for (const std::wstring& d : before.displayNames) {
        std::wstring n = normalizeName(d);
        if (n == k) return true;
        // A display name may add a version or edition, but not a whole other product name.
        if (n.size() > k.size() && n.size() - k.size() <= 16 && n.compare(0, k.size(), k) == 0) return true;
    }
    return false;
}

bool hasNewKey(const InstalledSnapshot& before, const InstalledSnapshot& after) {
    if (after.keys.empty()) return false;
    if (before.keys.empty()) return true;
    for (const std::wstring& key : after.keys) {
        if (before.keys.count(key) == 0) return true;
    }
    return false;
}

bool hasNewEntry(const InstalledSnapshot& before) { return hasNewKey(before, takeInstalledSnapshot()); }
