// Parses a generated catalog-like JSON text of about 8 MiB several times and prints
// the throughput. Runs natively and under Wine.
#include "json/json.h"

#include <chrono>
#include <cstdio>
#include <string>

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

}  // namespace

int main() {
    const std::string text = makeCatalog(8u << 20);
    const int rounds = 10;
    size_t apps = 0;
    double best = 1e9, total = 0, first = 0;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        auto root = json::parse(text);
        const auto t1 = std::chrono::steady_clock::now();
        const double sec = std::chrono::duration<double>(t1 - t0).count();
        if (i == 0) first = sec;
        best = sec < best ? sec : best;
        total += sec;
        if (!root) {
            std::printf("parse failed\n");
            return 1;
        }
        apps = root->lookup("data")->lookup("apps")->array().size();
    }
    const double mb = static_cast<double>(text.size()) / (1024.0 * 1024.0);
    std::printf("json parse: %.2f MiB, %zu apps, %d rounds: first %.1f MB/s, best %.1f MB/s, mean %.1f MB/s\n", mb,
                apps, rounds, mb / first, mb / best, mb * rounds / total);
    return 0;
}
