#include "json/json.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace json {

namespace {

const std::string kEmptyString;
const Value::Elements kEmptyArray;
const Value::Members kEmptyMembers;

}  // namespace

Value::~Value() {
    switch (kind) {
    case String: string_.~basic_string(); break;
    case Array: array_.~vector(); break;
    case Object: object_.~vector(); break;
    default: break;
    }
}

const std::string& Value::string() const { return kind == String ? string_ : kEmptyString; }
const Value::Elements& Value::array() const { return kind == Array ? array_ : kEmptyArray; }
const Value::Members& Value::object() const { return kind == Object ? object_ : kEmptyMembers; }

const Value* Value::lookup(const char* key) const {
    if (kind != Object || key == nullptr) return nullptr;
    const size_t len = std::strlen(key);
    for (const auto& member : object_) {
        if (member.first.size() == len && std::memcmp(member.first.data(), key, len) == 0)
            return member.second.get();
    }
    return nullptr;
}

const Value* Value::at(size_t index) const {
    if (kind != Array || index >= array_.size()) return nullptr;
    return array_[index].get();
}

std::string Value::asString(const char* def) const {
    if (kind == String) return string_;
    return def ? std::string(def) : std::string();
}

double Value::asNumber(double def) const { return kind == Number ? number : def; }

// Doubles outside the int64 range (and NaN) have no defined truncation; pin them
// to the nearest representable value instead of invoking undefined behaviour.
static int64_t truncateToInt64(double d) {
    if (d != d) return 0;
    if (d >= 9223372036854775807.0) return INT64_MAX;
    if (d <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<int64_t>(d);
}

int Value::asInt(int def) const {
    if (kind != Number) return def;
    return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(truncateToInt64(number))));
}

int64_t Value::asInt64(int64_t def) const { return kind == Number ? truncateToInt64(number) : def; }

bool Value::asBool(bool def) const { return kind == Bool ? boolean : def; }

namespace {

constexpr int kMaxDepth = 64;

// Nodes of one document come from a shared bump arena: a general-purpose heap
// allocation costs hundreds of nanoseconds under some hosts, and a catalog holds
// hundreds of thousands of nodes. Each node is still one allocation together with
// its control block; the arena lives until the last node that came from it dies.
// Its chunks are then kept for the next document (up to a bound), because touching
// fresh pages costs far more than reusing warm ones. The bound keeps an idle
// program from holding on to much memory after a large document.
class ChunkCache {
public:
    static constexpr size_t kChunkSize = 256u << 10;

    // Never destroyed: threads that are not waited for may still free documents
    // while the process runs its exit handlers.
    static ChunkCache& instance() {
        static ChunkCache* cache = new ChunkCache;
        return *cache;
    }
    std::unique_ptr<char[]> take() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!free_.empty()) {
                auto chunk = std::move(free_.back());
                free_.pop_back();
                return chunk;
            }
        }
        return std::unique_ptr<char[]>(new char[kChunkSize]);
    }
    void give(std::unique_ptr<char[]> chunk) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (free_.size() < kMaxCached) free_.push_back(std::move(chunk));
    }

private:
    static constexpr size_t kMaxCached = (32u << 20) / kChunkSize;
    std::mutex mutex_;
    std::vector<std::unique_ptr<char[]>> free_;
};

// The arena counts the nodes that live in it and goes with the last one. While the
// parser fills it, no other thread can reach its nodes, so the count is kept in a
// plain integer then and published once when filling ends: an atomic operation for
// every node made would cost about as much as making it.
class NodeArena {
public:
    NodeArena(const NodeArena&) = delete;
    NodeArena& operator=(const NodeArena&) = delete;

    static NodeArena* create() { return new NodeArena; }

    void* allocateNode(size_t size, size_t align) {
        void* p = allocate(size, align);
        ++filled_;
        return p;
    }
    void releaseNode() {
        if (filling_) {
            --filled_;
            return;
        }
        if (live_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }
    // From here on any thread may free the nodes; the arena is gone at once when
    // none is left.
    void finishFilling() {
        filling_ = false;
        if (filled_ == 0) {
            delete this;
            return;
        }
        live_.store(filled_, std::memory_order_release);
    }

private:
    NodeArena() {}
    ~NodeArena() {
        for (auto& chunk : chunks_) ChunkCache::instance().give(std::move(chunk));
    }

    void* allocate(size_t size, size_t align) {
        size_t offset = (align - (reinterpret_cast<uintptr_t>(cur_) & (align - 1))) & (align - 1);
        if (cur_ == nullptr || offset + size > left_) {
            if (size + align > ChunkCache::kChunkSize) {
                oversized_.emplace_back(new char[size + align]);
                char* p = oversized_.back().get();
                return p + ((align - (reinterpret_cast<uintptr_t>(p) & (align - 1))) & (align - 1));
            }
            chunks_.push_back(ChunkCache::instance().take());
            cur_ = chunks_.back().get();
            left_ = ChunkCache::kChunkSize;
            offset = (align - (reinterpret_cast<uintptr_t>(cur_) & (align - 1))) & (align - 1);
        }
        void* p = cur_ + offset;
        cur_ += offset + size;
        left_ -= offset + size;
        return p;
    }

    bool filling_ = true;
    long filled_ = 0;
    std::atomic<long> live_{0};
    std::vector<std::unique_ptr<char[]>> chunks_;
    std::vector<std::unique_ptr<char[]>> oversized_;
    char* cur_ = nullptr;
    size_t left_ = 0;
};

// An arena being filled; filling ends with the scope, also when a parse is abandoned.
class FillingArena {
public:
    FillingArena() : arena_(NodeArena::create()) {}
    ~FillingArena() { arena_->finishFilling(); }
    FillingArena(const FillingArena&) = delete;
    FillingArena& operator=(const FillingArena&) = delete;
    NodeArena* get() const { return arena_; }

private:
    NodeArena* arena_;
};

// Copies are plain pointer copies: the arena is kept alive by the nodes themselves.
template <typename T>
class ArenaAllocator {
public:
    using value_type = T;
    explicit ArenaAllocator(NodeArena* arena) : arena_(arena) {}
    template <typename U>
    ArenaAllocator(const ArenaAllocator<U>& o) : arena_(o.arena()) {}  // NOLINT: rebinding must be implicit

    T* allocate(size_t n) { return static_cast<T*>(arena_->allocateNode(n * sizeof(T), alignof(T))); }
    void deallocate(T*, size_t) { arena_->releaseNode(); }
    NodeArena* arena() const { return arena_; }

    template <typename U>
    bool operator==(const ArenaAllocator<U>& o) const { return arena_ == o.arena(); }
    template <typename U>
    bool operator!=(const ArenaAllocator<U>& o) const { return arena_ != o.arena(); }

private:
    NodeArena* arena_;
};

}  // namespace

// The parser's way into a node's payload slot: it makes the slot live for the kind it
// sets, and then fills it.
class ParserImpl {
public:
    static std::string& makeString(Value& v) {
        new (&v.string_) std::string();
        v.kind = String;
        return v.string_;
    }
    static Value::Elements& makeArray(Value& v) {
        new (&v.array_) Value::Elements();
        v.kind = Array;
        return v.array_;
    }
    static Value::Members& makeObject(Value& v) {
        new (&v.object_) Value::Members();
        v.kind = Object;
        return v.object_;
    }
    static Value::Members& members(Value& v) { return v.object_; }
};

namespace {

// Per-depth lists in which a container's elements are gathered before they are moved
// into a container of exactly the right size. They are kept between documents so
// their memory stays warm. Sized for every depth up front: a list in
// use by an outer container must never move while an inner one is being read.
struct Scratch {
    std::vector<std::vector<std::shared_ptr<Value>>> elements = std::vector<std::vector<std::shared_ptr<Value>>>(kMaxDepth + 1);
    std::vector<std::vector<std::pair<std::string, std::shared_ptr<Value>>>> members =
        std::vector<std::vector<std::pair<std::string, std::shared_ptr<Value>>>>(kMaxDepth + 1);

    // An abandoned parse leaves nodes behind; they go while their arena is still
    // being filled.
    void clear() {
        for (auto& list : elements) list.clear();
        for (auto& list : members) list.clear();
    }
    // Keeps warm lists of ordinary size, but does not hold on to the memory of an
    // exceptionally long array for the rest of the thread's life.
    void trim() {
        for (auto& list : elements)
            if (list.capacity() > kKeep) std::vector<std::shared_ptr<Value>>().swap(list);
        for (auto& list : members)
            if (list.capacity() > kKeep) std::vector<std::pair<std::string, std::shared_ptr<Value>>>().swap(list);
    }
    static constexpr size_t kKeep = 1u << 16;
};

// Scratch lists are lent to parses from a small pool instead of living per thread:
// the load and icon threads are plain platform threads, and thread-local objects with
// destructors are not safe on those with every runtime.
class ScratchPool {
public:
    static ScratchPool& instance() {
        static ScratchPool* pool = new ScratchPool;  // never destroyed, like the chunk cache
        return *pool;
    }
    std::unique_ptr<Scratch> take() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!free_.empty()) {
                auto scratch = std::move(free_.back());
                free_.pop_back();
                return scratch;
            }
        }
        return std::unique_ptr<Scratch>(new Scratch);
    }
    void give(std::unique_ptr<Scratch> scratch) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (free_.size() < kMaxPooled) free_.push_back(std::move(scratch));
    }

private:
    static constexpr size_t kMaxPooled = 4;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Scratch>> free_;
};

// The member paths whose arrays are streamed, as a tree of keys from the root.
struct Route {
    std::string key;
    std::vector<Route> next;
    const ElementVisitor* visit = nullptr;
    const std::vector<std::string>* members = nullptr;  // an element's members to keep; none: all
};

Route routeOf(const std::vector<ElementStream>& streams) {
    Route root;
    for (const auto& stream : streams) {
        Route* at = &root;
        for (const auto& key : stream.path) {
            auto it = std::find_if(at->next.begin(), at->next.end(), [&](const Route& r) { return r.key == key; });
            if (it == at->next.end()) {
                at->next.push_back(Route());
                at->next.back().key = key;
                it = at->next.end() - 1;
            }
            at = &*it;
        }
        at->visit = &stream.visit;
        at->members = stream.members.empty() ? nullptr : &stream.members;
    }
    return root;
}

// Powers of ten that a double holds exactly.
const double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kMaxExactPower = 22;
constexpr uint64_t kMaxExactMantissa = uint64_t(1) << 53;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The first quote or backslash at or after p, or end. Eight bytes at a time while
// eight remain: most of a catalog's text is string content.
const char* findQuoteOrBackslash(const char* p, const char* end) {
    constexpr uint64_t ones = 0x0101010101010101ull;
    constexpr uint64_t highs = 0x8080808080808080ull;
    while (end - p >= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        const uint64_t quotes = word ^ (ones * '"');
        const uint64_t backslashes = word ^ (ones * '\\');
        if ((((quotes - ones) & ~quotes) | ((backslashes - ones) & ~backslashes)) & highs) break;
        p += 8;
    }
    while (p != end && *p != '"' && *p != '\\') ++p;
    return p;
}

class Parser {
public:
    // depth: the containers already open around the text (when it is one value cut out
    // of a larger document).
    Parser(const char* begin, const char* end, Scratch& scratch, const Route* route, int depth = 0,
           OffPaths offPaths = OffPaths::Keep)
        : p_(begin),
          end_(end),
          depth_(depth),
          arena_(document_.get()),
          route_(route),
          skipOffPaths_(offPaths == OffPaths::Skip),
          scratch_(scratch) {}
    ~Parser() { scratch_.clear(); }
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    std::shared_ptr<Value> parseDocument() {
        auto root = parseValue(route_);
        if (!root) return nullptr;
        skipWhitespace();
        if (p_ != end_) return nullptr;
        return root;
    }

    // The text is one element of the streamed array at stream.
    std::shared_ptr<Value> parseElementDocument(const Route& stream) {
        auto element = parseElement(stream);
        return element && atEnd() ? element : nullptr;
    }

    // The text is one value that is checked but not kept: an empty value of its kind.
    std::shared_ptr<Value> skipDocument() {
        auto value = skippedValue();
        return value && atEnd() ? value : nullptr;
    }

    // The text is one string literal, from its opening quote.
    void readWholeString(std::string& out) { readString(out); }

private:
    const char* p_;
    const char* end_;
    int depth_;
    FillingArena document_;
    NodeArena* arena_;  // where new nodes go: the document's, or a streamed element's
    const Route* route_;
    const bool skipOffPaths_;
    Scratch& scratch_;

    bool atEnd() {
        skipWhitespace();
        return p_ == end_;
    }

    template <typename T>
    static std::vector<T>& scratchAt(std::vector<std::vector<T>>& stack, int depth) {
        auto& list = stack[static_cast<size_t>(depth)];
        list.clear();
        return list;
    }

    template <typename T>
    static void moveInto(std::vector<T>& scratch, std::vector<T>& target) {
        target.reserve(scratch.size());
        for (auto& item : scratch) target.push_back(std::move(item));
        scratch.clear();
    }

    std::shared_ptr<Value> newNode() { return std::allocate_shared<Value>(ArenaAllocator<Value>(arena_)); }

    void skipWhitespace() {
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    }

    bool remainingStartsWith(const char* word, size_t len) const {
        return static_cast<size_t>(end_ - p_) >= len && std::memcmp(p_, word, len) == 0;
    }

    // route: where this value sits among the streamed paths, or null off them.
    std::shared_ptr<Value> parseValue(const Route* route) {
        skipWhitespace();
        if (p_ == end_) return nullptr;
        if (route && skipOffPaths_ && *p_ != '[' && *p_ != '{') return skippedValue();
        switch (*p_) {
        case '"': {
            auto v = newNode();
            readString(ParserImpl::makeString(*v));
            return v;
        }
        case '[':
            if (route && route->visit) return parseStreamedArray(*route);
            if (route && skipOffPaths_) return skippedValue();
            return parseArray();
        case '{':
            if (route && !route->next.empty()) return parseObject(route, nullptr);
            if (route && skipOffPaths_) return skippedValue();
            return parseObject(nullptr, nullptr);
        case 't':
        case 'f': {
            auto v = newNode();
            v->kind = Bool;
            if (remainingStartsWith("true", 4)) {
                v->boolean = true;
                p_ += 4;
            } else if (remainingStartsWith("false", 5)) {
                p_ += 5;
            } else {
                return nullptr;
            }
            return v;
        }
        case 'n':
            if (!remainingStartsWith("null", 4)) return nullptr;
            p_ += 4;
            return newNode();
        default: return parseNumber();
        }
    }

    // Decimal texts with at most 19 digits whose value below 2^53 is scaled by a power
    // of ten of at most 22 either way are converted here: both factors are exact
    // doubles, so the one multiplication or division rounds once, to the double that a
    // correctly rounded strtod gives. Everything else, and whatever strtod might read
    // further than this scan does, goes to strtod, whose syntax is the one accepted.
    std::shared_ptr<Value> parseNumber() {
        auto v = newNode();
        v->kind = Number;
        if (!readNumber(v->number)) return nullptr;
        return v;
    }

    bool readNumber(double& number) {
        const char* q = p_;
        bool negative = false;
        if (q != end_ && (*q == '-' || *q == '+')) negative = (*q++ == '-');
        uint64_t mantissa = 0;
        int digits = 0;
        int scale = 0;
        while (q != end_ && isDigit(*q) && digits < 20) {
            mantissa = mantissa * 10 + static_cast<unsigned>(*q++ - '0');
            ++digits;
        }
        bool fast = digits <= 19 && (q == end_ || (*q != 'x' && *q != 'X'));
        if (fast && q != end_ && *q == '.') {
            ++q;
            while (q != end_ && isDigit(*q) && digits < 20) {
                mantissa = mantissa * 10 + static_cast<unsigned>(*q++ - '0');
                ++digits;
                ++scale;
            }
        }
        int exponent = 0;
        if (fast && q != end_ && (*q == 'e' || *q == 'E')) {
            const char* e = q + 1;
            bool negativeExponent = false;
            if (e != end_ && (*e == '-' || *e == '+')) negativeExponent = (*e++ == '-');
            const char* first = e;
            while (e != end_ && isDigit(*e) && e - first < 4) exponent = exponent * 10 + (*e++ - '0');
            if (e == first || (e != end_ && isDigit(*e))) fast = false;
            if (negativeExponent) exponent = -exponent;
            q = e;
        }
        const int power = exponent - scale;
        if (fast && digits > 0 && digits <= 19 && (q == end_ || !isDigit(*q)) && mantissa <= kMaxExactMantissa &&
            power >= -kMaxExactPower && power <= kMaxExactPower) {
            double d = static_cast<double>(mantissa);
            d = power >= 0 ? d * kExactPowersOfTen[power] : d / kExactPowersOfTen[-power];
            number = negative ? -d : d;
            p_ = q;
            return true;
        }
        // The text is a std::string, so a terminating zero follows its last byte.
        char* stop = nullptr;
        number = std::strtod(p_, &stop);
        if (stop == p_ || stop == nullptr || stop > end_) return false;
        p_ = stop;
        return true;
    }

    // Reads one value exactly as parseValue would, without making a node.
    bool skipValue() {
        skipWhitespace();
        if (p_ == end_) return false;
        switch (*p_) {
        case '"': p_ = stringStop(p_ + 1); return true;
        case '[': return skipContainer(']');
        case '{': return skipContainer('}');
        case 't':
        case 'f':
            if (remainingStartsWith("true", 4)) {
                p_ += 4;
            } else if (remainingStartsWith("false", 5)) {
                p_ += 5;
            } else {
                return false;
            }
            return true;
        case 'n':
            if (!remainingStartsWith("null", 4)) return false;
            p_ += 4;
            return true;
        default: {
            double ignored;
            return readNumber(ignored);
        }
        }
    }

    bool skipContainer(char close) {
        ++p_;
        if (++depth_ > kMaxDepth) return false;
        skipWhitespace();
        if (p_ != end_ && *p_ == close) {
            ++p_;
            --depth_;
            return true;
        }
        for (;;) {
            if (close == '}') {
                skipWhitespace();
                if (p_ == end_ || *p_ != '"') return false;
                p_ = stringStop(p_ + 1);
                skipWhitespace();
                if (p_ == end_ || *p_ != ':') return false;
                ++p_;
            }
            if (!skipValue()) return false;
            skipWhitespace();
            if (p_ == end_) return false;
            if (*p_ == ',') {
                ++p_;
                continue;
            }
            if (*p_ == close) {
                ++p_;
                --depth_;
                return true;
            }
            return false;
        }
    }

    // A value read and checked but not kept: one empty node of its kind stands for it.
    std::shared_ptr<Value> skippedValue() {
        skipWhitespace();
        if (p_ == end_) return nullptr;
        const char first = *p_;
        if (!skipValue()) return nullptr;
        auto v = newNode();
        switch (first) {
        case '"': ParserImpl::makeString(*v); break;
        case '[': ParserImpl::makeArray(*v); break;
        case '{': ParserImpl::makeObject(*v); break;
        case 't':
        case 'f': v->kind = Bool; break;
        case 'n': break;
        default: v->kind = Number; break;
        }
        return v;
    }

    // One element of a streamed array, with only the members its stream keeps.
    std::shared_ptr<Value> parseElement(const Route& stream) {
        if (!stream.members) return parseValue(nullptr);
        skipWhitespace();
        if (p_ != end_ && *p_ == '{') return parseObject(nullptr, stream.members);
        return skippedValue();
    }

    std::shared_ptr<Value> parseArray() {
        ++p_;
        if (++depth_ > kMaxDepth) return nullptr;
        auto v = newNode();
        auto& array = ParserImpl::makeArray(*v);
        skipWhitespace();
        if (p_ != end_ && *p_ == ']') {
            ++p_;
            --depth_;
            return v;
        }
        auto& elements = scratchAt(scratch_.elements, depth_);
        for (;;) {
            auto element = parseValue(nullptr);
            if (!element) return nullptr;
            elements.push_back(std::move(element));
            skipWhitespace();
            if (p_ == end_) return nullptr;
            if (*p_ == ',') {
                ++p_;
                continue;
            }
            if (*p_ == ']') {
                ++p_;
                moveInto(elements, array);
                --depth_;
                return v;
            }
            return nullptr;
        }
    }

    // Like parseArray, but each element is handed over and freed as soon as it is
    // complete; the array node stays empty. Every element fills an arena of its own, so
    // that its memory is reused by the next one instead of adding up.
    std::shared_ptr<Value> parseStreamedArray(const Route& stream) {
        ++p_;
        if (++depth_ > kMaxDepth) return nullptr;
        auto v = newNode();
        ParserImpl::makeArray(*v);
        skipWhitespace();
        if (p_ != end_ && *p_ == ']') {
            ++p_;
            --depth_;
            return v;
        }
        NodeArena* const outer = arena_;
        for (;;) {
            {
                FillingArena own;
                arena_ = own.get();
                auto element = parseElement(stream);
                arena_ = outer;
                if (!element) return nullptr;
                (*stream.visit)(*element);
            }
            skipWhitespace();
            if (p_ == end_) return nullptr;
            if (*p_ == ',') {
                ++p_;
                continue;
            }
            if (*p_ == ']') {
                ++p_;
                --depth_;
                return v;
            }
            return nullptr;
        }
    }

    // route: the streamed paths that go on through this object's members, or null; off
    // them, skipped members are read but not kept. only: the keys of the members to keep,
    // or null for all.
    std::shared_ptr<Value> parseObject(const Route* route, const std::vector<std::string>* only) {
        ++p_;
        if (++depth_ > kMaxDepth) return nullptr;
        auto v = newNode();
        auto& object = ParserImpl::makeObject(*v);
        skipWhitespace();
        if (p_ != end_ && *p_ == '}') {
            ++p_;
            --depth_;
            return v;
        }
        auto& members = scratchAt(scratch_.members, depth_);
        uint64_t followed = 0;  // routes already taken here: only the first member of a key counts
        for (;;) {
            skipWhitespace();
            if (p_ == end_ || *p_ != '"') return nullptr;
            std::string key;
            readString(key);
            skipWhitespace();
            if (p_ == end_ || *p_ != ':') return nullptr;
            ++p_;
            const Route* next = nullptr;
            if (route) {
                for (size_t i = 0; i < route->next.size() && i < 64; ++i) {
                    if (route->next[i].key == key) {
                        if (!(followed & (uint64_t(1) << i))) next = &route->next[i];
                        followed |= uint64_t(1) << i;
                        break;
                    }
                }
            }
            const bool keep = only ? std::find(only->begin(), only->end(), key) != only->end()
                                   : !(route && skipOffPaths_) || next != nullptr;
            if (keep) {
                auto member = parseValue(next);
                if (!member) return nullptr;
                members.emplace_back(std::move(key), std::move(member));
            } else if (!skipValue()) {
                return nullptr;
            }
            skipWhitespace();
            if (p_ == end_) return nullptr;
            if (*p_ == ',') {
                ++p_;
                continue;
            }
            if (*p_ == '}') {
                ++p_;
                moveInto(members, object);
                --depth_;
                return v;
            }
            return nullptr;
        }
    }

    static int hexDigit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    static void writeUtf8(char*& out, uint32_t cp) {
        if (cp < 0x80) {
            *out++ = static_cast<char>(cp);
        } else if (cp < 0x800) {
            *out++ = static_cast<char>(0xC0 | (cp >> 6));
            *out++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *out++ = static_cast<char>(0xE0 | (cp >> 12));
            *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *out++ = static_cast<char>(0xF0 | (cp >> 18));
            *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    // Position is after "\u". Short escapes vanish; non-hex digits count as 0 in the
    // first unit; a surrogate pair needs a fully valid second escape.
    void readUnicodeEscape(char*& out) {
        if (end_ - p_ < 4) return;
        uint32_t unit = 0;
        for (int i = 0; i < 4; ++i) {
            const int d = hexDigit(p_[i]);
            unit = (unit << 4) | static_cast<uint32_t>(d < 0 ? 0 : d);
        }
        p_ += 4;
        if (unit >= 0xD800 && unit <= 0xDBFF && end_ - p_ >= 6 && p_[0] == '\\' && p_[1] == 'u') {
            uint32_t low = 0;
            bool valid = true;
            for (int i = 0; i < 4 && valid; ++i) {
                const int d = hexDigit(p_[2 + i]);
                if (d < 0) valid = false;
                low = (low << 4) | static_cast<uint32_t>(d < 0 ? 0 : d);
            }
            if (valid) {
                p_ += 6;
                writeUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                return;
            }
        }
        writeUtf8(out, unit);
    }

    // Where the string that starts at p (after its opening quote) stops being read:
    // after its closing quote or at the end of the text. Its bytes there are an upper
    // bound of its value's size, since every escape is at least as long as what it
    // stands for.
    const char* stringStop(const char* p) const {
        for (;;) {
            p = findQuoteOrBackslash(p, end_);
            if (p == end_) return p;
            if (*p == '"') return p + 1;
            if (++p == end_) return p;  // backslash at the end
            if (*p == 'u' && end_ - p > 4) p += 4;
            ++p;
        }
    }

    // Position is on the opening quote. A missing closing quote ends the string at
    // the end of the text without error.
    void readString(std::string& out) {
        ++p_;
        // Most strings hold no escape: take them in one piece.
        const char* run = findQuoteOrBackslash(p_, end_);
        if (run == end_ || *run == '"') {
            out.assign(p_, static_cast<size_t>(run - p_));
            p_ = run == end_ ? run : run + 1;
            return;
        }
        // Sized once for the whole string, filled run by run, then cut to what it holds.
        out.resize(static_cast<size_t>(stringStop(run) - p_));
        char* const base = &out[0];
        char* o = base;
        for (;;) {
            std::memcpy(o, p_, static_cast<size_t>(run - p_));
            o += run - p_;
            p_ = run;
            if (p_ == end_) break;
            if (*p_ == '"') {
                ++p_;
                break;
            }
            ++p_;  // backslash
            if (p_ == end_) break;
            const char c = *p_++;
            switch (c) {
            case 'b': *o++ = '\x08'; break;
            case 'f': *o++ = '\x0C'; break;
            case 'n': *o++ = '\n'; break;
            case 'r': *o++ = '\r'; break;
            case 't': *o++ = '\t'; break;
            case 'u': readUnicodeEscape(o); break;
            default: *o++ = c; break;
            }
            run = findQuoteOrBackslash(p_, end_);
        }
        out.resize(static_cast<size_t>(o - base));
    }
};

std::shared_ptr<Value> parseText(const std::string& text, const Route* route, OffPaths offPaths) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (text.size() > 2 && static_cast<unsigned char>(begin[0]) == 0xEF &&
        static_cast<unsigned char>(begin[1]) == 0xBB && static_cast<unsigned char>(begin[2]) == 0xBF)
        begin += 3;
    auto scratch = ScratchPool::instance().take();
    auto root = Parser(begin, end, *scratch, route, 0, offPaths).parseDocument();
    scratch->trim();
    ScratchPool::instance().give(std::move(scratch));
    return root;
}

}  // namespace

std::shared_ptr<Value> parse(const std::string& text) { return parseText(text, nullptr, OffPaths::Keep); }

std::shared_ptr<Value> parse(const std::string& text, const std::vector<ElementStream>& streams, OffPaths offPaths) {
    const Route route = routeOf(streams);
    return parseText(text, &route, offPaths);
}

// The members on the streamed paths are followed by a small state machine that makes the
// parser's decisions at the same bytes. Every other value (a member off the paths, an
// element of a streamed array) is cut out whole, by counting brackets outside strings as
// the string reader sees them, and parsed on its own with the containers around it
// counted (or, when values off the paths are skipped, only checked). That gives what the
// parser gives for it in place: the cut ends at the first ',', ']' or '}' outside strings
// and brackets, which no accepted value holds and which is the byte the parser looks at
// next; a cut in the wrong place means a fault that the value's own parse meets too.
struct StreamParser::State {
    enum class Mode { Start, Structure, Whole, Done, Failed };
    enum class Step { RootValue, ObjectOpen, Key, KeyText, Colon, MemberValue, Piece, AfterMember, ArrayOpen };
    struct Frame {
        const Route* route;
        std::shared_ptr<Value> node;
        bool streamed;            // a streamed array, else an object on the paths
        uint64_t followed = 0;    // routes already taken: only the first member of a key counts
        std::string key;          // the member being read
        const Route* memberRoute = nullptr;
    };

    State(std::vector<ElementStream> s, OffPaths o)
        : streams(std::move(s)), route(routeOf(streams)), offPaths(o), scratch(ScratchPool::instance().take()) {}
    ~State() {
        frames.clear();
        root.reset();
        scratch->trim();
        ScratchPool::instance().give(std::move(scratch));
    }

    std::vector<ElementStream> streams;
    Route route;
    OffPaths offPaths;
    std::unique_ptr<Scratch> scratch;
    Mode mode = Mode::Start;
    Step step = Step::RootValue;
    std::vector<Frame> frames;
    std::string text;   // Start: the first bytes, for the byte-order mark; Whole: the text so far
    std::string piece;  // the key or value being cut out, once it spans pieces of input
    static constexpr size_t kKeptPiece = 1u << 16;
    int pieceDepth = 0;
    bool inString = false;
    bool backslash = false;
    int skip = 0;       // bytes of a \u escape still to pass over
    std::shared_ptr<Value> root;

    static bool isWhitespace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
    static const char* skipWhitespace(const char* p, const char* end) {
        while (p != end && isWhitespace(*p)) ++p;
        return p;
    }

    void fail() {
        mode = Mode::Failed;
        frames.clear();
        root.reset();
        std::string().swap(text);
        std::string().swap(piece);
    }

    void consume(const char* p, const char* end) {
        if (mode == Mode::Start) {
            // The byte-order mark counts only in a text longer than two bytes.
            const size_t take = std::min<size_t>(3 - text.size(), static_cast<size_t>(end - p));
            text.append(p, take);
            p += take;
            if (text.size() < 3) return;
            startStructure();
        }
        run(p, end);
    }

    void startStructure() {
        std::string first;
        first.swap(text);
        mode = Mode::Structure;
        const bool mark = first.size() > 2 && static_cast<unsigned char>(first[0]) == 0xEF &&
                          static_cast<unsigned char>(first[1]) == 0xBB && static_cast<unsigned char>(first[2]) == 0xBF;
        run(first.data() + (mark ? 3 : 0), first.data() + first.size());
    }

    std::shared_ptr<Value> finish() {
        if (mode == Mode::Start) startStructure();
        std::shared_ptr<Value> result;
        if (mode == Mode::Whole)
            result = Parser(text.data(), text.data() + text.size(), *scratch, &route, 0, offPaths).parseDocument();
        else if (mode == Mode::Done)
            result = std::move(root);
        fail();
        return result;
    }

    void run(const char* p, const char* end) {
        while (p != end) {
            switch (mode) {
            case Mode::Whole: text.append(p, static_cast<size_t>(end - p)); return;
            case Mode::Done:
                if (skipWhitespace(p, end) != end) fail();
                return;
            case Mode::Failed: return;
            default: break;
            }
            p = advance(p, end);
        }
    }

    // One step of the state machine; consumes at least one byte unless it ends the text.
    const char* advance(const char* p, const char* end) {
        if (step != Step::KeyText && step != Step::Piece) {
            p = skipWhitespace(p, end);
            if (p == end) return p;
        }
        Frame* top = frames.empty() ? nullptr : &frames.back();
        switch (step) {
        case Step::RootValue:
            if (*p == '{' && !route.next.empty()) return open(&route, false, p);
            if (*p == '[' && route.visit) return open(&route, true, p);
            mode = Mode::Whole;
            return p;
        case Step::ObjectOpen:
            if (*p == '}') return close(p);
            return startKey(p);
        case Step::Key: return startKey(p);
        case Step::KeyText: {
            const char* q = scanString(p, end);
            piece.append(p, static_cast<size_t>(q - p));
            if (inString) return q;
            top->key.clear();
            Parser(piece.data(), piece.data() + piece.size(), *scratch, nullptr).readWholeString(top->key);
            piece.clear();
            top->memberRoute = nullptr;
            const Route* r = top->route;
            for (size_t i = 0; i < r->next.size() && i < 64; ++i) {
                if (r->next[i].key == top->key) {
                    if (!(top->followed & (uint64_t(1) << i))) top->memberRoute = &r->next[i];
                    top->followed |= uint64_t(1) << i;
                    break;
                }
            }
            step = Step::Colon;
            return q;
        }
        case Step::Colon:
            if (*p != ':') return failAt(end);
            step = Step::MemberValue;
            return p + 1;
        case Step::MemberValue: {
            const Route* r = top->memberRoute;
            if (*p == '[' && r && r->visit) return open(r, true, p);
            if (*p == '{' && r && !r->next.empty()) return open(r, false, p);
            startPiece();
            return p;
        }
        case Step::ArrayOpen:
            if (*p == ']') return close(p);
            startPiece();
            return p;
        case Step::AfterMember:
            if (*p == ',') {
                step = Step::Key;
                return p + 1;
            }
            if (*p == '}') return close(p);
            return failAt(end);
        case Step::Piece: return cutPiece(p, end);
        }
        return failAt(end);
    }

    const char* failAt(const char* end) {
        fail();
        return end;
    }

    const char* open(const Route* r, bool streamed, const char* p) {
        if (frames.size() + 1 > static_cast<size_t>(kMaxDepth)) return failAt(p + 1);
        Frame frame;
        frame.route = r;
        frame.streamed = streamed;
        frame.node = std::make_shared<Value>();
        if (streamed)
            ParserImpl::makeArray(*frame.node);
        else
            ParserImpl::makeObject(*frame.node);
        frames.push_back(std::move(frame));
        step = streamed ? Step::ArrayOpen : Step::ObjectOpen;
        return p + 1;
    }

    const char* close(const char* p) {
        std::shared_ptr<Value> node = std::move(frames.back().node);
        frames.pop_back();
        if (frames.empty()) {
            root = std::move(node);
            mode = Mode::Done;
        } else {
            Frame& parent = frames.back();
            ParserImpl::members(*parent.node).emplace_back(std::move(parent.key), std::move(node));
            step = Step::AfterMember;
        }
        return p + 1;
    }

    const char* startKey(const char* p) {
        if (*p != '"') return failAt(p + 1);
        piece.assign(1, '"');
        inString = true;
        backslash = false;
        skip = 0;
        step = Step::KeyText;
        return p + 1;
    }

    void startPiece() {
        piece.clear();
        pieceDepth = 0;
        inString = false;
        backslash = false;
        skip = 0;
        step = Step::Piece;
    }

    // Inside a string: the position after its closing quote, or end with inString still set.
    const char* scanString(const char* p, const char* end) {
        while (p != end) {
            if (skip > 0) {
                const size_t n = std::min<size_t>(static_cast<size_t>(skip), static_cast<size_t>(end - p));
                p += n;
                skip -= static_cast<int>(n);
                continue;
            }
            if (backslash) {
                backslash = false;
                if (*p++ == 'u') skip = 4;
                continue;
            }
            p = findQuoteOrBackslash(p, end);
            if (p == end) break;
            if (*p++ == '"') {
                inString = false;
                return p;
            }
            backslash = true;
        }
        return p;
    }

    // Inside a value being cut out: the ',', ']' or '}' that ends it, or end.
    const char* scanValue(const char* p, const char* end) {
        while (p != end) {
            if (inString) {
                p = scanString(p, end);
                continue;
            }
            switch (*p) {
            case '"': inString = true; break;
            case '[':
            case '{': ++pieceDepth; break;
            case ']':
            case '}':
                if (pieceDepth == 0) return p;
                --pieceDepth;
                break;
            case ',':
                if (pieceDepth == 0) return p;
                break;
            default: break;
            }
            ++p;
        }
        return p;
    }

    const char* cutPiece(const char* p, const char* end) {
        const char* q = scanValue(p, end);
        if (q == end) {
            piece.append(p, static_cast<size_t>(end - p));
            return end;
        }
        Frame& top = frames.back();
        if (*q == (top.streamed ? '}' : ']')) return failAt(end);
        // Cut from the input as it stands when the value lies in one piece: the byte after
        // it is the one that ends it, so a number's conversion stops before it too.
        const int depth = static_cast<int>(frames.size());
        const char* from = p;
        const char* to = q;
        if (!piece.empty()) {
            piece.append(p, static_cast<size_t>(q - p));
            from = piece.data();
            to = piece.data() + piece.size();
        }
        const bool skipped = !top.streamed && offPaths == OffPaths::Skip;
        std::shared_ptr<Value> value;
        {
            Parser parser(from, to, *scratch, nullptr, depth);
            value = top.streamed ? parser.parseElementDocument(*top.route)
                    : skipped    ? parser.skipDocument()
                                 : parser.parseDocument();
        }
        // A long value's copy and lists are not kept for the rest of the text.
        if (piece.capacity() > kKeptPiece)
            std::string().swap(piece);
        else
            piece.clear();
        if (static_cast<size_t>(to - from) > kKeptPiece) scratch->trim();
        if (!value) return failAt(end);
        if (top.streamed) {
            // Failed while the visitor runs: an exception from it leaves the parser failed.
            mode = Mode::Failed;
            (*top.route->visit)(*value);
            mode = Mode::Structure;
            value.reset();
            if (*q == ',') {
                startPiece();
                return q + 1;
            }
            return close(q);
        }
        // Skipped, a member stays only when the paths go on through its key.
        if (!skipped || top.memberRoute)
            ParserImpl::members(*top.node).emplace_back(std::move(top.key), std::move(value));
        if (*q == ',') {
            step = Step::Key;
            return q + 1;
        }
        return close(q);
    }
};

StreamParser::StreamParser(std::vector<ElementStream> streams, OffPaths offPaths)
    : state_(new State(std::move(streams), offPaths)) {}

StreamParser::~StreamParser() = default;

void StreamParser::feed(const char* data, size_t size) {
    if (state_->mode == State::Mode::Failed || size == 0) return;
    try {
        state_->consume(data, data + size);
    } catch (...) {
        state_->fail();
        throw;
    }
}

bool StreamParser::failed() const { return state_->mode == State::Mode::Failed; }

std::shared_ptr<Value> StreamParser::finish() {
    try {
        return state_->finish();
    } catch (...) {
        state_->fail();
        throw;
    }
}

std::string escape(const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 8);
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 0xF];
            } else {
                out += ch;
            }
        }
    }
    return out;
}

}  // namespace json
