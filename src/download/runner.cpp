// The runner: probe, size, name, part file, transfer, digest, archive sniffing, final move.
#include <cwchar>
#include <vector>

#include "download/format.h"
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

void DownloadManager::run(std::shared_ptr<Task> task) {
    Task* t = task.get();
    const CancelCleanup cleanup(t);
    const int64_t packageSize = t->totalBytes.load();  // the catalog's, before the probe speaks
    const std::wstring url = json::toWide(t->url);
    const std::vector<HttpHeader> probeHeaders{{L"Range", L"bytes=0-0"}};
    const HttpDataSink refuseBody = [](const unsigned char*, unsigned long) { return false; };

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
    if (probe.hasContentRange && probe.status == 206) {
        acceptsRanges = true;
        if (probe.rangeTotal > 0) t->totalBytes = probe.rangeTotal;
    } else if (probe.contentLength > 0 && probe.status == 200) {
        t->totalBytes = probe.contentLength;
    }

    std::wstring nameSource = url;
    if (!probe.finalUrl.empty()) {
        std::string final = json::toUtf8(probe.finalUrl);
        std::lock_guard<std::mutex> lock(t->urlLock);
        t->effectiveUrl = final;
        nameSource = probe.finalUrl;
    }
    // The folder of the job's acceptance, made here rather than on the window's thread:
    // on a share that went away this may wait for the network.
    const std::wstring directory = ensureDownloadDirectory(t->directory);
    std::wstring fileName;
    if (!fileNameFromAddress(nameSource, fileName)) fileName = sanitizeFileName(t->name) + L".exe";
    t->claimPaths(directory + L"\\" + fileName);
    if (t->cancelRequested) return;

    const std::wstring partPath = t->getPartPath();
    const int64_t total = t->totalBytes.load();
    const int64_t available = freeDiskBytes(directory);
    const ReservePlan plan = planReserve(total, packageSize, available);
    if (!plan.fits) {
        fail(t, diskFullText(plan.reserve, available));
        return;
    }
    {
        // Always a new file: nothing from an earlier run is reused.
        ScopedFile file(CreateFileW(partPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            fail(t, L"无法创建下载文件");
            return;
        }
        t->partCreated = true;
        if (plan.reserve > 0) {
            // Reserved from the start, so writes do not grow the file; a disk that filled up
            // since the free space was read fails here rather than after a long transfer.
            LARGE_INTEGER size;
            size.QuadPart = plan.reserve;
            if (!SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())) {
                fail(t, L"磁盘写入失败");
                return;
            }
        }
    }

    const int64_t end = total >= 0 ? total - 1 : -1;
    const bool ok = downloadPart(t, 0, end, total > 0 && acceptsRanges, true);
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
