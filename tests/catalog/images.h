// Image files built byte by byte for the icon tests: PNG (stored deflate, no encoder
// needed), 32-bit DIBs as icon files hold them, and icon files around such images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testimages {

// A width x height PNG of one opaque colour (0xRRGGBB). When padTo is larger than the
// natural size a private ancillary chunk fills the file to exactly padTo bytes.
std::string png(uint32_t width, uint32_t height, uint32_t rgb, size_t padTo = 0);

// A PNG whose header declares width x height but whose image data holds only the first
// row: what a decoder would allocate for is told by the header alone.
std::string pngDeclaring(uint32_t width, uint32_t height);

// An icon-file image: BITMAPINFOHEADER (height doubled), pixels of one colour, AND mask.
// With alpha 0 the pixels and the mask are both transparent.
std::string dib(int32_t width, int32_t height, uint16_t bitCount, uint32_t rgb, uint8_t alpha = 0xFF);

struct IconEntry {
    uint8_t width = 0;   // 0 means 256
    uint8_t height = 0;
    uint8_t colorCount = 0;
    uint8_t reserved = 0;
    uint16_t planes = 1;
    uint16_t bitCount = 32;
    std::string image;
    // Overrides for broken files; by default the true size and the laid-out offset.
    int64_t sizeOverride = -1;
    int64_t offsetOverride = -1;
};

// Header, directory in order, then the images in order.
std::string icon(const std::vector<IconEntry>& entries, int countOverride = -1);

void putLe16(std::string& out, uint32_t v);
void putLe32(std::string& out, uint32_t v);
uint32_t le32(const std::string& s, size_t at);

}  // namespace testimages
