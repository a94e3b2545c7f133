#include "download/naming.h"

#include <windows.h>

#include <cstring>

namespace {

bool isForbidden(wchar_t c) {
    return c == L'"' || c == L'*' || c == L'/' || c == L':' || c == L'<' || c == L'>' || c == L'?' ||
           c == L'\\' || c == L'|';
}

int hexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

wchar_t lower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

bool isHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Keeps the characters a file name may show, in order: forbidden, hidden and control
// characters go, and so does half of a broken surrogate pair.
std::wstring keepShowable(const std::wstring& name) {
    std::wstring out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        const wchar_t c = name[i];
        if (isForbidden(c) || isHiddenOrControl(c)) continue;
        if (isHighSurrogate(c)) {
            if (i + 1 < name.size() && isLowSurrogate(name[i + 1])) {
                out.push_back(c);
                out.push_back(name[++i]);
            }
            continue;
        }
        if (isLowSurrogate(c)) continue;
        out.push_back(c);
    }
    return out;
}

// Windows drops trailing dots and blanks when it makes a file: the name must already lack them.
void trimTrailingDotsAndBlanks(std::wstring& s) {
    while (!s.empty() && (s.back() == L' ' || s.back() == L'.')) s.pop_back();
}

bool endsWithNoCase(const std::wstring& s, const wchar_t* suffix) {
    size_t n = wcslen(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (lower(s[s.size() - n + i]) != suffix[i]) return false;
    return true;
}

}  // namespace

bool isHiddenOrControl(wchar_t c) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
    // Zero-width characters and direction marks: they hide or reorder what a name shows
    // ("invoice\u202Efdp.exe" reads as "invoiceexe.pdf").
    if (c == 0x061C || c == 0x180E || c == 0xFEFF) return true;
    if (c >= 0x200B && c <= 0x200F) return true;
    if (c >= 0x2028 && c <= 0x202E) return true;
    if (c >= 0x2060 && c <= 0x2069) return true;
    return false;
}

bool isDeviceName(const std::wstring& name) {
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    for (wchar_t& c : stem) c = lower(c);
    if (stem == L"con" || stem == L"prn" || stem == L"aux" || stem == L"nul") return true;
    if (stem == L"conin$" || stem == L"conout$") return true;
    if (stem.size() == 4 && (stem.compare(0, 3, L"com") == 0 || stem.compare(0, 3, L"lpt") == 0)) {
        const wchar_t n = stem[3];
        // Windows also reserves the superscript digits one to three.
        return (n >= L'0' && n <= L'9') || n == 0x00B9 || n == 0x00B2 || n == 0x00B3;
    }
    return false;
}

std::wstring sanitizeFileName(const std::wstring& name) {
    std::wstring out = keepShowable(name);
    trimTrailingDotsAndBlanks(out);
    if (out.size() > 50) out.resize(isHighSurrogate(out[49]) ? 49 : 50);
    trimTrailingDotsAndBlanks(out);
    if (out.empty() || isDeviceName(out)) return L"app";
    return out;
}

bool fileNameFromAddress(const std::wstring& address, std::wstring& name) {
    std::wstring s = address.substr(0, address.find_first_of(L"?#"));
    size_t slash = s.find_last_of(L"/\\");
    if (slash != std::wstring::npos) s = s.substr(slash + 1);
    if (s.empty() || s.size() > 200) return false;

    std::string bytes;
    for (size_t i = 0; i < s.size(); ++i) {
        wchar_t c = s[i];
        if (c == L'%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            bytes.push_back(static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2])));
            i += 2;
        } else if (c < 128) {
            bytes.push_back(static_cast<char>(c));
        } else {
            return false;
        }
    }

    int len = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                  nullptr, 0);
    if (len <= 0) return false;
    std::wstring decoded(static_cast<size_t>(len), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                            &decoded[0], len) != len)
        return false;

    const std::wstring clean = keepShowable(decoded);
    if (clean.empty() || clean.size() > 150) return false;

    static const wchar_t* const accepted[] = {L".exe", L".zip", L".rar", L".7z", L".msi", L".msix"};
    bool ok = false;
    for (const wchar_t* ext : accepted)
        if (clean.size() > wcslen(ext) && endsWithNoCase(clean, ext)) ok = true;
    // A device name would open the device instead of a file.
    if (!ok || isDeviceName(clean)) return false;
    name = clean;
    return true;
}

std::string archiveTypeFromMagic(const unsigned char* data, size_t size) {
    static const unsigned char zip[] = {0x50, 0x4B, 0x03, 0x04};
    static const unsigned char rar[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07};
    static const unsigned char sevenZip[] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};
    if (size >= 4 && memcmp(data, zip, 4) == 0) return "zip";
    if (size >= 6 && memcmp(data, rar, 6) == 0) return "rar";
    if (size >= 6 && memcmp(data, sevenZip, 6) == 0) return "7z";
    return std::string();
}

namespace {

// Start of the file name's extension (its last "."), or the end when it has none.
size_t extensionStart(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    size_t nameStart = slash == std::wstring::npos ? 0 : slash + 1;
    size_t dot = path.rfind(L'.');
    return (dot != std::wstring::npos && dot >= nameStart) ? dot : path.size();
}

}  // namespace

std::wstring numberedPath(const std::wstring& path, int n) {
    size_t ext = extensionStart(path);
    return path.substr(0, ext) + L" (" + std::to_wstring(n) + L")" + path.substr(ext);
}

std::wstring withExtension(const std::wstring& path, const std::string& type) {
    return path.substr(0, extensionStart(path)) + L"." + std::wstring(type.begin(), type.end());
}
