#include "catalog/icon_queue.h"

#include <algorithm>
#include <utility>

void IconQueue::add(IconRequest request) { waiting_.push_back(std::move(request)); }

bool IconQueue::retryLater(IconRequest request, uint64_t now, unsigned pauseMs) {
    if (++request.failures >= kIconAttempts) return false;
    request.due = now + pauseMs;
    auto later = std::upper_bound(retries_.begin(), retries_.end(), request.due,
                                  [](uint64_t due, const IconRequest& r) { return due < r.due; });
    retries_.insert(later, std::move(request));
    return true;
}

bool IconQueue::take(uint64_t now, IconRequest& out) {
    size_t due = 0;
    while (due < retries_.size() && retries_[due].due <= now) ++due;
    if (due > 0) {
        waiting_.reserve(waiting_.size() + due);
        // The earliest due goes on last: of the retries it has waited longest.
        for (size_t i = due; i-- > 0;) waiting_.push_back(std::move(retries_[i]));
        retries_.erase(retries_.begin(), retries_.begin() + static_cast<std::ptrdiff_t>(due));
    }
    if (waiting_.empty()) return false;
    out = std::move(waiting_.back());
    waiting_.pop_back();
    return true;
}

int64_t IconQueue::untilNextRetry(uint64_t now) const {
    if (retries_.empty()) return -1;
    const uint64_t due = retries_.front().due;
    return due <= now ? 0 : static_cast<int64_t>(due - now);
}

void IconQueue::dropNewest() {
    if (!waiting_.empty()) waiting_.pop_back();
}
