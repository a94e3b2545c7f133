// The download journal ("downloads.json"): what must outlive the program — a close, a
// crash, a power cut — so that an interrupted download goes on where it stopped and a
// verified installer is not fetched again. The text and the decisions over it are plain
// functions; one writer thread saves the manager's jobs whenever they change and every
// couple of seconds while bytes arrive, never on the window's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class JournalState {
    Interrupted,  // a part file holding doneBytes good bytes from the start
    Cancelled,    // the same, cancelled by the user
    Finished,     // a verified file at filePath (md5 is its digest)
};

struct JournalEntry {
    int32_t appId = 0;
    JournalState state = JournalState::Interrupted;
    std::wstring name;
    std::string url;           // UTF-8, the catalog's download address
    std::string effectiveUrl;  // UTF-8, where the server sent the job last; may be empty
    std::wstring filePath;
    std::wstring partPath;
    int64_t totalBytes = 0;  // <= 0 when unknown
    int64_t doneBytes = 0;   // bytes from the start known to be on disk
    std::string etag;        // the server's validators from the probe, as sent
    std::string lastModified;
    std::string md5;  // the catalog's digest, may be empty
};

std::string formatJournal(const std::vector<JournalEntry>& entries);
// False when the text is no journal at all (the caller keeps it aside); an entry lacking
// what it needs (an id, a path, an address) is skipped, the others are read.
bool parseJournal(const std::string& text, std::vector<JournalEntry>& entries);
constexpr size_t kMaxJournalBytes = 4u << 20;  // a larger file is no journal of ours
constexpr size_t kMaxJournalEntries = 512;

// What becomes of an entry at start. partSize/fileSize: the size of its part file and of its
// finished file, -1 when missing.
enum class EntryFate { Restore, KeepFinished, Drop };
EntryFate entryFate(const JournalEntry& entry, int64_t partSize, int64_t fileSize);

// Where a continued download starts: the recorded good bytes, never more than the part
// file holds or than the file's size; 0 (start over) when the server no longer offers the
// same validator and size, or no ranges.
struct ResumeFacts {
    int64_t doneBytes = 0;
    int64_t partSize = -1;
    int64_t recordedTotal = 0;
    std::string recordedEtag, recordedLastModified;
    bool acceptsRanges = false;
    int64_t probeTotal = -1;
    std::string probeEtag, probeLastModified;
};
struct ResumePlan {
    int64_t from = 0;
    std::string ifRange;  // the validator every resumed range names; empty when from is 0
};
ResumePlan planResume(const ResumeFacts& facts);

// The validator If-Range may carry: a strong ETag, else Last-Modified; empty when neither
// (a weak ETag cannot guard a range).
std::string rangeValidator(const std::string& etag, const std::string& lastModified);

// The writer. `save` writes the whole text in one step (true when it did); it runs on the
// journal's own thread. Call once, after the journal read at start has been restored.
void startJournalWriter(std::function<bool(const std::string&)> save);
// Asks the writer to save soon; cheap, callable from any thread.
void journalChanged();
constexpr uint32_t kJournalIntervalMs = 2000;
