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

class NodeArena {
public:
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
    void addRef() { refs_.fetch_add(1, std::memory_order_relaxed); }
    void release() {
        if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }

private:
    std::atomic<long> refs_{0};
    std::vector<std::unique_ptr<char[]>> chunks_;
    std::vector<std::unique_ptr<char[]>> oversized_;
    char* cur_ = nullptr;
    size_t left_ = 0;
};

template <typename T>
class ArenaAllocator {
public:
    using value_type = T;
    explicit ArenaAllocator(NodeArena* arena) : arena_(arena) { arena_->addRef(); }
    ArenaAllocator(const ArenaAllocator& o) : arena_(o.arena_) { arena_->addRef(); }
    template <typename U>
    ArenaAllocator(const ArenaAllocator<U>& o) : arena_(o.arena()) {  // NOLINT: rebinding must be implicit
        arena_->addRef();
    }
    ArenaAllocator& operator=(const ArenaAllocator&) = delete;
    ~ArenaAllocator() { arena_->release(); }

    T* allocate(size_t n) { return static_cast<T*>(arena_->allocate(n * sizeof(T), alignof(T))); }
    void deallocate(T*, size_t) {}
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

class Parser {
public:
    Parser(const char* begin, const char* end, Scratch& scratch)
        : p_(begin), end_(end), alloc_(new NodeArena), elementScratch_(scratch.elements), memberScratch_(scratch.members) {}

    std::shared_ptr<Value> parseDocument() {
        auto root = parseValue();
        if (!root) return nullptr;
        skipWhitespace();
        if (p_ != end_) return nullptr;
        return root;
    }

private:
    const char* p_;
    const char* end_;
    int depth_ = 0;
    ArenaAllocator<Value> alloc_;
    std::vector<std::vector<std::shared_ptr<Value>>>& elementScratch_;
    std::vector<std::vector<std::pair<std::string, std::shared_ptr<Value>>>>& memberScratch_;

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

    std::shared_ptr<Value> newNode() { return std::allocate_shared<Value>(alloc_); }

    void skipWhitespace() {
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    }

    bool remainingStartsWith(const char* word, size_t len) const {
        return static_cast<size_t>(end_ - p_) >= len && std::memcmp(p_, word, len) == 0;
    }

    std::shared_ptr<Value> parseValue() {
        skipWhitespace();
        if (p_ == end_) return nullptr;
        switch (*p_) {
        case '"': {
            auto v = newNode();
            readString(ParserImpl::makeString(*v));
            return v;
        }
        case '[': return parseArray();
        case '{': return parseObject();
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

    // Plain integers of up to 15 digits are exact in a double and need no strtod;
    // everything else goes to strtod, whose syntax is the one accepted here.
    std::shared_ptr<Value> parseNumber() {
        const char* q = p_;
        bool negative = false;
        if (q != end_ && (*q == '-' || *q == '+')) negative = (*q++ == '-');
        const char* digits = q;
        uint64_t acc = 0;
        while (q != end_ && *q >= '0' && *q <= '9' && q - digits < 16) acc = acc * 10 + static_cast<unsigned>(*q++ - '0');
        const size_t count = static_cast<size_t>(q - digits);
        const bool plain = count > 0 && count <= 15 &&
                           (q == end_ || !(*q == '.' || *q == 'e' || *q == 'E' || *q == 'x' || *q == 'X' ||
                                           (*q >= '0' && *q <= '9')));
        auto v = newNode();
        v->kind = Number;
        if (plain) {
            const double d = static_cast<double>(acc);
            v->number = negative ? -d : d;
            p_ = q;
            return v;
        }
        // The text is a std::string, so a terminating zero follows its last byte.
        char* stop = nullptr;
        v->number = std::strtod(p_, &stop);
        if (stop == p_ || stop == nullptr || stop > end_) return nullptr;
        p_ = stop;
        return v;
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
        auto& elements = scratchAt(elementScratch_, depth_);
        for (;;) {
            auto element = parseValue();
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

    std::shared_ptr<Value> parseObject() {
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
        auto& members = scratchAt(memberScratch_, depth_);
        for (;;) {
            skipWhitespace();
            if (p_ == end_ || *p_ != '"') return nullptr;
            std::string key;
            readString(key);
            skipWhitespace();
            if (p_ == end_ || *p_ != ':') return nullptr;
            ++p_;
            auto member = parseValue();
            if (!member) return nullptr;
            members.emplace_back(std::move(key), std::move(member));
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

    static void appendUtf8(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    // Position is after "\u". Short escapes vanish; non-hex digits count as 0 in the
    // first unit; a surrogate pair needs a fully valid second escape.
    void readUnicodeEscape(std::string& out) {
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
                appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                return;
            }
        }
        appendUtf8(out, unit);
    }

    // Position is on the opening quote. A missing closing quote ends the string at
    // the end of the text without error.
    void readString(std::string& out) {
        ++p_;
        // Most strings hold no escape: take them in one piece, sized once.
        const char* run = p_;
        while (run != end_ && *run != '"' && *run != '\\') ++run;
        if (run != end_ && *run == '"') {
            out.assign(p_, static_cast<size_t>(run - p_));
            p_ = run + 1;
            return;
        }
        while (p_ != end_) {
            const char* run = p_;
            while (p_ != end_ && *p_ != '"' && *p_ != '\\') ++p_;
            out.append(run, static_cast<size_t>(p_ - run));
            if (p_ == end_) return;
            if (*p_ == '"') {
                ++p_;
                return;
            }
            ++p_;  // backslash
            if (p_ == end_) return;
            const char c = *p_++;
            switch (c) {
            case 'b': out += '\x08'; break;
            case 'f': out += '\x0C'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': readUnicodeEscape(out); break;
            default: out += c; break;
            }
        }
    }
};

}  // namespace

std::shared_ptr<Value> parse(const std::string& text) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (text.size() > 2 && static_cast<unsigned char>(begin[0]) == 0xEF &&
        static_cast<unsigned char>(begin[1]) == 0xBB && static_cast<unsigned char>(begin[2]) == 0xBF)
        begin += 3;
    auto scratch = ScratchPool::instance().take();
    auto root = Parser(begin, end, *scratch).parseDocument();
    scratch->trim();
    ScratchPool::instance().give(std::move(scratch));
    return root;
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
