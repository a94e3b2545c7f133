#include "app/journal_file.h"

#include <windows.h>

#include <new>
#include <vector>

#include "app/config.h"
#include "download/journal.h"
#include "download/manager.h"
#include "file_replace.h"
#include "scoped.h"

namespace {

// The file's bytes when it is small enough to be ours; false when missing or too large.
bool readJournal(const std::wstring& path, std::string& bytes, bool& tooLarge) {
    tooLarge = false;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    if (data.nFileSizeHigh != 0 || data.nFileSizeLow > kMaxJournalBytes) {
        tooLarge = true;
        return false;
    }
    return readWholeFile(path, bytes);
}

void startWriter() {
    const std::wstring path = journalFilePath();
    startJournalWriter([path](const std::string& text) { return replaceFileContents(path, text); });
}

DWORD WINAPI journalEntry(void*) {
    try {
        restoreDownloadJournal();
    } catch (...) {
        // Out of memory while reading: the downloads of this run are journalled all the same.
    }
    try {
        startWriter();
    } catch (...) {
    }
    return 0;
}

}  // namespace

std::wstring journalFilePath() { return folderOfPath(configFilePath()) + L"\\downloads.json"; }

void restoreDownloadJournal() {
    const std::wstring path = journalFilePath();
    std::string bytes;
    bool tooLarge = false;
    std::vector<JournalEntry> entries;
    const bool read = readJournal(path, bytes, tooLarge);
    if (read && parseJournal(bytes, entries)) {
        DownloadManager::instance().restore(entries);
    } else if (read || tooLarge) {
        // Kept for whoever wants to look; the next save starts a new journal.
        MoveFileExW(path.c_str(), (path + L".bad").c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
}

void startDownloadJournal() {
    ScopedHandle thread(CreateThread(nullptr, 0, journalEntry, nullptr, 0, nullptr));
    if (!thread) journalEntry(nullptr);
}
