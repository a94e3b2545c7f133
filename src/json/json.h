// The program's own read-only JSON model: parse a text into a tree of json::Value
// nodes, then walk it with lookups and accessors that never fail but fall back to
// the caller's default. Writing JSON is done by hand with json::escape.
// This header and json.cpp use no Windows headers, so they also build natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace json {

enum Kind : int32_t { Null = 0, Bool = 1, Number = 2, String = 3, Array = 4, Object = 5 };

struct Value {
    Kind kind = Null;
    bool boolean = false;
    double number = 0.0;
    std::string string;
    std::vector<std::shared_ptr<Value>> array;
    std::vector<std::pair<std::string, std::shared_ptr<Value>>> object;

    // First member with exactly these key bytes; null when not an object or absent.
    const Value* lookup(const char* key) const;
    // Element at index; null when not an array or out of range.
    const Value* at(size_t index) const;

    std::string asString(const char* def) const;
    double asNumber(double def) const;
    int asInt(int def) const;          // truncated toward zero, then cut to 32 bits
    int64_t asInt64(int64_t def) const;
    bool asBool(bool def) const;
};

// The root of the document, or null when the text is not accepted. Numbers follow
// strtod, strings are read leniently, at most 64 containers may be open at once.
std::shared_ptr<Value> parse(const std::string& text);

// The body of a JSON string literal (without quotes) for UTF-8 text.
std::string escape(const std::string& text);

}  // namespace json
