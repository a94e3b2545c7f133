// The program's own read-only JSON model: parse a text into a tree of json::Value
// nodes, then walk it with lookups and accessors that never fail but fall back to
// the caller's default. Writing JSON is done by hand with json::escape.
// This header and json.cpp use no Windows headers, so they also build natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace json {

enum Kind : int32_t { Null = 0, Bool = 1, Number = 2, String = 3, Array = 4, Object = 5 };

class ParserImpl;

// One node. The text of a String node and the elements or members of an Array or
// Object node share one slot (only one kind is ever in use), which keeps the nodes of
// a large catalog small; for every other kind the accessors give the empty value.
struct Value {
    using Elements = std::vector<std::shared_ptr<Value>>;
    using Members = std::vector<std::pair<std::string, std::shared_ptr<Value>>>;

    Kind kind = Null;
    bool boolean = false;
    double number = 0.0;

    Value() {}
    ~Value();
    Value(const Value&) = delete;
    Value& operator=(const Value&) = delete;

    const std::string& string() const;  // String: UTF-8 with escapes resolved
    const Elements& array() const;       // Array: elements in document order
    const Members& object() const;      // Object: members in document order, duplicates kept

    // First member with exactly these key bytes; null when not an object or absent.
    const Value* lookup(const char* key) const;
    // Element at index; null when not an array or out of range.
    const Value* at(size_t index) const;

    std::string asString(const char* def) const;
    double asNumber(double def) const;
    int asInt(int def) const;          // truncated toward zero, then cut to 32 bits
    int64_t asInt64(int64_t def) const;
    bool asBool(bool def) const;

private:
    friend class ParserImpl;
    union {
        std::string string_;
        Elements array_;
        Members object_;
    };
};

// The root of the document, or null when the text is not accepted. Numbers follow
// strtod, strings are read leniently, at most 64 containers may be open at once.
std::shared_ptr<Value> parse(const std::string& text);

// For turning a long list into records without the whole tree ever existing: parse
// as above, but each element of an array reached from the root through path (the
// first member of each key, as lookup finds it) goes to visit as soon as it is
// complete and is freed after; that array is left empty in the returned tree.
// Elements are visited in document order. A null result still means the text is not
// accepted, even when elements were visited before the fault was found.
using ElementVisitor = std::function<void(const Value&)>;
struct ElementStream {
    ElementStream(std::vector<std::string> atPath, ElementVisitor visitor, std::vector<std::string> keptMembers = {})
        : path(std::move(atPath)), visit(std::move(visitor)), members(std::move(keptMembers)) {}

    std::vector<std::string> path;
    ElementVisitor visit;
    // When not empty, the only members an element keeps (an object's other members are
    // left out; an element that is no object stands as an empty value of its kind), so a
    // reader of a few members pays for those only.
    std::vector<std::string> members;
};
// What becomes of the values off the streamed paths. Skip: they are read and checked as
// ever (the same texts are accepted) but no node is made for them: an object on the paths
// keeps only the first member of each key on them, and such a member whose value the path
// cannot go on through stands as an empty value of its kind ("", 0, false, [] or {}).
enum class OffPaths { Keep, Skip };
std::shared_ptr<Value> parse(const std::string& text, const std::vector<ElementStream>& streams,
                             OffPaths offPaths = OffPaths::Keep);

// The same parse for a text that arrives piece by piece (a response body as it is read),
// so that the whole text never has to be held: feed the pieces in order, cut anywhere,
// then finish. Streamed elements are visited as soon as they are complete; the other
// values are kept as text only while they are being read, except when the root itself is
// no object on the paths (then the whole text is kept and parsed at the end). finish gives
// what parse(whole text, streams, offPaths) gives, visits included. Once the text is known
// to be unacceptable the rest is ignored; a visitor's exception leaves the parser failed.
class StreamParser {
public:
    explicit StreamParser(std::vector<ElementStream> streams, OffPaths offPaths = OffPaths::Keep);
    ~StreamParser();
    StreamParser(const StreamParser&) = delete;
    StreamParser& operator=(const StreamParser&) = delete;

    void feed(const char* data, size_t size);
    // Before finish: the text is known to be unacceptable already (finish will give null).
    bool failed() const;
    // Call once, after the last piece.
    std::shared_ptr<Value> finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The body of a JSON string literal (without quotes) for UTF-8 text.
std::string escape(const std::string& text);

}  // namespace json
