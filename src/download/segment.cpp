// The range transfer: one attempt after another into the existing part file, resuming or
// starting the range over as the answers allow.
#include <cstdio>
#include <vector>

#include "download/journal.h"
#include "download/manager.h"
#include "download/retry.h"
#include "json/encoding.h"
#include "net/http.h"

namespace {

constexpr DWORD kPauseStepMs = 100;

// Pauses before a retry in 100 ms steps; false when a cancel arrived.
bool pauseUnlessCancelled(const Task& t, uint32_t ms) {
    for (uint32_t waited = 0; waited < ms; waited += kPauseStepMs) {
        if (t.cancelRequested) return false;
        Sleep(ms - waited < kPauseStepMs ? ms - waited : kPauseStepMs);
    }
    return !t.cancelRequested;
}

// Gathers received blocks and writes them to the part file in large pieces: each write
// call costs far more than copying one network block, so per-block writes slowed the
// transfer measurably.
class BlockWriter {
public:
    explicit BlockWriter(HANDLE file) : file_(file) { buffer_.reserve(kCapacity); }
    bool put(const unsigned char* data, DWORD size) {
        if (buffer_.size() + size > kCapacity && !flush()) return false;
        buffer_.insert(buffer_.end(), data, data + size);
        return true;
    }
    bool flush() {
        if (buffer_.empty()) return true;
        DWORD written = 0;
        const DWORD n = static_cast<DWORD>(buffer_.size());
        const bool ok = WriteFile(file_, buffer_.data(), n, &written, nullptr) && written == n;
        buffer_.clear();
        return ok;
    }

private:
    static constexpr size_t kCapacity = 512u << 10;
    HANDLE file_;
    std::vector<unsigned char> buffer_;
};

}  // namespace

bool DownloadManager::downloadPart(Task* t, int64_t start, int64_t end, bool useRange, bool allowFullBody,
                                   const std::string& ifRange, bool* fileChanged) {
    int64_t pos = start;
    const std::wstring validator = json::toWide(ifRange);
    int32_t attempt = 0;
    const std::wstring partPath = t->getPartPath();

    for (;;) {
        std::string address;
        bool viaOriginal;
        {
            std::lock_guard<std::mutex> lock(t->urlLock);
            address = t->effectiveUrl.empty() ? t->url : t->effectiveUrl;
            viaOriginal = address == t->url;
        }

        std::vector<HttpHeader> headers;
        if (useRange) {
            wchar_t range[64];
            if (end >= 0)
                swprintf(range, 64, L"bytes=%lld-%lld", static_cast<long long>(pos), static_cast<long long>(end));
            else
                swprintf(range, 64, L"bytes=%lld-", static_cast<long long>(pos));
            headers.push_back({L"Range", range});
            if (!validator.empty()) headers.push_back({L"If-Range", validator});
        }

        ScopedFile file(CreateFileW(partPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            t->setError(L"无法打开下载文件");
            return false;
        }
        if (pos > 0) {
            LARGE_INTEGER at;
            at.QuadPart = pos;
            if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN)) {
                file.reset();
                t->setError(L"定位写入失败");
                return false;
            }
        }

        const int64_t requestStart = pos;
        bool checked = false, rangeIgnored = false, answerRefused = false, answerFilled = false;
        bool writeFailed = false, errorAnswer = false, wholeBody = false, changed = false;
        // Every couple of seconds what was written is flushed to the disk and counted as
        // durable, so a crash or a power cut loses at most those seconds.
        ULONGLONG lastSync = GetTickCount64();
        int64_t last = end;  // last byte this answer may write; negative = no bound
        HttpResponse response;
        std::wstring error;
        BlockWriter writer(file.get());
        const HttpDataSink sink = [&](const unsigned char* data, unsigned long size) -> bool {
            if (t->cancelRequested) return false;
            // An error page is not file content; its status decides what happens next.
            if (response.status >= 400) {
                errorAnswer = true;
                return false;
            }
            if (!checked) {
                checked = true;
                if (!validator.empty() && response.status == 200) {
                    changed = true;
                    return false;
                }
                AnswerFacts a;
                a.status = response.status;
                a.contentLength = response.contentLength;
                a.hasContentRange = response.hasContentRange;
                a.rangeStart = response.rangeStart;
                a.rangeEnd = response.rangeEnd;
                a.rangeTotal = response.rangeTotal;
                a.useRange = useRange;
                a.allowFullBody = allowFullBody;
                a.start = start;
                a.end = end;
                a.requestStart = requestStart;
                switch (checkAnswer(a)) {
                case AnswerVerdict::RangeIgnored:
                    rangeIgnored = true;
                    return false;
                case AnswerVerdict::Refuse:
                    answerRefused = true;
                    return false;
                case AnswerVerdict::AdoptTotal:
                    end = response.rangeTotal - 1;
                    t->totalBytes = response.rangeTotal;
                    break;
                case AnswerVerdict::Accept:
                    break;
                }
                // A whole body without a length ends with the connection: it is the file,
                // however far it runs past the catalog's size.
                wholeBody = response.status != 206 && response.contentLength < 0;
                last = wholeBody ? -1 : end;
                if (response.status == 206 && (last < 0 || response.rangeEnd < last)) last = response.rangeEnd;
            }
            DWORD n = size;
            bool overrun = false;
            if (last >= 0) {
                // Never past the range or the part the answer says it carries, however long
                // the body runs.
                const int64_t room = last + 1 - pos;
                if (room < static_cast<int64_t>(n)) {
                    n = room > 0 ? static_cast<DWORD>(room) : 0;
                    overrun = true;
                }
            }
            if (n > 0) {
                if (!writer.put(data, n)) {
                    writeFailed = true;
                    return false;
                }
                t->downloadedBytes += n;
                pos += n;
                if (GetTickCount64() - lastSync >= kJournalIntervalMs) {
                    lastSync = GetTickCount64();
                    if (!writer.flush() || !FlushFileBuffers(file.get())) {
                        writeFailed = true;
                        return false;
                    }
                    t->durableBytes = pos;
                }
            }
            if (!overrun) return true;
            // A part running past its own end is cut there; a whole body running past the
            // known size disagrees with it.
            if (response.status == 206)
                answerFilled = true;
            else
                answerRefused = true;
            return false;
        };

        if (!acquireSlot(&t->cancelRequested)) return false;
        HttpResult result = httpRequest(json::toWide(address), headers, nullptr, L"GET", sink, response, error,
                                        &t->cancelRequested);
        releaseSlot();
        if (!writeFailed && !writer.flush()) writeFailed = true;
        if (!writeFailed && FlushFileBuffers(file.get())) t->durableBytes = pos;
        file.reset();

        if (t->cancelRequested) return false;
        if (changed) {
            if (fileChanged) *fileChanged = true;
            return false;
        }
        if (writeFailed) {
            t->setError(L"磁盘写入失败");
            return false;
        }
        if (errorAnswer && result == HttpResult::Cancelled) {
            result = HttpResult::HttpError;
            error = L"HTTP " + std::to_wstring(response.status);
        }

        AttemptFacts facts;
        facts.result = result;
        facts.status = response.status;
        facts.hasFinalUrl = !response.finalUrl.empty();
        facts.useRange = useRange;
        facts.rangeIgnored = rangeIgnored;
        facts.answerRefused = answerRefused;
        facts.answerFilled = answerFilled;
        facts.wholeBody = wholeBody;
        facts.pos = pos;
        facts.end = end;
        facts.requestStart = requestStart;
        const AttemptOutcome outcome = classifyAttempt(facts);

        if ((result == HttpResult::Ok || answerFilled) && !response.finalUrl.empty()) {
            std::string final = json::toUtf8(response.finalUrl);
            std::lock_guard<std::mutex> lock(t->urlLock);
            if (t->effectiveUrl != final) t->effectiveUrl = final;
        }
        if (outcome.rejectAddress) {
            std::string final = json::toUtf8(response.finalUrl);
            std::lock_guard<std::mutex> lock(t->urlLock);
            rejectAddress(t->effectiveUrl, t->rejectedUrls, viaOriginal, final);
        }
        if (outcome.rollback && pos > start) {
            t->downloadedBytes -= pos - start;
            pos = start;
            if (t->durableBytes.load() > pos) t->durableBytes = pos;
        }

        if (outcome.action == AttemptAction::Done) {
            if (end >= 0 && pos > end + 1) t->totalBytes = pos;
            return true;
        }
        if (outcome.action == AttemptAction::Continue) continue;
        if (outcome.action == AttemptAction::GiveUp) {
            t->setError(giveUpMessage(t->getError(), error, false));
            return false;
        }

        ++attempt;
        if (attempt > kMaxRetries) {
            t->setError(giveUpMessage(std::wstring(), std::wstring(), true));
            return false;
        }
        t->retryCount = attempt;
        post(WM_DOWNLOAD_CHANGED);
        if (!pauseUnlessCancelled(*t, retryPause.load()(attempt))) return false;
    }
}
