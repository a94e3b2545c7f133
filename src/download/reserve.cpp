#include "download/reserve.h"

#include <windows.h>

#include <cstdint>

#include "download/format.h"

ReservePlan planReserve(int64_t size, int64_t packageSize, int64_t freeBytes) {
    ReservePlan plan;
    if (size <= 0) return plan;
    // size > 2 * packageSize, without overflowing for huge catalog sizes.
    plan.reserve = packageSize > 0 && size - packageSize > packageSize ? packageSize : size;
    plan.fits = freeBytes < 0 || plan.reserve <= freeBytes;
    return plan;
}

int64_t freeDiskBytes(const std::wstring& directory) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(directory.c_str(), &available, nullptr, nullptr)) return -1;
    return available.QuadPart > static_cast<ULONGLONG>(INT64_MAX) ? INT64_MAX
                                                                   : static_cast<int64_t>(available.QuadPart);
}

std::wstring diskFullText(int64_t needed, int64_t available) {
    return L"磁盘空间不足（需要 " + formatSize(needed) + L"，可用 " + formatSize(available) + L"）";
}
