// What one transfer attempt's answer means, which address comes next, the pause schedule
// and the give-up message.
#include <gtest/gtest.h>

#include "download/retry.h"

namespace {

using A = AttemptAction;
constexpr HttpResult Ok = HttpResult::Ok;
constexpr HttpResult Err = HttpResult::HttpError;

struct Case {
    const char* what;
    HttpResult result;
    int32_t status;
    bool useRange;
    bool allowFullBody;
    bool rangeIgnored;
    int64_t requestStart;
    int64_t pos;
    int64_t end;
    int64_t contentLength;
    A action;
    bool rollback;
};

TEST(ClassifyAttempt, OkAnswers) {
    const Case cases[] = {
        {"sink refused a 200 to a resumed range", Ok, 200, true, true, true, 5000, 5000, 9999, 10000, A::Retry, true},
        {"plain body complete", Ok, 200, false, true, false, 0, 10000, 9999, 10000, A::Done, false},
        {"plain body of unknown size", Ok, 200, false, true, false, 0, 123, -1, -1, A::Done, false},
        {"plain body short", Ok, 200, false, true, false, 0, 4000, 9999, 10000, A::Retry, true},
        {"range 206 complete", Ok, 206, true, false, false, 0, 10000, 9999, 10000, A::Done, false},
        {"range 206 short resumes", Ok, 206, true, false, false, 0, 3000, 9999, 10000, A::Retry, false},
        {"range 206 whole-file call complete", Ok, 206, true, true, false, 3000, 10000, 9999, 7000, A::Done, false},
        {"range 206 delivered its length", Ok, 206, true, true, false, 3000, 5000, 9999, 2000, A::Done, false},
        {"range 206 cut off resumes", Ok, 206, true, true, false, 0, 3145728, 9999999, 10000000, A::Retry, false},
        {"range 206 unknown end", Ok, 206, true, true, false, 0, 10, -1, -1, A::Done, false},
        {"200 from byte 0 with length", Ok, 200, true, true, false, 0, 10000, 9999, 10000, A::Done, false},
        {"200 from byte 0 filling the range", Ok, 200, true, true, false, 0, 10000, 9999, -1, A::Done, false},
        {"200 from byte 0 short", Ok, 200, true, true, false, 0, 500, 9999, 10000, A::Retry, false},
        {"200 without allowFullBody", Ok, 200, true, false, false, 0, 10000, 9999, 10000, A::Retry, false},
    };
    for (const Case& c : cases) {
        AttemptFacts f;
        f.result = c.result;
        f.status = c.status;
        f.useRange = c.useRange;
        f.allowFullBody = c.allowFullBody;
        f.rangeIgnored = c.rangeIgnored;
        f.requestStart = c.requestStart;
        f.pos = c.pos;
        f.end = c.end;
        f.contentLength = c.contentLength;
        AttemptOutcome o = classifyAttempt(f);
        EXPECT_EQ(o.action, c.action) << c.what;
        EXPECT_EQ(o.rollback, c.rollback) << c.what;
        EXPECT_FALSE(o.rejectAddress) << c.what;
    }
}

TEST(ClassifyAttempt, A206WithATotalResizesTheWholeFileCallOnly) {
    AttemptFacts f;
    f.result = Ok;
    f.status = 206;
    f.useRange = true;
    f.allowFullBody = true;
    f.hasContentRange = true;
    f.rangeTotal = 777;
    f.pos = 777;
    f.end = 776;
    EXPECT_TRUE(classifyAttempt(f).takeRangeTotal);
    f.rangeTotal = -1;
    EXPECT_FALSE(classifyAttempt(f).takeRangeTotal);
    f.rangeTotal = 777;
    f.allowFullBody = false;
    EXPECT_FALSE(classifyAttempt(f).takeRangeTotal);
}

TEST(ClassifyAttempt, ARangeFilledByAnOverlongBodyIsDone) {
    AttemptFacts f;
    f.result = HttpResult::Cancelled;
    f.status = 206;
    f.useRange = true;
    f.rangeFilled = true;
    f.pos = 1000;
    f.end = 999;
    EXPECT_EQ(classifyAttempt(f).action, A::Done);
}

TEST(ClassifyAttempt, ErrorStatusesAndEngineFailures) {
    const struct {
        HttpResult result;
        int32_t status;
        bool hasFinalUrl;
        A action;
        bool reject;
    } cases[] = {
        {Err, 500, true, A::Retry, false},   {Err, 503, true, A::Retry, false},
        {Err, 599, true, A::Retry, false},   {Err, 429, true, A::Retry, false},
        {Err, 403, true, A::Retry, true},    {Err, 404, true, A::Retry, true},
        {Err, 410, true, A::Retry, true},    {Err, 403, false, A::Retry, false},
        {Err, 408, true, A::Retry, false},   {Err, 404, false, A::GiveUp, false},
        {Err, 410, false, A::GiveUp, false}, {Err, 416, true, A::GiveUp, false},
        {Err, 401, true, A::GiveUp, false},  {Err, 400, true, A::GiveUp, false},
        {HttpResult::BadUrl, 0, false, A::GiveUp, false},
        {HttpResult::RedirectFailed, 0, false, A::GiveUp, false},
        {HttpResult::InitFailed, 0, false, A::Retry, false},
        {HttpResult::SendFailed, 0, false, A::Retry, false},
        {HttpResult::ReadFailed, 200, true, A::Retry, false},
        {HttpResult::TlsFailed, 0, false, A::Retry, false},
        {HttpResult::Cancelled, 200, true, A::Retry, false},
    };
    for (const auto& c : cases) {
        for (int mode = 0; mode < 3; ++mode) {
            // mode 0: no ranges; 1: ranges working; 2: ranges ignored by the server
            AttemptFacts f;
            f.result = c.result;
            f.status = c.status;
            f.hasFinalUrl = c.hasFinalUrl;
            f.useRange = mode != 0;
            f.rangeIgnored = mode == 2;
            f.pos = 5000;
            f.end = 9999;
            AttemptOutcome o = classifyAttempt(f);
            EXPECT_EQ(o.action, c.action) << static_cast<int>(c.result) << " " << c.status;
            EXPECT_EQ(o.rejectAddress, c.reject) << c.status;
            EXPECT_EQ(o.rollback, mode != 1) << c.status << " mode " << mode;
        }
    }
}

TEST(RejectAddress, ThroughTheOwnAddressRecordsTheFinalAddressAndAsksTheOwnAddressAgain) {
    std::string effective;
    std::set<std::string> rejected;
    rejectAddress(effective, rejected, true, "http://mirror/a.exe");
    EXPECT_EQ(effective, "");
    EXPECT_EQ(rejected, std::set<std::string>{"http://mirror/a.exe"});

    effective = "http://h/api/client/download/1";  // an earlier answer came from the own address
    rejectAddress(effective, rejected, true, "http://h/api/client/download/1");
    EXPECT_EQ(effective, "");
    EXPECT_EQ(rejected.size(), 2u);
}

TEST(RejectAddress, ThroughARememberedAddressDropsItUnlessAlreadyRejected) {
    std::string effective = "http://mirror/a.exe";
    std::set<std::string> rejected;
    rejectAddress(effective, rejected, false, "http://mirror/a.exe");
    EXPECT_EQ(effective, "");
    EXPECT_EQ(rejected.count("http://mirror/a.exe"), 1u);

    effective = "http://mirror2/a.exe";
    rejectAddress(effective, rejected, false, "http://mirror/a.exe");
    EXPECT_EQ(effective, "http://mirror2/a.exe");
    EXPECT_EQ(rejected.size(), 1u);
}

TEST(RetryPause, GrowsBy500MsUpTo4Seconds) {
    const uint32_t expected[] = {500, 1000, 1500, 2000, 2500, 3000, 3500, 4000, 4000, 4000, 4000, 4000};
    for (int32_t attempt = 1; attempt <= kMaxRetries; ++attempt)
        EXPECT_EQ(realRetryPause(attempt), expected[attempt - 1]) << attempt;
    EXPECT_EQ(retryPause.load(), &realRetryPause);
}

TEST(GiveUpMessage, PrefersTheTaskTextThenTheEngineText) {
    EXPECT_EQ(giveUpMessage(L"无法打开下载文件", L"HTTP 416", false), L"无法打开下载文件");
    EXPECT_EQ(giveUpMessage(L"", L"HTTP 416", false), L"HTTP 416");
    EXPECT_EQ(giveUpMessage(L"", L"", false), L"下载中断，请重试");
    EXPECT_EQ(giveUpMessage(L"x", L"HTTP 503", true), L"网络不稳定，重试多次仍失败，请稍后再试");
}

}  // namespace
