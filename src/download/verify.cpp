#include "download/verify.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

#include "scoped.h"

namespace {

struct CryptProvTraits {
    static HCRYPTPROV invalid() { return 0; }
    static bool valid(HCRYPTPROV h) { return h != 0; }
    static void close(HCRYPTPROV h) { CryptReleaseContext(h, 0); }
};
struct CryptHashTraits {
    static HCRYPTHASH invalid() { return 0; }
    static bool valid(HCRYPTHASH h) { return h != 0; }
    static void close(HCRYPTHASH h) { CryptDestroyHash(h); }
};

}  // namespace

bool fileMd5Hex(const std::wstring& path, std::string& out) {
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    Scoped<HCRYPTPROV, CryptProvTraits> prov;
    if (!CryptAcquireContextW(prov.out(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return false;
    Scoped<HCRYPTHASH, CryptHashTraits> hash;
    if (!CryptCreateHash(prov.get(), CALG_MD5, 0, 0, hash.out())) return false;

    std::vector<BYTE> buf(65536);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr)) return false;
        if (got == 0) break;
        if (!CryptHashData(hash.get(), buf.data(), got, 0)) return false;
    }

    BYTE value[16];
    DWORD len = sizeof(value);
    if (!CryptGetHashParam(hash.get(), HP_HASHVAL, value, &len, 0) || len != 16) return false;
    char hex[33];
    for (int i = 0; i < 16; ++i) snprintf(hex + 2 * i, 3, "%02x", value[i]);
    out.assign(hex, 32);
    return true;
}

std::atomic<uint32_t> verifyRetryPauseMs{750};

bool fileMd5HexPatient(const std::wstring& path, std::string& out, const std::atomic<bool>* cancelFlag) {
    for (int attempt = 1;; ++attempt) {
        if (cancelFlag && cancelFlag->load()) return false;
        if (fileMd5Hex(path, out)) return true;
        if (attempt >= kVerifyTries) return false;
        // In short steps, so a cancel is not kept waiting.
        for (uint32_t waited = 0, pause = verifyRetryPauseMs.load(); waited < pause; waited += 50) {
            if (cancelFlag && cancelFlag->load()) return false;
            Sleep(pause - waited < 50 ? pause - waited : 50);
        }
    }
}

bool digestMatches(const std::string& expected, const std::string& computed) {
    if (expected.empty()) return true;
    return expected == computed;
}
