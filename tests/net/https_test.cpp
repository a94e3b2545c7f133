#include "net/http.h"

#include <gtest/gtest.h>

#include "json/encoding.h"
#include "support/test_server.h"

namespace {

class Https : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(testserver::httpsBase().empty()) << "test server not running"; }
};

TEST_F(Https, TrustedCertificateGivesTheBody) {
    std::string p = testserver::uniquePath("tls");
    ASSERT_TRUE(testserver::script(p, R"([{"body_size":100000}])"));
    HttpResponse r;
    std::wstring error;
    EXPECT_EQ(httpRequest(testserver::httpsBase() + json::toWide(p), {}, nullptr, L"GET", HttpDataSink(), r, error,
                          nullptr),
              HttpResult::Ok)
        << json::toUtf8(error);
    EXPECT_EQ(r.body.size(), 100000u);
    EXPECT_TRUE(testserver::isPattern(r.body));
    auto reqs = testserver::requests(p);
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_TRUE(reqs[0].secure);
}

TEST_F(Https, RedirectAcrossSchemesAndPorts) {
    std::string p = testserver::uniquePath("cross");
    std::string target = json::toUtf8(testserver::httpsBase()) + p + "/file";
    ASSERT_TRUE(testserver::script(p + "/start", R"([{"status":302,"location":")" + target + R"("}])"));
    ASSERT_TRUE(testserver::script(p + "/file", R"([{"status":302,"location":"/)" + p.substr(1) + R"(/end"}])"));
    ASSERT_TRUE(testserver::script(p + "/end", R"([{"body":"secure end"}])"));
    HttpResponse r;
    std::wstring error;
    EXPECT_EQ(httpRequest(testserver::httpBase() + json::toWide(p + "/start"), {}, nullptr, L"GET", HttpDataSink(), r,
                          error, nullptr),
              HttpResult::Ok)
        << json::toUtf8(error);
    EXPECT_EQ(r.body, "secure end");
    EXPECT_EQ(r.finalUrl, testserver::httpsBase() + json::toWide(p + "/end"));
}

TEST_F(Https, UntrustedCertificateIsATlsFailure) {
    ASSERT_FALSE(testserver::untrustedHttpsBase().empty());
    std::string p = testserver::uniquePath("untrusted");
    ASSERT_TRUE(testserver::script(p, R"([{"body":"reached"}])"));
    HttpResponse r;
    std::wstring error;
    HttpResult result = httpRequest(testserver::untrustedHttpsBase() + json::toWide(p), {}, nullptr, L"GET",
                                    HttpDataSink(), r, error, nullptr);
#if KV_TLS_IGNORE_CERT_ERRORS
    // Built to ignore certificate errors: the unknown authority is accepted.
    EXPECT_EQ(result, HttpResult::Ok) << json::toUtf8(error);
    EXPECT_EQ(r.body, "reached");
#else
    EXPECT_EQ(result, HttpResult::TlsFailed) << json::toUtf8(error);
    EXPECT_EQ(error.rfind(L"请求发送失败 (winhttp ", 0), 0u) << json::toUtf8(error);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(testserver::requests(p).empty());
#endif
}

}  // namespace
