#include "json/encoding.h"

#include <windows.h>

#include <climits>

namespace json {

std::wstring toWide(const std::string& utf8) {
    if (utf8.empty() || utf8.size() > static_cast<size_t>(INT_MAX)) return std::wstring();
    const int inLen = static_cast<int>(utf8.size());
    const int outLen = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inLen, nullptr, 0);
    if (outLen <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(outLen), L'\0');
    if (MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inLen, &out[0], outLen) != outLen) return std::wstring();
    return out;
}

std::string toUtf8(const std::wstring& wide) {
    if (wide.empty() || wide.size() > static_cast<size_t>(INT_MAX)) return std::string();
    const int inLen = static_cast<int>(wide.size());
    const int outLen = WideCharToMultiByte(CP_UTF8, 0, wide.data(), inLen, nullptr, 0, nullptr, nullptr);
    if (outLen <= 0) return std::string();
    std::string out(static_cast<size_t>(outLen), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), inLen, &out[0], outLen, nullptr, nullptr) != outLen)
        return std::string();
    return out;
}

}  // namespace json
