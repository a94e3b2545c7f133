// The order in which icon fetches are served, as plain data: fresh requests newest first
// (the latest paint asked for the cards now on screen), failed ones again after a pause,
// up to a fixed number of attempts. Times are milliseconds on the caller's clock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalog/icon_image.h"

class CatalogState;
struct App;

constexpr int kIconFetchSlots = 4;    // fetches running at once
constexpr int kIconAttempts = 3;      // a record that failed this often stays failed
constexpr unsigned kIconRetryPauseMs = 30000;

struct IconRequest {
    CatalogState* catalog = nullptr;
    // Weak: a waiting request keeps neither the record nor its lists alive, so a reload
    // frees the old lists at once.
    std::weak_ptr<const App> app;
    std::wstring url;
    std::vector<IconSize> sizes;  // the icon is kept scaled to these
    bool refetch = false;    // of a ready icon, to be kept at other sizes; never retried
    int failures = 0;  // attempts that failed so far
    uint64_t due = 0;  // when a retry may start
};

class IconQueue {
public:
    // A fresh request: served before every request already waiting.
    void add(IconRequest request);
    // After a failed attempt: counts it and schedules the next one pauseMs after now.
    // False when that was the last attempt (the request is dropped).
    bool retryLater(IconRequest request, uint64_t now, unsigned pauseMs);
    // Retries that have come due join the waiting requests (as requested when they came
    // due); then the newest waiting request is taken. False when none is waiting.
    bool take(uint64_t now, IconRequest& out);
    // Milliseconds until the next retry comes due (0 when one is due); -1 when none is planned.
    int64_t untilNextRetry(uint64_t now) const;
    size_t waiting() const { return waiting_.size(); }
    size_t retrying() const { return retries_.size(); }
    // Forgets the newest waiting request (one that nobody can serve).
    void dropNewest();

private:
    std::vector<IconRequest> waiting_;  // newest at the back
    std::vector<IconRequest> retries_;  // in due order
};
