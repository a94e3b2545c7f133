// Making, filling and removing an installer's own folder.
#include "install/installer_folder.h"

#include <atomic>

namespace {

std::atomic<unsigned> folderCounter{0};

// Shares reading and deleting, not writing: the file cannot change while it is held.
ScopedFile openUnwritable(const std::wstring& path) {
    return ScopedFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Deletes the folder's contents, depth-first; links to elsewhere are removed, not followed.
// True when nothing is left in it.
bool removeContents(const std::wstring& folder, int depth) {
    if (depth > 16) return false;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    bool ok = true;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesW(path.c_str(), found.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                ok = removeContents(path, depth + 1) && RemoveDirectoryW(path.c_str()) && ok;
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                ok = RemoveDirectoryW(path.c_str()) && ok;
            } else {
                ok = DeleteFileW(path.c_str()) && ok;
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return ok;
}

// Empty folders of earlier runs, unchanged for an hour, are removed: an installed program that
// the installer started keeps its folder as working folder, so it could not go at the time.
// Folders with files in them stay (a file may still be in use).
void removeEmptyLeftovers(const std::wstring& base) {
    ULARGE_INTEGER now;
    FILETIME nowTime;
    GetSystemTimeAsFileTime(&nowTime);
    now.LowPart = nowTime.dwLowDateTime;
    now.HighPart = nowTime.dwHighDateTime;
    const unsigned long long hour = 36000000000ULL;  // in 100-ns units
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((base + L"kv-setup-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    int looked = 0;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        ULARGE_INTEGER changed;
        changed.LowPart = found.ftLastWriteTime.dwLowDateTime;
        changed.HighPart = found.ftLastWriteTime.dwHighDateTime;
        if (changed.QuadPart + hour < now.QuadPart) RemoveDirectoryW((base + found.cFileName).c_str());
    } while (++looked < 64 && FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

bool sameAsVerified(int64_t verifiedSize, uint64_t verifiedWriteTime, int64_t size, uint64_t writeTime) {
    return verifiedSize < 0 || (size == verifiedSize && writeTime == verifiedWriteTime);
}

bool InstallerFolder::makeFolder() {
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) return false;
    std::wstring base = std::wstring(temp, n);
    if (base.back() != L'\\') base.push_back(L'\\');
    removeEmptyLeftovers(base);
    // A name nobody has used: an existing folder (perhaps planted) is never taken over.
    for (int attempt = 0; attempt < 100; attempt++) {
        std::wstring path = base + L"kv-setup-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(folderCounter++);
        if (CreateDirectoryW(path.c_str(), nullptr)) {
            folder_ = path;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

PlaceResult InstallerFolder::place(const std::wstring& file, int64_t verifiedSize, uint64_t verifiedWriteTime) {
    ScopedFile source = openUnwritable(file);
    if (!source) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PlaceResult::Missing
                                                                              : PlaceResult::Failed;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(source.get(), &info)) return PlaceResult::Failed;
    int64_t size = (static_cast<int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    uint64_t writeTime =
        (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
    if (!sameAsVerified(verifiedSize, verifiedWriteTime, size, writeTime)) return PlaceResult::Changed;

    if (!makeFolder()) return PlaceResult::Failed;
    size_t slash = file.find_last_of(L"\\/");
    file_ = folder_ + L"\\" + (slash == std::wstring::npos ? file : file.substr(slash + 1));
    // The source stays open without write sharing meanwhile, so the copy is the file checked.
    if (!CreateHardLinkW(file_.c_str(), file.c_str(), nullptr) && !CopyFileW(file.c_str(), file_.c_str(), TRUE)) {
        remove();
        return PlaceResult::Failed;
    }
    hold_ = openUnwritable(file_);
    if (!hold_ || !GetFileInformationByHandle(hold_.get(), &info) ||
        ((static_cast<int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow) != size) {
        hold_.reset();
        remove();
        return PlaceResult::Failed;
    }
    return PlaceResult::Placed;
}

bool InstallerFolder::remove() {
    hold_.reset();
    if (folder_.empty()) return true;
    bool gone = false;
    for (int attempt = 0; attempt < 6 && !gone; attempt++) {
        if (attempt > 0) Sleep(200);
        bool empty = removeContents(folder_, 0);
        gone = RemoveDirectoryW(folder_.c_str()) != FALSE;
        // Empty but still there: a program's working folder, which waiting does not change.
        if (empty && !gone) break;
    }
    folder_.clear();
    return gone;
}
