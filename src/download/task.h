// One download job and the plain value record the user interface draws from.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

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
    std::wstring name;
    std::string url;  // UTF-8
    std::string md5;  // expected digest text, may be empty

    // Written by start() and the runner; read by others through pathLock.
    mutable std::mutex pathLock;
    std::wstring filePath;
    std::wstring partPath;

    std::atomic<int64_t> totalBytes{0};
    std::atomic<int64_t> downloadedBytes{0};
    int64_t sampleBytes = 0;  // tick() only, under tasksLock
    uint32_t sampleTick = 0;
    std::atomic<int32_t> speed{0};
    std::atomic<TaskState> state{TaskState::Downloading};
    std::atomic<bool> md5Ok{true};
    std::atomic<bool> isArchive{false};

    std::mutex errorLock;
    std::wstring errorText;

    std::atomic<int32_t> retryCount{0};
    std::atomic<bool> cancelRequested{false};
    ScopedHandle thread;  // runner thread; nobody waits on it

    std::mutex urlLock;
    std::string effectiveUrl;          // empty = use url
    std::set<std::string> rejectedUrls;

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
    bool isArchive = false;
    std::wstring errorText;
    int32_t retryCount = 0;
};
