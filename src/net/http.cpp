#include "net/http.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <memory>

#include "net/http_rules.h"
#include "net/proxy_resolve.h"
#include "net/url.h"
#include "net/winhttp_handle.h"
#include "startup_marks.h"

#ifndef KV_TLS_RESTRICT_PROTOCOLS
#define KV_TLS_RESTRICT_PROTOCOLS 1
#endif
#ifndef KV_TLS_IGNORE_CERT_ERRORS
#define KV_TLS_IGNORE_CERT_ERRORS 0
#endif

namespace {

const wchar_t kUserAgent[] =
    L"Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/109.0.0.0 "
    L"Safari/537.36";
#if KV_TLS_RESTRICT_PROTOCOLS
const DWORD kSecureProtocols = 0xA80;  // TLS 1.0, 1.1 and 1.2
#endif
#if KV_TLS_IGNORE_CERT_ERRORS
const DWORD kIgnoreCertErrors = 0x3300;  // unknown CA, wrong usage, wrong name, expired
#endif

bool cancelled(const std::atomic<bool>* flag) { return flag && flag->load(); }

std::atomic<uint32_t> stallWindowMs{kStallWindowMs};
std::atomic<uint32_t> stallMinBytes{kStallMinBytes};
std::atomic<uint32_t> receiveTimeoutMs{kReceiveTimeoutMs};

// One attempt's handles, closed request first, then connection, then the session when
// the attempt opened its own.
struct Attempt {
    ScopedInternet session;
    ScopedInternet connection;
    ScopedInternet request;
    void close() {
        request.reset();
        connection.reset();
        session.reset();
    }
    ~Attempt() { close(); }
};

// A session for one proxy route. The proxy is named at opening: Wine ignores a proxy set on
// a request afterwards, and the bypass list has already been applied to the route.
HINTERNET openSession(const proxy::Route& route) {
    DWORD access = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
    const wchar_t* name = WINHTTP_NO_PROXY_NAME;
    if (route.kind == proxy::Route::Kind::Direct) {
        access = WINHTTP_ACCESS_TYPE_NO_PROXY;
    } else if (route.kind == proxy::Route::Kind::Named) {
        access = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        name = route.proxy.c_str();
    }
    HINTERNET session = WinHttpOpen(kUserAgent, access, name, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) return nullptr;
    markStartup(StartupMark::HttpSessionOpened);
    WinHttpSetTimeouts(session, 10000, 10000, 30000, static_cast<int>(receiveTimeoutMs.load()));
#if KV_TLS_RESTRICT_PROTOCOLS
    DWORD protocols = kSecureProtocols;
    WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
#endif
    return session;
}

// One header into the fixed 8 KiB buffer; false when absent or not fitting.
bool queryHeader(HINTERNET request, DWORD info, std::wstring& value) {
    wchar_t buf[httprules::kHeaderBufferBytes / sizeof(wchar_t)];
    DWORD size = sizeof buf;
    if (!WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, buf, &size, WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    value.assign(buf, size / sizeof(wchar_t));
    return true;
}

// The whole header block as received, each line ended by CRLF; false when not available.
bool queryRawHeaders(HINTERNET request, std::wstring& raw) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return false;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, &text[0], &bytes,
                             WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    text.resize(bytes / sizeof(wchar_t));
    raw = std::move(text);
    return true;
}

// Answers a proxy's 407 with the user's Windows logon (Negotiate or NTLM); false when the
// proxy offers neither.
bool offerLogonCredentials(HINTERNET request) {
    DWORD supported = 0, first = 0, target = 0;
    if (!WinHttpQueryAuthSchemes(request, &supported, &first, &target)) return false;
    DWORD scheme = 0;
    if (supported & WINHTTP_AUTH_SCHEME_NEGOTIATE) {
        scheme = WINHTTP_AUTH_SCHEME_NEGOTIATE;
    } else if (supported & WINHTTP_AUTH_SCHEME_NTLM) {
        scheme = WINHTTP_AUTH_SCHEME_NTLM;
    } else {
        return false;
    }
    return WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr, nullptr) != FALSE;
}

// A failure to reach the proxy itself, as opposed to the server behind it.
bool proxyUnreachable(const proxy::Route& route, DWORD error) {
    return route.kind == proxy::Route::Kind::Named &&
           (error == ERROR_WINHTTP_CANNOT_CONNECT || error == ERROR_WINHTTP_NAME_NOT_RESOLVED);
}

int32_t queryStatus(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
        return 0;
    }
    return static_cast<int32_t>(status);
}

// Where a bounded body goes that is not collected in memory: piece by piece to this sink,
// as long as deliver is set (false for an error status: that body is read and dropped).
struct TextSink {
    const HttpDataSink* sink;
    bool deliver;
};

// The body loop: to the sink, or bounded and collected (moved into body when complete) or
// handed to a text sink. expected: the announced body length, or -1 when the body ends
// with the connection.
HttpResult readBody(HINTERNET request, int64_t expected, const HttpDataSink& sink, const TextSink* text,
                    std::string& body, std::wstring& error, const std::atomic<bool>* cancelFlag) {
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[httprules::kReadChunk]);
    std::string collected;
    // Sized once for an announced length (within the memory bound): growing by
    // doubling would briefly hold the body one and a half times over.
    if (!sink && !text && expected > 0)
        collected.reserve(static_cast<size_t>(std::min<int64_t>(expected, httprules::kMaxMemoryBody + 1)));
    int64_t received = 0;
    httprules::StallWatch watch(stallWindowMs.load(), stallMinBytes.load(), GetTickCount());
    for (;;) {
        if (cancelled(cancelFlag)) return HttpResult::Cancelled;
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) {
            error = httprules::winhttpMessage(L"读取数据失败", GetLastError());
            return HttpResult::ReadFailed;
        }
        if (available == MAXDWORD) {
            // Wine's answer after a time-out while the headers were arriving; reading on
            // would fault inside WinHTTP.
            DWORD n = GetLastError();
            error = httprules::winhttpMessage(L"读取数据失败", n ? n : ERROR_WINHTTP_TIMEOUT);
            return HttpResult::ReadFailed;
        }
        if (available == 0) {
            if (httprules::bodyCutShort(expected, received)) {
                DWORD n = GetLastError();
                error = httprules::winhttpMessage(L"读取数据中断", n ? n : ERROR_WINHTTP_CONNECTION_ERROR);
                return HttpResult::ReadFailed;
            }
            if (!sink && !text) body = std::move(collected);
            return HttpResult::Ok;
        }
        DWORD want = available < httprules::kReadChunk ? available : httprules::kReadChunk;
        DWORD got = 0;
        if (!WinHttpReadData(request, buffer.get(), want, &got) || got == 0) {
            error = httprules::winhttpMessage(L"读取数据中断", GetLastError());
            return HttpResult::ReadFailed;
        }
        received += got;
        if (watch.stalled(GetTickCount(), got)) {
            error = L"网络连接停滞";
            return HttpResult::ReadFailed;
        }
        if (sink) {
            if (!sink(buffer.get(), got)) return HttpResult::Cancelled;
            continue;
        }
        if (received > static_cast<int64_t>(httprules::kMaxMemoryBody)) {
            error = L"响应过大";
            return HttpResult::ReadFailed;
        }
        if (!text) {
            collected.append(reinterpret_cast<const char*>(buffer.get()), got);
        } else if (text->deliver && !(*text->sink)(buffer.get(), got)) {
            return HttpResult::Cancelled;
        }
    }
}

// shared: the caller's session, or null to open one per attempt. textSink: takes the body
// of a success status in place of memory, within the same bound; no sink may be given then.
HttpResult requestThrough(const HttpSession* shared, const std::wstring& url, const std::vector<HttpHeader>& headers,
                          const std::string* body, const std::wstring& verb, const HttpDataSink& sink,
                          HttpResponse& response, std::wstring& error, const std::atomic<bool>* cancelFlag,
                          const HttpDataSink* textSink = nullptr) {
    std::wstring current = url;
    int allowance = httprules::kRedirectAllowance;
    for (;;) {
        if (cancelled(cancelFlag)) return HttpResult::Cancelled;
        UrlParts parts;
        if (!crackUrl(current, parts)) {
            error = L"地址无效";
            return HttpResult::BadUrl;
        }

        // Resolved for each address: a redirect to another host may take another route.
        const proxy::Route route = resolveProxyRoute(current, parts);
        Attempt a;
        if (!shared) a.session.reset(openSession(route));
        HINTERNET session = shared ? shared->sessionFor(route) : a.session.get();
        if (!session) {
            error = L"网络初始化失败";
            return HttpResult::InitFailed;
        }
        a.connection.reset(WinHttpConnect(session, parts.host.c_str(), parts.port, 0));
        if (!a.connection) {
            error = L"创建请求失败";
            return HttpResult::InitFailed;
        }
        std::wstring object = parts.path + parts.query;
        a.request.reset(WinHttpOpenRequest(a.connection.get(), verb.c_str(), object.c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           parts.secure ? WINHTTP_FLAG_SECURE : 0));
        if (!a.request) {
            error = L"创建请求失败";
            return HttpResult::InitFailed;
        }
        // The receive time-out also bounds the wait for the response headers (Wine applies
        // only this option there, without it a server that stalls mid-header holds the call).
        DWORD headerTimeout = receiveTimeoutMs.load();
        WinHttpSetOption(a.request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headerTimeout, sizeof headerTimeout);
        DWORD autologon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
        WinHttpSetOption(a.request.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &autologon, sizeof autologon);
        DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        WinHttpSetOption(a.request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
#if KV_TLS_IGNORE_CERT_ERRORS
        DWORD flags = kIgnoreCertErrors;
        WinHttpSetOption(a.request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
#endif
        for (const HttpHeader& h : headers) {
            std::wstring line = h.name + L": " + h.value;
            WinHttpAddRequestHeaders(a.request.get(), line.c_str(), static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD);
        }

        LPVOID optional = body ? const_cast<char*>(body->data()) : WINHTTP_NO_REQUEST_DATA;
        DWORD optionalLength = body ? static_cast<DWORD>(body->size()) : 0;
        int32_t status = 0;
        for (bool logonOffered = false;; logonOffered = true) {
            if (!WinHttpSendRequest(a.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, optional, optionalLength,
                                    optionalLength, 0)) {
                DWORD n = GetLastError();
                a.close();
                if (cancelled(cancelFlag)) return HttpResult::Cancelled;
                if (proxyUnreachable(route, n)) {
                    error = L"无法连接代理服务器";
                    return HttpResult::SendFailed;
                }
                error = httprules::winhttpMessage(L"请求发送失败", n);
                return httprules::sendFailureResult(n);
            }
            if (!WinHttpReceiveResponse(a.request.get(), nullptr)) {
                DWORD n = GetLastError();
                a.close();
                if (cancelled(cancelFlag)) return HttpResult::Cancelled;
                error = proxyUnreachable(route, n) ? std::wstring(L"无法连接代理服务器")
                                                   : httprules::winhttpMessage(L"服务器无响应", n);
                return HttpResult::SendFailed;
            }
            // A header block cut off or holding a line that is no header is no answer: Windows
            // fails the receive with 12152, Wine would pass on what it parsed (a 200 without
            // a length, so a cut answer would look like a complete empty body).
            std::wstring raw;
            if (!queryRawHeaders(a.request.get(), raw) || !httprules::headerBlockComplete(raw)) {
                a.close();
                if (cancelled(cancelFlag)) return HttpResult::Cancelled;
                error = httprules::winhttpMessage(L"服务器无响应", ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
                return HttpResult::SendFailed;
            }
            status = queryStatus(a.request.get());
            if (status != 407) break;
            // The proxy gets the Windows logon once; asking the user is not this program's way.
            if (logonOffered || !offerLogonCredentials(a.request.get())) {
                a.close();
                response.status = status;
                response.finalUrl = current;
                error = L"代理服务器需要身份验证";
                return HttpResult::HttpError;
            }
        }

        std::wstring location;
        if (httprules::isRedirectStatus(status) && queryHeader(a.request.get(), WINHTTP_QUERY_LOCATION, location) &&
            !location.empty()) {
            std::wstring next = httprules::redirectTarget(parts, location);
            a.close();
            if (next == current) {
                error = L"重定向死循环";
                return HttpResult::RedirectFailed;
            }
            current = next;
            if (--allowance == 0) {
                error = L"重定向次数过多";
                return HttpResult::RedirectFailed;
            }
            continue;
        }

        std::vector<HttpHeader> kept;
        std::wstring value;
        if (queryHeader(a.request.get(), WINHTTP_QUERY_CONTENT_LENGTH, value)) kept.push_back({L"Content-Length", value});
        if (queryHeader(a.request.get(), WINHTTP_QUERY_CONTENT_RANGE, value)) kept.push_back({L"Content-Range", value});
        response.status = status;
        response.finalUrl = current;
        if (!queryHeader(a.request.get(), WINHTTP_QUERY_ETAG, response.etag)) response.etag.clear();
        if (!queryHeader(a.request.get(), WINHTTP_QUERY_LAST_MODIFIED, response.lastModified)) response.lastModified.clear();
        httprules::applyLengthHeaders(kept, response);

        HttpResult result = HttpResult::Ok;
        if (sink || status <= 499) {
            int64_t expected = httprules::expectedBodyLength(verb, status, response.contentLength);
            const TextSink text = {textSink, status <= 399};
            result = readBody(a.request.get(), expected, sink, textSink ? &text : nullptr, response.body, error,
                              cancelFlag);
        }
        a.close();
        if (result != HttpResult::Ok) return result;
        if (status > 399) {
            error = L"HTTP " + std::to_wstring(status);
            return HttpResult::HttpError;
        }
        return HttpResult::Ok;
    }
}

}  // namespace

HttpSession::HttpSession() { opened_ = sessionFor(proxy::Route()) != nullptr; }

HINTERNET HttpSession::sessionFor(const proxy::Route& route) const {
    std::lock_guard<std::mutex> hold(lock_);
    ScopedInternet& session = sessions_[route];
    if (!session) session.reset(openSession(route));
    return session.get();
}

void setReceiveTimeout(uint32_t milliseconds) { receiveTimeoutMs = milliseconds; }

void setStallLimits(uint32_t windowMs, uint32_t minBytes) {
    stallWindowMs = windowMs;
    stallMinBytes = minBytes;
}

HttpResult httpRequest(const std::wstring& url, const std::vector<HttpHeader>& headers, const std::string* body,
                       const std::wstring& verb, const HttpDataSink& sink, HttpResponse& response,
                       std::wstring& error, const std::atomic<bool>* cancelFlag) {
    return requestThrough(nullptr, url, headers, body, verb, sink, response, error, cancelFlag);
}

HttpResult httpRequest(const HttpSession& session, const std::wstring& url, const std::vector<HttpHeader>& headers,
                       const std::string* body, const std::wstring& verb, const HttpDataSink& sink,
                       HttpResponse& response, std::wstring& error, const std::atomic<bool>* cancelFlag) {
    if (!session.valid()) {
        error = L"网络初始化失败";
        return HttpResult::InitFailed;
    }
    return requestThrough(&session, url, headers, body, verb, sink, response, error, cancelFlag);
}

bool httpGetText(const std::wstring& url, std::string& body, std::wstring& error) {
    HttpResponse response;
    std::wstring message;
    HttpResult result = httpRequest(url, {}, nullptr, L"GET", HttpDataSink(), response, message, nullptr);
    if (result == HttpResult::Ok) {
        body = std::move(response.body);
        return true;
    }
    error = message.empty() ? L"网络错误" : message;
    return false;
}

bool httpGetText(const std::wstring& url, const HttpDataSink& sink, std::wstring& error) {
    HttpResponse response;
    std::wstring message;
    HttpResult result =
        requestThrough(nullptr, url, {}, nullptr, L"GET", HttpDataSink(), response, message, nullptr, &sink);
    if (result == HttpResult::Ok) return true;
    error = message.empty() ? L"网络错误" : message;
    return false;
}
