// Numbers: the parser's own conversion of plain decimals must give exactly the double
// that strtod gives for the same text, and read exactly as far; strtod itself is the
// reference, on whatever runtime the test runs.
#include "json/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

uint64_t bitsOf(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits;
}

// What the parser must make of text as a whole document: strtod's value when strtod
// reads all of it, no document otherwise.
void expectLikeStrtod(const std::string& text) {
    char* stop = nullptr;
    const double expected = std::strtod(text.c_str(), &stop);
    const bool whole = stop != text.c_str() && *stop == '\0';
    auto v = json::parse(text);
    if (!whole) {
        EXPECT_EQ(v, nullptr) << text;
        return;
    }
    ASSERT_NE(v, nullptr) << text;
    ASSERT_EQ(v->kind, json::Number) << text;
    EXPECT_EQ(bitsOf(v->number), bitsOf(expected)) << text << " gave " << v->number;
    // Inside an array the number must end where strtod ends it, too.
    auto inArray = json::parse("[" + text + ",7]");
    ASSERT_NE(inArray, nullptr) << text;
    EXPECT_EQ(bitsOf(inArray->at(0)->number), bitsOf(expected)) << text;
    EXPECT_EQ(inArray->at(1)->asNumber(0), 7.0) << text;
}

}  // namespace

TEST(JsonNumbers, EdgeCasesAreBitIdenticalToStrtod) {
    const char* cases[] = {
        "0", "-0", "+0", "-0.0", "0.0", "00", "007", "-007.50", "00.5", "+5", ".5", "-.5", "5.", "1.e2",
        "0.1", "0.2", "0.3", "4.75", "-2.5", "3.9", "123.456", "1e22", "1e23", "1e-22", "1e-23", "1.5e3",
        "2.5E-1", "1E+05", "1e0005", "1e308", "-1e308", "1.7976931348623157e308", "1e309", "4.9e-324",
        "2.2250738585072014e-308", "9007199254740992", "9007199254740993", "9007199254740993.0",
        "900719925474099.3", "1234567890123456789", "12345678901234567890", "0.1234567890123456789",
        "1234567890.123456789", "0.000000000000000000001", "123456789012345678e-5", "999999999999999999e22",
        "4503599627370497.5", "0.30000000000000004", "1e-5", "3.14159e-5", "72057594037927945",
        "0x10", "0x1p4", "0X1P-2", "1e", "1e+", "1e-", "1.5e", "-", "+", ".", "-.", "1x", "1.5.3",
    };
    for (const char* text : cases) expectLikeStrtod(text);
}

TEST(JsonNumbers, GeneratedShortDecimalsAreBitIdenticalToStrtod) {
    // A deterministic sweep over the shapes a catalog holds and around them: up to 19
    // digits, any point position, small and large exponents, both signs.
    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&state]() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        if (next() % 4 == 0) text += '-';
        const int digits = 1 + static_cast<int>(next() % 19);
        const int point = static_cast<int>(next() % (digits + 2)) - 1;  // -1: no point
        for (int d = 0; d < digits; ++d) {
            if (d == point) text += '.';
            text += static_cast<char>('0' + next() % 10);
        }
        if (next() % 3 == 0) {
            text += next() % 2 ? 'e' : 'E';
            const int exponent = static_cast<int>(next() % 61) - 30;
            text += std::to_string(exponent);
        }
        expectLikeStrtod(text);
        if (HasFailure()) return;
    }
}

TEST(JsonNumbers, NegativeZeroKeepsItsSign) {
    for (const char* text : {"-0", "-0.0", "-0e5", "-0.000"}) {
        auto v = json::parse(text);
        ASSERT_NE(v, nullptr) << text;
        EXPECT_EQ(v->number, 0.0) << text;
        EXPECT_TRUE(std::signbit(v->number)) << text;
    }
}

TEST(JsonNumbers, LeadingZerosAreReadAsStrtodReadsThem) {
    const struct {
        const char* text;
        double value;
    } cases[] = {{"007", 7.0}, {"-007.50", -7.5}, {"00.5", 0.5}, {"0001e2", 100.0}};
    for (const auto& c : cases) {
        auto v = json::parse(c.text);
        ASSERT_NE(v, nullptr) << c.text;
        EXPECT_EQ(v->number, c.value) << c.text;
    }
}
