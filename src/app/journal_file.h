// The download journal's file, "downloads.json" beside config.json: read and restored at
// start on a thread of its own (a part file on a share that went away may wait for the
// network), then kept by the download manager's writer.
#pragma once

#include <string>

std::wstring journalFilePath();
// Never blocks: restores the journal, then starts the manager's journal writer.
void startDownloadJournal();
// The restore alone, on the calling thread: the entries go to the download manager; a file
// that is no journal (or far too large for one) is moved aside to "downloads.json.bad".
void restoreDownloadJournal();
