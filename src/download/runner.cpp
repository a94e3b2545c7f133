// The runner: probe, size, name, part file, transfer, digest, archive sniffing, final move.
#include <cwchar>
#include <vector>

#include "download/format.h"
#include "download/journal.h"
#include "download/manager.h"
#include "download/naming.h"
#include "download/reserve.h"
#include "download/verify.h"
#include "json/encoding.h"
#include "net/http.h"

namespace {

constexpr int kProbeAttempts = 5;

// Reads up to 8 bytes of the part file; an unreadable file is no archive.
std::string sniffArchive(const std::wstring& path) {
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::string();
    unsigned char head[8];
    DWORD got = 0;
    if (!ReadFile(file.get(), head, sizeof(head), &got, nullptr)) return std::string();
    return archiveTypeFromMagic(head, got);
}

// A cancelled job that was cleared from the manager while its runner still ran: nobody
// shows or clears it any more, so the runner takes its own part file away when it ends.
class CancelCleanup {
public:
    explicit CancelCleanup(Task* t) : t_(t) {}
    ~CancelCleanup() {
        if (t_->state.load() == TaskState::Cancelled && t_->cleared && t_->partCreated)
            DeleteFileW(t_->getPartPath().c_str());
    }
    CancelCleanup(const CancelCleanup&) = delete;
    CancelCleanup& operator=(const CancelCleanup&) = delete;

private:
    Task* t_;
};

}  // namespace

// A failure while downloading: a cancel that came first keeps its state.
void DownloadManager::fail(Task* task, const std::wstring& text) {
    TaskState expected = TaskState::Downloading;
    if (!task->state.compare_exchange_strong(expected, TaskState::Failed)) {
        if (expected != TaskState::Verifying || !task->state.compare_exchange_strong(expected, TaskState::Failed))
            return;
    }
    task->setError(text);
    post(WM_DOWNLOAD_CHANGED);
}

// Size of a plain file; -1 when missing or a folder.
static int64_t existingFileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool DownloadManager::reuseVerifiedFile(Task* t, const std::vector<std::wstring>& candidates) {
    for (const std::wstring& path : candidates) {
        if (t->cancelRequested) return false;
        const int64_t size = existingFileSize(path);
        // A file another job shows or writes is that job's, whatever it holds now.
        if (size < 0 || isFileClaimed(path)) continue;
        std::string digest;
        if (!fileMd5Hex(path, digest) || !digestMatches(t->md5, digest)) continue;
        if (claimKey(t->claimPaths(path)) != claimKey(path)) continue;
        t->totalBytes = size;
        t->downloadedBytes = size;
        t->durableBytes = size;
        TaskState expected = TaskState::Downloading;
        if (!t->state.compare_exchange_strong(expected, TaskState::Verifying)) return true;
        post(WM_DOWNLOAD_CHANGED);
        t->isArchive = !sniffArchive(path).empty();
        t->noteVerified(path);
        expected = TaskState::Verifying;
        // A cancel now leaves the file where it was: it was there before this job.
        if (!t->state.compare_exchange_strong(expected, TaskState::Completed)) return true;
        post(WM_DOWNLOAD_CHANGED);
        post(WM_DOWNLOAD_FINISHED, static_cast<WPARAM>(t->appId), static_cast<LPARAM>(t->generation));
        return true;
    }
    return false;
}

void DownloadManager::run(std::shared_ptr<Task> task) {
    Task* t = task.get();
    const CancelCleanup cleanup(t);
    const int64_t packageSize = t->catalogSize;
    const int64_t recordedTotal = t->totalBytes.load();  // a continued job's size, before the probe speaks
    const std::wstring url = json::toWide(t->url);
    const std::vector<HttpHeader> probeHeaders{{L"Range", L"bytes=0-0"}};
    const HttpDataSink refuseBody = [](const unsigned char*, unsigned long) { return false; };

    // The folder of the job's acceptance, made here rather than on the window's thread:
    // on a share that went away this may wait for the network.
    const std::wstring directory = t->carriesPart ? t->directory : ensureDownloadDirectory(t->directory);
    // A verified installer of an earlier download is used again, unfetched.
    if (!t->md5.empty() && !t->carriesPart &&
        reuseVerifiedFile(t, {t->earlierFile, directory + L"\\" + sanitizeFileName(t->name) + L".exe"}))
        return;
    if (t->cancelRequested) return;

    HttpResponse probe;
    for (int attempt = 1;; ++attempt) {
        probe = HttpResponse();
        std::wstring error;
        if (!acquireSlot(&t->cancelRequested)) return;
        HttpResult r = httpRequest(url, probeHeaders, nullptr, L"GET", refuseBody, probe, error, &t->cancelRequested);
        releaseSlot();
        if (t->cancelRequested) return;
        // The refused body after the first byte still means the server answered.
        if (r == HttpResult::Ok || r == HttpResult::Cancelled) break;
        for (int i = 0; i < 5 && !t->cancelRequested; ++i) Sleep(100);
        if (t->cancelRequested) return;
        if (attempt >= kProbeAttempts) {
            fail(t, error.empty() ? L"连接失败" : error);
            return;
        }
    }

    bool acceptsRanges = false;
    int64_t probeTotal = -1;
    if (probe.hasContentRange && probe.status == 206) {
        acceptsRanges = true;
        if (probe.rangeTotal > 0) probeTotal = probe.rangeTotal;
    } else if (probe.contentLength > 0 && probe.status == 200) {
        probeTotal = probe.contentLength;
    }
    if (probeTotal > 0) t->totalBytes = probeTotal;

    ResumeFacts facts;
    facts.doneBytes = t->carriedBytes;
    facts.recordedTotal = recordedTotal;
    facts.acceptsRanges = acceptsRanges;
    facts.probeTotal = probeTotal;
    facts.probeEtag = json::toUtf8(probe.etag);
    facts.probeLastModified = json::toUtf8(probe.lastModified);

    std::wstring nameSource = url;
    {
        std::lock_guard<std::mutex> lock(t->urlLock);
        facts.recordedEtag = t->etag;
        facts.recordedLastModified = t->lastModified;
        t->etag = facts.probeEtag;
        t->lastModified = facts.probeLastModified;
        if (!probe.finalUrl.empty()) {
            t->effectiveUrl = json::toUtf8(probe.finalUrl);
            nameSource = probe.finalUrl;
        }
    }
    post(WM_DOWNLOAD_CHANGED);  // address and size known: the journal takes them

    if (!t->carriesPart) {
        std::wstring fileName;
        if (!fileNameFromAddress(nameSource, fileName)) fileName = sanitizeFileName(t->name) + L".exe";
        const std::wstring file = t->claimPaths(directory + L"\\" + fileName);
        if (t->cancelRequested) return;
        if (!t->md5.empty() && reuseVerifiedFile(t, {file})) return;
    }
    if (t->cancelRequested) return;

    const std::wstring partPath = t->getPartPath();
    int64_t total = t->totalBytes.load();
    ResumePlan plan;
    if (t->carriesPart) {
        facts.partSize = existingFileSize(partPath);
        plan = planResume(facts);
    }
    bool ok = false;
    if (plan.from > 0) {
        // Continues the part file: its first bytes are the same file's, as the validator says.
        t->downloadedBytes = plan.from;
        t->durableBytes = plan.from;
        post(WM_DOWNLOAD_CHANGED);
        bool changed = false;
        ok = plan.from >= total || downloadPart(t, plan.from, total - 1, true, false, plan.ifRange, &changed);
        if (t->cancelRequested) return;
        if (changed) plan.from = 0;  // changed on the server since: all of it again
    }
    if (plan.from == 0) {
        t->downloadedBytes = 0;
        t->durableBytes = 0;
        if (probeTotal <= 0) t->totalBytes = packageSize;  // not the size an earlier run found
        total = t->totalBytes.load();
        const int64_t available = freeDiskBytes(directory);
        const ReservePlan reserve = planReserve(total, packageSize, available);
        if (!reserve.fits) {
            fail(t, diskFullText(reserve.reserve, available));
            return;
        }
        {
            // A new file, or this job's own part file started over.
            ScopedFile file(CreateFileW(partPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file) {
                fail(t, L"无法创建下载文件");
                return;
            }
            t->partCreated = true;
            if (reserve.reserve > 0) {
                // Reserved from the start, so writes do not grow the file; a disk that filled up
                // since the free space was read fails here rather than after a long transfer.
                LARGE_INTEGER size;
                size.QuadPart = reserve.reserve;
                if (!SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())) {
                    fail(t, L"磁盘写入失败");
                    return;
                }
            }
        }
        post(WM_DOWNLOAD_CHANGED);
        const int64_t end = total >= 0 ? total - 1 : -1;
        ok = downloadPart(t, 0, end, total > 0 && acceptsRanges, true);
    }
    if (t->cancelRequested) return;
    if (!ok) {
        std::wstring text = t->getError();
        fail(t, text.empty() ? L"下载中断，请重试" : text);
        return;
    }
    const int64_t finalTotal = t->totalBytes.load();
    if (finalTotal > 0 && finalTotal < total) {
        // The transfer's own answer gave a smaller size than the probe: drop the unused
        // pre-sized tail so the file is what the server sent.
        ScopedFile file(CreateFileW(partPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size;
        size.QuadPart = finalTotal;
        if (!file || !SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())) {
            fail(t, L"磁盘写入失败");
            return;
        }
    }
    t->speed = 0;
    TaskState expected = TaskState::Downloading;
    if (!t->state.compare_exchange_strong(expected, TaskState::Verifying)) return;
    t->retryCount = 0;
    post(WM_DOWNLOAD_CHANGED);

    if (!t->md5.empty()) {
        std::string digest;
        if (fileMd5HexPatient(partPath, digest, &t->cancelRequested)) {
            t->md5Ok = digestMatches(t->md5, digest);
        } else if (!t->cancelRequested) {
            // A digest was promised but the file could not be read: never run it unchecked.
            t->md5Ok = false;
            t->md5Unverified = true;
        }
    }

    std::wstring filePath = t->getFilePath();
    FileClaim archiveName;
    const std::string type = sniffArchive(partPath);
    if (!type.empty()) {
        t->isArchive = true;
        const std::wstring archivePath = withExtension(filePath, type);
        if (_wcsicmp(archivePath.c_str(), filePath.c_str()) != 0) filePath = archiveName.take(archivePath);
    }

    // A cancel during verification wins: nothing is kept, run or announced.
    if (t->cancelRequested) {
        DeleteFileW(partPath.c_str());
        return;
    }
    if (!MoveFileExW(partPath.c_str(), filePath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        fail(t, L"保存文件失败（文件被占用？）");
        return;
    }
    if (archiveName.held()) t->adoptClaim(std::move(archiveName), filePath);
    t->noteVerified(filePath);
    t->speed = 0;
    expected = TaskState::Verifying;
    if (!t->state.compare_exchange_strong(expected, TaskState::Completed)) {
        // Cancelled while the file was being moved.
        DeleteFileW(filePath.c_str());
        return;
    }
    post(WM_DOWNLOAD_CHANGED);
    post(WM_DOWNLOAD_FINISHED, static_cast<WPARAM>(t->appId), static_cast<LPARAM>(t->generation));
}
