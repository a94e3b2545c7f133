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

std::wstring foldCase(std::wstring s) {
    if (!s.empty()) CharLowerBuffW(&s[0], static_cast<DWORD>(s.size()));
    return s;
}

constexpr int kMaxNumber = 10000;

}  // namespace

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
    std::wstring key = foldCase(path);
    for (int n = 2; key != key_ && r.keys.count(key) && n < kMaxNumber; ++n) {
        path = numberedPath(wanted, n);
        key = foldCase(path);
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
    return r.keys.count(foldCase(path)) != 0;
}
