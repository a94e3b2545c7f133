#include "app/config.h"

#include "json/encoding.h"
#include "json/json.h"
#include "file_replace.h"
#include "scoped.h"

#include <shlobj.h>

#include <exception>

namespace {

std::wstring gAppDataFolder;
std::wstring gExeFolder;

std::wstring appDataFolder() {
    if (!gAppDataFolder.empty()) return gAppDataFolder;
    wchar_t folder[MAX_PATH] = {};
    // Without the folder the path starts at the current drive's root; loading then
    // falls back to the executable's folder.
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) folder[0] = 0;
    return folder;
}

std::wstring exeFolder() {
    if (!gExeFolder.empty()) return gExeFolder;
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return folderOfPath(std::wstring(path, n < MAX_PATH ? n : 0));
}

// The member as text: absent gives nothing, any other kind than a string gives "".
bool memberText(const json::Value& root, const char* key, std::wstring& text) {
    const json::Value* v = root.lookup(key);
    if (!v) return false;
    text = json::toWide(v->asString(""));
    return true;
}

void trimTrailing(std::wstring& s, const wchar_t* chars) {
    while (!s.empty() && wcschr(chars, s.back())) s.pop_back();
}

}  // namespace

void setConfigFolders(const std::wstring& appDataFolder, const std::wstring& exeFolder) {
    gAppDataFolder = appDataFolder;
    gExeFolder = exeFolder;
}

std::wstring configFilePath() {
    std::wstring folder = appDataFolder() + L"\\KelvoManager";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\config.json";
}

std::wstring folderOfPath(const std::wstring& path) {
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring(L".") : path.substr(0, cut);
}

std::wstring exeConfigPath() {
    return exeFolder() + L"\\config.json";
}

bool readWholeFile(const std::wstring& path, std::string& bytes) {
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    char chunk[4096];
    DWORD got = 0;
    try {
        while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    } catch (const std::bad_alloc&) {
        // A file too large to hold ends the reading like a failed read.
    }
    return true;
}

Config parseConfig(const std::string& bytes) {
    Config config;
    if (bytes.empty()) return config;
    std::shared_ptr<json::Value> root = json::parse(bytes);
    if (!root) return config;

    std::wstring text;
    if (memberText(*root, "server", text)) {
        trimTrailing(text, L"/");
        if (!text.empty()) config.server = text;
    }
    if (memberText(*root, "channel", text) && !text.empty()) config.channel = text;
    if (memberText(*root, "downloadDir", text)) {
        trimTrailing(text, L"\\/");
        // A bare drive such as "D:" is not taken as a folder.
        if (text.size() >= 3) config.downloadDir = text;
    }
    return config;
}

bool isUnreadableConfig(const std::string& bytes) { return !bytes.empty() && !json::parse(bytes); }

std::string formatConfig(const Config& config) {
    auto quoted = [](const std::wstring& value) { return "\"" + json::escape(json::toUtf8(value)) + "\""; };
    return "{\n"
           "  \"server\": " + quoted(config.server) + ",\n"
           "  \"channel\": " + quoted(config.channel) + ",\n"
           "  \"downloadDir\": " + quoted(config.downloadDir) + "\n"
           "}\n";
}

Config loadConfig(bool* unreadable) {
    if (unreadable) *unreadable = false;
    try {
        std::string bytes;
        if (readWholeFile(configFilePath(), bytes)) {
            // Only the per-user file is ever rewritten, so only its text needs keeping.
            if (unreadable) *unreadable = isUnreadableConfig(bytes);
        } else {
            readWholeFile(exeConfigPath(), bytes);
        }
        return parseConfig(bytes);
    } catch (const std::exception&) {
        return Config();
    }
}

bool keepUnreadableConfig() {
    try {
        const std::wstring path = configFilePath();
        return MoveFileExW(path.c_str(), (path + L".bad").c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
               FALSE;
    } catch (const std::exception&) {
        return false;
    }
}

std::wstring unreadableConfigKeptText() { return L"配置文件无法读取，已另存为 config.json.bad"; }

bool saveConfig(const Config& config) {
    try {
        return replaceFileContents(configFilePath(), formatConfig(config));
    } catch (const std::exception&) {
        return false;
    }
}
