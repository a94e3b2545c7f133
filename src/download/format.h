// Where downloads go and how sizes, speeds and dates are shown.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Sets the configured download folder (trailing backslashes removed); empty = default.
// Called on the user-interface thread; touches no disk.
void setDownloadDirectory(const std::wstring& path);

// The folder new downloads go to, as text only: the configured folder, else the default
// folder once ensureDownloadDirectory has found it, else empty. It never waits for the disk
// or the network, so the window may paint it at any time.
std::wstring downloadDirectory();

// Worker threads: `folder`, or when that is empty the default folder (Downloads\星舟软件管家,
// else the common program files folder + \星舟软件管家, else the program's own folder),
// created one level deep. The default found is remembered for downloadDirectory.
std::wstring ensureDownloadDirectory(const std::wstring& folder);

// Runs ensureDownloadDirectory for the configured folder on a thread of its own and posts
// `message` to `window` when it is done. False when the thread could not be started.
bool refreshDownloadDirectory(HWND window, UINT message);

std::wstring formatSize(int64_t bytes);               // "0 B", "1023 B", "1 KB", "1.5 MB", "1.50 GB"
std::wstring formatSpeed(int32_t bytesPerSecond);     // "" for 0, "12 KB/s", "3.4 MB/s"
std::wstring formatDate(int64_t millisecondsSince1970);  // local "MM-DD"; "" below 1
