// Name normalisation, "already installed" matching and new-entry comparison over plain data.
#include <gtest/gtest.h>

#include "install/install.h"

namespace {

struct NormalizeCase {
    const wchar_t* in;
    const wchar_t* out;
};

TEST(NormalizeName, DropsBlanksAndLowersAsciiOnly) {
    const NormalizeCase cases[] = {
        {L"Photo Studio", L"photostudio"},
        {L"  Photo\tStudio\u3000", L"photostudio"},        // blank, tab, ideographic space
        {L"WPS\u00A0Office", L"wps\u00A0office"},          // no-break space is not a blank
        {L"Line\nBreak", L"line\nbreak"},                  // nor is a line break
        {L"\uFF21\uFF22\uFF23", L"\uFF21\uFF22\uFF23"},    // full-width letters stay as they are
        {L"\u00C9DITEUR", L"\u00C9diteur"},                // only A-Z are lowered
        {L"Zip工具 (x64)", L"zip工具(x64)"},
        {L" \t\u3000 ", L""},
    };
    for (const NormalizeCase& c : cases) EXPECT_EQ(normalizeName(c.in), c.out) << "input: " << testing::PrintToString(std::wstring(c.in));
}

struct MatchCase {
    const wchar_t* appName;
    const wchar_t* displayName;
    bool matches;
};

TEST(MatchesInstalled, SameNameOrNameFollowedByAtMost16MoreCharacters) {
    const MatchCase cases[] = {
        {L"Photo Studio", L"Photo Studio (11.1.0)", true},  // photostudio(11.1.0): 8 more
        {L"Photo Studio", L"photo studio", true},
        {L"Zip", L"Zip工具", true},
        {L"Zip", L"极速Zip", false},                          // contains, but not at the start
        {L"Zip", L"Zip0123456789abcdef", true},              // 16 more
        {L"Zip", L"Zip0123456789abcdefg", false},            // 17 more
        {L"Zip", L"Zi", false},
        {L"\uFF3Aip", L"zip", false},                        // full-width Z is not z
        {L"\uFF3Aip", L"\uFF3AIP", true},
        {L"Visual Studio Code", L"VisualStudioCode", true},
        {L"7-Zip", L"7-Zip 23.01 (x64)", true},
    };
    for (const MatchCase& c : cases) {
        InstalledSnapshot before;
        before.displayNames = {L"Other Program", c.displayName};
        EXPECT_EQ(matchesInstalled(before, c.appName), c.matches)
            << testing::PrintToString(std::wstring(c.appName)) << " vs " << testing::PrintToString(std::wstring(c.displayName));
    }
}

TEST(MatchesInstalled, NameThatNormalizesToNothingNeverMatches) {
    InstalledSnapshot before;
    before.displayNames = {L"", L"  ", L"Anything"};
    EXPECT_FALSE(matchesInstalled(before, L""));
    EXPECT_FALSE(matchesInstalled(before, L" \u3000\t"));
}

TEST(MatchesInstalled, NoDisplayNamesMatchNothing) {
    InstalledSnapshot before;
    before.keys = {L"CU\\Photo Studio"};  // keys alone say nothing about names
    EXPECT_FALSE(matchesInstalled(before, L"Photo Studio"));
}

struct NewKeyCase {
    const char* what;
    std::set<std::wstring> before;
    std::set<std::wstring> after;
    bool isNew;
};

TEST(HasNewKey, OnlyAKeyMissingBeforeCounts) {
    const NewKeyCase cases[] = {
        {"nothing registered at all", {}, {}, false},
        {"first entry ever", {}, {L"CU\\A"}, true},
        {"unchanged", {L"CU\\A", L"LM64\\B"}, {L"CU\\A", L"LM64\\B"}, false},
        {"one added", {L"CU\\A"}, {L"CU\\A", L"CU\\B"}, true},
        {"one removed", {L"CU\\A", L"CU\\B"}, {L"CU\\A"}, false},
        {"removed everything", {L"CU\\A"}, {}, false},
        {"same name in another hive", {L"LM64\\A"}, {L"LM64\\A", L"LM32\\A"}, true},
        {"differs in case only", {L"CU\\App"}, {L"CU\\app"}, true},
    };
    for (const NewKeyCase& c : cases) {
        InstalledSnapshot before, after;
        before.keys = c.before;
        after.keys = c.after;
        after.displayNames = {L"display names play no part"};
        EXPECT_EQ(hasNewKey(before, after), c.isNew) << c.what;
    }
}

}  // namespace
