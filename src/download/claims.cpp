#include "download/claims.h"

#include <windows.h>

#include <mutex>
#include <set>

#include "download/naming.h"

namespace {

// Never destroyed: runner and installer threads may release claims while the process runs
// its exit handlers.
struct ClaimRegistry {
    std::mutex lock;
    std::set<std::wstring> keys;
};

ClaimRegistry& registry() {
    static ClaimRegistry* r = new ClaimRegistry;
    return *r;
}

constexpr int kMaxNumber = 10000;

}  // namespace

std::wstring claimKey(const std::wstring& path) {
    std::wstring s = path;
    for (wchar_t& c : s)
        if (c == L'/') c = L'\\';
    // "." and ".." resolved as the file system would resolve them.
    DWORD need = GetFullPathNameW(s.c_str(), 0, nullptr, nullptr);
    if (need > 0) {
        std::wstring full(need, L'\0');
        DWORD got = GetFullPathNameW(s.c_str(), need, &full[0], nullptr);
        if (got > 0 && got < need) {
            full.resize(got);
            s.swap(full);
        }
    }
    // Each name without its trailing dots and blanks, which Windows drops when it opens one.
    std::wstring out;
    out.reserve(s.size());
    size_t start = 0;
    while (start <= s.size()) {
        size_t end = s.find(L'\\', start);
        if (end == std::wstring::npos) end = s.size();
        std::wstring part = s.substr(start, end - start);
        if (part != L"." && part != L"..")
            while (!part.empty() && (part.back() == L'.' || part.back() == L' ')) part.pop_back();
        out += part;
        if (end < s.size()) out += L'\\';
        start = end + 1;
    }
    // Ordinal, without letter case, as the file system compares names.
    if (!out.empty()) {
        int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, out.c_str(), static_cast<int>(out.size()),
                              nullptr, 0, nullptr, nullptr, 0);
        if (n > 0) {
            std::wstring upper(static_cast<size_t>(n), L'\0');
            if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, out.c_str(), static_cast<int>(out.size()),
                              &upper[0], n, nullptr, nullptr, 0) == n)
                out.swap(upper);
        }
    }
    return out;
}

FileClaim::~FileClaim() { release(); }

FileClaim::FileClaim(FileClaim&& other) noexcept : key_(std::move(other.key_)) { other.key_.clear(); }

FileClaim& FileClaim::operator=(FileClaim&& other) noexcept {
    if (this != &other) {
        release();
        key_ = std::move(other.key_);
        other.key_.clear();
    }
    return *this;
}

std::wstring FileClaim::take(const std::wstring& wanted) {
    ClaimRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.lock);
    std::wstring path = wanted;
    std::wstring key = claimKey(path);
    for (int n = 2; key != key_ && r.keys.count(key) && n < kMaxNumber; ++n) {
        path = numberedPath(wanted, n);
        key = claimKey(path);
    }
    if (key == key_) return path;
    if (!key_.empty()) r.keys.erase(key_);
    r.keys.insert(key);
    key_ = key;
    return path;
}

void FileClaim::release() {
    if (key_.empty()) return;
    ClaimRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.lock);
    r.keys.erase(key_);
    key_.clear();
}

bool isFileClaimed(const std::wstring& path) {
    ClaimRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.lock);
    return r.keys.count(claimKey(path)) != 0;
}
