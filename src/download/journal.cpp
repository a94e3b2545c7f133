#include "download/journal.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <new>

#include "download/manager.h"
#include "json/encoding.h"
#include "json/json.h"
#include "scoped.h"

namespace {

const char* stateName(JournalState s) {
    switch (s) {
    case JournalState::Cancelled:
        return "cancelled";
    case JournalState::Finished:
        return "finished";
    case JournalState::Interrupted:
        break;
    }
    return "interrupted";
}

void member(std::string& out, const char* key, const std::string& value) {
    out += ",\"";
    out += key;
    out += "\":\"";
    out += json::escape(value);
    out += '"';
}

void member(std::string& out, const char* key, int64_t value) {
    char number[32];
    std::snprintf(number, sizeof number, "%lld", static_cast<long long>(value));
    out += ",\"";
    out += key;
    out += "\":";
    out += number;
}

// A whole number that fits the field, else the default: a size written by hand as 1e30 or
// -5 must not become a huge or negative length.
int64_t wholeNumber(const json::Value* v, int64_t def) {
    if (!v || v->kind != json::Number || !(v->number >= 0) || v->number > 9.0e15) return def;
    return static_cast<int64_t>(v->number);
}

std::string text(const json::Value& entry, const char* key) {
    const json::Value* v = entry.lookup(key);
    return v && v->kind == json::String ? v->string() : std::string();
}

}  // namespace

std::string formatJournal(const std::vector<JournalEntry>& entries) {
    std::string out = "{\"version\":1,\"jobs\":[";
    bool first = true;
    for (const JournalEntry& e : entries) {
        out += first ? "\n" : ",\n";
        first = false;
        out += "{\"appId\":" + std::to_string(e.appId);
        member(out, "state", std::string(stateName(e.state)));
        member(out, "name", json::toUtf8(e.name));
        member(out, "url", e.url);
        member(out, "effectiveUrl", e.effectiveUrl);
        member(out, "file", json::toUtf8(e.filePath));
        member(out, "part", json::toUtf8(e.partPath));
        member(out, "total", e.totalBytes);
        member(out, "done", e.doneBytes);
        member(out, "etag", e.etag);
        member(out, "lastModified", e.lastModified);
        member(out, "md5", e.md5);
        out += '}';
    }
    out += "\n]}\n";
    return out;
}

bool parseJournal(const std::string& text_, std::vector<JournalEntry>& entries) {
    entries.clear();
    if (text_.size() > kMaxJournalBytes) return false;
    std::shared_ptr<json::Value> root = json::parse(text_);
    if (!root || root->kind != json::Object) return false;
    const json::Value* jobs = root->lookup("jobs");
    if (!jobs || jobs->kind != json::Array) return false;
    for (const auto& item : jobs->array()) {
        if (entries.size() >= kMaxJournalEntries) break;
        const json::Value& j = *item;
        if (j.kind != json::Object) continue;
        JournalEntry e;
        const json::Value* id = j.lookup("appId");
        if (!id || id->kind != json::Number || id->number != static_cast<double>(id->asInt(0)) || id->asInt(0) == 0)
            continue;
        e.appId = id->asInt(0);
        const std::string state = text(j, "state");
        if (state == "interrupted")
            e.state = JournalState::Interrupted;
        else if (state == "cancelled")
            e.state = JournalState::Cancelled;
        else if (state == "finished")
            e.state = JournalState::Finished;
        else
            continue;
        e.name = json::toWide(text(j, "name"));
        e.url = text(j, "url");
        e.effectiveUrl = text(j, "effectiveUrl");
        e.filePath = json::toWide(text(j, "file"));
        e.partPath = json::toWide(text(j, "part"));
        e.totalBytes = wholeNumber(j.lookup("total"), 0);
        e.doneBytes = wholeNumber(j.lookup("done"), 0);
        e.etag = text(j, "etag");
        e.lastModified = text(j, "lastModified");
        e.md5 = text(j, "md5");
        if (e.filePath.empty() || e.url.empty()) continue;
        if (e.state != JournalState::Finished && e.partPath != e.filePath + L".part") continue;
        // One entry per application: a second one is a damaged file, not a second job.
        const bool seen = std::any_of(entries.begin(), entries.end(),
                                      [&](const JournalEntry& other) { return other.appId == e.appId; });
        if (!seen) entries.push_back(std::move(e));
    }
    return true;
}

EntryFate entryFate(const JournalEntry& entry, int64_t partSize, int64_t fileSize) {
    if (entry.state == JournalState::Finished)
        return fileSize >= 0 && !entry.md5.empty() ? EntryFate::KeepFinished : EntryFate::Drop;
    if (partSize < 0) return EntryFate::Drop;
    if (entry.totalBytes > 0 && partSize > entry.totalBytes) return EntryFate::Drop;
    return EntryFate::Restore;
}

std::string rangeValidator(const std::string& etag, const std::string& lastModified) {
    const bool weak = etag.size() >= 2 && (etag[0] == 'W' || etag[0] == 'w') && etag[1] == '/';
    if (!etag.empty() && !weak) return etag;
    return lastModified;
}

ResumePlan planResume(const ResumeFacts& f) {
    ResumePlan plan;
    if (!f.acceptsRanges || f.recordedTotal <= 0 || f.probeTotal != f.recordedTotal || f.partSize <= 0) return plan;
    const std::string validator = rangeValidator(f.recordedEtag, f.recordedLastModified);
    if (validator.empty()) return plan;
    // Every validator recorded must still be the server's: one that changed or went away
    // means another file, whatever the other one says.
    if (!f.recordedEtag.empty() && f.recordedEtag != f.probeEtag) return plan;
    if (!f.recordedLastModified.empty() && f.recordedLastModified != f.probeLastModified) return plan;
    const int64_t from = std::min(std::min(f.doneBytes, f.partSize), f.recordedTotal);
    if (from <= 0) return plan;
    plan.from = from;
    plan.ifRange = validator;
    return plan;
}

namespace {

HANDLE wakeEvent() {
    static HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return event;
}

struct WriterState {
    std::function<bool(const std::string&)> save;
};

DWORD WINAPI writerEntry(void* param) {
    std::unique_ptr<WriterState> state(static_cast<WriterState*>(param));
    std::string written;
    bool first = true;
    for (;;) {
        WaitForSingleObject(wakeEvent(), kJournalIntervalMs);
        try {
            const std::string text = formatJournal(DownloadManager::instance().journalEntries());
            // The first pass always writes: it drops what the restore found stale.
            if ((first || text != written) && state->save(text)) {
                written = text;
                first = false;
            }
        } catch (...) {
            // Out of memory for one pass: the next one tries again.
        }
    }
}

}  // namespace

void journalChanged() {
    HANDLE event = wakeEvent();
    if (event) SetEvent(event);
}

void startJournalWriter(std::function<bool(const std::string&)> save) {
    auto* state = new (std::nothrow) WriterState{std::move(save)};
    if (!state) return;
    ScopedHandle thread(CreateThread(nullptr, 0, writerEntry, state, 0, nullptr));
    if (!thread) delete state;
}
