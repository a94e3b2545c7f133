// Decisions of the range transfer, as plain functions over plain data: what one attempt's
// answer means (done, retry, give up; roll back or resume), which address the next
// attempt uses after a rejection, how long to pause, and the give-up message.
#pragma once

#include <atomic>
#include <cstdint>
#include <set>
#include <string>

#include "net/http.h"

// What the data sink does with an answer before writing its first byte.
enum class AnswerVerdict {
    Accept,
    AdoptTotal,    // a 206 from the range's first byte with a new total: the range follows it
    RangeIgnored,  // a whole body where only a range will do: the range starts over
    Refuse,        // offset or sizes disagree: a failed attempt, nothing of it written
};

// The first block's view of an answer below 400.
struct AnswerFacts {
    int32_t status = 0;
    int64_t contentLength = -1;
    bool hasContentRange = false;
    int64_t rangeStart = -1;   // Content-Range bounds, -1 when absent or malformed
    int64_t rangeEnd = -1;
    int64_t rangeTotal = -1;   // -1 when unknown ("*")
    bool useRange = false;
    bool allowFullBody = false;
    int64_t start = 0;         // first byte of the range
    int64_t end = -1;          // last byte of the range, negative = size unknown
    int64_t requestStart = 0;  // the byte the request asked from
};

AnswerVerdict checkAnswer(const AnswerFacts& a);

// What the range transfer knows after one request.
struct AttemptFacts {
    HttpResult result = HttpResult::Ok;
    int32_t status = 0;
    bool hasFinalUrl = false;
    bool useRange = false;
    bool rangeIgnored = false;   // the sink refused a whole body where a range was needed
    bool answerRefused = false;  // the sink refused an answer whose offset or sizes disagree
    bool answerFilled = false;   // the sink stopped at the last byte the answer covered
    bool wholeBody = false;      // a whole body without a length: complete however long it ran
    int64_t pos = 0;             // next byte to write
    int64_t end = -1;            // last byte of the range, negative = unknown
    int64_t requestStart = 0;    // pos when the request was sent
};

// Continue: the answer was short but moved pos on; the next request follows at once and
// counts as no retry.
enum class AttemptAction { Done, Continue, Retry, GiveUp };

struct AttemptOutcome {
    AttemptAction action = AttemptAction::Retry;
    bool rollback = false;       // the range starts over at its first byte
    bool rejectAddress = false;  // 403/404/410 from a final address: apply rejectAddress
};

AttemptOutcome classifyAttempt(const AttemptFacts& f);

// A 403, 404 or 410 answered from finalUrl. Through the task's own address the final
// address is recorded and the next attempt asks the task's own address again (the server
// may send it elsewhere); through a remembered address that address is dropped.
void rejectAddress(std::string& effectiveUrl, std::set<std::string>& rejectedUrls, bool viaOriginal,
                   const std::string& finalUrl);

// Message when a transfer gives up: the task's text, else the engine's, else a default;
// after the last retry always the "network unstable" text.
std::wstring giveUpMessage(const std::wstring& taskText, const std::wstring& engineText, bool exhausted);

constexpr int32_t kMaxRetries = 12;

// Pause before retry number `attempt` (1-12), in milliseconds; checked for cancel every
// 100 ms. The product uses realRetryPause; tests may install a shorter schedule.
using RetryPauseFn = uint32_t (*)(int32_t attempt);
uint32_t realRetryPause(int32_t attempt);
extern std::atomic<RetryPauseFn> retryPause;
