// The declared-size reader: what each format's header says, and bytes that are cut short,
// lie or are no image the decoder knows.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "catalog/icon_image.h"
#include "catalog/images.h"

using testimages::IconEntry;
using testimages::putLe16;
using testimages::putLe32;

namespace {

std::string be16(uint32_t v) { return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }

// A JPEG: SOI, then the segments given, each marker with its payload (the length is added).
std::string jpeg(std::initializer_list<std::pair<unsigned char, std::string>> segments) {
    std::string out("\xFF\xD8", 2);
    for (const auto& s : segments) {
        out += static_cast<char>(0xFF);
        out += static_cast<char>(s.first);
        out += be16(static_cast<uint32_t>(s.second.size() + 2));
        out += s.second;
    }
    return out;
}
// A frame header's payload: precision, height, width, one component.
std::string frame(uint32_t width, uint32_t height) { return "\x08" + be16(height) + be16(width) + std::string("\x01\x01\x11\x00", 4); }

std::string gif(uint32_t width, uint32_t height) {
    std::string out = "GIF89a";
    putLe16(out, width);
    putLe16(out, height);
    out += std::string("\x00\x00\x00", 3);
    return out;
}

std::string bmp(int32_t width, int32_t height, uint32_t headerSize = 40) {
    std::string out = "BM";
    putLe32(out, 0);
    putLe32(out, 0);
    putLe32(out, 54);
    putLe32(out, headerSize);
    if (headerSize == 12) {
        putLe16(out, static_cast<uint32_t>(width));
        putLe16(out, static_cast<uint32_t>(height));
        putLe16(out, 1);
        putLe16(out, 24);
    } else {
        putLe32(out, static_cast<uint32_t>(width));
        putLe32(out, static_cast<uint32_t>(height));
        putLe16(out, 1);
        putLe16(out, 24);
        out += std::string(24, '\0');
    }
    return out;
}

IconEntry entry(uint8_t side, std::string image) {
    IconEntry e;
    e.width = e.height = side;
    e.image = std::move(image);
    return e;
}

}  // namespace

TEST(DeclaredImageSize, ReadsEachFormatsHeaderAndRefusesBrokenOnes) {
    const std::string png = testimages::png(20, 30, 0x123456);
    std::string wrongChunk = png;
    wrongChunk[15] = 'X';  // "IHDX"
    const std::string sof0 = jpeg({{0xE0, std::string(14, 'j')}, {0xDB, std::string(65, 'q')}, {0xC0, frame(200, 300)}});
    std::string filled = sof0;
    filled.insert(2, std::string(3, '\xFF'));  // fill bytes before a marker
    const std::string beforeFrame = jpeg({{0xC4, frame(9, 9)}, {0xC2, frame(640, 20000)}});  // DHT is no frame
    const std::string scanFirst = jpeg({{0xDA, std::string(10, 's')}, {0xC0, frame(8, 8)}});
    const std::string runsPast = std::string("\xFF\xD8\xFF\xE1", 4) + be16(60000) + "xy";
    const std::string dib48 = testimages::dib(48, 48, 32, 0x00FF00);  // height field 96: colour and mask
    std::string shortImage = testimages::icon({entry(16, "tiny")});
    std::string pastEnd = testimages::icon({entry(48, dib48)});
    pastEnd.replace(18, 4, std::string("\xFF\xFF\x00\x00", 4));  // the first image's offset
    const struct {
        const char* what;
        std::string bytes;
        bool sized;
        uint32_t width, height;
    } cases[] = {
        {"png", png, true, 20, 30},
        {"png declaring 20000 x 20000", testimages::pngDeclaring(20000, 20000), true, 20000, 20000},
        {"png declaring 4 billion", testimages::pngDeclaring(0xFFFFFFFFu, 1), true, 0xFFFFFFFFu, 1},
        {"png cut in its header", png.substr(0, 23), false, 0, 0},
        {"png without IHDR first", wrongChunk, false, 0, 0},
        {"png declaring no rows", testimages::pngDeclaring(5, 0), false, 0, 0},
        {"jpeg baseline", sof0, true, 200, 300},
        {"jpeg with fill bytes", filled, true, 200, 300},
        {"jpeg progressive after a table", beforeFrame, true, 640, 20000},
        {"jpeg scan before any frame", scanFirst, false, 0, 0},
        {"jpeg cut in its frame header", sof0.substr(0, sof0.size() - 6), false, 0, 0},
        {"jpeg segment running past the end", runsPast, false, 0, 0},
        {"gif", gif(640, 480), true, 640, 480},
        {"gif cut short", gif(640, 480).substr(0, 9), false, 0, 0},
        {"bmp", bmp(100, 50), true, 100, 50},
        {"bmp top-down", bmp(100, -50), true, 100, 50},
        {"bmp core header", bmp(16, 16, 12), true, 16, 16},
        {"bmp most negative height", bmp(8, INT_MIN), true, 8, 0x80000000u},
        {"bmp no width", bmp(0, 50), false, 0, 0},
        {"bmp cut short", bmp(100, 50).substr(0, 25), false, 0, 0},
        {"icon of a dib", testimages::icon({entry(48, dib48)}), true, 48, 48},
        {"icon whose png lies about the directory", testimages::icon({entry(16, testimages::pngDeclaring(20000, 20000))}),
         true, 20000, 20000},
        {"icon: only the first image is decoded", testimages::icon({entry(16, png), entry(48, dib48)}), true, 20, 30},
        {"icon image too short for a header", shortImage, true, 16, 16},
        {"icon image past the end", pastEnd, false, 0, 0},
        {"icon counting no images", testimages::icon({entry(48, dib48)}, 0), false, 0, 0},
        {"tiff", std::string("II*\0\x08\0\0\0", 8) + std::string(32, '\0'), false, 0, 0},
        {"text", "not an image at all", false, 0, 0},
        {"empty", "", false, 0, 0},
    };
    for (const auto& c : cases) {
        uint32_t width = 7, height = 7;
        EXPECT_EQ(c.sized, declaredImageSize(c.bytes, width, height)) << c.what;
        if (c.sized) {
            EXPECT_EQ(c.width, width) << c.what;
            EXPECT_EQ(c.height, height) << c.what;
        }
    }
}
