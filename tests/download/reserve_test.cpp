// How much disk a download reserves before the transfer, and whether it fits.
#include <gtest/gtest.h>

#include <cstdint>

#include "download/reserve.h"

namespace {

TEST(PlanReserve, ReservesTheSettledSizeUnlessItFarExceedsTheCatalogs) {
    const int64_t gb = 1073741824;
    const struct {
        const char* what;
        int64_t size, packageSize, freeBytes;
        int64_t reserve;
        bool fits;
    } cases[] = {
        {"size unknown: nothing reserved, nothing to check", 0, 5000, 0, 0, true},
        {"the probe's size within twice the catalog's", 10000, 5000, gb, 10000, true},
        {"a probe claiming 500 GB for a 5 MB package reserves 5 MB", 500 * gb, 5242880, gb, 5242880, true},
        {"no catalog size: the probe's size is all there is", 500 * gb, 0, gb, 500 * gb, false},
        {"exactly the free space fits", 4096, 4096, 4096, 4096, true},
        {"one byte more does not", 4097, 4097, 4096, 4097, false},
        {"free space unknown: not refused", 500 * gb, 0, -1, 500 * gb, true},
        {"a huge catalog size does not overflow", INT64_MAX, INT64_MAX - 1, -1, INT64_MAX, true},
    };
    for (const auto& c : cases) {
        const ReservePlan plan = planReserve(c.size, c.packageSize, c.freeBytes);
        EXPECT_EQ(plan.reserve, c.reserve) << c.what;
        EXPECT_EQ(plan.fits, c.fits) << c.what;
    }
    EXPECT_EQ(diskFullText(3 * gb / 2, 200 * 1048576), L"磁盘空间不足（需要 1.50 GB，可用 200.0 MB）");
}

}  // namespace
