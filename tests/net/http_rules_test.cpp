#include "net/http_rules.h"

#include <gtest/gtest.h>

#include "json/encoding.h"

using namespace httprules;

static UrlParts parts(const wchar_t* scheme, const wchar_t* host, uint16_t port, const wchar_t* path,
                      const wchar_t* query = L"") {
    UrlParts p;
    p.scheme = scheme;
    p.host = host;
    p.port = port;
    p.path = path;
    p.query = query;
    p.secure = std::wstring(scheme) == L"https";
    return p;
}

TEST(RedirectTarget, Table) {
    const UrlParts https8443 = parts(L"https", L"h", 8443, L"/a/b", L"?q=1");
    const UrlParts https443 = parts(L"https", L"h", 443, L"/a");
    const UrlParts http80 = parts(L"http", L"h", 80, L"/");
    const UrlParts http8080 = parts(L"http", L"h", 8080, L"/dir/file");
    const UrlParts http443 = parts(L"http", L"h", 443, L"/d/");
    const struct {
        const char* name;
        const UrlParts& from;
        std::wstring location, expected;
    } cases[] = {
        {"absolute path keeps non-default port", https8443, L"/x", L"https://h:8443/x"},
        {"relative name replaces last segment", https8443, L"y", L"https://h:8443/a/y"},
        {"default https port not written", https443, L"z", L"https://h/z"},
        {"default http port not written", http80, L"z", L"http://h/z"},
        {"non-default http port", http8080, L"z?a=1", L"http://h:8080/dir/z?a=1"},
        {"443 is not the default for http", http443, L"z", L"http://h:443/d/z"},
        {"double slash is a path on this origin", https8443, L"//other/x", L"https://h:8443//other/x"},
        {"absolute http kept as is", https8443, L"http://other:1/p", L"http://other:1/p"},
        {"absolute https any case", http80, L"HTTPS://Other/p", L"HTTPS://Other/p"},
        {"bare http:// is too short to be absolute", http80, L"http://", L"http://h/http://"},
        {"bare https:// is too short to be absolute", http80, L"https://", L"http://h/https://"},
        {"query only", http8080, L"?x", L"http://h:8080/dir/?x"},
        {"other scheme treated as relative", http80, L"ftp://x/y", L"http://h/ftp://x/y"},
    };
    for (const auto& c : cases) EXPECT_EQ(redirectTarget(c.from, c.location), c.expected) << c.name;
}

TEST(RedirectTarget, PathWithoutSlashUsesRoot) {
    EXPECT_EQ(redirectTarget(parts(L"http", L"h", 80, L"noslash"), L"x"), L"http://h/x");
}

TEST(ParseHeaderNumber, Table) {
    const struct {
        std::wstring in;
        int64_t out;
    } cases[] = {
        {L"12345", 12345},
        {L"0", 0},
        {L"abc", 0},
        {L"", 0},
        {L"12abc", 12},
        {L"  42", 42},
        {L"-5", -5},
        {L"+7", 7},
        {L"9223372036854775807", INT64_MAX},
        {L"99999999999999999999999", INT64_MAX},
        {L"-99999999999999999999999", INT64_MIN},
        {L"\u4e2d1", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(parseHeaderNumber(c.in), c.out) << c.out;
}

TEST(ApplyLengthHeaders, ContentLengthAndRange) {
    const struct {
        const char* name;
        std::vector<HttpHeader> pairs;
        int64_t length, total;
        bool hasRange;
    } cases[] = {
        {"none", {}, -1, -1, false},
        {"length", {{L"Content-Length", L"100"}}, 100, -1, false},
        {"length of letters gives 0", {{L"Content-Length", L"abc"}}, 0, -1, false},
        {"empty length stays -1", {{L"Content-Length", L""}}, -1, -1, false},
        {"name in any case", {{L"content-length", L"7"}}, 7, -1, false},
        {"range total", {{L"Content-Range", L"bytes 0-0/12345"}}, -1, 12345, true},
        {"unknown total", {{L"Content-Range", L"bytes 0-0/*"}}, -1, -1, true},
        {"no slash", {{L"Content-Range", L"bytes 0-0"}}, -1, -1, true},
        {"empty total", {{L"Content-Range", L"bytes 0-0/"}}, -1, -1, true},
        {"empty range ignored", {{L"Content-Range", L""}}, -1, -1, false},
        {"416 form", {{L"Content-Range", L"bytes */500"}}, -1, 500, true},
        {"both", {{L"Content-Length", L"1"}, {L"Content-Range", L"bytes 0-0/2"}}, 1, 2, true},
    };
    for (const auto& c : cases) {
        HttpResponse r;
        applyLengthHeaders(c.pairs, r);
        EXPECT_EQ(r.contentLength, c.length) << c.name;
        EXPECT_EQ(r.rangeTotal, c.total) << c.name;
        EXPECT_EQ(r.hasContentRange, c.hasRange) << c.name;
    }
}

TEST(ApplyLengthHeaders, RangeBoundsOnlyFromAWellFormedContentRange) {
    const struct {
        const wchar_t* value;
        int64_t first, last;
    } cases[] = {
        {L"bytes 0-0/12345", 0, 0},
        {L"bytes 65536-131071/300000", 65536, 131071},
        {L"BYTES 5-9/*", 5, 9},
        {L"bytes 5-9", -1, -1},
        {L"bytes 9-5/100", -1, -1},
        {L"bytes */500", -1, -1},
        {L"bytes -5-9/100", -1, -1},
        {L"bytes 5-/100", -1, -1},
        {L"items 5-9/100", -1, -1},
        {L"bytes 99999999999999999999-1/2", -1, -1},
        {L"bytes 9223372036854775806-9223372036854775807/*", INT64_MAX - 1, INT64_MAX},
    };
    for (const auto& c : cases) {
        HttpResponse r;
        applyLengthHeaders({{L"Content-Range", c.value}}, r);
        EXPECT_EQ(r.rangeStart, c.first) << json::toUtf8(c.value);
        EXPECT_EQ(r.rangeEnd, c.last) << json::toUtf8(c.value);
    }
    HttpResponse none;
    applyLengthHeaders({{L"Content-Length", L"10"}}, none);
    EXPECT_EQ(none.rangeStart, -1);
    EXPECT_EQ(none.rangeEnd, -1);
}

TEST(HeaderBlock, WholeBlocksOnly) {
    const struct {
        const wchar_t* raw;
        bool complete;
    } cases[] = {
        {L"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", true},
        {L"HTTP/1.1 200 OK\r\n\r\n", true},
        {L"HTTP/1.1 200 OK\r\nX-Folded: a\r\n  b\r\n\r\n", true},
        {L"HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-0/9\r\nX-Empty:\r\n\r\n", true},
        {L"HTTP/1.1 200 OK\r\n", false},                         // cut off mid-line
        {L"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", false},  // no empty line
        {L"HTTP/1.1 200 OK\r\nBadLine", false},                  // a line without a colon
        {L"HTTP/1.1 200 OK\r\nBad Line\r\n\r\n", false},
        {L"HTTP/1.1 200 OK\r\nA: 1\r\n\r\nB: 2\r\n\r\n", false},
        {L"\r\n\r\n", false},
        {L"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(headerBlockComplete(c.raw), c.complete) << json::toUtf8(c.raw);
}

TEST(ApplyLengthHeaders, AbsentRangeLeavesCallerValues) {
    HttpResponse r;
    r.rangeTotal = 99;
    r.contentLength = 5;
    applyLengthHeaders({}, r);
    EXPECT_EQ(r.rangeTotal, 99);
    EXPECT_EQ(r.contentLength, -1);
}

TEST(FailureTexts, MessagesAndTlsCodes) {
    EXPECT_EQ(winhttpMessage(L"请求发送失败", 12029), L"请求发送失败 (winhttp 12029)");
    EXPECT_EQ(winhttpMessage(L"读取数据中断", 4294967295ul), L"读取数据中断 (winhttp 4294967295)");
    for (unsigned long tls : {12045ul, 12157ul, 12175ul}) EXPECT_EQ(sendFailureResult(tls), HttpResult::TlsFailed);
    for (unsigned long other : {0ul, 12002ul, 12029ul, 12044ul}) EXPECT_EQ(sendFailureResult(other), HttpResult::SendFailed);
}

TEST(BodyLength, AnnouncedLengthOnlyWhereABodyFollows) {
    EXPECT_EQ(expectedBodyLength(L"GET", 200, 100), 100);
    EXPECT_EQ(expectedBodyLength(L"GET", 206, 1), 1);
    EXPECT_EQ(expectedBodyLength(L"GET", 404, 9), 9);
    EXPECT_EQ(expectedBodyLength(L"GET", 200, -1), -1);
    EXPECT_EQ(expectedBodyLength(L"HEAD", 200, 100), -1);
    EXPECT_EQ(expectedBodyLength(L"GET", 204, 100), -1);
    EXPECT_EQ(expectedBodyLength(L"GET", 304, 100), -1);
    EXPECT_TRUE(bodyCutShort(100, 99));
    EXPECT_FALSE(bodyCutShort(100, 100));
    EXPECT_FALSE(bodyCutShort(0, 5));
    EXPECT_FALSE(bodyCutShort(-1, 0));
}
