// The download journal's file at start: a damaged one is kept aside and never stops the
// start; a good one gives its interrupted jobs back to the download manager.
#include <gtest/gtest.h>

#include <windows.h>

#include "app/config.h"
#include "app/journal_file.h"
#include "download/journal.h"
#include "download/manager.h"
#include "scratch_folder.h"

namespace {

bool writeText(const std::wstring& path, const std::string& text) {
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD put = 0;
    return file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &put, nullptr) &&
           put == text.size();
}

}  // namespace

TEST(DownloadJournalFile, ADamagedJournalIsKeptAsideAndAGoodOneGivesItsJobsBack) {
    ScratchFolder root(L"journal");
    CreateDirectoryW((root / L"AppData").c_str(), nullptr);
    setConfigFolders(root / L"AppData", root / L"Exe");
    const std::wstring path = journalFilePath();
    EXPECT_EQ(path, root / L"AppData\\KelvoManager\\downloads.json");
    DownloadManager& m = DownloadManager::instance();

    for (const std::string& damaged : {std::string("{\"jobs\":[{\"appId\":"), std::string(kMaxJournalBytes + 1, ' ')}) {
        ASSERT_TRUE(writeText(path, damaged));
        restoreDownloadJournal();
        EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
        std::string kept;
        EXPECT_TRUE(readWholeFile(path + L".bad", kept));
        EXPECT_EQ(kept.size(), damaged.size());
    }

    JournalEntry e;
    e.appId = 7301;
    e.name = L"断点续传";
    e.url = "http://127.0.0.1:9/x.exe";
    e.filePath = root / L"x.exe";
    e.partPath = e.filePath + L".part";
    e.totalBytes = 10;
    e.doneBytes = 4;
    JournalEntry gone = e;  // its part file is no more
    gone.appId = 7302;
    gone.filePath = root / L"gone.exe";
    gone.partPath = gone.filePath + L".part";
    ASSERT_TRUE(writeText(e.partPath, "abcd"));
    ASSERT_TRUE(writeText(path, formatJournal({e, gone})));
    restoreDownloadJournal();
    const auto tasks = m.snapshot();
    ASSERT_EQ(tasks.count(7301), 1u);
    EXPECT_EQ(tasks.count(7302), 0u);
    EXPECT_TRUE(tasks.at(7301).interrupted);
    EXPECT_EQ(tasks.at(7301).downloadedBytes, 4);

    m.clearFinished();  // an interrupted job cleared takes its own part file with it
    EXPECT_EQ(GetFileAttributesW(e.partPath.c_str()), INVALID_FILE_ATTRIBUTES);
    setConfigFolders(L"", L"");
}
