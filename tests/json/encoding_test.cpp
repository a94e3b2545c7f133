#include "json/encoding.h"

#include <gtest/gtest.h>

using json::toUtf8;
using json::toWide;

TEST(Encoding, EmptyTextsStayEmpty) {
    EXPECT_EQ(toWide(""), L"");
    EXPECT_EQ(toUtf8(L""), "");
}

TEST(Encoding, ChineseRoundTrips) {
    const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87";
    EXPECT_EQ(toWide(utf8), L"\u4E2D\u6587");
    EXPECT_EQ(toUtf8(L"\u4E2D\u6587"), utf8);
}

TEST(Encoding, SurrogatePairIsFourBytesAndBack) {
    const std::wstring pair = L"\xD83D\xDE00";
    EXPECT_EQ(toUtf8(pair), "\xF0\x9F\x98\x80");
    EXPECT_EQ(toWide("\xF0\x9F\x98\x80"), pair);
}

TEST(Encoding, InvalidInputBecomesReplacementCharacter) {
    EXPECT_EQ(toWide("\xFF"), L"\uFFFD");
    EXPECT_EQ(toUtf8(std::wstring(1, wchar_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Encoding, EmbeddedZeroIsConvertedLikeAnyCharacter) {
    const std::string withZero("a\0b", 3);
    EXPECT_EQ(toWide(withZero), std::wstring(L"a\0b", 3));
    EXPECT_EQ(toUtf8(std::wstring(L"a\0b", 3)), withZero);
}
