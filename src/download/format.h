// Where downloads go and how sizes, speeds and dates are shown.
#pragma once

#include <cstdint>
#include <string>

// Sets the configured download folder (trailing backslashes removed); empty = default.
// Called on the user-interface thread; runner threads read it through downloadDirectory.
void setDownloadDirectory(const std::wstring& path);

// The configured folder (created one level deep), else Downloads\星舟软件管家, else the
// common program files folder + \星舟软件管家, else the program's own folder.
std::wstring downloadDirectory();

std::wstring formatSize(int64_t bytes);               // "0 B", "1023 B", "1 KB", "1.5 MB", "1.50 GB"
std::wstring formatSpeed(int32_t bytesPerSecond);     // "" for 0, "12 KB/s", "3.4 MB/s"
std::wstring formatDate(int64_t millisecondsSince1970);  // local "MM-DD"; "" below 1
