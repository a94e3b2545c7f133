// Names in the download folder that belong to a job. A job claims its file's name before it
// creates the part file and keeps it until the job itself is gone (cleared, or replaced by
// a new download of the same application), so no other job ever writes, moves over or
// deletes a file that a job still shows, installs or may still be writing. Claims are
// compared as the file system compares paths (see claimKey).
#pragma once

#include <string>

class FileClaim {
public:
    FileClaim() = default;
    ~FileClaim();
    FileClaim(FileClaim&& other) noexcept;
    FileClaim& operator=(FileClaim&& other) noexcept;
    FileClaim(const FileClaim&) = delete;
    FileClaim& operator=(const FileClaim&) = delete;

    // Claims `wanted`, or while that is held by another claim the first free numbered name
    // "name (2).ext", "name (3).ext" and so on; returns the path granted. A name this claim
    // holds already is kept; whatever else it held is released.
    std::wstring take(const std::wstring& wanted);
    void release();
    bool held() const { return !key_.empty(); }

private:
    std::wstring key_;
};

// The form claims compare: the full path with "\\" between names, each name without its
// trailing dots and blanks, in upper case (ordinal); two spellings of one file give one key.
std::wstring claimKey(const std::wstring& path);

// Whether any claim holds the path now.
bool isFileClaimed(const std::wstring& path);
