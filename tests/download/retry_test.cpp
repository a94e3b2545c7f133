// What one transfer attempt's answer means, which address comes next, the pause schedule
// and the give-up message.
#include <gtest/gtest.h>

#include "download/retry.h"

namespace {

using A = AttemptAction;
constexpr HttpResult Ok = HttpResult::Ok;
constexpr HttpResult Err = HttpResult::HttpError;

TEST(CheckAnswer, PartsMustStartWhereAskedAndAgreeWithTheirLengthAndTotal) {
    using V = AnswerVerdict;
    const struct {
        const char* what;
        int32_t status;
        int64_t contentLength;
        bool hasRange;
        int64_t rangeStart, rangeEnd, rangeTotal;
        bool useRange, allowFullBody;
        int64_t start, end, requestStart;
        V verdict;
    } cases[] = {
        {"206 as asked", 206, 5000, true, 5000, 9999, 10000, true, true, 0, 9999, 5000, V::Accept},
        {"206 shorter than asked", 206, 65536, true, 5000, 70535, 100000, true, true, 0, 99999, 5000, V::Accept},
        {"206 with unknown total", 206, 5000, true, 5000, 9999, -1, true, true, 0, 9999, 5000, V::Accept},
        {"206 without Content-Length", 206, -1, true, 0, 9999, 10000, true, true, 0, 9999, 0, V::Accept},
        {"206 from another offset", 206, 5000, true, 4000, 8999, 10000, true, true, 0, 9999, 5000, V::Refuse},
        {"206 from a later offset", 206, 1000, true, 6000, 6999, 10000, true, true, 0, 9999, 5000, V::Refuse},
        {"206 longer than its range", 206, 5001, true, 5000, 9999, 10000, true, true, 0, 9999, 5000, V::Refuse},
        {"206 shorter than its range", 206, 4000, true, 5000, 9999, 10000, true, true, 0, 9999, 5000, V::Refuse},
        {"206 without Content-Range", 206, 5000, false, -1, -1, -1, true, true, 0, 9999, 5000, V::Refuse},
        {"206 with a malformed range", 206, 5000, true, -1, -1, 10000, true, true, 0, 9999, 5000, V::Refuse},
        {"206 past its own total", 206, 10, true, 0, 9, 5, true, true, 0, 9, 0, V::Refuse},
        {"206 past the asked end", 206, 6000, true, 5000, 10999, -1, true, true, 0, 9999, 5000, V::Refuse},
        {"206 with a new total, nothing kept", 206, 1000, true, 0, 999, 1000, true, true, 0, 4999999, 0, V::AdoptTotal},
        {"206 with a new total, part kept", 206, 5000, true, 5000, 9999, 20000, true, true, 0, 9999, 5000, V::Refuse},
        {"206 with a new total, not the whole-file call", 206, 100, true, 0, 99, 200, true, false, 0, 99, 0,
         V::Refuse},
        {"206 to a plain request, whole file", 206, 100, true, 0, 99, 100, false, true, 0, -1, 0, V::Accept},
        {"206 to a plain request, part", 206, 100, true, 0, 99, 1000, false, true, 0, -1, 0, V::Refuse},
        {"206 to a plain request, unknown total", 206, 100, true, 0, 99, -1, false, true, 0, -1, 0, V::Refuse},
        {"200 to a resumed range", 200, 10000, false, -1, -1, -1, true, true, 0, 9999, 5000, V::RangeIgnored},
        {"200 where no whole body will do", 200, 10000, false, -1, -1, -1, true, false, 0, 9999, 0,
         V::RangeIgnored},
        {"200 from byte 0", 200, 10000, false, -1, -1, -1, true, true, 0, 9999, 0, V::Accept},
        {"200 shorter than the known size", 200, 6000, false, -1, -1, -1, true, true, 0, 9999, 0, V::Refuse},
        {"200 longer than the known size", 200, 20000, false, -1, -1, -1, false, true, 0, 9999, 0, V::Refuse},
        {"200 without length", 200, -1, false, -1, -1, -1, false, true, 0, 9999, 0, V::Accept},
        {"200 of unknown size", 200, 123, false, -1, -1, -1, false, true, 0, -1, 0, V::Accept},
    };
    for (const auto& c : cases) {
        AnswerFacts a;
        a.status = c.status;
        a.contentLength = c.contentLength;
        a.hasContentRange = c.hasRange;
        a.rangeStart = c.rangeStart;
        a.rangeEnd = c.rangeEnd;
        a.rangeTotal = c.rangeTotal;
        a.useRange = c.useRange;
        a.allowFullBody = c.allowFullBody;
        a.start = c.start;
        a.end = c.end;
        a.requestStart = c.requestStart;
        EXPECT_EQ(checkAnswer(a), c.verdict) << c.what;
    }
}

struct Case {
    const char* what;
    HttpResult result;
    int32_t status;
    bool useRange;
    bool rangeIgnored;
    bool answerRefused;
    bool answerFilled;
    int64_t requestStart;
    int64_t pos;
    int64_t end;
    A action;
    bool rollback;
};

constexpr HttpResult Stop = HttpResult::Cancelled;  // the sink stopped the transfer

TEST(ClassifyAttempt, AnswersBelow400) {
    const Case cases[] = {
        {"sink refused a 200 to a resumed range", Stop, 200, true, true, false, false, 5000, 5000, 9999, A::Retry,
         true},
        {"plain body complete", Ok, 200, false, false, false, false, 0, 10000, 9999, A::Done, false},
        {"plain body of unknown size", Ok, 200, false, false, false, false, 0, 123, -1, A::Done, false},
        {"plain body short", Ok, 200, false, false, false, false, 0, 4000, 9999, A::Retry, true},
        {"range filled", Ok, 206, true, false, false, false, 3000, 10000, 9999, A::Done, false},
        {"short 206 continues at once", Ok, 206, true, false, false, false, 0, 65536, 9999999, A::Continue, false},
        {"short 206 from a resumed position", Ok, 206, true, false, false, false, 3000, 5000, 9999, A::Continue,
         false},
        {"206 that moved nothing", Ok, 206, true, false, false, false, 3000, 3000, 9999, A::Retry, false},
        {"206 of unknown end", Ok, 206, true, false, false, false, 0, 10, -1, A::Done, false},
        {"206 stopped at the range end", Stop, 206, true, false, false, true, 0, 1000, 999, A::Done, false},
        {"206 stopped at its own end", Stop, 206, true, false, false, true, 0, 1000, 9999, A::Continue, false},
        {"refused 206 keeps earlier parts", Stop, 206, true, false, true, false, 5000, 5000, 9999, A::Retry, false},
        {"refused whole body starts over", Stop, 200, true, false, true, false, 0, 10000, 9999, A::Retry, true},
        {"refused plain body starts over", Stop, 200, false, false, true, false, 0, 10000, 9999, A::Retry, true},
        {"200 from byte 0 filling the range", Ok, 200, true, false, false, false, 0, 10000, 9999, A::Done, false},
        {"200 from byte 0 ending short", Ok, 200, true, false, false, false, 0, 500, 9999, A::Retry, true},
        {"more bytes than the range", Ok, 200, false, false, false, false, 0, 10001, 9999, A::Retry, true},
        {"206 cut off keeps what arrived", HttpResult::ReadFailed, 206, true, false, false, false, 0, 3145728,
         9999999, A::Retry, false},
    };
    for (const Case& c : cases) {
        AttemptFacts f;
        f.result = c.result;
        f.status = c.status;
        f.useRange = c.useRange;
        f.rangeIgnored = c.rangeIgnored;
        f.answerRefused = c.answerRefused;
        f.answerFilled = c.answerFilled;
        f.requestStart = c.requestStart;
        f.pos = c.pos;
        f.end = c.end;
        AttemptOutcome o = classifyAttempt(f);
        EXPECT_EQ(o.action, c.action) << c.what;
        EXPECT_EQ(o.rollback, c.rollback) << c.what;
        EXPECT_FALSE(o.rejectAddress) << c.what;
    }
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
