// How much disk a download reserves before its first byte arrives, and whether that fits.
#pragma once

#include <cstdint>
#include <string>

struct ReservePlan {
    int64_t reserve = 0;  // bytes to pre-size the part file to; 0 = it grows as data arrives
    bool fits = true;     // false: the job fails at once, before any file is made
};

// size: the size the probe settled on (or the catalog's), <= 0 when unknown; packageSize:
// the catalog's size; freeBytes: free space of the download folder, negative when unknown.
// A server claiming more than twice the catalog's size reserves only the catalog's size, so
// it cannot fill the disk before sending anything; the digest judges the file anyway.
ReservePlan planReserve(int64_t size, int64_t packageSize, int64_t freeBytes);

// Bytes the current user may still write on the volume of `directory`; -1 when unknown.
int64_t freeDiskBytes(const std::wstring& directory);

// "磁盘空间不足（需要 1.50 GB，可用 200.0 MB）"
std::wstring diskFullText(int64_t needed, int64_t available);
