// URL splitting for the request engine and percent-encoding for query values.
#pragma once

#include <cstdint>
#include <string>

struct UrlParts {
    std::wstring scheme;  // "https" or "http"
    std::wstring host;    // at most 255 characters
    uint16_t port = 0;    // explicit, else 80/443
    std::wstring path;    // "/" when the URL has none
    std::wstring query;   // from "?" on, or empty
    bool secure = false;
};

// False when the URL is not an absolute http(s) URL, or host/path are too long.
bool crackUrl(const std::wstring& url, UrlParts& parts);

// Letters, digits and "-._" stay; every other byte becomes %XX (upper-case hex).
std::string percentEncode(const std::string& utf8);
