// Fault soak: many downloads through the manager against the test server's hostile
// download route (tools/testserver/routes/soak.py), each request answered with a fault
// drawn from a seed. Every job must end by itself; a finished file must hold exactly the
// server's bytes with no part file beside it; a failed job must say why; and at least
// 95 % of the jobs must end as byte-exact files, since retries and resumption are there
// to carry a download through exactly these faults.
//   download_soak [--jobs N] [--seed TEXT] [--parallel P]
// Prints the counts and the faults the server drew; exits 0 only when no job broke those
// rules, enough finished byte-exact and the server's tally could be read.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "download/format.h"
#include "download/manager.h"
#include "download/retry.h"
#include "download/support.h"
#include "download/verify.h"
#include "json/encoding.h"
#include "json/json.h"
#include "net/http.h"
#include "support/test_server.h"

namespace {

constexpr DWORD kJobDeadlineMs = 300000;  // bounds a job; far beyond what 13 quick failures take
constexpr int kMinExactPercent = 95;

// Retry pauses stand in for the real 0.5-4 s: the soak is about outcomes, not waiting.
uint32_t soakPause(int32_t attempt) { return static_cast<uint32_t>(2 * attempt); }

struct Job {
    int32_t id = 0;
    int64_t size = 0;
    bool known = true;        // the server tells the total
    int64_t catalogSize = 0;  // what the catalog says: the size, or 0
    std::string md5;          // the catalog digest, or empty
    std::shared_ptr<Task> task;
    ULONGLONG startedAt = 0;
};

struct Counts {
    int finished = 0, exact = 0, corrupt = 0, failed = 0, silent = 0, hung = 0, partLeft = 0, other = 0;
    int digestMismatchOnExact = 0;
    std::map<std::string, int> messages;
};

std::string expectedBytes(int64_t size) {
    std::string out(static_cast<size_t>(size), '\0');
    for (int64_t i = 0; i < size; ++i) out[static_cast<size_t>(i)] = static_cast<char>(testserver::patternByte(i));
    return out;
}

int64_t drawSize(std::mt19937_64& rng) {
    static const int64_t edges[] = {1, 2, 100, 65535, 65536, 65537, 131072, 524288};
    if (rng() % 4 == 0) return edges[rng() % (sizeof edges / sizeof edges[0])];
    return 1 + static_cast<int64_t>(rng() % 600000);
}

std::string argValue(int argc, char** argv, const char* name, const char* fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
    return fallback;
}

std::shared_ptr<Task> findTask(DownloadManager& m, int32_t id) {
    std::lock_guard<std::mutex> lock(m.tasksLock);
    auto it = m.tasks.find(id);
    return it == m.tasks.end() ? nullptr : it->second;
}

void judge(const Job& j, Counts& c) {
    Task* t = j.task.get();
    const TaskState s = t->state.load();
    if (s == TaskState::Completed) {
        ++c.finished;
        const std::wstring path = t->getFilePath();
        const std::string got = dltest::readFile(path);
        const bool exact = got == expectedBytes(j.size);
        if (exact) {
            ++c.exact;
            if (!j.md5.empty() && !t->md5Ok.load()) ++c.digestMismatchOnExact;
        } else {
            ++c.corrupt;
            std::printf("corrupt: job %d, size %lld, got %zu bytes, known %d, catalog size %lld, digest %s\n", j.id,
                        static_cast<long long>(j.size), got.size(), j.known ? 1 : 0,
                        static_cast<long long>(j.catalogSize), j.md5.empty() ? "no" : "yes");
        }
        if (dltest::fileExists(t->getPartPath())) ++c.partLeft;
        DeleteFileW(path.c_str());
    } else if (s == TaskState::Failed) {
        ++c.failed;
        const std::string text = json::toUtf8(t->getError());
        if (text.empty()) ++c.silent;
        ++c.messages[text];
        DeleteFileW(t->getPartPath().c_str());
    } else {
        ++c.other;
        std::printf("job %d ended in state %d\n", j.id, static_cast<int>(s));
    }
}

std::string md5Of(const dltest::TempDir& dir, int64_t size) {
    const std::wstring ref = dir.file(L"reference.bin");
    dltest::writeFile(ref, expectedBytes(size));
    std::string hex;
    fileMd5Hex(ref, hex);
    DeleteFileW(ref.c_str());
    return hex;
}

}  // namespace

int main(int argc, char** argv) {
    const int jobs = std::atoi(argValue(argc, argv, "--jobs", "100").c_str());
    const std::string seed = argValue(argc, argv, "--seed", "1");
    const int parallel = std::atoi(argValue(argc, argv, "--parallel", "12").c_str());
    if (jobs <= 0 || parallel <= 0) {
        std::fprintf(stderr, "usage: download_soak [--jobs N] [--seed TEXT] [--parallel P]\n");
        return 2;
    }
    if (testserver::httpBase().empty()) {
        std::fprintf(stderr, "test server not running (KV_TESTSERVER_DIR)\n");
        return 2;
    }

    dltest::TempDir dir(L"soak");
    setDownloadDirectory(dir.path());
    retryPause = &soakPause;
    DownloadManager& m = DownloadManager::instance();
    const std::string prefix = testserver::uniquePath("soak");  // ".../soak": a fresh prefix
    const std::string base = json::toUtf8(testserver::httpBase()) + prefix.substr(0, prefix.rfind('/'));

    std::seed_seq seq(seed.begin(), seed.end());
    std::mt19937_64 rng(seq);
    std::vector<Job> all(static_cast<size_t>(jobs));
    int withDigest = 0, unknown = 0;
    for (int i = 0; i < jobs; ++i) {
        Job& j = all[static_cast<size_t>(i)];
        j.id = 100000 + i;
        j.size = drawSize(rng);
        j.known = i % 2 == 0;
        j.catalogSize = j.known && (i / 2) % 2 == 0 ? j.size : 0;
        if ((i / 4) % 2 == 0) {
            j.md5 = md5Of(dir, j.size);
            ++withDigest;
        }
        if (!j.known) ++unknown;
    }

    const auto began = std::chrono::steady_clock::now();
    Counts c;
    std::vector<Job*> running;
    size_t next = 0;
    while (next < all.size() || !running.empty()) {
        while (next < all.size() && static_cast<int>(running.size()) < parallel) {
            Job& j = all[next++];
            const std::string url = base + "/soak/download/" + std::to_string(j.id) +
                                    "?channel=soak&size=" + std::to_string(j.size) + "&seed=" + seed +
                                    "&known=" + (j.known ? "1" : "0");
            m.start(j.id, L"soak" + std::to_wstring(j.id), url, j.md5, j.catalogSize);
            j.task = findTask(m, j.id);
            j.startedAt = GetTickCount64();
            running.push_back(&j);
        }
        std::vector<HANDLE> handles;
        for (Job* j : running) handles.push_back(j->task->thread.get());
        WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, 200);
        for (size_t k = 0; k < running.size();) {
            Job* j = running[k];
            const bool ended = WaitForSingleObject(j->task->thread.get(), 0) == WAIT_OBJECT_0;
            if (!ended && GetTickCount64() - j->startedAt < kJobDeadlineMs) {
                ++k;
                continue;
            }
            if (!ended) {
                ++c.hung;
                std::printf("hung: job %d\n", j->id);
                m.cancel(j->id);
                WaitForSingleObject(j->task->thread.get(), 60000);
            } else {
                judge(*j, c);
            }
            {
                std::lock_guard<std::mutex> lock(m.tasksLock);
                m.tasks.erase(j->id);
            }
            running.erase(running.begin() + static_cast<std::ptrdiff_t>(k));
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

    std::string tallyText;
    std::wstring error;
    std::string faults;
    int answers = 0, clean = 0;
    if (httpGetText(json::toWide(base + "/soak/tally"), tallyText, error)) {
        std::shared_ptr<json::Value> v = json::parse(tallyText);
        if (v) {
            for (const auto& member : v->object()) {
                const int n = member.second->asInt(0);
                faults += (faults.empty() ? "" : ", ") + member.first + " " + std::to_string(n);
                answers += n;
                if (member.first == "clean" || member.first == "redirect") clean += n;
            }
        }
    }

    std::printf("soak: seed %s, %d jobs (%d with a catalog digest, %d of unknown size), %.1f s\n", seed.c_str(), jobs,
                withDigest, unknown, seconds);
    std::printf("finished %d: byte-exact %d (%.1f %% of the jobs, at least %d %% wanted), corrupt %d, part file "
                "left %d, exact but digest mismatch %d\n",
                c.finished, c.exact, 100.0 * c.exact / jobs, kMinExactPercent, c.corrupt, c.partLeft,
                c.digestMismatchOnExact);
    std::printf("failed %d: without a message %d\n", c.failed, c.silent);
    for (const auto& msg : c.messages) std::printf("  %4d  %s\n", msg.second, msg.first.c_str());
    std::printf("hung %d, other end states %d\n", c.hung, c.other);
    if (answers == 0)
        std::printf("answers drawn: unknown, the server's tally could not be read (%s)\n", json::toUtf8(error).c_str());
    else
        std::printf("answers drawn: %d, %d of them faults: %s\n", answers, answers - clean, faults.c_str());
    retryPause = &realRetryPause;
    setDownloadDirectory(std::wstring());
    const bool ok = c.corrupt == 0 && c.partLeft == 0 && c.silent == 0 && c.hung == 0 && c.other == 0 &&
                    c.digestMismatchOnExact == 0 && c.finished + c.failed == jobs &&
                    static_cast<int64_t>(c.exact) * 100 >= static_cast<int64_t>(jobs) * kMinExactPercent &&
                    answers > clean;
    std::printf("soak %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}
