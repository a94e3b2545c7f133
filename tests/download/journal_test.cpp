// The download journal's text and the decisions over it: what survives a restart, what a
// damaged file gives, which entries come back, and where a continued download starts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/journal.h"

namespace {

JournalEntry interrupted(int32_t id) {
    JournalEntry e;
    e.appId = id;
    e.name = L"微信 \"测试\" \\ 版";
    e.url = "https://dl.example/api/client/download/7?channel=默认";
    e.effectiveUrl = "https://cdn.example/files/7/setup.exe";
    e.filePath = L"C:\\下载\\setup.exe";
    e.partPath = e.filePath + L".part";
    e.totalBytes = 3000000000LL;  // past 32 bits
    e.doneBytes = 2147483648LL;
    e.etag = "\"abc-123\"";
    e.lastModified = "Mon, 02 Nov 2026 08:00:00 GMT";
    e.md5 = "0123456789abcdef0123456789abcdef";
    return e;
}

}  // namespace

TEST(Journal, EveryFieldOfEveryStateSurvivesTheText) {
    JournalEntry cancelled = interrupted(8);
    cancelled.state = JournalState::Cancelled;
    cancelled.filePath = L"D:\\x\\b.exe";
    cancelled.partPath = L"D:\\x\\b.exe.part";
    JournalEntry finished = interrupted(9);
    finished.state = JournalState::Finished;
    finished.partPath.clear();
    const std::vector<JournalEntry> written{interrupted(7), cancelled, finished};

    std::vector<JournalEntry> read;
    ASSERT_TRUE(parseJournal(formatJournal(written), read));
    ASSERT_EQ(read.size(), written.size());
    for (size_t i = 0; i < written.size(); ++i) {
        const JournalEntry& a = written[i];
        const JournalEntry& b = read[i];
        EXPECT_EQ(b.appId, a.appId);
        EXPECT_EQ(b.state, a.state);
        EXPECT_EQ(b.name, a.name);
        EXPECT_EQ(b.url, a.url);
        EXPECT_EQ(b.effectiveUrl, a.effectiveUrl);
        EXPECT_EQ(b.filePath, a.filePath);
        EXPECT_EQ(b.partPath, a.partPath);
        EXPECT_EQ(b.totalBytes, a.totalBytes);
        EXPECT_EQ(b.doneBytes, a.doneBytes);
        EXPECT_EQ(b.etag, a.etag);
        EXPECT_EQ(b.lastModified, a.lastModified);
        EXPECT_EQ(b.md5, a.md5);
    }
}

TEST(Journal, ADamagedTextIsNoJournalAndABadEntryIsSkippedAlone) {
    std::vector<JournalEntry> read;
    for (const char* text : {"", "{", "[]", "{\"jobs\":3}", "{\"version\":1}", "\xEF\xBB\xBF{\"jobs\":[", "null"})
        EXPECT_FALSE(parseJournal(text, read)) << text;
    EXPECT_FALSE(parseJournal("{\"jobs\":[]}" + std::string(kMaxJournalBytes, ' '), read));

    const std::string good = formatJournal({interrupted(7)});
    const std::string entry = good.substr(good.find('{', 1), good.rfind('}', good.size() - 3) - good.find('{', 1) + 1);
    auto with = [&](const std::string& from, const std::string& to) {
        std::string e = entry;
        e.replace(e.find(from), from.size(), to);
        return e;
    };
    const std::string text = "{\"jobs\":[7," +
                             with("\"appId\":7", "\"appId\":0") + "," +           // no id
                             with("\"appId\":7", "\"appId\":1.5") + "," +         // no whole id
                             with("interrupted", "paused") + "," +                // unknown state
                             with("setup.exe.part", "other.part") + "," +         // part not beside its file
                             with("\"url\":\"https", "\"url\":3,\"x\":\"") + "," +  // no address
                             with("\"total\":3000000000", "\"total\":-5") + "," +  // kept, size unknown
                             entry + "]}";                                         // same id again: dropped
    ASSERT_TRUE(parseJournal(text, read));
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].appId, 7);
    EXPECT_EQ(read[0].totalBytes, 0);
    EXPECT_EQ(read[0].doneBytes, 2147483648LL);
}

TEST(Journal, AnEntryReturnsOnlyWhileItsFileFitsIt) {
    JournalEntry part = interrupted(1);
    part.totalBytes = 1000;
    JournalEntry finished = part;
    finished.state = JournalState::Finished;
    JournalEntry unsized = part;
    unsized.totalBytes = 0;
    JournalEntry undigested = finished;
    undigested.md5.clear();
    struct Case {
        const JournalEntry* entry;
        int64_t partSize, fileSize;
        EntryFate fate;
    } cases[] = {
        {&part, 1000, -1, EntryFate::Restore},     // pre-sized part file
        {&part, 400, -1, EntryFate::Restore},      // a part that grows with the data
        {&part, 0, -1, EntryFate::Restore},
        {&part, -1, 5, EntryFate::Drop},           // part file gone
        {&part, 1001, -1, EntryFate::Drop},        // larger than the file it is part of
        {&unsized, 5000, -1, EntryFate::Restore},  // size unknown: nothing to compare
        {&finished, -1, 1000, EntryFate::KeepFinished},
        {&finished, -1, -1, EntryFate::Drop},      // the finished file is gone
        {&undigested, -1, 1000, EntryFate::Drop},  // nothing to check it against
    };
    for (const Case& c : cases)
        EXPECT_EQ(entryFate(*c.entry, c.partSize, c.fileSize), c.fate) << c.partSize << " " << c.fileSize;
}

TEST(Journal, AContinuedDownloadStartsAtWhatIsOnDiskOnlyForTheSameFile) {
    const std::string etag = "\"v1\"", date = "Mon, 02 Nov 2026 08:00:00 GMT";
    auto facts = [&] {
        ResumeFacts f;
        f.doneBytes = 600;
        f.partSize = 1000;
        f.recordedTotal = 1000;
        f.recordedEtag = etag;
        f.recordedLastModified = date;
        f.acceptsRanges = true;
        f.probeTotal = 1000;
        f.probeEtag = etag;
        f.probeLastModified = date;
        return f;
    };
    struct Case {
        const char* what;
        void (*change)(ResumeFacts&);
        int64_t from;
        const char* ifRange;
    } cases[] = {
        {"same file", [](ResumeFacts&) {}, 600, "\"v1\""},
        {"part shorter than recorded", [](ResumeFacts& f) { f.partSize = 250; }, 250, "\"v1\""},
        {"recorded past the size", [](ResumeFacts& f) { f.doneBytes = 5000; }, 1000, "\"v1\""},
        {"nothing done", [](ResumeFacts& f) { f.doneBytes = 0; }, 0, ""},
        {"part file empty", [](ResumeFacts& f) { f.partSize = 0; }, 0, ""},
        {"part file gone", [](ResumeFacts& f) { f.partSize = -1; }, 0, ""},
        {"new ETag", [](ResumeFacts& f) { f.probeEtag = "\"v2\""; }, 0, ""},
        {"ETag gone", [](ResumeFacts& f) { f.probeEtag.clear(); }, 0, ""},
        {"new date", [](ResumeFacts& f) { f.probeLastModified = "Tue, 03 Nov 2026 08:00:00 GMT"; }, 0, ""},
        {"new size", [](ResumeFacts& f) { f.probeTotal = 1001; }, 0, ""},
        {"size unknown now", [](ResumeFacts& f) { f.probeTotal = -1; }, 0, ""},
        {"no ranges now", [](ResumeFacts& f) { f.acceptsRanges = false; }, 0, ""},
        {"no validator ever", [](ResumeFacts& f) { f.recordedEtag = f.recordedLastModified = f.probeEtag = f.probeLastModified = ""; }, 0, ""},
        {"weak ETag alone", [](ResumeFacts& f) { f.recordedEtag = f.probeEtag = "W/\"v1\""; f.recordedLastModified = f.probeLastModified = ""; }, 0, ""},
        {"weak ETag and a date", [](ResumeFacts& f) { f.recordedEtag = f.probeEtag = "W/\"v1\""; }, 600, "Mon, 02 Nov 2026 08:00:00 GMT"},
        {"a date alone", [](ResumeFacts& f) { f.recordedEtag = f.probeEtag = ""; }, 600, "Mon, 02 Nov 2026 08:00:00 GMT"},
    };
    for (const Case& c : cases) {
        ResumeFacts f = facts();
        c.change(f);
        const ResumePlan plan = planResume(f);
        EXPECT_EQ(plan.from, c.from) << c.what;
        EXPECT_EQ(plan.ifRange, c.ifRange) << c.what;
    }
}
