// The request engine's decisions as plain functions over plain data: redirect targets,
// header numbers, response lengths and failure texts. No system calls here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/http.h"
#include "net/url.h"

namespace httprules {

constexpr int kRedirectAllowance = 11;           // the 11th redirect fails
constexpr size_t kMaxMemoryBody = 8388608;       // 8 MiB without a sink
constexpr unsigned long kReadChunk = 65536;      // one read, one buffer
constexpr unsigned long kHeaderBufferBytes = 8192;

inline bool isRedirectStatus(int32_t status) { return status >= 300 && status <= 399; }

// The URL a Location value leads to from the current URL (already split).
std::wstring redirectTarget(const UrlParts& current, const std::wstring& location);

// Leading decimal digits as a signed 64-bit number after optional blanks and sign;
// no digits gives 0, values beyond the range stop at its ends.
int64_t parseHeaderNumber(const std::wstring& text);

// Sets contentLength, hasContentRange, rangeStart, rangeEnd and rangeTotal from the kept
// header pairs ("Content-Length", "Content-Range"; names in any case).
void applyLengthHeaders(const std::vector<HttpHeader>& pairs, HttpResponse& response);

// The body length a response announces: its Content-Length, or -1 when it has none or
// carries no body whatever the header says (HEAD, 1xx, 204, 304).
int64_t expectedBodyLength(const std::wstring& verb, int32_t status, int64_t contentLength);

// True when the data ended before the announced length: a cut transfer, never a complete body.
inline bool bodyCutShort(int64_t expected, int64_t received) { return expected >= 0 && received < expected; }

// True when raw response headers, one CRLF-ended line each as WinHTTP hands them out, form
// a whole header block: a status line, header lines that each carry a colon (or continue
// the line before), and the empty line that ends the block. Wine accepts a block cut off
// mid-line or one with a line that is no header; Windows refuses both.
bool headerBlockComplete(const std::wstring& raw);

// Tells a body that arrives too slowly: fewer than minBytes within a window of windowMs,
// windows counted one after another from the start of the body. Ticks are milliseconds
// and may wrap.
class StallWatch {
public:
    StallWatch(uint32_t windowMs, uint32_t minBytes, uint32_t now)
        : windowMs_(windowMs), minBytes_(minBytes), windowStart_(now) {}
    // Bytes that arrived at tick now; true when the window that has run out fell short.
    bool stalled(uint32_t now, uint64_t got) {
        bytes_ += got;
        if (now - windowStart_ < windowMs_) return false;
        if (bytes_ < minBytes_) return true;
        windowStart_ = now;
        bytes_ = 0;
        return false;
    }

private:
    uint32_t windowMs_;
    uint32_t minBytes_;
    uint32_t windowStart_;
    uint64_t bytes_ = 0;
};

// "<what> (winhttp N)" with N in unsigned decimal.
std::wstring winhttpMessage(const wchar_t* what, unsigned long error);

// A failed send: TlsFailed for the secure-channel errors 12045, 12157 and 12175, else SendFailed.
HttpResult sendFailureResult(unsigned long error);

}  // namespace httprules
