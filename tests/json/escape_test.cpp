#include "json/json.h"

#include <gtest/gtest.h>

struct EscapeCase {
    const char* name;
    std::string in;
    std::string out;
};

TEST(Escape, Table) {
    const EscapeCase cases[] = {
        {"empty", "", ""},
        {"windows path doubles backslashes", "C:\\Users\\a", "C:\\\\Users\\\\a"},
        {"chinese copied byte for byte", "\xE4\xB8\xAD\xE6\x96\x87", "\xE4\xB8\xAD\xE6\x96\x87"},
        {"control bytes as lower-case \\u", std::string("\x01\x0C", 2), "\\u0001\\u000c"},
        {"backspace and 0x1F have no short form", std::string("\x08\x1F", 2), "\\u0008\\u001f"},
        {"tab, line feed, carriage return", "\t\n\r", "\\t\\n\\r"},
        {"quote", "a\"b", "a\\\"b"},
        {"slash and DEL untouched", "/\x7F", "/\x7F"},
        {"zero byte", std::string("\0", 1), "\\u0000"},
    };
    for (const auto& c : cases) EXPECT_EQ(json::escape(c.in), c.out) << c.name;
}
