#include "download/retry.h"

uint32_t realRetryPause(int32_t attempt) {
    int64_t ms = 500LL * attempt;
    return static_cast<uint32_t>(ms > 4000 ? 4000 : (ms < 0 ? 0 : ms));
}

std::atomic<RetryPauseFn> retryPause{&realRetryPause};

AnswerVerdict checkAnswer(const AnswerFacts& a) {
    const bool sizeKnown = a.end >= 0;
    if (a.status != 206) {
        if (a.useRange && (!a.allowFullBody || a.requestStart != 0)) return AnswerVerdict::RangeIgnored;
        // A whole body of another length than the known size is another file (or an error
        // page sent as 200).
        if (sizeKnown && a.contentLength > 0 && a.contentLength != a.end + 1) return AnswerVerdict::Refuse;
        return AnswerVerdict::Accept;
    }
    // A part of the file is written at the offset it names, so that offset must be known,
    // be the one asked for, and agree with the length of the body carrying it.
    if (!a.hasContentRange || a.rangeStart < 0 || a.rangeStart != a.requestStart) return AnswerVerdict::Refuse;
    if (a.contentLength >= 0 && a.contentLength != a.rangeEnd - a.rangeStart + 1) return AnswerVerdict::Refuse;
    if (a.rangeTotal > 0 && a.rangeEnd >= a.rangeTotal) return AnswerVerdict::Refuse;
    if (!a.useRange) {
        // Nothing was asked for but the whole file: only a part that says it is the whole.
        const bool whole = a.rangeStart == 0 && a.rangeTotal > 0 && a.rangeEnd == a.rangeTotal - 1 &&
                           (!sizeKnown || a.rangeTotal == a.end + 1);
        return whole ? AnswerVerdict::Accept : AnswerVerdict::Refuse;
    }
    if (sizeKnown && a.rangeTotal > 0 && a.rangeTotal != a.end + 1) {
        // The server's own total wins while nothing of the range is kept; later it would mix
        // two versions of the file.
        return a.allowFullBody && a.requestStart == a.start ? AnswerVerdict::AdoptTotal : AnswerVerdict::Refuse;
    }
    if (sizeKnown && a.rangeEnd > a.end) return AnswerVerdict::Refuse;
    return AnswerVerdict::Accept;
}

AttemptOutcome classifyAttempt(const AttemptFacts& f) {
    AttemptOutcome o;
    // A resumable range keeps what it has; otherwise what arrived is thrown away.
    const bool keep = f.useRange && !f.rangeIgnored;

    if (f.answerRefused) {
        // A refused part leaves what earlier parts wrote; a refused whole body may have
        // written the start of another file.
        o.rollback = !(keep && f.status == 206);
        return o;
    }
    // With a known size the range is done only when exactly filled.
    // A whole body without a length is done once it reached the size; what runs past it is
    // kept for the digest to judge.
    const bool filled = f.end < 0 || f.pos == f.end + 1 || (f.wholeBody && f.pos > f.end);
    const bool overfilled = f.end >= 0 && f.pos > f.end + 1 && !f.wholeBody;
    HttpResult result = f.answerFilled ? HttpResult::Ok : f.result;

    switch (result) {
    case HttpResult::Ok:
        if (f.rangeIgnored || overfilled) {
            o.rollback = true;
        } else if (filled) {
            o.action = AttemptAction::Done;
        } else if (!f.useRange || f.status != 206) {
            // A whole body that ended before the known size.
            o.rollback = true;
        } else if (f.pos > f.requestStart) {
            o.action = AttemptAction::Continue;
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
