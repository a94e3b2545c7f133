// Choosing the best image of an icon file and rebuilding a one-image file around it.
#include <gtest/gtest.h>

#include <random>

#include "catalog/catalog.h"
#include "catalog/images.h"

using testimages::IconEntry;

namespace {

IconEntry entry(uint8_t size, uint16_t bitCount, const std::string& image) {
    IconEntry e;
    e.width = size;
    e.height = size;
    e.bitCount = bitCount;
    e.image = image;
    return e;
}

// A stand-in image that is neither PNG nor a DIB header (its header-size field is 0), so
// the directory sizes count.
std::string opaque(char fill, size_t n = 40) { return std::string(4, '\0') + std::string(n - 4, fill); }

std::string rebuild(const std::string& body) {
    std::string out;
    return rebuildIconFile(body, out) ? out : std::string();
}

std::string imageOf(const std::string& rebuilt) { return rebuilt.substr(22); }

}  // namespace

TEST(IconFile, RejectsWhatIsNotAnIconFile) {
    std::string ok = testimages::icon({entry(16, 32, opaque('a'))});
    struct Case {
        const char* what;
        std::string body;
    } cases[] = {
        {"png", testimages::png(4, 4, 0x112233)},
        {"empty", ""},
        {"21 bytes", ok.substr(0, 21)},
        {"reserved 1", std::string("\x01") + ok.substr(1)},
        {"cursor type", ok.substr(0, 2) + std::string("\x02\x00", 2) + ok.substr(4)},
        {"count 0", testimages::icon({entry(16, 32, opaque('a'))}, 0)},
        {"count 65", testimages::icon({entry(16, 32, opaque('a'))}, 65)},
    };
    for (const Case& c : cases) {
        std::string out = "untouched";
        EXPECT_FALSE(rebuildIconFile(c.body, out)) << c.what;
    }
    EXPECT_FALSE(rebuild(testimages::icon({entry(16, 32, opaque('a'))}, 64)).empty()) << "count 64 is allowed";
}

TEST(IconFile, LargestThenDeepestEntryWinsAndTheFirstKeepsATie) {
    struct Case {
        const char* what;
        std::vector<IconEntry> entries;
        char expected;
    } cases[] = {
        {"16, 32, 48 at 32 bits", {entry(16, 32, opaque('a')), entry(32, 32, opaque('b')), entry(48, 32, opaque('c'))}, 'c'},
        {"48 listed first", {entry(48, 32, opaque('a')), entry(16, 32, opaque('b')), entry(32, 32, opaque('c'))}, 'a'},
        {"32 at 8 and 32 bits", {entry(32, 8, opaque('a')), entry(32, 32, opaque('b'))}, 'b'},
        {"equal best entries", {entry(48, 32, opaque('a')), entry(48, 32, opaque('b'))}, 'a'},
        {"width 0 means 256", {entry(48, 32, opaque('a')), entry(0, 32, opaque('b')), entry(255, 32, opaque('c'))}, 'b'},
        {"width beats depth", {entry(32, 32, opaque('a')), entry(48, 1, opaque('b'))}, 'b'},
    };
    for (const Case& c : cases) {
        std::string rebuilt = rebuild(testimages::icon(c.entries));
        ASSERT_FALSE(rebuilt.empty()) << c.what;
        EXPECT_EQ(opaque(c.expected), imageOf(rebuilt)) << c.what;
    }
}

TEST(IconFile, RebuiltFileHoldsOnlyTheChosenImageAtOffset22) {
    IconEntry chosen = entry(48, 32, opaque('z', 77));
    chosen.height = 40;
    chosen.colorCount = 7;
    chosen.reserved = 9;
    chosen.planes = 3;
    std::string rebuilt = rebuild(testimages::icon({entry(16, 32, opaque('a')), chosen}));
    std::string expected("\x00\x00\x01\x00\x01\x00", 6);
    expected += std::string("\x30\x28\x07\x09\x03\x00\x20\x00", 8);
    testimages::putLe32(expected, 77);
    testimages::putLe32(expected, 22);
    expected += opaque('z', 77);
    EXPECT_EQ(expected, rebuilt);
}

TEST(IconFile, EntriesOutsideTheBodyAreNotUsable) {
    IconEntry pastEnd = entry(48, 32, opaque('b'));
    pastEnd.offsetOverride = 100000;
    IconEntry tooLong = entry(48, 32, opaque('b'));
    tooLong.sizeOverride = 41;  // one byte more than is left in the body
    IconEntry hugeSize = entry(48, 32, opaque('b'));
    hugeSize.sizeOverride = 0xFFFFFFFFLL;
    IconEntry hugeOffset = entry(48, 32, opaque('b'));
    hugeOffset.offsetOverride = 0xFFFFFFF0LL;
    for (const IconEntry& broken : {pastEnd, tooLong, hugeSize, hugeOffset}) {
        std::string body = testimages::icon({broken});
        std::string out;
        EXPECT_FALSE(rebuildIconFile(body, out)) << "a lone unusable entry leaves the body as it is";
        // tooLong is the last image, so its 41 bytes overrun; with a usable neighbour that one wins.
        EXPECT_EQ(opaque('a'), imageOf(rebuild(testimages::icon({entry(16, 32, opaque('a')), broken}))));
    }
}

TEST(IconFile, ScansOnlyDirectoryEntriesInsideTheBody) {
    // The count says 5, but the body ends after the second entry: the entries that would
    // lie past the end are never read. Both entries point at the first 16 bytes.
    IconEntry first = entry(16, 32, std::string());
    first.planes = 0;  // so the 16 bytes do not read as a DIB header
    first.sizeOverride = 16;
    first.offsetOverride = 0;
    IconEntry second = first;
    second.width = 32;
    std::string body = testimages::icon({first, second}, 5);
    ASSERT_EQ(38u, body.size());
    std::string rebuilt = rebuild(body);
    ASSERT_EQ(22u + 16u, rebuilt.size());
    EXPECT_EQ(32, static_cast<unsigned char>(rebuilt[6]));
    // One byte fewer and the second entry is no longer scanned.
    std::string shorter = rebuild(body.substr(0, 37));
    ASSERT_FALSE(shorter.empty());
    EXPECT_EQ(16, static_cast<unsigned char>(shorter[6]));
}

TEST(IconFile, TrueSizeComesFromPngOrDibInsideAndIsBounded) {
    struct Case {
        const char* what;
        std::string image;
        uint8_t dirSize;
        bool rebuilt;
        int widthByte, heightByte;
    } cases[] = {
        {"png 20x30", testimages::png(20, 30, 0xFF0000), 48, true, 20, 30},
        {"png 256x256", testimages::png(256, 256, 0xFF0000), 48, true, 0, 0},
        {"png 1024 wide", testimages::png(1024, 2, 0xFF0000), 48, true, 0, 2},
        {"png 1025 wide", testimages::png(1025, 2, 0xFF0000), 48, false, 0, 0},
        {"png 0 high", testimages::png(4, 0, 0xFF0000), 48, false, 0, 0},
        {"dib 48x48", testimages::dib(48, 48, 32, 0x00FF00), 16, true, 48, 48},
        {"dib 300x300", testimages::dib(300, 300, 32, 0x00FF00), 16, true, 0, 0},
        {"dib 1025 high", testimages::dib(2, 1025, 32, 0x00FF00), 16, false, 0, 0},
        // Fewer than 24 bytes are not tested as PNG; these ones pass as a huge DIB header.
        {"png signature in 23 bytes", testimages::png(1, 1, 0).substr(0, 23), 16, false, 0, 0},
    };
    for (const Case& c : cases) {
        std::string rebuilt = rebuild(testimages::icon({entry(c.dirSize, 32, c.image)}));
        EXPECT_EQ(c.rebuilt, !rebuilt.empty()) << c.what;
        if (rebuilt.empty()) continue;
        EXPECT_EQ(c.widthByte, static_cast<unsigned char>(rebuilt[6])) << c.what;
        EXPECT_EQ(c.heightByte, static_cast<unsigned char>(rebuilt[7])) << c.what;
        EXPECT_EQ(c.image, imageOf(rebuilt)) << c.what;
    }
}

TEST(IconFile, ImageHeadersThatFailTheTestsKeepTheDirectorySize) {
    auto dibWith = [](uint32_t headerSize, int32_t width, int32_t storedHeight) {
        std::string out;
        testimages::putLe32(out, headerSize);
        testimages::putLe32(out, static_cast<uint32_t>(width));
        testimages::putLe32(out, static_cast<uint32_t>(storedHeight));
        return out + std::string(28, '\0');
    };
    struct Case {
        const char* what;
        std::string image;
    } cases[] = {
        {"core header of 12", dibWith(12, 5000, 5000)},
        {"width 0", dibWith(40, 0, 96)},
        {"stored height 1", dibWith(40, 5000, 1)},
        {"negative height", dibWith(40, 48, -96)},
        {"11 bytes", dibWith(40, 5000, 5000).substr(0, 11)},
    };
    for (const Case& c : cases) {
        IconEntry e = entry(0, 32, c.image);
        e.height = 24;
        std::string rebuilt = rebuild(testimages::icon({e}));
        ASSERT_FALSE(rebuilt.empty()) << c.what;
        EXPECT_EQ(0, static_cast<unsigned char>(rebuilt[6])) << c.what;
        EXPECT_EQ(24, static_cast<unsigned char>(rebuilt[7])) << c.what;
    }
}

TEST(IconFile, AnyBytesEndInAResultWithoutReadingOutside) {
    std::string valid = testimages::icon({entry(16, 32, testimages::dib(16, 16, 32, 1)),
                                          entry(48, 32, testimages::png(48, 48, 2)), entry(32, 8, opaque('q', 300))});
    // Every truncation of a valid file.
    for (size_t n = 0; n <= valid.size(); ++n) {
        std::string body = valid.substr(0, n);
        std::string out;
        if (rebuildIconFile(body, out)) {
            ASSERT_GE(out.size(), 22u);
            EXPECT_NE(std::string::npos, body.find(out.substr(22))) << n;
        }
    }
    // Random directories: counts up to 64, offsets and sizes anywhere, including near 2^32.
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::string body = valid;
        const int writes = 1 + static_cast<int>(random() % 6);
        for (int w = 0; w < writes; ++w) {
            const size_t at = 4 + random() % 60;
            uint32_t value = random();
            if (random() % 3 == 0) value = 0xFFFFFFFFu - (random() % 64);
            for (int i = 0; i < 4 && at + i < body.size(); ++i) body[at + i] = static_cast<char>(value >> (8 * i));
        }
        body[0] = body[1] = body[3] = 0;
        body[2] = 1;
        body.resize(22 + random() % (body.size() - 21));
        std::string out;
        if (rebuildIconFile(body, out)) {
            ASSERT_GE(out.size(), 22u);
            ASSERT_LE(out.size(), 22 + body.size());
        }
    }
}
