#include "net/proxy.h"

#include <cwctype>
#include <initializer_list>
#include <vector>

namespace proxy {

namespace {

std::wstring lower(const std::wstring& text) {
    std::wstring out(text);
    for (wchar_t& c : out) c = static_cast<wchar_t>(std::towlower(c));
    return out;
}

bool isSeparator(wchar_t c) { return c == L';' || c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

std::vector<std::wstring> entries(const std::wstring& list) {
    std::vector<std::wstring> out;
    std::wstring current;
    for (wchar_t c : list) {
        if (isSeparator(c)) {
            if (!current.empty()) out.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) out.push_back(current);
    return out;
}

bool startsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

std::wstring proxyValue(std::wstring value) {
    if (startsWith(lower(value), L"http://")) value.erase(0, 7);
    while (!value.empty() && value.back() == L'/') value.pop_back();
    return value;
}

// pattern and text in lower case; "*" matches any run, including none.
bool wildcardMatch(const std::wstring& pattern, const std::wstring& text) {
    size_t p = 0, t = 0, star = std::wstring::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::wstring::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}

bool entryMatches(std::wstring entry, const UrlParts& url, const std::wstring& host) {
    if (entry == L"<local>") return host.find(L'.') == std::wstring::npos && host.find(L':') == std::wstring::npos;
    for (const wchar_t* scheme : {L"http", L"https"}) {
        const std::wstring prefix = std::wstring(scheme) + L"://";
        if (startsWith(entry, prefix)) {
            if (url.scheme != scheme) return false;
            entry.erase(0, prefix.size());
            break;
        }
    }
    const size_t colon = entry.rfind(L':');
    if (colon != std::wstring::npos && colon + 1 < entry.size() &&
        entry.find_first_not_of(L"0123456789", colon + 1) == std::wstring::npos &&
        entry.find(L']') == std::wstring::npos) {
        unsigned long port = 0;
        for (size_t i = colon + 1; i < entry.size() && port <= 65535; ++i) port = port * 10 + (entry[i] - L'0');
        if (port != url.port) return false;
        entry.erase(colon);
    }
    return !entry.empty() && wildcardMatch(entry, host);
}

}  // namespace

std::wstring proxyForScheme(const std::wstring& list, const std::wstring& scheme) {
    const std::wstring wanted = lower(scheme);
    std::wstring any;
    for (const std::wstring& entry : entries(list)) {
        const size_t eq = entry.find(L'=');
        if (eq == std::wstring::npos) {
            if (any.empty()) any = proxyValue(entry);
        } else if (lower(entry.substr(0, eq)) == wanted) {
            std::wstring value = proxyValue(entry.substr(eq + 1));
            if (!value.empty()) return value;
        }
    }
    return any;
}

bool bypassed(const std::wstring& list, const UrlParts& url) {
    const std::wstring host = lower(url.host);
    for (const std::wstring& entry : entries(list)) {
        if (entryMatches(lower(entry), url, host)) return true;
    }
    return false;
}

Route chooseRoute(const UserSettings& settings, const AutoAnswer& automatic, const UrlParts& url) {
    Route route;
    const std::wstring* list = nullptr;
    const std::wstring* bypass = nullptr;
    if (automatic.ok) {
        list = &automatic.proxy;
        bypass = &automatic.bypass;
    } else if (!settings.proxy.empty()) {
        list = &settings.proxy;
        bypass = &settings.bypass;
    } else {
        return route;
    }
    route.kind = Route::Kind::Direct;
    if (bypassed(*bypass, url)) return route;
    std::wstring chosen = proxyForScheme(*list, url.scheme);
    if (chosen.empty()) return route;
    route.kind = Route::Kind::Named;
    route.proxy = std::move(chosen);
    return route;
}

bool AutoMemory::recall(const std::wstring& key, uint64_t now, Outcome& outcome) const {
    auto it = entries_.find(key);
    if (it == entries_.end() || now - it->second.at >= keepMs_) return false;
    outcome = it->second.outcome;
    return true;
}

void AutoMemory::remember(const std::wstring& key, const Outcome& outcome, uint64_t now) {
    entries_[key] = Entry{outcome, now};
}

}  // namespace proxy
