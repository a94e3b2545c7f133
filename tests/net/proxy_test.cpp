#include "net/proxy.h"

#include <gtest/gtest.h>

#include "json/encoding.h"

using namespace proxy;

namespace {

UrlParts address(const wchar_t* scheme, const wchar_t* host, uint16_t port) {
    UrlParts p;
    p.scheme = scheme;
    p.host = host;
    p.port = port;
    p.path = L"/";
    p.secure = std::wstring(scheme) == L"https";
    return p;
}

}  // namespace

TEST(ProxyList, PerSchemeEntries) {
    const struct {
        std::wstring list, scheme, expected;
    } cases[] = {
        {L"proxy:8080", L"http", L"proxy:8080"},
        {L"proxy:8080", L"https", L"proxy:8080"},
        {L"http=a:1;https=b:2", L"http", L"a:1"},
        {L"http=a:1;https=b:2", L"https", L"b:2"},
        {L"http=a:1", L"https", L""},
        {L"HTTPS=b:2 http=a:1", L"https", L"b:2"},
        {L"socks=s:1080;any:3128", L"http", L"any:3128"},
        {L"any:3128;https=b:2", L"https", L"b:2"},
        {L"http=http://a:1/", L"http", L"a:1"},
        {L"  ;; ", L"http", L""},
        {L"https=;c:9", L"https", L"c:9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(proxyForScheme(c.list, c.scheme), c.expected)
            << json::toUtf8(c.list) << " for " << json::toUtf8(c.scheme);
    }
}

TEST(ProxyBypass, Entries) {
    const UrlParts intranet = address(L"http", L"intranet", 80);
    const UrlParts sub = address(L"https", L"Files.Example.com", 443);
    const UrlParts apex = address(L"http", L"example.com", 80);
    const UrlParts ten = address(L"http", L"10.1.2.3", 8080);
    const UrlParts hundred = address(L"http", L"100.1.2.3", 80);
    const struct {
        const char* name;
        std::wstring list;
        const UrlParts& url;
        bool expected;
    } cases[] = {
        {"<local> takes a dotless host", L"<local>", intranet, true},
        {"<local> leaves dotted hosts", L"<local>", apex, false},
        {"wildcard subdomain, any case", L"*.example.com", sub, true},
        {"wildcard subdomain is not the apex", L"*.example.com", apex, false},
        {"exact host", L"EXAMPLE.com", apex, true},
        {"address prefix", L"10.*", ten, true},
        {"address prefix is no text prefix", L"10.*", hundred, false},
        {"semicolons between entries", L"a.b;10.*;c.d", ten, true},
        {"blanks between entries", L"a.b 10.* c.d", ten, true},
        {"scheme restricts the entry", L"https://example.com", apex, false},
        {"scheme that matches", L"https://*.example.com", sub, true},
        {"port that matches", L"10.*:8080", ten, true},
        {"port that does not", L"10.*:80", ten, false},
        {"wildcard inside", L"10.*.3", ten, true},
        {"empty list", L"", intranet, false},
        {"star alone takes all", L"*", sub, true},
    };
    for (const auto& c : cases) EXPECT_EQ(bypassed(c.list, c.url), c.expected) << c.name;
}

TEST(ProxyRoute, SourceInWindowsOrder) {
    using K = Route::Kind;
    UserSettings none;
    UserSettings fixed;
    fixed.proxy = L"http=p:1;https=q:2";
    fixed.bypass = L"<local>;10.*";
    UserSettings scripted = fixed;
    scripted.pacUrl = L"http://cfg/proxy.pac";
    AutoAnswer noAnswer;
    AutoAnswer viaScript{true, L"s:3;t:4", L""};
    AutoAnswer scriptDirect{true, L"", L""};
    const UrlParts web = address(L"http", L"example.com", 80);
    const UrlParts secure = address(L"https", L"example.com", 443);
    const UrlParts local = address(L"http", L"intranet", 80);
    const struct {
        const char* name;
        const UserSettings& settings;
        const AutoAnswer& automatic;
        const UrlParts& url;
        K kind;
        std::wstring proxy;
    } cases[] = {
        {"nothing set: the machine-wide setting", none, noAnswer, web, K::MachineDefault, L""},
        {"fixed proxy for http", fixed, noAnswer, web, K::Named, L"p:1"},
        {"fixed proxy for https", fixed, noAnswer, secure, K::Named, L"q:2"},
        {"bypassed host goes direct", fixed, noAnswer, local, K::Direct, L""},
        {"script answer first", scripted, viaScript, web, K::Named, L"s:3"},
        {"script says DIRECT", scripted, scriptDirect, web, K::Direct, L""},
        {"script failed: the fixed proxy", scripted, noAnswer, secure, K::Named, L"q:2"},
    };
    for (const auto& c : cases) {
        Route r = chooseRoute(c.settings, c.automatic, c.url);
        EXPECT_EQ(r.kind, c.kind) << c.name;
        EXPECT_EQ(r.proxy, c.proxy) << c.name;
    }
}

TEST(ProxyAutoMemory, OutcomesKeptForAWhileByKey) {
    AutoMemory memory(300000);
    AutoMemory::Outcome out;
    EXPECT_FALSE(memory.recall(L"detect", 1000, out));
    memory.remember(L"detect", {false, L""}, 1000);
    const struct {
        const char* name;
        std::wstring key;
        uint64_t now;
        bool recalled;
    } cases[] = {
        {"at once", L"detect", 1000, true},
        {"just before the end", L"detect", 300999, true},
        {"at the end", L"detect", 301000, false},
        {"another key", L"script http://x/p.pac", 2000, false},
    };
    for (const auto& c : cases) {
        out = AutoMemory::Outcome{true, L"stale"};
        EXPECT_EQ(memory.recall(c.key, c.now, out), c.recalled) << c.name;
        if (c.recalled) {
            EXPECT_FALSE(out.ok) << c.name;
        }
    }
    memory.remember(L"detect", {true, L"http://wpad/wpad.dat"}, 400000);
    ASSERT_TRUE(memory.recall(L"detect", 400001, out));
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(out.text, L"http://wpad/wpad.dat");
}
