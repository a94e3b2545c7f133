// catalog_bench SERVER [ROUNDS]
// Loads SERVER + "/api/client/bootstrap" through loadCatalog and publishes it, as the
// program does at start-up and on every reload, and prints the time of each load
// (request included) and the process's peak working set. Then times the parts apart.
// catalog_bench SERVER phases: the memory after each step of a few loads.
// catalog_bench shape NAME: parses a generated 8 MiB answer of a hostile shape into
// records and publishes them, as a load does, and prints the process's peak memory (one
// shape per process).
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "catalog/catalog.h"
#include "json/json.h"
#include "net/http.h"

namespace {

double now() {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
}

PROCESS_MEMORY_COUNTERS memory() {
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
    return pmc;
}

double mib(SIZE_T bytes) { return static_cast<double>(bytes) / 1048576.0; }

// Bootstrap answers of about 8 MiB, each shaped to make one part of a load grow.
bool hostileAnswer(const std::wstring& name, std::string& body) {
    const size_t size = 8u << 20;
    auto repeat = [&](const char* head, const char* element, const char* tail) {
        body = head;
        const size_t n = std::strlen(element);
        while (body.size() + n + std::strlen(tail) < size) {
            body += element;
            body += ',';
        }
        body += element;
        body += tail;
    };
    if (name == L"empty-apps") repeat(R"({"data":{"apps":[)", "{}", "]}}");
    else if (name == L"side-array") repeat(R"({"data":{"categories":[],"apps":[]},"extra":[)", "{}", "]}");
    else if (name == L"side-numbers") repeat(R"({"data":{"apps":[],"extra":[)", "0", "]}}");
    else if (name == L"root-array") repeat("[", "{}", "]");
    else if (name == L"data-array") repeat(R"({"data":[)", "{}", "]}");
    else if (name == L"app-members") repeat(R"({"data":{"apps":[{"categoryId":"a","x":[)", "{}", "]}]}}");
    else if (name == L"shown-apps") repeat(R"({"data":{"apps":[)", R"({"categoryId":"a"})", "]}}");
    else if (name == L"category-ids") repeat(R"({"data":{"apps":[{"categoryIds":[)", R"("a")", "]}]}}");
    else if (name == L"categories") repeat(R"({"data":{"categories":[)", "{}", "]}}");
    else if (name == L"distinct-ids") {
        body = R"({"data":{"apps":[{"categoryIds":[)";
        for (unsigned i = 0; body.size() + 16 < size; ++i) body += "\"" + std::to_string(i) + "\",";
        body += R"("x"]}]}})";
    }
    else return false;
    return true;
}

int runShape(const std::wstring& name) {
    std::string body;
    if (!hostileAnswer(name, body)) {
        fwprintf(stderr, L"unknown shape %ls\n", name.c_str());
        return 2;
    }
    const double bodyMiB = mib(body.size());
    const PROCESS_MEMORY_COUNTERS before = memory();
    // Read and published as a load does: publishing builds the lists' category index.
    auto lists = std::make_shared<CatalogLists>();
    const double t0 = now();
    const bool ok = parseBootstrap(body, *lists, 0);
    static CatalogState store;
    if (ok) store.publish(lists);
    const double ms = now() - t0;
    const PROCESS_MEMORY_COUNTERS after = memory();
    wprintf(L"%-13ls %.2f MiB answer: %ls, %zu categories, %zu apps, %.0f ms; before %.1f MiB, peak working set "
            L"%.1f MiB, peak private %.1f MiB\n",
            name.c_str(), bodyMiB, ok ? L"accepted" : L"rejected", lists->categories.size(), lists->apps.size(), ms,
            mib(before.WorkingSetSize), mib(after.PeakWorkingSetSize), mib(after.PeakPagefileUsage));
    return 0;
}

constexpr double kTargetMs = 150;
constexpr double kTargetPeakMiB = 40;

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fwprintf(stderr, L"usage: catalog_bench SERVER [ROUNDS] | SERVER phases | shape NAME\n");
        return 2;
    }
    if (wcscmp(argv[1], L"shape") == 0 && argc > 2) return runShape(argv[2]);
    const std::wstring server = argv[1];
    if (argc > 2 && wcscmp(argv[2], L"phases") == 0) {
        // Memory after each step in a fresh process: where the peak comes from.
        auto show = [](const wchar_t* what) {
            const PROCESS_MEMORY_COUNTERS pmc = memory();
            wprintf(L"%-28ls working set %6.1f MiB  peak %6.1f MiB  private %6.1f MiB\n", what,
                    mib(pmc.WorkingSetSize), mib(pmc.PeakWorkingSetSize), mib(pmc.PagefileUsage));
        };
        show(L"start");
        static CatalogState store;
        if (!loadCatalog(store, server)) return 1;
        show(L"first load published");
        // Each reload reads the answer into records while it arrives, beside the lists
        // still shown, and publishes them; the old lists go when the last holder lets go.
        for (int i = 0; i < 3; ++i) loadCatalog(store, server);
        show(L"three reloads published");
        return 0;
    }
    const int rounds = argc > 2 ? _wtoi(argv[2]) : 5;
    static CatalogState catalog;

    wprintf(L"before the first load: working set %.1f MiB\n", mib(memory().WorkingSetSize));
    double best = 1e9, total = 0;
    for (int round = 1; round <= rounds; ++round) {
        const double t0 = now();
        const bool ok = loadCatalog(catalog, server);
        const double ms = now() - t0;
        if (!ok) {
            fwprintf(stderr, L"load failed: %ls\n", catalog.lastError().c_str());
            return 1;
        }
        const PROCESS_MEMORY_COUNTERS pmc = memory();
        wprintf(L"load %d: %7.1f ms  %zu categories, %zu apps  working set %.1f MiB, peak %.1f MiB\n", round, ms,
                catalog.lists()->categories.size(), catalog.lists()->apps.size(), mib(pmc.WorkingSetSize),
                mib(pmc.PeakWorkingSetSize));
        if (round > 1) {
            best = ms < best ? ms : best;
            total += ms;
        }
    }
    if (rounds > 1)
        wprintf(L"reloads: best %.1f ms, mean %.1f ms (target <= %.0f ms); peak working set %.1f MiB (target <= %.0f MiB)\n",
                best, total / (rounds - 1), kTargetMs, mib(memory().PeakWorkingSetSize), kTargetPeakMiB);

    // The parts apart, each on its own (best of three): the request, a parse into the
    // whole tree for comparison, and parseBootstrap, which makes the records while it
    // parses.
    double request = 1e9, parse = 1e9, records = 1e9;
    size_t size = 0;
    for (int i = 0; i < 3; ++i) {
        std::string body;
        std::wstring error;
        double t0 = now();
        if (!httpGetText(server + L"/api/client/bootstrap", body, error)) return 1;
        double t1 = now();
        size = body.size();
        double t2 = now();
        auto root = json::parse(body);
        double t3 = now();
        root.reset();
        CatalogLists lists;
        double t4 = now();
        parseBootstrap(body, lists);
        double t5 = now();
        request = t1 - t0 < request ? t1 - t0 : request;
        parse = t3 - t2 < parse ? t3 - t2 : parse;
        records = t5 - t4 < records ? t5 - t4 : records;
    }
    wprintf(L"parts (best of 3): request %.1f ms for %.2f MiB, json::parse into a tree %.1f ms, parseBootstrap %.1f ms\n",
            request, mib(size), parse, records);
    return 0;
}
