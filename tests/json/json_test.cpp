#include "json/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using json::parse;

TEST(JsonParse, RejectedTexts) {
    const char* rejected[] = {
        "", "   \t\r\n", "[1,]", "[,1]", "[1 2]", "{\"a\":1,}", "{\"a\" 1}", "{a:1}",
        "tru", "nul", "nan", "true1", "[1", "{\"a\":1", "-", "x", "[\"a\"", "{\"a\"}", "1 2",
    };
    for (const char* text : rejected) EXPECT_EQ(parse(text), nullptr) << "text: " << text;
}

TEST(JsonParse, WhitespaceAroundRootIsAccepted) {
    auto v = parse("  {}  \n");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->kind, json::Object);
    EXPECT_TRUE(v->object().empty());
}

TEST(JsonParse, ByteOrderMarkOnlyAtTheVeryStart) {
    auto v = parse("\xEF\xBB\xBF[]");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->kind, json::Array);
    EXPECT_EQ(parse(" \xEF\xBB\xBF[]"), nullptr);
    EXPECT_EQ(parse("\xEF\xBB\xBF"), nullptr);
}

TEST(JsonParse, DuplicateKeysAreKeptAndFirstWins) {
    auto v = parse("{\"a\":1,\"a\":2}");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->object().size(), 2u);
    ASSERT_NE(v->lookup("a"), nullptr);
    EXPECT_EQ(v->lookup("a")->asNumber(0), 1.0);
}

TEST(JsonParse, KeysCompareAsRawBytesWithLength) {
    auto v = parse(std::string("{\"a\\u0000b\":1,\"a\":2}"));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->object()[0].first, std::string("a\0b", 3));
    EXPECT_EQ(v->lookup("a")->asNumber(0), 2.0);
}

TEST(JsonParse, UnterminatedString) {
    auto top = parse("\"abc");
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->string(), "abc");
    EXPECT_EQ(parse("[\"abc"), nullptr);
    auto backslashAtEnd = parse("\"ab\\");
    ASSERT_NE(backslashAtEnd, nullptr);
    EXPECT_EQ(backslashAtEnd->string(), "ab");
}

struct StringCase {
    const char* name;
    std::string text;
    std::string value;
};

TEST(JsonParse, StringEscapes) {
    const StringCase cases[] = {
        {"latin small e acute", "\"\\u00e9\"", "\xC3\xA9"},
        {"surrogate pair", "\"\\ud83d\\ude00\"", "\xF0\x9F\x98\x80"},
        {"lone high surrogate", "\"\\ud83d\"", "\xED\xA0\xBD"},
        {"high surrogate then letter", "\"\\ud83dx\"", "\xED\xA0\xBDx"},
        {"high surrogate then bad second escape", "\"\\ud83d\\u12g4\"", "\xED\xA0\xBD\xE1\x88\x84"},
        {"short unicode escape keeps the digits", "\"\\u12\"", "12"},
        {"non-hex digit counts as zero", "\"\\u00g9\"", "\x09"},
        {"unknown escape drops the backslash", "\"\\q\\x\"", "qx"},
        {"simple escapes", "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "\"\\/\x08\x0C\n\r\t"},
        {"raw tab and control bytes kept", "\"a\tb\x01\"", "a\tb\x01"},
        {"invalid utf-8 bytes kept", "\"\xFF\xFE\"", "\xFF\xFE"},
        {"escaped zero stays", "\"a\\u0000b\"", std::string("a\0b", 3)},
        {"three-byte code point", "\"\\u4e2d\"", "\xE4\xB8\xAD"},
        {"two-byte boundary", "\"\\u07ff\\u0800\"", "\xDF\xBF\xE0\xA0\x80"},
    };
    for (const auto& c : cases) {
        auto v = parse(c.text);
        ASSERT_NE(v, nullptr) << c.name;
        EXPECT_EQ(v->kind, json::String) << c.name;
        EXPECT_EQ(v->string(), c.value) << c.name;
    }
}

TEST(JsonParse, SurrogatePairSecondUnitIsTakenAsItComes) {
    // 0x10000 + ((0xD800 - 0xD800) << 10) + (0xE000 - 0xDC00) = 0x10400
    auto v = parse("\"\\ud800\\ue000\"");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->string(), "\xF0\x90\x90\x80");
}

struct NumberCase {
    const char* text;
    double value;
};

TEST(JsonParse, NumbersFollowStrtod) {
    const NumberCase cases[] = {
        {"0", 0.0}, {"42", 42.0}, {"-17", -17.0}, {"+5", 5.0}, {"007", 7.0}, {".5", 0.5}, {"5.", 5.0},
        {"1e3", 1000.0}, {"2.5E-1", 0.25}, {"123456789012345", 123456789012345.0},
        {"1234567890123456789", 1234567890123456789.0}, {"9007199254740993", 9007199254740993.0},
        {"-0.0", -0.0}, {"3.9", 3.9},
    };
    for (const auto& c : cases) {
        auto v = parse(c.text);
        ASSERT_NE(v, nullptr) << c.text;
        EXPECT_EQ(v->kind, json::Number) << c.text;
        EXPECT_EQ(v->number, c.value) << c.text;
    }
}

TEST(JsonParse, NumberSpecialValues) {
    auto inf = parse("1e999");
    ASSERT_NE(inf, nullptr);
    EXPECT_TRUE(std::isinf(inf->number) && inf->number > 0);
    auto negZero = parse("-0");
    ASSERT_NE(negZero, nullptr);
    EXPECT_EQ(negZero->number, 0.0);
    EXPECT_TRUE(std::signbit(negZero->number));
    auto inArray = parse("[1,-2.5,3e2]");
    ASSERT_NE(inArray, nullptr);
    EXPECT_EQ(inArray->at(1)->asNumber(0), -2.5);
    EXPECT_EQ(inArray->at(2)->asNumber(0), 300.0);
}

TEST(JsonParse, LiteralsAndStructure) {
    auto v = parse("{\"t\":true,\"f\":false,\"n\":null,\"a\":[1,\"x\",{}],\"o\":{\"k\":\"v\"}}");
    ASSERT_NE(v, nullptr);
    EXPECT_TRUE(v->lookup("t")->asBool(false));
    EXPECT_FALSE(v->lookup("f")->asBool(true));
    EXPECT_EQ(v->lookup("n")->kind, json::Null);
    EXPECT_EQ(v->lookup("a")->array().size(), 3u);
    EXPECT_EQ(v->lookup("a")->at(1)->asString(""), "x");
    EXPECT_EQ(v->lookup("o")->lookup("k")->asString(""), "v");
    EXPECT_EQ(v->lookup("missing"), nullptr);
}

TEST(JsonAccessors, WrongKindsGiveTheDefault) {
    auto v = parse("[3.9,-3.9,1,\"5\",true,null,4294967297,1e300]");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->at(0)->asInt(0), 3);
    EXPECT_EQ(v->at(1)->asInt(0), -3);
    EXPECT_EQ(v->at(1)->asInt64(0), -3);
    EXPECT_FALSE(v->at(2)->asBool(false));
    EXPECT_EQ(v->at(2)->asString(""), "");
    EXPECT_EQ(v->at(3)->asInt(7), 7);
    EXPECT_EQ(v->at(3)->asNumber(1.5), 1.5);
    EXPECT_EQ(v->at(4)->asInt(9), 9);
    EXPECT_EQ(v->at(5)->asString("d"), "d");
    EXPECT_EQ(v->at(6)->asInt(0), 1);  // cut to 32 bits
    EXPECT_EQ(v->at(6)->asInt64(0), 4294967297LL);
    EXPECT_EQ(v->at(7)->asInt64(0), INT64_MAX);  // beyond the range: pinned, not undefined
    EXPECT_EQ(v->lookup("x"), nullptr);  // lookup on an array
    EXPECT_EQ(v->at(8), nullptr);
    auto two = parse("[1,2]");
    EXPECT_EQ(two->at(2), nullptr);
    auto obj = parse("{\"a\":1}");
    EXPECT_EQ(obj->at(0), nullptr);
    EXPECT_EQ(obj->lookup(nullptr), nullptr);
}

TEST(JsonParse, StrtodSpellingsBeyondJson) {
    auto hex = parse("0x1p4");
    ASSERT_NE(hex, nullptr);
    EXPECT_EQ(hex->number, 16.0);
    auto hexInt = parse("[0x10]");
    ASSERT_NE(hexInt, nullptr);
    EXPECT_EQ(hexInt->at(0)->number, 16.0);
    for (const char* text : {"inf", "-Infinity", "INF"}) {
        auto v = parse(text);
        ASSERT_NE(v, nullptr) << text;
        EXPECT_TRUE(std::isinf(v->number)) << text;
    }
    for (const char* text : {"NaN", "-nan"}) {
        auto v = parse(text);
        ASSERT_NE(v, nullptr) << text;
        EXPECT_TRUE(std::isnan(v->number)) << text;
    }
    EXPECT_EQ(parse("nan"), nullptr);  // the null test sees the lower-case n first
}

TEST(JsonStrings, RunsOfEveryLengthEndAtTheirQuote) {
    // Across the widths the reader scans at once: the closing quote and an escape at
    // every offset, and bytes that differ from a quote or backslash only in the top bit.
    for (size_t length = 0; length < 40; ++length) {
        std::string value;
        for (size_t i = 0; i < length; ++i) value += "a\xA2\xDC\x80\xFF"[i % 5];
        auto plain = parse("[\"" + value + "\",1]");
        ASSERT_NE(plain, nullptr) << length;
        EXPECT_EQ(plain->at(0)->string(), value) << length;
        EXPECT_EQ(plain->at(1)->asNumber(0), 1.0) << length;
        for (size_t at = 0; at <= length; ++at) {
            const std::string text = "\"" + value.substr(0, at) + "\\n" + value.substr(at) + "\"";
            auto escaped = parse(text);
            ASSERT_NE(escaped, nullptr) << length << " " << at;
            EXPECT_EQ(escaped->string(), value.substr(0, at) + "\n" + value.substr(at)) << length << " " << at;
        }
    }
}

TEST(JsonStrings, EscapeMixturesGiveTheirValues) {
    const StringCase pieces[] = {
        {"ascii run", "plain text here", "plain text here"},
        {"raw utf-8", "\xE4\xB8\xAD\xE6\x96\x87", "\xE4\xB8\xAD\xE6\x96\x87"},
        {"newline", "\\n", "\n"},
        {"quote", "\\\"", "\""},
        {"backslash", "\\\\", "\\"},
        {"three-byte escape", "\\u4e2d", "\xE4\xB8\xAD"},
        {"two-byte escape", "\\u00e9", "\xC3\xA9"},
        {"one-byte escape", "\\u0041", "A"},
        {"surrogate pair", "\\ud83d\\ude00", "\xF0\x9F\x98\x80"},
        {"unknown escape", "\\q", "q"},
        {"escaped zero", "\\u0000", std::string("\0", 1)},
    };
    const size_t count = sizeof pieces / sizeof pieces[0];
    uint32_t state = 4242;
    for (int round = 0; round < 300; ++round) {
        std::string text = "\"", value;
        for (int k = 0; k < 1 + round % 40; ++k) {
            state = state * 1103515245u + 12345u;
            const StringCase& piece = pieces[(state >> 16) % count];
            text += piece.text;
            value += piece.value;
        }
        auto v = parse("{\"k\":" + text + "\"}");
        ASSERT_NE(v, nullptr) << text;
        EXPECT_EQ(v->lookup("k")->string(), value) << text;
    }
}

TEST(JsonStrings, UnterminatedStringsWithEscapesKeepWhatWasRead) {
    const StringCase cases[] = {
        {"escape then end", "\"ab\\n", "ab\n"},
        {"short unicode escape at the end", "\"ab\\u12", "ab12"},
        {"backslash at the end after an escape", "\"a\\nb\\", "a\nb"},
        {"unicode escape swallows the quote", "\"\\u0\"x\"", std::string("\0", 1)},
        {"pair at the very end", "\"\\ud83d\\ude00", "\xF0\x9F\x98\x80"},
    };
    for (const auto& c : cases) {
        auto v = parse(c.text);
        ASSERT_NE(v, nullptr) << c.name;
        EXPECT_EQ(v->string(), c.value) << c.name;
    }
}

TEST(JsonStrings, KeysResolveEscapesLikeValues) {
    auto v = parse("{\"d\\u0061ta\":1,\"long key with \\\"quotes\\\" and more\":2}");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->lookup("data")->asNumber(0), 1.0);
    EXPECT_EQ(v->lookup("long key with \"quotes\" and more")->asNumber(0), 2.0);
}
