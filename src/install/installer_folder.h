// A folder of its own for each installer run. Windows looks for the DLLs a program loads
// first in the program's own folder; run from the download folder, an installer (often
// elevated) would load whatever DLL-named file lies there. The folder is fresh, holds only
// the installer, and goes away once the installer has been judged.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "scoped.h"

enum class PlaceResult {
    Placed,
    Missing,  // the file is gone
    Changed,  // size or last-write time differ from the verified file's
    Failed,   // no folder could be made, or the file not put into it
};

// Whether a file still is the one verified: its size and last-write time (FILETIME as one
// number) unchanged. A verifiedSize of -1 means it was never verified by this program.
bool sameAsVerified(int64_t verifiedSize, uint64_t verifiedWriteTime, int64_t size, uint64_t writeTime);

class InstallerFolder {
public:
    InstallerFolder() = default;
    ~InstallerFolder() { remove(); }
    InstallerFolder(const InstallerFolder&) = delete;
    InstallerFolder& operator=(const InstallerFolder&) = delete;

    // Checks `file` against the verified size and time, then makes a new folder under the
    // user's temporary folder and hard-links the file into it under its own name (copies it
    // where linking fails). Until release(), nobody may write to the placed file.
    PlaceResult place(const std::wstring& file, int64_t verifiedSize, uint64_t verifiedWriteTime);

    const std::wstring& folder() const { return folder_; }
    const std::wstring& file() const { return file_; }

    // Lets go of the placed file once the installer has started from it.
    void release() { hold_.reset(); }

    // Removes the folder and whatever the installer left in it; a file still in use gets a
    // few more tries over about a second, then the rest stays. True when it is gone.
    bool remove();

    // Leaves the folder where it is (its file was handed to a program already running).
    void keep() { folder_.clear(); }

private:
    bool makeFolder();

    std::wstring folder_;
    std::wstring file_;
    ScopedFile hold_;
};
