// The one blocking HTTP request engine (WinHTTP, synchronous) and GET-as-text.
// Each call opens its own session; redirects are followed by hand (at most 10);
// bodies go to memory (at most 8 MiB) or piece by piece to a sink; a cancel flag set
// by another thread ends the call; failures are a code plus a Chinese message.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// GET without headers; on Ok moves the body out and returns true, else sets error
// (the engine's message, or "网络错误") and leaves body untouched.
bool httpGetText(const std::wstring& url, std::string& body, std::wstring& error);
