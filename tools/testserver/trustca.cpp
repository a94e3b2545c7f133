// kv_trustca add|remove CERT.der
// Adds the test CA to (or removes it from) the current user's Root store of the Wine prefix
// the tests run in, so HTTPS to the loopback test server verifies there and nowhere else.
// Any earlier certificate with the same subject (from an earlier run) is removed first.
// The registry provider is opened directly: Wine's plain "Root" system store keeps additions
// in memory only.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

struct StoreTraits {
    static HCERTSTORE invalid() { return nullptr; }
    static bool valid(HCERTSTORE h) { return h != nullptr; }
    static void close(HCERTSTORE h) { CertCloseStore(h, 0); }
};
struct CertTraits {
    static PCCERT_CONTEXT invalid() { return nullptr; }
    static bool valid(PCCERT_CONTEXT h) { return h != nullptr; }
    static void close(PCCERT_CONTEXT h) { CertFreeCertificateContext(h); }
};

template <typename T, typename Traits>
struct Owned {
    T h = Traits::invalid();
    explicit Owned(T v) : h(v) {}
    ~Owned() {
        if (Traits::valid(h)) Traits::close(h);
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
};

bool readFile(const wchar_t* path, std::vector<BYTE>& data) {
    FILE* f = _wfopen(path, L"rb");
    if (!f) return false;
    BYTE buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
    fclose(f);
    return !data.empty();
}

// Deletes every certificate in the store whose subject equals cert's subject.
int removeSameSubject(HCERTSTORE store, PCCERT_CONTEXT cert) {
    int removed = 0;
    for (;;) {
        PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                                                          &cert->pCertInfo->Subject, nullptr);
        if (!found) break;
        if (!CertDeleteCertificateFromStore(found)) break;  // frees found either way
        ++removed;
    }
    return removed;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 || (wcscmp(argv[1], L"add") != 0 && wcscmp(argv[1], L"remove") != 0)) {
        fwprintf(stderr, L"usage: kv_trustca add|remove CERT.der\n");
        return 2;
    }
    bool add = wcscmp(argv[1], L"add") == 0;
    std::vector<BYTE> der;
    if (!readFile(argv[2], der)) {
        fwprintf(stderr, L"cannot read %ls\n", argv[2]);
        return 1;
    }
    Owned<PCCERT_CONTEXT, CertTraits> cert(
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    if (!cert.h) {
        fwprintf(stderr, L"not a DER certificate: %ls\n", argv[2]);
        return 1;
    }
    Owned<HCERTSTORE, StoreTraits> store(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root"));
    if (!store.h) {
        fwprintf(stderr, L"cannot open the Root store (%lu)\n", GetLastError());
        return 1;
    }
    int removed = removeSameSubject(store.h, cert.h);
    if (add && !CertAddCertificateContextToStore(store.h, cert.h, CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
        fwprintf(stderr, L"cannot add the certificate (%lu)\n", GetLastError());
        return 1;
    }
    wprintf(L"%ls: removed %d earlier, %ls\n", argv[1], removed, add ? L"added" : L"done");
    return 0;
}
