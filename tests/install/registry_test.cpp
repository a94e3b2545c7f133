// Snapshots of the real uninstall keys of the test prefix: prefixes per source, which display
// names count, and what makes an entry new.
#include <gtest/gtest.h>

#include <algorithm>

#include "install_test_util.h"

namespace {

int countOf(const std::vector<std::wstring>& names, const std::wstring& name) {
    return static_cast<int>(std::count(names.begin(), names.end(), name));
}

TEST(Snapshot, KeysCarryThePrefixOfTheirSource) {
    TestEntry user(HKEY_CURRENT_USER, L"KVTest{User-1}");
    TestEntry machine(HKEY_LOCAL_MACHINE, L"KVTest{Machine64-1}", KEY_WOW64_64KEY);
    TestEntry machine32(HKEY_LOCAL_MACHINE, L"KVTest{Machine32-1}", KEY_WOW64_32KEY);
    ASSERT_TRUE(user.create(L"KV User App"));
    ASSERT_TRUE(machine.create(L"KV Machine App"));
    ASSERT_TRUE(machine32.create(L"KV 32-bit App"));

    InstalledSnapshot s = takeInstalledSnapshot();
    EXPECT_EQ(s.keys.count(L"CU\\KVTest{User-1}"), 1u);
    EXPECT_EQ(s.keys.count(L"LM64\\KVTest{Machine64-1}"), 1u);
    EXPECT_EQ(s.keys.count(L"LM32\\KVTest{Machine32-1}"), 1u);
    EXPECT_EQ(s.keys.count(L"LM64\\KVTest{Machine32-1}"), 0u);
    EXPECT_EQ(countOf(s.displayNames, L"KV User App"), 1);
    EXPECT_EQ(countOf(s.displayNames, L"KV Machine App"), 1);
    EXPECT_EQ(countOf(s.displayNames, L"KV 32-bit App"), 1);
}

TEST(Snapshot, DisplayNamesAreKeptInSourceOrderWithDuplicates) {
    TestEntry a(HKEY_LOCAL_MACHINE, L"KVTest{Dup-A}", KEY_WOW64_64KEY);
    TestEntry b(HKEY_CURRENT_USER, L"KVTest{Dup-B}");
    TestEntry c(HKEY_CURRENT_USER, L"KVTest{Dup-C}");
    ASSERT_TRUE(a.create(L"KV Dup First"));
    ASSERT_TRUE(b.create(L"KV Dup"));
    ASSERT_TRUE(c.create(L"KV Dup"));

    InstalledSnapshot s = takeInstalledSnapshot();
    EXPECT_EQ(countOf(s.displayNames, L"KV Dup"), 2);
    auto first = std::find(s.displayNames.begin(), s.displayNames.end(), L"KV Dup First");
    auto dup = std::find(s.displayNames.begin(), s.displayNames.end(), L"KV Dup");
    EXPECT_LT(first, dup) << "machine entries are read before the user's";
}

struct NameValueCase {
    const char* what;
    std::wstring displayName;
    DWORD type;  // 0: no DisplayName value
    bool listed;
};

TEST(Snapshot, OnlyPlainStringDisplayNamesThatFitIn512BytesAreListed) {
    const NameValueCase cases[] = {
        {"plain string", L"KV Name Plain", REG_SZ, true},
        {"expandable string", L"KV Name %SystemRoot%", REG_EXPAND_SZ, false},
        {"no display name", L"", 0, false},
        {"255 characters fill 512 bytes with the terminator", L"KV" + std::wstring(253, L'n'), REG_SZ, true},
        {"256 characters overflow 512 bytes", L"KV" + std::wstring(254, L'o'), REG_SZ, false},
        {"Chinese name", L"星舟 测试程序", REG_SZ, true},
    };
    for (const NameValueCase& c : cases) {
        TestEntry entry(HKEY_CURRENT_USER, L"KVTest{Name}");
        ASSERT_TRUE(entry.create(c.displayName, c.type)) << c.what;
        InstalledSnapshot s = takeInstalledSnapshot();
        EXPECT_EQ(s.keys.count(L"CU\\KVTest{Name}"), 1u) << c.what << ": the entry always counts by its key";
        EXPECT_EQ(countOf(s.displayNames, c.displayName), c.listed ? 1 : 0) << c.what;
    }
}

TEST(Snapshot, SubkeyNamesKeepTheirCase) {
    TestEntry entry(HKEY_CURRENT_USER, L"KVTest{MiXeD-case}");
    ASSERT_TRUE(entry.create(L"KV Mixed"));
    InstalledSnapshot s = takeInstalledSnapshot();
    EXPECT_EQ(s.keys.count(L"CU\\KVTest{MiXeD-case}"), 1u);
    EXPECT_EQ(s.keys.count(L"CU\\kvtest{mixed-case}"), 0u);
}

TEST(HasNewEntry, ComparesAFreshSnapshotWithTheOneBefore) {
    TestEntry existing(HKEY_CURRENT_USER, L"KVTest{Existing}");
    TestEntry added(HKEY_CURRENT_USER, L"KVTest{Added}");
    ASSERT_TRUE(existing.create(L"KV Existing 1.0"));
    InstalledSnapshot before = takeInstalledSnapshot();
    EXPECT_FALSE(hasNewEntry(before));

    ASSERT_TRUE(existing.create(L"KV Existing 2.0"));
    EXPECT_FALSE(hasNewEntry(before)) << "an update of an existing entry is not new";

    existing.remove();
    EXPECT_FALSE(hasNewEntry(before)) << "an entry that disappeared does not count";

    ASSERT_TRUE(added.create(L""));
    EXPECT_TRUE(hasNewEntry(before)) << "a new key counts, with or without a name";
}

TEST(MatchesInstalled, FindsAnEntryOfTheRealRegistry) {
    TestEntry entry(HKEY_CURRENT_USER, L"KVTest{PhotoStudio}");
    ASSERT_TRUE(entry.create(L"KV Photo Studio (11.1.0)"));
    InstalledSnapshot s = takeInstalledSnapshot();
    EXPECT_TRUE(matchesInstalled(s, L"KV Photo Studio"));
    EXPECT_FALSE(matchesInstalled(s, L"KV Photo Studio Pro Max Ultra"));
}

}  // namespace
