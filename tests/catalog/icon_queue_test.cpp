// The order of icon fetches: newest requests first, failed ones again after the pause,
// three attempts in all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalog/icon_queue.h"

namespace {

IconRequest named(const std::wstring& url) {
    IconRequest r;
    r.url = url;
    return r;
}

// Everything the queue hands out at this time, in order.
std::vector<std::wstring> drain(IconQueue& queue, uint64_t now) {
    std::vector<std::wstring> urls;
    IconRequest r;
    while (queue.take(now, r)) urls.push_back(r.url);
    return urls;
}

}  // namespace

TEST(IconQueue, TheNewestRequestIsServedFirst) {
    IconQueue queue;
    for (const wchar_t* url : {L"a", L"b", L"c"}) queue.add(named(url));
    IconRequest r;
    ASSERT_TRUE(queue.take(0, r));
    EXPECT_EQ(L"c", r.url);
    queue.add(named(L"d"));  // a later paint's card
    EXPECT_EQ((std::vector<std::wstring>{L"d", L"b", L"a"}), drain(queue, 0));
    EXPECT_FALSE(queue.take(0, r)) << "nothing waits";
}

TEST(IconQueue, AFailedRequestWaitsThePauseThenJoinsAsTheNewest) {
    IconQueue queue;
    EXPECT_EQ(-1, queue.untilNextRetry(0)) << "no retry planned";
    ASSERT_TRUE(queue.retryLater(named(L"failed"), 1000, 500));
    EXPECT_EQ(500, queue.untilNextRetry(1000));
    EXPECT_EQ(1u, queue.retrying());
    IconRequest r;
    EXPECT_FALSE(queue.take(1499, r)) << "not before the pause has passed";
    queue.add(named(L"older"));
    EXPECT_EQ(0, queue.untilNextRetry(1500));
    EXPECT_EQ((std::vector<std::wstring>{L"failed", L"older"}), drain(queue, 1500));
    EXPECT_EQ(0u, queue.retrying());
}

TEST(IconQueue, DueRetriesAreServedInTheOrderTheyFailed) {
    IconQueue queue;
    ASSERT_TRUE(queue.retryLater(named(L"second"), 200, 100));
    ASSERT_TRUE(queue.retryLater(named(L"first"), 100, 100));
    ASSERT_TRUE(queue.retryLater(named(L"later"), 900, 100));
    EXPECT_EQ(100, queue.untilNextRetry(100));
    EXPECT_EQ((std::vector<std::wstring>{L"first", L"second"}), drain(queue, 500));
    EXPECT_EQ(500, queue.untilNextRetry(500));
}

TEST(IconQueue, ThreeFailuresEndTheRequest) {
    IconQueue queue;
    IconRequest r = named(L"x");
    uint64_t now = 0;
    for (int failure = 1; failure < kIconAttempts; ++failure) {
        ASSERT_TRUE(queue.retryLater(std::move(r), now, 10)) << "failure " << failure;
        now += 10;
        ASSERT_TRUE(queue.take(now, r));
        EXPECT_EQ(failure, r.failures);
    }
    EXPECT_FALSE(queue.retryLater(std::move(r), now, 10)) << "the third failure is final";
    EXPECT_EQ(0u, queue.retrying());
    EXPECT_EQ(-1, queue.untilNextRetry(now));
}

TEST(IconQueue, DropNewestForgetsOnlyTheLastAdded) {
    IconQueue queue;
    queue.add(named(L"a"));
    queue.add(named(L"b"));
    queue.dropNewest();
    EXPECT_EQ((std::vector<std::wstring>{L"a"}), drain(queue, 0));
    queue.dropNewest();  // nothing waits: no effect
    EXPECT_EQ(0u, queue.waiting());
}
