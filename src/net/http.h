// The one blocking HTTP request engine (WinHTTP, synchronous) and GET-as-text.
// Each call opens its own session, unless the caller passes one it holds (HttpSession);
// every request goes through the proxy the user set in Windows for its address;
// redirects are followed by hand (at most 10);
// bodies go to memory (at most 8 MiB) or piece by piece to a sink; a cancel flag set
// by another thread ends the call; failures are a code plus a Chinese message.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "net/proxy.h"
#include "net/winhttp_handle.h"

struct HttpHeader {
    std::wstring name;
    std::wstring value;
};

struct HttpResponse {
    int32_t status = 0;
    int64_t contentLength = -1;
    int64_t rangeTotal = -1;
    bool hasContentRange = false;
    int64_t rangeStart = -1;  // first and last byte of a Content-Range "bytes a-b/...";
    int64_t rangeEnd = -1;    // -1 when absent or not of that form
    std::string body;
    std::wstring finalUrl;
    // The answer's validators as sent (empty when absent): what a later range request
    // names in If-Range so that a file changed on the server is never spliced.
    std::wstring etag;
    std::wstring lastModified;
};

// Receives body bytes as they arrive; returning false stops the transfer (Cancelled).
using HttpDataSink = std::function<bool(const unsigned char* data, unsigned long size)>;

enum class HttpResult : int {
    Ok = 0,
    BadUrl = 1,
    InitFailed = 2,
    SendFailed = 3,
    ReadFailed = 4,
    RedirectFailed = 5,
    Cancelled = 6,
    HttpError = 7,
    TlsFailed = 8,
};

// cancelFlag: written by another thread, only read here; may be null.
HttpResult httpRequest(const std::wstring& url, const std::vector<HttpHeader>& headers, const std::string* body,
                       const std::wstring& verb, const HttpDataSink& sink, HttpResponse& response,
                       std::wstring& error, const std::atomic<bool>* cancelFlag);

// Sessions opened with the engine's settings, for a caller that sends many requests: they
// share the connections to a server, and WinHTTP lets several threads use one session at
// once. One session per proxy route, opened on first use (the route of the machine-wide
// setting at once); all are closed when this is destroyed.
class HttpSession {
public:
    HttpSession();
    bool valid() const { return opened_; }
    // The session for this route, or null when it cannot be opened.
    HINTERNET sessionFor(const proxy::Route& route) const;

private:
    bool opened_ = false;
    mutable std::mutex lock_;  // sessions_
    mutable std::map<proxy::Route, ScopedInternet> sessions_;
};

// The same request through a session the caller holds (it must outlive the call; one that
// failed to open gives InitFailed); only the connection and the request are opened and
// closed here.
HttpResult httpRequest(const HttpSession& session, const std::wstring& url, const std::vector<HttpHeader>& headers,
                       const std::string* body, const std::wstring& verb, const HttpDataSink& sink,
                       HttpResponse& response, std::wstring& error, const std::atomic<bool>* cancelFlag);

// How long a receive (headers or body) may wait for the server: 30 s unless a test sets
// another; it applies to sessions and requests opened afterwards.
void setReceiveTimeout(uint32_t milliseconds);
constexpr uint32_t kReceiveTimeoutMs = 30000;

// A body that brings fewer than minBytes in windowMs is abandoned as ReadFailed with
// "网络连接停滞": a server trickling a byte now and then never trips the receive time-out
// and would hold its connection (and the caller's slot) for ever. 60 s and 1 KiB unless a
// test sets other limits; they apply to requests that start afterwards.
void setStallLimits(uint32_t windowMs, uint32_t minBytes);
constexpr uint32_t kStallWindowMs = 60000;
constexpr uint32_t kStallMinBytes = 1024;

// GET without headers; on Ok moves the body out and returns true, else sets error
// (the engine's message, or "网络错误") and leaves body untouched.
bool httpGetText(const std::wstring& url, std::string& body, std::wstring& error);

// The same GET with the body handed to sink piece by piece as it arrives instead of
// collected, so that it is never held whole: the same bound of 8 MiB, results and
// messages; only the body of a success status reaches the sink (an error status's body
// is read and dropped, or not read, as httpGetText does). A sink returning false ends
// the call with "网络错误". True once the whole body has been handed over.
bool httpGetText(const std::wstring& url, const HttpDataSink& sink, std::wstring& error);
