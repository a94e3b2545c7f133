// The install report's body: fixed text around the id and the escaped channel.
#include <gtest/gtest.h>

#include <climits>

#include "catalog/catalog.h"

TEST(InstallReportBody, IsOneLineOfFixedTextAroundTheValues) {
    struct Case {
        int id;
        const wchar_t* channel;
        const char* expected;
    } cases[] = {
        {42, L"default", R"({"appId":42,"event":"install","channel":"default"})"},
        {-7, L"", R"({"appId":-7,"event":"install","channel":""})"},
        {INT_MIN, L"x", R"({"appId":-2147483648,"event":"install","channel":"x"})"},
        {1, L"a\"b", R"({"appId":1,"event":"install","channel":"a\"b"})"},
        {1, L"a\\b", R"({"appId":1,"event":"install","channel":"a\\b"})"},
        {1, L"a\nb", R"({"appId":1,"event":"install","channel":"a\nb"})"},
        {1, L"官网", "{\"appId\":1,\"event\":\"install\",\"channel\":\"\xE5\xAE\x98\xE7\xBD\x91\"}"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, installReportBody(c.id, c.channel)) << c.id;
}
