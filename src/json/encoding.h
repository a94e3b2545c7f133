// UTF-8 <-> UTF-16 conversions at every crossing between the program's byte strings
// (JSON, HTTP bodies, download addresses) and its wide strings (UI, paths, URLs).
// Invalid input becomes U+FFFD; a failing platform call yields an empty result.
#pragma once

#include <string>

namespace json {

std::wstring toWide(const std::string& utf8);
std::string toUtf8(const std::wstring& wide);

}  // namespace json
