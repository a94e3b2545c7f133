// One download job and the plain value record the user interface draws from.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include "download/claims.h"
#include "scoped.h"

enum class TaskState : int32_t {
    Downloading = 0,   // probing, waiting for a slot or transferring
    Verifying = 1,     // digest, type sniffing and rename
    Completed = 2,     // file in the download folder, not installed
    Failed = 3,        // errorText says why
    Cancelled = 4,
    Installed = 5,
    Installing = 6,
    InstallFailed = 7,
};

struct Task {
    int32_t appId = 0;
    uint64_t generation = 0;  // unique per started job: tells a late message from the job now shown
    std::wstring name;
    std::string url;  // UTF-8
    std::string md5;  // expected digest text, may be empty
    std::wstring directory;  // the download folder when the job was accepted; empty = the default
    int64_t catalogSize = 0;  // the catalog's package size, <= 0 when it gives none

    // Written by start() and the runner; read by others through pathLock.
    mutable std::mutex pathLock;
    std::wstring filePath;
    std::wstring partPath;
    FileClaim fileClaim;  // the name of filePath, held for as long as the job exists

    std::atomic<int64_t> totalBytes{0};
    std::atomic<int64_t> downloadedBytes{0};
    // Bytes from the start of the part file that are on the disk for certain (written and
    // flushed): what the journal records and a later run continues from.
    std::atomic<int64_t> durableBytes{0};
    // Set by start() before the runner exists: the part file of an earlier job of this
    // application that this one continues (its paths and claim taken over), and how many
    // of its bytes were good; a verified file of an earlier run to try before fetching.
    bool carriesPart = false;
    int64_t carriedBytes = 0;
    std::wstring earlierFile;
    // Restored from the journal at start: shown as interrupted, continued on request.
    std::atomic<bool> interrupted{false};
    int64_t sampleBytes = 0;  // tick() only, under tasksLock
    uint32_t sampleTick = 0;
    std::atomic<int32_t> speed{0};
    std::atomic<TaskState> state{TaskState::Downloading};
    std::atomic<bool> md5Ok{true};
    // The catalog gave a digest but the file could not be read to check it; md5Ok is false
    // then too, so everything that refuses a mismatch refuses this.
    std::atomic<bool> md5Unverified{false};
    std::atomic<bool> isArchive{false};

    std::mutex errorLock;
    std::wstring errorText;

    std::atomic<int32_t> retryCount{0};
    std::atomic<bool> cancelRequested{false};
    std::atomic<bool> partCreated{false};  // this job made partPath, so only it may delete it
    std::atomic<bool> cleared{false};      // taken out of the manager by clearFinished
    std::atomic<bool> installWaiting{false};  // Installing, but queued behind another installer
    std::atomic<bool> installStarted{false};  // the installer process of this install has started
    // The finished file as verified: the installer runner starts it only while both still hold.
    std::atomic<int64_t> verifiedSize{-1};  // -1: never verified by this program
    std::atomic<uint64_t> verifiedWriteTime{0};
    ScopedHandle thread;  // runner thread; nobody waits on it

    std::mutex urlLock;
    std::string effectiveUrl;          // empty = use url
    std::set<std::string> rejectedUrls;
    std::string etag;                  // validators of the file as the probe found it
    std::string lastModified;

    std::wstring getFilePath() const {
        std::lock_guard<std::mutex> lock(pathLock);
        return filePath;
    }
    std::wstring getPartPath() const {
        std::lock_guard<std::mutex> lock(pathLock);
        return partPath;
    }
    void setFilePath(const std::wstring& file) {
        std::lock_guard<std::mutex> lock(pathLock);
        filePath = file;
    }
    void setPaths(const std::wstring& file) {
        std::lock_guard<std::mutex> lock(pathLock);
        filePath = file;
        partPath = file + L".part";
    }
    // Claims the name of `file` (numbered while another job holds it) and takes the
    // granted name as this job's paths; returns the file path now used.
    std::wstring claimPaths(const std::wstring& file) {
        std::lock_guard<std::mutex> lock(pathLock);
        filePath = fileClaim.take(file);
        partPath = filePath + L".part";
        return filePath;
    }
    // The finished file moves to another name (an archive's own extension): the new
    // name is claimed before the move and the old one let go after it.
    void adoptClaim(FileClaim&& claim, const std::wstring& file) {
        std::lock_guard<std::mutex> lock(pathLock);
        fileClaim = std::move(claim);
        filePath = file;
    }
    // Notes the size and last-write time of the verified file just moved to its final name.
    void noteVerified(const std::wstring& file) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) return;
        verifiedWriteTime = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                            data.ftLastWriteTime.dwLowDateTime;
        verifiedSize = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    void setError(const std::wstring& text) {
        std::lock_guard<std::mutex> lock(errorLock);
        errorText = text;
    }
    std::wstring getError() {
        std::lock_guard<std::mutex> lock(errorLock);
        return errorText;
    }
};

struct TaskInfo {
    int32_t appId = 0;
    std::wstring name;
    int32_t state = 0;
    int64_t downloadedBytes = 0;
    int64_t totalBytes = 0;
    int32_t speed = 0;
    bool md5Ok = true;
    bool md5Unverified = false;
    bool isArchive = false;
    std::wstring errorText;
    int32_t retryCount = 0;
    uint64_t generation = 0;
    bool installWaiting = false;
    bool interrupted = false;  // a download of an earlier run, waiting to be continued
};
