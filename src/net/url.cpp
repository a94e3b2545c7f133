#include "net/url.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdio>

bool crackUrl(const std::wstring& url, UrlParts& parts) {
    // A zero inside would make the splitter see a shorter URL than the caller gave.
    if (url.empty() || url.find(L'\0') != std::wstring::npos || url.size() > 0x7FFFFFFF) return false;
    wchar_t host[256] = {};
    wchar_t path[4096] = {};
    URL_COMPONENTS uc = {};
    uc.dwStructSize = sizeof uc;
    // Capacities count the terminator, so the limits of 255 and 4095 characters are checked below.
    uc.lpszHostName = host;
    uc.dwHostNameLength = 256;
    uc.lpszUrlPath = path;
    uc.dwUrlPathLength = 4096;
    uc.dwExtraInfoLength = static_cast<DWORD>(-1);  // the query as a position within url
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &uc)) return false;
    if (uc.nScheme != INTERNET_SCHEME_HTTP && uc.nScheme != INTERNET_SCHEME_HTTPS) return false;
    if (uc.dwHostNameLength == 0 || uc.dwHostNameLength > 255 || uc.dwUrlPathLength > 4095) return false;

    parts.secure = uc.nScheme == INTERNET_SCHEME_HTTPS;
    parts.scheme = parts.secure ? L"https" : L"http";
    parts.host.assign(host, uc.dwHostNameLength);
    parts.port = uc.nPort;
    parts.path.assign(path, uc.dwUrlPathLength);
    if (uc.lpszExtraInfo && uc.dwExtraInfoLength > 0) {
        parts.query.assign(uc.lpszExtraInfo, uc.dwExtraInfoLength);
    } else {
        parts.query.clear();
    }
    // Wine's splitter leaves a query that directly follows the host inside the host name.
    size_t mark = parts.host.find_first_of(L"?#");
    if (mark != std::wstring::npos) {
        parts.query = parts.host.substr(mark) + parts.path + parts.query;
        parts.host.resize(mark);
        parts.path.clear();
        if (parts.host.empty()) return false;
    }
    if (parts.path.empty()) parts.path = L"/";
    return true;
}

std::string percentEncode(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (unsigned char c : utf8) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_') {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}
