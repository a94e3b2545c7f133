// The three settings in config.json: the catalog server, the distribution channel and
// the user's download folder. Loading never fails (anything unreadable gives the
// defaults); saving replaces the file in one step so a crash never leaves it half written.
#pragma once

#include <string>

inline constexpr wchar_t kDefaultServer[] = L"https://api.kelvo-soft.cn";

struct Config {
    std::wstring server = kDefaultServer;
    std::wstring channel = L"default";
    std::wstring downloadDir;  // empty: the download manager's default folder
};

// `unreadable` (if given) tells whether the per-user file holds text that is no JSON: the
// defaults are used, and that text must be kept aside before the file is ever rewritten.
Config loadConfig(bool* unreadable = nullptr);
bool saveConfig(const Config& config);  // true if the whole text was written
// Moves an unreadable config.json aside to config.json.bad (replacing an older copy), so
// a save never overwrites what the user wrote; true when it is there.
bool keepUnreadableConfig();
// The toast after a save that kept an unreadable file aside.
std::wstring unreadableConfigKeptText();

// <roaming application data>\KelvoManager\config.json; creates the KelvoManager folder.
std::wstring configFilePath();
// Appends the file's bytes; false only if it cannot be opened.
bool readWholeFile(const std::wstring& path, std::string& bytes);

// The decisions of loadConfig and saveConfig, over plain data.
Config parseConfig(const std::string& bytes);    // defaults overlaid with the valid members
bool isUnreadableConfig(const std::string& bytes);  // text there, but no JSON value
std::string formatConfig(const Config& config);  // the five-line file text
std::wstring folderOfPath(const std::wstring& path);  // before the last '\' or '/', else "."

// config.json beside the executable, read when the per-user file cannot be opened.
std::wstring exeConfigPath();

// Tests point these at a scratch folder; empty (the default) means the roaming
// application-data folder and the executable's own folder.
void setConfigFolders(const std::wstring& appDataFolder, const std::wstring& exeFolder);
