// Sizes, speeds and dates as the views show them; the configured download folder.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "download/format.h"
#include "download/support.h"

namespace {

struct SizeCase {
    int64_t bytes;
    const wchar_t* text;
};

TEST(FormatSize, UsesTheLargestUnitThatFits) {
    const SizeCase cases[] = {
        {-5, L"0 B"},          {0, L"0 B"},           {1, L"1 B"},
        {1023, L"1023 B"},     {1024, L"1 KB"},       {1048575, L"1023 KB"},
        {1048576, L"1.0 MB"},  {1572864, L"1.5 MB"},  {1073741823, L"1024.0 MB"},
        {1073741824, L"1.00 GB"}, {1610612736, L"1.50 GB"}, {INT64_MAX, L"8589934592.00 GB"},
    };
    for (const SizeCase& c : cases) EXPECT_EQ(formatSize(c.bytes), c.text) << c.bytes;
}

TEST(FormatSpeed, IsEmptyWhenStalled) {
    const struct {
        int32_t bps;
        const wchar_t* text;
    } cases[] = {
        {-1, L""},           {0, L""},          {1, L"1 B/s"},          {1023, L"1023 B/s"},
        {1024, L"1 KB/s"},   {1048575, L"1023 KB/s"}, {1048576, L"1.0 MB/s"}, {3565158, L"3.4 MB/s"},
        {INT32_MAX, L"2048.0 MB/s"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatSpeed(c.bps), c.text) << c.bps;
}

TEST(FormatDate, ShowsLocalMonthAndDay) {
    EXPECT_EQ(formatDate(0), L"");
    EXPECT_EQ(formatDate(-1000), L"");
    // Noon UTC on 7 March 2024 is 7 March in every time zone from UTC-11 to UTC+11.
    EXPECT_EQ(formatDate(1709812800000LL), L"03-07");
    EXPECT_EQ(formatDate(1735732800000LL), L"01-01");
    EXPECT_EQ(formatDate(INT64_MAX), L"");
}

TEST(DownloadDirectory, ConfiguredFolderLosesTrailingBackslashesOnly) {
    dltest::TempDir tmp(L"fmt");
    setDownloadDirectory(tmp.path() + L"\\\\");
    EXPECT_EQ(downloadDirectory(), tmp.path());
    setDownloadDirectory(tmp.path() + L"/");
    EXPECT_EQ(downloadDirectory(), tmp.path() + L"/");
    setDownloadDirectory(std::wstring());
}

TEST(DownloadDirectory, TheTextNeverTouchesTheDiskAndTheWorkerMakesTheFolderOneLevelDeep) {
    dltest::TempDir tmp(L"mk");
    const std::wstring one = tmp.file(L"新建");
    setDownloadDirectory(one);
    EXPECT_EQ(downloadDirectory(), one);
    EXPECT_FALSE(dltest::fileExists(one));  // the window paints this text: no folder is made for it
    EXPECT_EQ(ensureDownloadDirectory(one), one);
    EXPECT_TRUE(dltest::fileExists(one));

    const std::wstring deep = tmp.file(L"a\\b");
    EXPECT_EQ(ensureDownloadDirectory(deep), deep);
    EXPECT_FALSE(dltest::fileExists(tmp.file(L"a")));
    setDownloadDirectory(std::wstring());
}

TEST(DownloadDirectory, TheDefaultFolderIsKnownOnlyOnceAWorkerFoundIt) {
    setDownloadDirectory(std::wstring());
    const std::wstring found = ensureDownloadDirectory(std::wstring());
    EXPECT_FALSE(found.empty());
    EXPECT_TRUE(dltest::fileExists(found));
    EXPECT_EQ(downloadDirectory(), found);
}

TEST(DownloadDirectory, ReadersAlwaysSeeAWholeValueWhileTheSettingChanges) {
    dltest::TempDir tmp(L"race");
    const std::wstring a = tmp.file(L"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa");
    const std::wstring b = tmp.file(L"b");
    setDownloadDirectory(a);
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!stop) {
            std::wstring d = downloadDirectory();
            if (d != a && d != b) ++torn;
        }
    });
    for (int i = 0; i < 2000; ++i) setDownloadDirectory(i % 2 ? a : b);
    stop = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    setDownloadDirectory(std::wstring());
}

}  // namespace
