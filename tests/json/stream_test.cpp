// Streamed arrays: parse(text, streams) must accept exactly what parse(text) accepts
// and hand over exactly the elements the tree would hold at that path.
#include "json/json.h"

#include <gtest/gtest.h>

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

TEST(JsonStream, NestingLimitCountsTheEnclosingContainers) {
    auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    expectSameAsTree("{\"a\":[" + nested(62) + "]}", {"a"});
    expectSameAsTree("{\"a\":[" + nested(63) + "]}", {"a"});
    EXPECT_NE(parseStreamed("{\"a\":[" + nested(62) + "]}", {"a"}).root, nullptr);
    EXPECT_EQ(parseStreamed("{\"a\":[" + nested(63) + "]}", {"a"}).root, nullptr);
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
            if (HasFailure()) return;
        }
    }
}
