// Parses a generated catalog-like JSON text of about 8 MiB several times and prints
// the throughput, beside RapidJSON's on the same text in the same run (rounds
// interleaved, so both see the same machine load). Runs natively and under Wine.
//   bench_json [ROUNDS]      default 15
#include "json/json.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#if KV_BENCH_RAPIDJSON
#include <rapidjson/document.h>
#endif

namespace {

std::string makeCatalog(size_t targetBytes) {
    std::string s = "{\"code\":0,\"data\":{\"categories\":[";
    for (int c = 0; c < 16; ++c) {
        if (c) s += ',';
        s += "{\"id\":\"" + std::to_string(c + 1) + "\",\"name\":\"\xE5\xAE\x89\xE5\x85\xA8\xE6\x9D\x80\xE6\xAF\x92\"}";
    }
    s += "],\"apps\":[";
    for (int id = 1; s.size() < targetBytes; ++id) {
        if (id > 1) s += ',';
        s += "{\"id\":" + std::to_string(id) +
             ",\"name\":\"\xE6\x98\x9F\xE8\x88\x9F\xE5\x8A\x9E\xE5\x85\xAC " + std::to_string(id) +
             "\",\"version\":\"v12.4.1 build 7\",\"categoryIds\":[\"3\",\"7\"],"
             "\"description\":\"\xE9\xAB\x98\xE6\x95\x88\xE7\x9A\x84\xE6\x96\x87\xE6\xA1\xA3\xE7\xBC\x96\xE8\xBE\x91"
             "\xE4\xB8\x8E\xE5\x8D\x8F\xE4\xBD\x9C\xE5\xB7\xA5\xE5\x85\xB7\xEF\xBC\x8C\xE6\x94\xAF\xE6\x8C\x81\\u0020"
             "\xE5\xA4\x9A\xE4\xBA\xBA\xE5\x90\x8C\xE6\x97\xB6\xE7\xBC\x96\xE8\xBE\x91\\n\xE4\xBA\x91\xE7\xAB\xAF\xE5\x90\x8C\xE6\xAD\xA5\","
             "\"icon\":\"/static/icons/" + std::to_string(id) + ".png\",\"packageSize\":" + std::to_string(id * 104729LL) +
             ",\"md5\":\"0cc175b9c0f1b6a831c399e269772661\",\"hasPackage\":true,\"downloads\":" +
             std::to_string(id * 37) + ",\"updatedAt\":1733011200000,\"score\":4.75}";
    }
    s += "]}}";
    return s;
}

struct Figures {
    double first = 0, best = 0, median = 0;  // MB/s
};

Figures figures(std::vector<double> seconds, double mb) {
    Figures f;
    f.first = mb / seconds.front();
    std::sort(seconds.begin(), seconds.end());
    f.best = mb / seconds.front();
    const size_t n = seconds.size();
    f.median = mb / (n % 2 ? seconds[n / 2] : (seconds[n / 2 - 1] + seconds[n / 2]) / 2);
    return f;
}

double since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

constexpr double kTargetRatio = 0.5;

}  // namespace

int main(int argc, char** argv) {
    const std::string text = makeCatalog(8u << 20);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const double mb = static_cast<double>(text.size()) / (1024.0 * 1024.0);
    size_t apps = 0;
    std::vector<double> ours;
#if KV_BENCH_RAPIDJSON
    std::vector<double> yardstick;
    size_t yardstickApps = 0;
#endif
    for (int i = 0; i < rounds; ++i) {
        {
            const auto t0 = std::chrono::steady_clock::now();
            auto root = json::parse(text);
            ours.push_back(since(t0));
            if (!root) {
                std::printf("parse failed\n");
                return 1;
            }
            apps = root->lookup("data")->lookup("apps")->array().size();
        }
#if KV_BENCH_RAPIDJSON
        {
            const auto t0 = std::chrono::steady_clock::now();
            rapidjson::Document doc;
            doc.Parse(text.data(), text.size());
            yardstick.push_back(since(t0));
            if (doc.HasParseError()) {
                std::printf("rapidjson parse failed\n");
                return 1;
            }
            yardstickApps = doc["data"]["apps"].Size();
        }
#endif
    }
    const Figures o = figures(ours, mb);
    std::printf("json parse: %.2f MiB, %zu apps, %d rounds\n", mb, apps, rounds);
    std::printf("  json::parse  first %6.1f MB/s, best %6.1f MB/s, median %6.1f MB/s\n", o.first, o.best, o.median);
#if KV_BENCH_RAPIDJSON
    const Figures r = figures(yardstick, mb);
    std::printf("  RapidJSON    first %6.1f MB/s, best %6.1f MB/s, median %6.1f MB/s  (%zu apps)\n", r.first, r.best,
                r.median, yardstickApps);
    std::printf("  ratio to RapidJSON: best %.2fx (target >= %.2fx), median %.2fx (target >= %.2fx)\n", o.best / r.best,
                kTargetRatio, o.median / r.median, kTargetRatio);
#else
    std::printf("  RapidJSON not built in (install rapidjson-dev): no ratio\n");
#endif
    return 0;
}
