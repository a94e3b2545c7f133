// MD5 of a downloaded file (CryptoAPI) and its comparison with the catalog's digest.
#pragma once

#include <string>

// On success out = 32 lower-case hex characters and true; on failure out is untouched.
bool fileMd5Hex(const std::wstring& path, std::string& out);

// Exact comparison: no case folding and no trimming; an empty expected text always passes.
bool digestMatches(const std::string& expected, const std::string& computed);
