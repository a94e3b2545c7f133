// Streamed arrays: parse(text, streams) must accept exactly what parse(text) accepts
// and hand over exactly the elements the tree would hold at that path.
#include "json/json.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// A value written back as text, precisely enough to tell any two trees apart.
std::string dump(const json::Value& v) {
    switch (v.kind) {
    case json::Null: return "null";
    case json::Bool: return v.boolean ? "true" : "false";
    case json::Number: {
        uint64_t bits;
        std::memcpy(&bits, &v.number, sizeof bits);
        return "#" + std::to_string(bits);
    }
    case json::String: return "\"" + json::escape(v.string()) + "\"";
    case json::Array: {
        std::string s = "[";
        for (const auto& e : v.array()) s += dump(*e) + ",";
        return s + "]";
    }
    case json::Object: {
        std::string s = "{";
        for (const auto& m : v.object()) s += "\"" + json::escape(m.first) + "\":" + dump(*m.second) + ",";
        return s + "}";
    }
    }
    return "?";
}

struct Streamed {
    std::shared_ptr<json::Value> root;
    std::vector<std::string> visited;
};

Streamed parseStreamed(const std::string& text, const std::vector<std::string>& path) {
    Streamed out;
    out.root = json::parse(text, {{path, [&out](const json::Value& e) { out.visited.push_back(dump(e)); }}});
    return out;
}

// The elements parse(text) holds at path, found the way lookup finds them.
std::vector<std::string> elementsAt(const json::Value& root, const std::vector<std::string>& path) {
    const json::Value* at = &root;
    for (const auto& key : path) {
        at = at->lookup(key.c_str());
        if (!at) return {};
    }
    std::vector<std::string> out;
    for (const auto& e : at->array()) out.push_back(dump(*e));
    return out;
}

void expectSameAsTree(const std::string& text, const std::vector<std::string>& path) {
    auto plain = json::parse(text);
    Streamed streamed = parseStreamed(text, path);
    ASSERT_EQ(plain == nullptr, streamed.root == nullptr) << text;
    if (plain) {
        EXPECT_EQ(elementsAt(*plain, path), streamed.visited) << text;
    }
}

}  // namespace

TEST(JsonStream, ElementsAreVisitedInOrderAndLeftOutOfTheTree) {
    Streamed s = parseStreamed(R"({"code":0,"data":{"apps":[{"id":1},2,"x",[3],null],"n":"k"}})", {"data", "apps"});
    ASSERT_NE(s.root, nullptr);
    EXPECT_EQ(s.visited, (std::vector<std::string>{"{\"id\":#4607182418800017408,}", "#4611686018427387904",
                                                    "\"x\"", "[#4613937818241073152,]", "null"}));
    const json::Value* apps = s.root->lookup("data")->lookup("apps");
    ASSERT_NE(apps, nullptr);
    EXPECT_EQ(apps->kind, json::Array);
    EXPECT_TRUE(apps->array().empty());
    EXPECT_EQ(s.root->lookup("data")->lookup("n")->asString(""), "k");
    EXPECT_EQ(s.root->lookup("code")->asNumber(1), 0.0);
}

TEST(JsonStream, PathsFollowTheFirstMemberOfEachKey) {
    const struct {
        const char* name;
        const char* text;
        std::vector<std::string> path;
    } cases[] = {
        {"second array of the same key is kept", R"({"a":[1],"a":[2]})", {"a"}},
        {"second parent of the same key is kept", R"({"d":{"a":[1]},"d":{"a":[2]}})", {"d", "a"}},
        {"first parent without the key", R"({"d":{},"d":{"a":[2]}})", {"d", "a"}},
        {"parent is an array", R"({"d":[{"a":[1]}]})", {"d", "a"}},
        {"member is an object", R"({"a":{"0":1}})", {"a"}},
        {"member is a number", R"({"a":5})", {"a"}},
        {"escaped key", R"({"\u0061":[1,2]})", {"a"}},
        {"root array", R"([1,[2],{"a":3}])", {}},
        {"nested arrays inside elements stay whole", R"({"a":[[1,[2]],[]]})", {"a"}},
        {"empty array", R"({"a":[]})", {"a"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectSameAsTree(c.text, c.path);
    }
    Streamed dup = parseStreamed(R"({"a":[1],"a":[2]})", {"a"});
    ASSERT_NE(dup.root, nullptr);
    EXPECT_EQ(dup.visited.size(), 1u);
    EXPECT_EQ(dump(*dup.root->object()[1].second), "[#4611686018427387904,]");
}

TEST(JsonStream, TwoPathsUnderOneParent) {
    std::vector<std::string> categories, apps;
    auto root = json::parse(R"({"data":{"apps":[1,2],"categories":["a"]}})",
                            {{{"data", "categories"}, [&](const json::Value& e) { categories.push_back(dump(e)); }},
                             {{"data", "apps"}, [&](const json::Value& e) { apps.push_back(dump(e)); }}});
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(categories, (std::vector<std::string>{"\"a\""}));
    EXPECT_EQ(apps.size(), 2u);
}

TEST(JsonStream, RejectedTextsAreRejectedAfterSomeVisits) {
    const char* texts[] = {"{\"a\":[1,2,", "{\"a\":[1,2]", "{\"a\":[1,2]} x", "{\"a\":[1,,2]}", "{\"a\":[1 2]}"};
    for (const char* text : texts) {
        Streamed s = parseStreamed(text, {"a"});
        EXPECT_EQ(s.root, nullptr) << text;
        EXPECT_EQ(json::parse(text), nullptr) << text;
    }
}

TEST(JsonStream, AVisitorsExceptionEndsTheParseAndTheNextParseWorks) {
    int seen = 0;
    EXPECT_THROW(json::parse("{\"a\":[1,[2,3],4]}", {{{"a"}, [&seen](const json::Value&) {
                                                          if (++seen == 2) throw std::runtime_error("stop");
                                                      }}}),
                 std::runtime_error);
    EXPECT_EQ(seen, 2);
    Streamed s = parseStreamed("{\"a\":[1,[2,3],4]}", {"a"});
    ASSERT_NE(s.root, nullptr);
    EXPECT_EQ(s.visited.size(), 3u);
}

TEST(JsonStream, MutatedTextsAgreeWithTheTree) {
    const std::string seeds[] = {
        R"({"data":{"categories":[{"id":"1","name":"\u4e2d"}],"apps":[{"id":1,"name":"a\nb","categoryIds":["3"]},{"id":2.5e3,"x":[true,false,null]}]}})",
        R"({"data":{"apps":[1,"\ud83d\ude00",[{"a":[]}]]},"data":{"apps":[9]}})",
    };
    uint32_t state = 777;
    for (const auto& seed : seeds) {
        for (int round = 0; round < 1500; ++round) {
            std::string text = seed;
            for (int k = 0; k < 2; ++k) {
                state = state * 1103515245u + 12345u;
                text[(state >> 8) % text.size()] = "[]{}\",:\\ 0a"[(state >> 24) % 12];
            }
            expectSameAsTree(text, {"data", "apps"});
            // Any byte value, not only JSON's own characters, and half of the texts cut short.
            std::string any = seed;
            for (int k = 0; k < 3; ++k) {
                state = state * 1103515245u + 12345u;
                any[(state >> 8) % any.size()] = static_cast<char>(state >> 24);
            }
            state = state * 1103515245u + 12345u;
            if (round % 2) any.resize((state >> 8) % (any.size() + 1));
            expectSameAsTree(any, {"data", "apps"});
            if (HasFailure()) return;
        }
    }
}

namespace {

struct Fed {
    std::shared_ptr<json::Value> root;
    std::vector<std::string> visited;
};

// The text fed to a StreamParser in pieces that end at the given offsets (ascending).
Fed feedInPieces(const std::string& text, const std::vector<std::string>& path, const std::vector<size_t>& cuts) {
    Fed out;
    json::StreamParser parser({{path, [&out](const json::Value& e) { out.visited.push_back(dump(e)); }}});
    size_t at = 0;
    for (size_t cut : cuts) {
        // Each piece in storage of its own, so that reading past a piece's end shows.
        const std::string piece = text.substr(at, cut - at);
        parser.feed(piece.data(), piece.size());
        at = cut;
    }
    const std::string rest = text.substr(at);
    parser.feed(rest.data(), rest.size());
    out.root = parser.finish();
    return out;
}

void expectSameAsWhole(const std::string& text, const std::vector<std::string>& path, const std::vector<size_t>& cuts) {
    Streamed whole = parseStreamed(text, path);
    Fed fed = feedInPieces(text, path, cuts);
    ASSERT_EQ(whole.root == nullptr, fed.root == nullptr) << text;
    if (whole.root) {
        EXPECT_EQ(dump(*whole.root), dump(*fed.root)) << text;
        EXPECT_EQ(whole.visited, fed.visited) << text;
    }
}

const std::vector<std::string> kCatalogPath = {"data", "apps"};

// Texts on and off the streamed paths, accepted and not, with the parser's lenient corners.
const char* const kPieceTexts[] = {
    R"({"code":0,"data":{"categories":[{"id":"1","name":"\u4e2d"}],"apps":[{"id":1,"name":"a\nb"},2,"x",[3],null]},"msg":"ok"})",
    R"( {"data" : { "apps" : [ {"id" : 1.5e3} , "q\"]," , -0 , true ] } } )",
    R"({"data":{"apps":[1],"apps":[2]},"data":{"apps":[3]}})",
    R"({"d\u0061ta":{"\u0061pps":["\ud83d\ude00","\ud83d","\u12"]}})",
    R"({"data":{"apps":["\\",{"\\":"\""},"\u005c"]}})",
    "\xEF\xBB\xBF{\"data\":{\"apps\":[1,2]}}",
    "\xEF\xBB\xBF\xEF\xBB\xBF{}",
    " \xEF\xBB\xBF{}",
    "\xEF\xBB\xBF",
    "\xEF\xBB",
    "",
    "   ",
    "{}",
    "[1,2]",
    "\"open string at the end",
    "{\"data\":{\"apps\":[\x0B" "1,\x0C 2,+5,007,1e999,.5,0x10]}}",
    R"({"data":{"apps":[1,]}})",
    R"({"data":{"apps":[,1]}})",
    R"({"data":{"apps":[1 2]}})",
    R"({"data":{"apps":[{"a":1]]}})",
    R"({"data":{"apps":[1}}})",
    R"({"data":{"apps":[1]]}})",
    R"({"data":{"x":[1}],"apps":[1]}})",
    R"({"data":{"apps":[1]},})",
    R"({"data":{"apps":[1]}} x)",
    R"({"data":{"apps":[1]})",
    R"({"data":{"apps":[1],"n":tru}})",
    R"({"data":{"apps":["open)",
    R"({"data" "apps"})",
    R"({data:{}})",
    R"({"data":{"apps":[{"a":"\"}"}]}})",
};

// Reproducible mutations: seed texts with two characters replaced, cut into random pieces.
class Mutator {
public:
    explicit Mutator(uint32_t seed) : state_(seed) {}
    std::string mutate(const std::string& seed, const std::string& alphabet) {
        std::string text = seed;
        for (int k = 0; k < 2; ++k) text[next() % text.size()] = alphabet[next() % alphabet.size()];
        return text;
    }
    std::vector<size_t> cuts(size_t size) {
        std::vector<size_t> out;
        for (size_t at = next() % 8; at < size; at += 1 + next() % 9) out.push_back(at);
        return out;
    }

private:
    uint32_t next() {
        state_ = state_ * 1103515245u + 12345u;
        return state_ >> 8;
    }
    uint32_t state_;
};

}  // namespace

TEST(JsonStreamParser, EveryCutGivesWhatTheWholeTextGives) {
    for (const char* t : kPieceTexts) {
        const std::string text = t;
        SCOPED_TRACE(text);
        for (size_t cut = 0; cut <= text.size(); ++cut) expectSameAsWhole(text, kCatalogPath, {cut});
        std::vector<size_t> everyByte;
        for (size_t i = 1; i < text.size(); ++i) everyByte.push_back(i);
        expectSameAsWhole(text, kCatalogPath, everyByte);
        if (HasFailure()) return;
    }
}

TEST(JsonStreamParser, OtherPathsAndNoPaths) {
    const struct {
        const char* text;
        std::vector<std::string> path;
    } cases[] = {
        {R"({"a":[1,[2],{"b":3}],"c":{"a":[4]}})", {"a"}},
        {R"([1,[2],{"a":3}])", {}},
        {R"({"d":{"e":{"f":[1,2]}}})", {"d", "e", "f"}},
        {R"({"d":[{"a":[1]}]})", {"d", "a"}},
        {R"({"d":{},"d":{"a":[2]}})", {"d", "a"}},
    };
    for (const auto& c : cases) {
        const std::string text = c.text;
        for (size_t cut = 0; cut <= text.size(); ++cut) expectSameAsWhole(text, c.path, {cut});
    }
    Fed twoPaths;
    json::StreamParser parser({{{"data", "categories"}, [&](const json::Value& e) { twoPaths.visited.push_back("c" + dump(e)); }},
                               {{"data", "apps"}, [&](const json::Value& e) { twoPaths.visited.push_back("a" + dump(e)); }}});
    const std::string text = R"({"data":{"apps":[1],"categories":["x"],"apps":[2]}})";
    for (char c : text) parser.feed(&c, 1);
    ASSERT_NE(parser.finish(), nullptr);
    EXPECT_EQ(twoPaths.visited, (std::vector<std::string>{"a#4607182418800017408", "c\"x\""}));
}

TEST(JsonStreamParser, AFaultFoundLateStillRejectsAfterTheVisits) {
    const std::string good = R"({"data":{"apps":[{"id":1},{"id":2}]}})";
    for (const std::string& bad : {good.substr(0, good.size() - 1), good + "x", good.substr(0, 25) + "]" + good.substr(25)}) {
        for (size_t cut = 0; cut <= bad.size(); ++cut) {
            Fed fed = feedInPieces(bad, kCatalogPath, {cut});
            EXPECT_EQ(fed.root, nullptr) << bad;
        }
    }
    Fed late = feedInPieces(good + "x", kCatalogPath, {10});
    EXPECT_EQ(late.visited.size(), 2u);
}

TEST(JsonStreamParser, AfterAFaultTheRestIsIgnored) {
    int seen = 0;
    json::StreamParser parser({{kCatalogPath, [&seen](const json::Value&) { ++seen; }}});
    const std::string head = R"({"data":{"apps":[1,,)";
    parser.feed(head.data(), head.size());
    EXPECT_TRUE(parser.failed());
    const std::string tail = R"(2,3]}})";
    parser.feed(tail.data(), tail.size());
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(parser.finish(), nullptr);
}

TEST(JsonStreamParser, AVisitorsExceptionLeavesTheParserFailed) {
    int seen = 0;
    json::StreamParser parser({{{"a"}, [&seen](const json::Value&) {
                                    if (++seen == 2) throw std::runtime_error("stop");
                                }}});
    const std::string text = "{\"a\":[1,2,3]}";
    EXPECT_THROW(parser.feed(text.data(), text.size()), std::runtime_error);
    EXPECT_TRUE(parser.failed());
    parser.feed(text.data(), text.size());
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(parser.finish(), nullptr);
}

TEST(JsonStreamParser, MutatedTextsInRandomPiecesAgreeWithTheWholeParse) {
    const std::string seeds[] = {
        R"({"data":{"categories":[{"id":"1","name":"\u4e2d"}],"apps":[{"id":1,"name":"a\nb","categoryIds":["3"]},{"id":2.5e3,"x":[true,false,null]}]}})",
        R"({"data":{"apps":[1,"\ud83d\ude00",[{"a":[]}]]},"data":{"apps":[9]}})",
        R"({"code":0,"data":{"apps":["\\\"",{"k":"v\\"}],"n":{"m":[1,{"o":"]"}]}}})",
    };
    Mutator mutator(4242);
    for (const auto& seed : seeds) {
        for (int round = 0; round < 1500; ++round) {
            const std::string text = mutator.mutate(seed, "[]{}\",:\\ 0au");
            expectSameAsWhole(text, kCatalogPath, mutator.cuts(text.size()));
            if (HasFailure()) return;
        }
    }
}

namespace {

// An element as a stream keeping only members shows it: an object's other members left
// out, any other element an empty value of its kind.
std::string keptOf(const json::Value& e, const std::vector<std::string>& members) {
    switch (e.kind) {
    case json::Object: {
        std::string s = "{";
        for (const auto& m : e.object()) {
            if (std::find(members.begin(), members.end(), m.first) != members.end())
                s += "\"" + json::escape(m.first) + "\":" + dump(*m.second) + ",";
        }
        return s + "}";
    }
    case json::Null: return "null";
    case json::Bool: return "false";
    case json::Number: return "#0";
    case json::String: return "\"\"";
    case json::Array: return "[]";
    }
    return "?";
}

}  // namespace

TEST(JsonStreamParser, SkippedValuesAreCheckedLikeAnyOtherButNeverKept) {
    const std::vector<std::string> members = {"id", "name"};
    auto skipping = [&](const std::string& text, const std::vector<size_t>& cuts, std::vector<std::string>& visited) {
        json::StreamParser parser({{kCatalogPath, [&](const json::Value& e) { visited.push_back(dump(e)); }, members}},
                                  json::OffPaths::Skip);
        size_t at = 0;
        for (size_t cut : cuts) {
            const std::string piece = text.substr(at, cut - at);
            parser.feed(piece.data(), piece.size());
            at = cut;
        }
        const std::string rest = text.substr(at);
        parser.feed(rest.data(), rest.size());
        return parser.finish();
    };

    // Off the paths nothing stays; a member on them that they cannot go on through is empty.
    std::vector<std::string> visited;
    auto root = skipping(R"({"code":0,"data":{"apps":[{"id":1,"x":[1,{"y":2}],"name":"a"},[5],"s",7],)"
                         R"("more":{"a":[1]}},"extra":[{},{}],"data":{"apps":[9]}})",
                         {9, 40, 41}, visited);
    ASSERT_TRUE(root);
    EXPECT_EQ(dump(*root), R"({"data":{"apps":[],},})");
    EXPECT_EQ(visited, (std::vector<std::string>{dump(*json::parse(R"({"id":1,"name":"a"})")), "[]", "\"\"", "#0"}));
    visited.clear();
    root = skipping(R"({"data":[{"apps":[1]}],"more":1})", {3}, visited);
    ASSERT_TRUE(root);
    EXPECT_EQ(dump(*root), R"({"data":[],})");

    // Skipping accepts exactly the texts the whole parse accepts, whatever the cuts, and
    // hands over what the whole tree holds at the path.
    auto expectSame = [&](const std::string& text, const std::vector<size_t>& cuts) {
        auto plain = json::parse(text);
        std::vector<std::string> fed;
        auto skipped = skipping(text, cuts, fed);
        ASSERT_EQ(plain == nullptr, skipped == nullptr) << text;
        std::vector<std::string> whole;
        auto wholeRoot = json::parse(
            text, {{kCatalogPath, [&](const json::Value& e) { whole.push_back(dump(e)); }, members}}, json::OffPaths::Skip);
        ASSERT_EQ(plain == nullptr, wholeRoot == nullptr) << text;
        if (!plain) return;
        EXPECT_EQ(dump(*wholeRoot), dump(*skipped)) << text;
        std::vector<std::string> expected;
        const json::Value* at = plain.get();
        for (const auto& key : kCatalogPath) at = at ? at->lookup(key.c_str()) : nullptr;
        if (at)
            for (const auto& e : at->array()) expected.push_back(keptOf(*e, members));
        EXPECT_EQ(expected, fed) << text;
        EXPECT_EQ(expected, whole) << text;
    };
    for (const char* t : kPieceTexts) {
        const std::string text = t;
        for (size_t cut = 0; cut <= text.size(); ++cut) expectSame(text, {cut});
        if (HasFailure()) return;
    }
    const std::string seeds[] = {
        R"({"data":{"categories":[{"id":"1","name":"\u4e2d"}],"apps":[{"id":1,"name":"a\nb","x":["3"]},{"id":2.5e3,"x":[true,false,null]}]}})",
        R"({"code":0,"data":{"apps":["\\\"",{"k":"v\\"},[1e5,{"name":"]"}]],"n":{"m":[1,{"o":"]"}]}},"x":[{"a":"\u12"}]})",
    };
    Mutator mutator(99);
    for (const auto& seed : seeds) {
        for (int round = 0; round < 1500; ++round) {
            const std::string text = mutator.mutate(seed, "[]{}\",:\\ 0atu");
            expectSame(text, mutator.cuts(text.size()));
            if (HasFailure()) return;
        }
    }
}

namespace {

std::string nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

std::string nestedObjects(int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "{\"k\":";
    return text + "1" + std::string(depth, '}');
}

std::string catalogWithNesting(int depth) {
    return "{\"data\":{\"apps\":[" + nested(depth) + "],\"x\":" + nested(depth) + "}}";
}

}  // namespace

// At most 64 containers open at once, counted from the root whether or not they lie on a
// streamed path; the tree, the streamed parse and the parse fed in pieces all agree.
TEST(JsonNesting, LimitIs64OpenContainersInEveryParser) {
    std::string deepPaths;
    std::vector<std::string> kPath;
    for (int i = 0; i < 70; ++i) {
        deepPaths += "{\"k\":";
        kPath.push_back("k");
    }
    deepPaths += "[]" + std::string(70, '}');
    const std::vector<std::string> a = {"a"};
    const struct {
        const char* what;
        std::string text;
        std::vector<std::string> path;
        bool accepted;
    } cases[] = {
        {"64 arrays", nested(64), a, true},
        {"65 arrays", nested(65), a, false},
        {"100000 open arrays", std::string(100000, '['), a, false},
        {"100000 open objects", std::string(100000, '{'), a, false},
        {"100000 open arrays on the catalog path", "{\"data\":{\"apps\":" + std::string(100000, '['), kCatalogPath,
         false},
        {"siblings do not add up", "[" + nested(63) + "," + nested(63) + "]", a, true},
        {"64 objects", nestedObjects(64), a, true},
        {"65 objects", nestedObjects(65), a, false},
        {"62 inside a streamed array", "{\"a\":[" + nested(62) + "]}", a, true},
        {"63 inside a streamed array", "{\"a\":[" + nested(63) + "]}", a, false},
        {"61 inside the catalog's apps and beside them", catalogWithNesting(61), kCatalogPath, true},
        {"62 inside the catalog's apps and beside them", catalogWithNesting(62), kCatalogPath, false},
        {"a streamed path 70 objects deep", deepPaths, kPath, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(json::parse(c.text) != nullptr, c.accepted);
        EXPECT_EQ(parseStreamed(c.text, c.path).root != nullptr, c.accepted);
        EXPECT_EQ(feedInPieces(c.text, c.path, {7, c.text.size() / 2}).root != nullptr, c.accepted);
        expectSameAsTree(c.text, c.path);
    }
}
