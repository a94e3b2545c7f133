// Requests through a real proxy (tinyproxy on 127.0.0.1, started by proxy_fixture.sh) chosen
// from the user's settings as Windows writes them. The proxy's own log proves each request
// went through it. Runs alone: the settings are the prefix's, shared by every program in it.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "json/encoding.h"
#include "net/http.h"
#include "net/proxy_resolve.h"
#include "support/test_server.h"

namespace {

const wchar_t kConnections[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
const wchar_t kValue[] = L"DefaultConnectionSettings";

enum : DWORD { kDirect = 1, kFixed = 2, kScript = 4 };

std::string envValue(const char* name) {
    char buf[4096];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

std::string fixtureDir() { return envValue("KV_BINARY_DIR") + "/proxies"; }

std::map<std::string, std::string> proxies() {
    std::map<std::string, std::string> out;
    FILE* f = _wfopen(testserver::hostPathToWindows(fixtureDir() + "/proxies.txt").c_str(), L"r");
    if (!f) return out;
    char buf[256];
    while (fgets(buf, sizeof buf, f)) {
        std::string line(buf);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        size_t eq = line.find('=');
        if (eq != std::string::npos) out[line.substr(0, eq)] = "127.0.0.1:" + line.substr(eq + 1);
    }
    fclose(f);
    return out;
}

std::string readLog(const std::string& name) {
    std::string text;
    FILE* f = _wfopen(testserver::hostPathToWindows(fixtureDir() + "/" + name + ".log").c_str(), L"rb");
    if (!f) return text;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    fclose(f);
    return text;
}

void appendText(std::string& blob, const std::string& text) {
    const DWORD n = static_cast<DWORD>(text.size());
    blob.append(reinterpret_cast<const char*>(&n), 4);
    blob += text;
}

// The current user's proxy settings in the binary form Windows keeps; the value found at
// the start is put back at the end.
class UserProxySettings {
public:
    UserProxySettings() {
        RegCreateKeyExW(HKEY_CURRENT_USER, kConnections, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
        DWORD size = 0;
        if (key_ && RegQueryValueExW(key_, kValue, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
            saved_.resize(size);
            had_ = RegQueryValueExW(key_, kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&saved_[0]), &size) ==
                   ERROR_SUCCESS;
        }
    }
    ~UserProxySettings() {
        if (!key_) return;
        if (had_) {
            RegSetValueExW(key_, kValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(saved_.data()),
                           static_cast<DWORD>(saved_.size()));
        } else {
            RegDeleteValueW(key_, kValue);
        }
        RegCloseKey(key_);
    }
    bool set(DWORD flags, const std::string& proxyList, const std::string& bypass, const std::string& pac) {
        std::string blob;
        const DWORD header[3] = {0x46, ++counter_, flags};
        blob.append(reinterpret_cast<const char*>(header), sizeof header);
        appendText(blob, proxyList);
        appendText(blob, bypass);
        appendText(blob, pac);
        blob.append(32, '\0');
        return key_ && RegSetValueExW(key_, kValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(blob.data()),
                                      static_cast<DWORD>(blob.size())) == ERROR_SUCCESS;
    }

private:
    HKEY key_ = nullptr;
    bool had_ = false;
    std::string saved_;
    DWORD counter_ = 0;
};

std::string narrow(const std::wstring& text) { return json::toUtf8(text); }

// The test server under the name localhost. Requests through the proxy use it: Wine sends
// a request to a server of the same host name as the proxy (127.0.0.1) as if there were
// no proxy (no absolute address, no CONNECT).
std::string byName(const std::wstring& base) {
    std::string text = narrow(base);
    const size_t at = text.find("127.0.0.1");
    return at == std::string::npos ? text : text.replace(at, 9, "localhost");
}

class ProxyRoute : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(testserver::httpBase().empty()) << "test server not running";
        ports_ = proxies();
        ASSERT_EQ(ports_.size(), 3u) << "proxies not running (proxy_fixture.sh)";
    }
    std::string base() const { return byName(testserver::httpBase()); }
    std::string directBase() const { return narrow(testserver::httpBase()); }
    std::map<std::string, std::string> ports_;
    UserProxySettings settings_;
};

TEST_F(ProxyRoute, FixedProxyCarriesCatalogIconDownloadReportAndHttps) {
    const std::string open = ports_["open"];
    ASSERT_TRUE(settings_.set(kDirect | kFixed, "http=" + open + ";https=" + open, "*.example.com;10.*", ""));
    const std::string catalog = testserver::uniquePath("bootstrap");
    const std::string icon = testserver::uniquePath("icon.png");
    const std::string download = testserver::uniquePath("setup.exe");
    const std::string report = testserver::uniquePath("report");
    const std::string secure = testserver::uniquePath("secure");
    ASSERT_TRUE(testserver::script(catalog, R"([{"body":"{}"}])"));
    ASSERT_TRUE(testserver::script(icon, R"([{"body_size":300}])"));
    ASSERT_TRUE(testserver::script(download, R"([{"body_size":5000}])"));
    ASSERT_TRUE(testserver::script(report, R"([{"status":204}])"));
    ASSERT_TRUE(testserver::script(secure, R"([{"body":"tls"}])"));

    std::string text;
    std::wstring error;
    EXPECT_TRUE(httpGetText(json::toWide(base() + catalog), text, error)) << narrow(error);
    EXPECT_EQ(text, "{}");

    HttpSession pool;
    HttpResponse iconAnswer;
    EXPECT_EQ(httpRequest(pool, json::toWide(base() + icon), {}, nullptr, L"GET", HttpDataSink(), iconAnswer, error,
                          nullptr),
              HttpResult::Ok)
        << narrow(error);
    EXPECT_EQ(iconAnswer.body.size(), 300u);

    std::string received;
    std::atomic<bool> cancel{false};
    HttpResponse range;
    EXPECT_EQ(httpRequest(json::toWide(base() + download), {{L"Range", L"bytes=1000-1999"}}, nullptr, L"GET",
                          [&](const unsigned char* p, unsigned long n) {
                              received.append(reinterpret_cast<const char*>(p), n);
                              return true;
                          },
                          range, error, &cancel),
              HttpResult::Ok)
        << narrow(error);
    EXPECT_EQ(range.status, 206);
    EXPECT_TRUE(received.size() == 1000 && testserver::isPattern(received, 1000));

    const std::string event = R"({"event":"install"})";
    HttpResponse posted;
    EXPECT_EQ(httpRequest(json::toWide(base() + report), {{L"Content-Type", L"application/json"}}, &event, L"POST",
                          HttpDataSink(), posted, error, nullptr),
              HttpResult::Ok)
        << narrow(error);

    HttpResponse tls;
    EXPECT_EQ(httpRequest(json::toWide(byName(testserver::httpsBase()) + secure), {}, nullptr, L"GET", HttpDataSink(), tls,
                          error, nullptr),
              HttpResult::Ok)
        << narrow(error);
    EXPECT_EQ(tls.body, "tls");

    const std::string log = readLog("open");
    for (const std::string& line : {"GET " + base() + catalog, "GET " + base() + icon, "GET " + base() + download,
                                    "POST " + base() + report}) {
        EXPECT_NE(log.find(line + " HTTP/1.1"), std::string::npos) << line;
    }
    const std::string httpsHost = byName(testserver::httpsBase()).substr(8);
    EXPECT_NE(log.find("CONNECT " + httpsHost + " HTTP/1.1"), std::string::npos) << httpsHost;
    EXPECT_EQ(testserver::requests(report).at(0).body, event);
}

// The script sends one address through the proxy and another direct; a host in a fixed
// proxy's bypass list goes direct while another name of the same server does not, also
// when a redirect leads from one to the other.
TEST_F(ProxyRoute, ScriptAndBypassListChooseProxyOrDirect) {
    const std::string open = ports_["open"];
    const std::string pac = testserver::uniquePath("proxy.pac");
    const std::string viaScript = testserver::uniquePath("via-script");
    const std::string directScript = testserver::uniquePath("direct-script");
    const std::string script = std::string(
                                   "function FindProxyForURL(url, host) {\n"
                                   "  if (url.indexOf('direct-') >= 0) return 'DIRECT';\n"
                                   "  return 'PROXY ") +
                               open + "';\n}\n";
    std::string escaped;
    for (char c : script) escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
    ASSERT_TRUE(testserver::script(
        pac, "[{\"body\":\"" + escaped + "\",\"content_type\":\"application/x-ns-proxy-autoconfig\"}]"));
    for (const std::string& p : {viaScript, directScript}) ASSERT_TRUE(testserver::script(p, R"([{"body":"x"}])"));
    ASSERT_TRUE(settings_.set(kDirect | kScript, "", "", directBase() + pac));
    std::string text;
    std::wstring error;
    EXPECT_TRUE(httpGetText(json::toWide(base() + viaScript), text, error)) << narrow(error);
    EXPECT_TRUE(httpGetText(json::toWide(base() + directScript), text, error)) << narrow(error);

    const std::string viaBypass = testserver::uniquePath("by-name");
    const std::string directBypass = testserver::uniquePath("by-address");
    const std::string hop = testserver::uniquePath("hop");
    const std::string landing = testserver::uniquePath("landing");
    for (const std::string& p : {viaBypass, directBypass, landing}) {
        ASSERT_TRUE(testserver::script(p, R"([{"body":"x"}])"));
    }
    ASSERT_TRUE(testserver::script(hop, "[{\"status\":302,\"location\":\"" + directBase() + landing + "\"}]"));
    ASSERT_TRUE(settings_.set(kDirect | kFixed, open, "*.example.com 127.*", ""));
    EXPECT_TRUE(httpGetText(json::toWide(base() + viaBypass), text, error)) << narrow(error);
    EXPECT_TRUE(httpGetText(json::toWide(directBase() + directBypass), text, error)) << narrow(error);
    EXPECT_TRUE(httpGetText(json::toWide(base() + hop), text, error)) << narrow(error);

    const std::string log = readLog("open");
    EXPECT_NE(log.find("GET " + base() + viaScript + " "), std::string::npos);
    EXPECT_EQ(log.find(directScript), std::string::npos);
    EXPECT_EQ(testserver::requests(directScript).size(), 1u);
    EXPECT_NE(log.find("GET " + base() + viaBypass + " "), std::string::npos);
    EXPECT_EQ(log.find(directBypass), std::string::npos);
    EXPECT_EQ(testserver::requests(directBypass).size(), 1u);
    EXPECT_NE(log.find("GET " + base() + hop + " "), std::string::npos);
    EXPECT_EQ(log.find(landing), std::string::npos);
    EXPECT_EQ(testserver::requests(landing).size(), 1u);
}

// A script that does not come within the bound is given up (the fixed proxy serves instead)
// and not asked for again by the next request.
TEST_F(ProxyRoute, SlowScriptIsAbandonedAndItsFailureRemembered) {
    setAutoProxyLimits(500, 300000);
    const std::string pac = testserver::uniquePath("slow.pac");
    const std::string first = testserver::uniquePath("first");
    const std::string second = testserver::uniquePath("second");
    ASSERT_TRUE(testserver::script(
        pac, R"([{"delay_ms":4000,"body":"function FindProxyForURL(u, h) { return 'DIRECT'; }"}])"));
    for (const std::string& p : {first, second}) ASSERT_TRUE(testserver::script(p, R"([{"body":"x"}])"));
    ASSERT_TRUE(settings_.set(kDirect | kFixed | kScript, ports_["open"], "", directBase() + pac));
    std::string text;
    std::wstring error;
    EXPECT_TRUE(httpGetText(json::toWide(base() + first), text, error)) << narrow(error);
    EXPECT_TRUE(httpGetText(json::toWide(base() + second), text, error)) << narrow(error);
    setAutoProxyLimits(proxy::kAutoBoundMs, proxy::kAutoKeepMs);

    const std::string log = readLog("open");
    EXPECT_NE(log.find("GET " + base() + first + " "), std::string::npos);
    EXPECT_NE(log.find("GET " + base() + second + " "), std::string::npos);
    EXPECT_EQ(testserver::requests(pac).size(), 1u);
}

TEST_F(ProxyRoute, RefusingOrMissingProxyHasItsOwnMessage) {
    const std::string p = testserver::uniquePath("refused");
    ASSERT_TRUE(testserver::script(p, R"([{"body":"x"}])"));
    std::string text;
    std::wstring error;

    ASSERT_TRUE(settings_.set(kDirect | kFixed, ports_["auth"], "", ""));
    HttpResponse response;
    EXPECT_EQ(httpRequest(json::toWide(base() + p), {}, nullptr, L"GET", HttpDataSink(), response, error, nullptr),
              HttpResult::HttpError);
    EXPECT_EQ(error, L"代理服务器需要身份验证");

    ASSERT_TRUE(settings_.set(kDirect | kFixed, ports_["down"], "", ""));
    EXPECT_FALSE(httpGetText(json::toWide(base() + p), text, error));
    EXPECT_EQ(error, L"无法连接代理服务器");
    EXPECT_TRUE(testserver::requests(p).empty());
}

}  // namespace
