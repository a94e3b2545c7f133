// libFuzzer entry: any bytes must give a tree or null, never a crash or an
// out-of-bounds read; whatever parses is walked through every accessor. The streamed and
// the incremental parse must agree with the whole parse.
#include "json/json.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void walk(const json::Value& v, int depth) {
    (void)v.asString("");
    (void)v.asNumber(0);
    (void)v.asInt(0);
    (void)v.asInt64(0);
    (void)v.asBool(false);
    (void)v.lookup("data");
    (void)v.at(0);
    if (depth > 80) std::abort();  // the parser must never nest deeper than 64
    for (const auto& e : v.array()) walk(*e, depth + 1);
    for (const auto& m : v.object()) {
        (void)json::escape(m.first);
        walk(*m.second, depth + 1);
    }
    if (v.kind == json::String) (void)json::escape(v.string());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    auto root = json::parse(text);
    if (root) walk(*root, 0);
    // Streaming the arrays away must not change what is accepted, nor what they hold.
    size_t visited = 0;
    auto streamed = json::parse(text, {{{"data", "apps"}, [&visited](const json::Value& e) {
                                            walk(e, 3);
                                            ++visited;
                                        }}});
    if ((root == nullptr) != (streamed == nullptr)) std::abort();
    if (root) {
        const json::Value* data = root->lookup("data");
        const json::Value* apps = data ? data->lookup("apps") : nullptr;
        if ((apps ? apps->array().size() : 0) != visited) std::abort();
        walk(*streamed, 0);
    }
    // Fed in pieces (their sizes taken from the text itself), the incremental parse must
    // accept the same texts and visit the same number of elements.
    size_t fedVisits = 0;
    json::StreamParser parser({{{"data", "apps"}, [&fedVisits](const json::Value& e) {
                                   walk(e, 3);
                                   ++fedVisits;
                               }}});
    for (size_t at = 0, i = 0; at < text.size(); ++i) {
        const size_t n = std::min<size_t>(text.size() - at, 1 + static_cast<unsigned char>(text[i % text.size()]) % 17);
        const std::string piece = text.substr(at, n);
        parser.feed(piece.data(), piece.size());
        at += n;
    }
    auto fed = parser.finish();
    if ((root == nullptr) != (fed == nullptr)) std::abort();
    if (root && fedVisits != visited) std::abort();
    if (fed) walk(*fed, 0);
    return 0;
}
