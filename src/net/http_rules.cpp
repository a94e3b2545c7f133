#include "net/http_rules.h"

#include <cwctype>

namespace httprules {
namespace {

bool startsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= text.size() || std::towlower(text[i]) != std::towlower(prefix[i])) return false;
    }
    return true;
}

bool sameNameNoCase(const std::wstring& a, const wchar_t* b) {
    return a.size() == std::char_traits<wchar_t>::length(b) && startsWithNoCase(a, b);
}

bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Digits only, no sign or blanks; false when there are none or the value leaves int64.
bool readDigits(const std::wstring& text, size_t& i, int64_t& value) {
    const size_t first = i;
    uint64_t v = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        v = v * 10 + static_cast<unsigned>(text[i] - L'0');
        if (v > uint64_t(INT64_MAX) || i - first >= 19) return false;
    }
    value = static_cast<int64_t>(v);
    return i > first;
}

// "bytes a-b/..." (the unit in any case): a and b when a <= b, else both stay -1.
void parseRangeBounds(const std::wstring& value, int64_t& first, int64_t& last) {
    first = last = -1;
    if (!startsWithNoCase(value, L"bytes ")) return;
    size_t i = 6;
    while (i < value.size() && value[i] == L' ') ++i;
    int64_t a = 0, b = 0;
    if (!readDigits(value, i, a) || i >= value.size() || value[i++] != L'-') return;
    if (!readDigits(value, i, b) || i >= value.size() || value[i] != L'/' || b < a) return;
    first = a;
    last = b;
}

}  // namespace

std::wstring redirectTarget(const UrlParts& current, const std::wstring& location) {
    if ((location.size() > 7 && startsWithNoCase(location, L"http://")) ||
        (location.size() > 8 && startsWithNoCase(location, L"https://"))) {
        return location;
    }
    std::wstring origin = current.scheme + L"://" + current.host;
    uint16_t defaultPort = current.scheme == L"https" ? 443 : 80;
    if (current.port != defaultPort) origin += L":" + std::to_wstring(current.port);
    // "//host/x" is deliberately taken as a path on the current origin.
    if (!location.empty() && location[0] == L'/') return origin + location;
    size_t slash = current.path.rfind(L'/');
    std::wstring directory = slash == std::wstring::npos ? L"/" : current.path.substr(0, slash + 1);
    return origin + directory + location;
}

int64_t parseHeaderNumber(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    uint64_t value = 0;
    const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        unsigned digit = static_cast<unsigned>(text[i] - L'0');
        if (value > (limit - digit) / 10) {
            value = limit;
            break;
        }
        value = value * 10 + digit;
    }
    if (!negative) return static_cast<int64_t>(value);
    return value == uint64_t(INT64_MAX) + 1 ? INT64_MIN : -static_cast<int64_t>(value);
}

void applyLengthHeaders(const std::vector<HttpHeader>& pairs, HttpResponse& response) {
    response.contentLength = -1;
    for (const HttpHeader& h : pairs) {
        if (sameNameNoCase(h.name, L"Content-Length") && !h.value.empty()) {
            response.contentLength = parseHeaderNumber(h.value);
            break;
        }
    }
    for (const HttpHeader& h : pairs) {
        if (!sameNameNoCase(h.name, L"Content-Range") || h.value.empty()) continue;
        response.hasContentRange = true;
        parseRangeBounds(h.value, response.rangeStart, response.rangeEnd);
        size_t slash = h.value.rfind(L'/');
        if (slash != std::wstring::npos) {
            std::wstring total = h.value.substr(slash + 1);
            if (!total.empty() && total != L"*") response.rangeTotal = parseHeaderNumber(total);
        }
        break;
    }
}

int64_t expectedBodyLength(const std::wstring& verb, int32_t status, int64_t contentLength) {
    if (verb == L"HEAD" || (status >= 100 && status <= 199) || status == 204 || status == 304) return -1;
    return contentLength;
}

bool headerBlockComplete(const std::wstring& raw) {
    static const wchar_t kEnd[] = L"\r\n\r\n";
    if (raw.size() < 4 || raw.compare(raw.size() - 4, 4, kEnd) != 0) return false;
    size_t lineStart = raw.find(L"\r\n");
    if (lineStart == 0) return false;  // no status line
    lineStart += 2;
    const size_t blockEnd = raw.size() - 2;  // the empty last line
    while (lineStart < blockEnd) {
        size_t lineEnd = raw.find(L"\r\n", lineStart);
        if (lineEnd == lineStart) return false;  // an empty line before the end
        const bool continuation = raw[lineStart] == L' ' || raw[lineStart] == L'\t';
        if (!continuation && raw.find(L':', lineStart) >= lineEnd) return false;
        lineStart = lineEnd + 2;
    }
    return true;
}

std::wstring winhttpMessage(const wchar_t* what, unsigned long error) {
    return std::wstring(what) + L" (winhttp " + std::to_wstring(error) + L")";
}

HttpResult sendFailureResult(unsigned long error) {
    return error == 12045 || error == 12157 || error == 12175 ? HttpResult::TlsFailed : HttpResult::SendFailed;
}

}  // namespace httprules
