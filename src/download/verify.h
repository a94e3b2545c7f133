// MD5 of a downloaded file (CryptoAPI) and its comparison with the catalog's digest.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// On success out = 32 lower-case hex characters and true; on failure out is untouched.
bool fileMd5Hex(const std::wstring& path, std::string& out);

// fileMd5Hex for a file another program may hold for a moment (a virus scanner, a share
// reconnecting): kVerifyTries tries with verifyRetryPauseMs between them. False when the
// file never could be read or a cancel came first; out is then untouched.
bool fileMd5HexPatient(const std::wstring& path, std::string& out, const std::atomic<bool>* cancelFlag);
constexpr int kVerifyTries = 5;
extern std::atomic<uint32_t> verifyRetryPauseMs;  // 750 ms: about 3 s in all; tests shorten it

// Exact comparison: no case folding and no trimming; an empty expected text always passes.
bool digestMatches(const std::string& expected, const std::string& computed);
