#include "download/retry.h"

uint32_t realRetryPause(int32_t attempt) {
    int64_t ms = 500LL * attempt;
    return static_cast<uint32_t>(ms > 4000 ? 4000 : (ms < 0 ? 0 : ms));
}

std::atomic<RetryPauseFn> retryPause{&realRetryPause};

AttemptOutcome classifyAttempt(const AttemptFacts& f) {
    AttemptOutcome o;
    // A resumable range keeps what it has; otherwise what arrived is thrown away.
    const bool keep = f.useRange && !f.rangeIgnored;

    if (f.rangeFilled) {
        o.action = AttemptAction::Done;
        return o;
    }

    switch (f.result) {
    case HttpResult::Ok:
        if (f.rangeIgnored) {
            o.action = AttemptAction::Retry;
            o.rollback = true;
        } else if (!f.useRange) {
            if (f.pos > f.end || f.end < 0) {
                o.action = AttemptAction::Done;
            } else {
                o.action = AttemptAction::Retry;
                o.rollback = true;
            }
        } else if (f.status == 206 && !f.allowFullBody) {
            o.action = (f.pos > f.end || f.end < 0) ? AttemptAction::Done : AttemptAction::Retry;
        } else if (f.status == 206) {
            o.takeRangeTotal = f.hasContentRange && f.rangeTotal > 0;
            bool complete = f.end < 0 || f.pos > f.end ||
                            (f.contentLength > 0 && f.contentLength <= f.pos - f.requestStart);
            o.action = complete ? AttemptAction::Done : AttemptAction::Retry;
        } else {
            // A whole body from byte 0 in answer to a range request: complete when it
            // delivered its announced length or filled the range.
            bool whole = f.allowFullBody && f.requestStart == 0 &&
                         ((f.contentLength > 0 && f.contentLength <= f.pos) || (f.end >= 0 && f.pos > f.end));
            o.action = whole ? AttemptAction::Done : AttemptAction::Retry;
        }
        return o;

    case HttpResult::HttpError:
        o.rollback = !keep;
        if (f.status >= 500 || f.status == 429) {
            o.action = AttemptAction::Retry;
        } else if ((f.status == 403 || f.status == 404 || f.status == 410) && f.hasFinalUrl) {
            o.rejectAddress = true;
            o.action = AttemptAction::Retry;
        } else if (f.status == 403 || f.status == 408) {
            o.action = AttemptAction::Retry;
        } else {
            o.action = AttemptAction::GiveUp;
        }
        return o;

    case HttpResult::BadUrl:
    case HttpResult::RedirectFailed:
        o.rollback = !keep;
        o.action = AttemptAction::GiveUp;
        return o;

    default:
        o.rollback = !keep;
        o.action = AttemptAction::Retry;
        return o;
    }
}

void rejectAddress(std::string& effectiveUrl, std::set<std::string>& rejectedUrls, bool viaOriginal,
                   const std::string& finalUrl) {
    if (viaOriginal) {
        rejectedUrls.insert(finalUrl);
        // The next attempt goes to the task's own address; a remembered address equal to the
        // rejected one would otherwise be asked again.
        if (effectiveUrl == finalUrl) effectiveUrl.clear();
        return;
    }
    if (rejectedUrls.count(finalUrl)) return;
    if (!effectiveUrl.empty()) rejectedUrls.insert(effectiveUrl);
    effectiveUrl.clear();
}

std::wstring giveUpMessage(const std::wstring& taskText, const std::wstring& engineText, bool exhausted) {
    if (exhausted) return L"网络不稳定，重试多次仍失败，请稍后再试";
    if (!taskText.empty()) return taskText;
    if (!engineText.empty()) return engineText;
    return L"下载中断，请重试";
}
