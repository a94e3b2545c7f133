#include "net/url.h"

#include <gtest/gtest.h>

struct CrackCase {
    const char* name;
    std::wstring url;
    bool ok;
    std::wstring scheme, host;
    uint16_t port;
    std::wstring path, query;
};

TEST(CrackUrl, SplitsIntoSixParts) {
    const CrackCase cases[] = {
        {"explicit port kept", L"http://example.test:8080/a/b", true, L"http", L"example.test", 8080, L"/a/b", L""},
        {"https default port", L"https://example.test/x", true, L"https", L"example.test", 443, L"/x", L""},
        {"http default port", L"http://example.test/x", true, L"http", L"example.test", 80, L"/x", L""},
        {"empty path becomes /", L"https://example.test", true, L"https", L"example.test", 443, L"/", L""},
        {"query split off with its ?", L"http://h/p/q.exe?channel=a&b=1", true, L"http", L"h", 80, L"/p/q.exe",
         L"?channel=a&b=1"},
        {"query without path", L"http://h?x=1", true, L"http", L"h", 80, L"/", L"?x=1"},
        {"scheme spelling not kept", L"HTTPS://h:8443/", true, L"https", L"h", 8443, L"/", L""},
        {"non-ascii path kept", L"http://h/\u4e2d\u6587.exe", true, L"http", L"h", 80, L"/\u4e2d\u6587.exe", L""},
    };
    for (const auto& c : cases) {
        UrlParts p;
        ASSERT_EQ(crackUrl(c.url, p), c.ok) << c.name;
        EXPECT_EQ(p.scheme, c.scheme) << c.name;
        EXPECT_EQ(p.host, c.host) << c.name;
        EXPECT_EQ(p.port, c.port) << c.name;
        EXPECT_EQ(p.path, c.path) << c.name;
        EXPECT_EQ(p.query, c.query) << c.name;
        EXPECT_EQ(p.secure, c.scheme == L"https") << c.name;
    }
}

TEST(CrackUrl, RejectsWhatCannotBeRequested) {
    const std::wstring longPath = L"http://h/" + std::wstring(4095, L'a');
    const struct {
        const char* name;
        std::wstring url;
    } cases[] = {
        {"ftp", L"ftp://example.test/file"},
        {"relative", L"/api/client/bootstrap"},
        {"no scheme", L"example.test/x"},
        {"empty", L""},
        {"host of 256 characters", L"http://" + std::wstring(256, L'h') + L"/"},
        {"path of 4096 characters", longPath},
        {"zero inside", std::wstring(L"http://h/a\0b", 12)},
        {"junk", L"http://"},
    };
    for (const auto& c : cases) {
        UrlParts p;
        EXPECT_FALSE(crackUrl(c.url, p)) << c.name;
    }
}

TEST(CrackUrl, AcceptsTheLongestAllowedHostAndPath) {
    UrlParts p;
    ASSERT_TRUE(crackUrl(L"http://" + std::wstring(255, L'h') + L"/", p));
    EXPECT_EQ(p.host.size(), 255u);
    ASSERT_TRUE(crackUrl(L"http://h/" + std::wstring(4094, L'a'), p));
    EXPECT_EQ(p.path.size(), 4095u);
}

TEST(PercentEncode, Table) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"AZaz09-._", "AZaz09-._"},
        {"a b", "a%20b"},
        {"~", "%7E"},
        {"\xE4\xB8\xAD", "%E4%B8%AD"},
        {"a&b=c/d?e+f%", "a%26b%3Dc%2Fd%3Fe%2Bf%25"},
        {std::string("\0\x7F\xFF", 3), "%00%7F%FF"},
    };
    for (const auto& c : cases) EXPECT_EQ(percentEncode(c.in), c.out) << c.in;
}
