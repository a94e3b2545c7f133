#include "catalog/images.h"

#include <algorithm>

namespace testimages {
namespace {

uint32_t crc32(const std::string& data, size_t from) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        ready = true;
    }
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = from; i < data.size(); ++i) c = table[(c ^ static_cast<unsigned char>(data[i])) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void putBe32(std::string& out, uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void chunk(std::string& out, const char* type, const std::string& data) {
    putBe32(out, static_cast<uint32_t>(data.size()));
    std::string body(type, 4);
    body += data;
    out += body;
    putBe32(out, crc32(body, 0));
}

// zlib stream made of stored (uncompressed) deflate blocks.
std::string zlibStored(const std::string& raw) {
    std::string out("\x78\x01", 2);
    size_t pos = 0;
    do {
        const size_t n = std::min<size_t>(65535, raw.size() - pos);
        const bool last = pos + n == raw.size();
        out.push_back(last ? 1 : 0);
        putLe16(out, static_cast<uint32_t>(n));
        putLe16(out, static_cast<uint32_t>(~n & 0xFFFF));
        out.append(raw, pos, n);
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    putBe32(out, (b << 16) | a);
    return out;
}

}  // namespace

void putLe16(std::string& out, uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void putLe32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint32_t le32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

std::string png(uint32_t width, uint32_t height, uint32_t rgb, size_t padTo) {
    std::string raw;
    raw.reserve(static_cast<size_t>(height) * (1 + 3 * width));
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);  // filter: none
        for (uint32_t x = 0; x < width; ++x) {
            raw.push_back(static_cast<char>((rgb >> 16) & 0xFF));
            raw.push_back(static_cast<char>((rgb >> 8) & 0xFF));
            raw.push_back(static_cast<char>(rgb & 0xFF));
        }
    }
    std::string ihdr;
    putBe32(ihdr, width);
    putBe32(ihdr, height);
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
    std::string head("\x89PNG\r\n\x1a\n", 8);
    chunk(head, "IHDR", ihdr);
    std::string tail;
    chunk(tail, "IDAT", zlibStored(raw));
    chunk(tail, "IEND", std::string());
    std::string out = head;
    const size_t natural = head.size() + tail.size();
    if (padTo >= natural + 12) chunk(out, "kvPd", std::string(padTo - natural - 12, '\0'));
    out += tail;
    return out;
}

std::string pngDeclaring(uint32_t width, uint32_t height) {
    std::string ihdr;
    putBe32(ihdr, width);
    putBe32(ihdr, height);
    ihdr += std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit grey
    std::string out("\x89PNG\r\n\x1a\n", 8);
    chunk(out, "IHDR", ihdr);
    chunk(out, "IDAT", zlibStored(std::string(1 + std::min<uint32_t>(width, 65536), '\0')));
    chunk(out, "IEND", std::string());
    return out;
}

std::string dib(int32_t width, int32_t height, uint16_t bitCount, uint32_t rgb, uint8_t alpha) {
    std::string out;
    putLe32(out, 40);
    putLe32(out, static_cast<uint32_t>(width));
    putLe32(out, static_cast<uint32_t>(height * 2));
    putLe16(out, 1);
    putLe16(out, bitCount);
    for (int i = 0; i < 6; ++i) putLe32(out, 0);
    if (bitCount == 32) {
        for (int32_t i = 0; i < width * height; ++i) putLe32(out, (static_cast<uint32_t>(alpha) << 24) | rgb);
    } else {  // 8-bit: a palette whose first entry is the colour, all pixels index 0
        putLe32(out, rgb);
        for (int i = 1; i < 256; ++i) putLe32(out, 0);
        const int32_t stride = (width + 3) & ~3;
        out.append(static_cast<size_t>(stride) * height, '\0');
    }
    const int32_t maskStride = ((width + 31) / 32) * 4;
    out.append(static_cast<size_t>(maskStride) * height, alpha == 0 ? '\xFF' : '\0');
    return out;
}

std::string icon(const std::vector<IconEntry>& entries, int countOverride) {
    std::string out;
    putLe16(out, 0);
    putLe16(out, 1);
    putLe16(out, countOverride >= 0 ? static_cast<uint32_t>(countOverride) : static_cast<uint32_t>(entries.size()));
    uint64_t offset = 6 + 16 * entries.size();
    for (const IconEntry& e : entries) {
        out.push_back(static_cast<char>(e.width));
        out.push_back(static_cast<char>(e.height));
        out.push_back(static_cast<char>(e.colorCount));
        out.push_back(static_cast<char>(e.reserved));
        putLe16(out, e.planes);
        putLe16(out, e.bitCount);
        putLe32(out, static_cast<uint32_t>(e.sizeOverride >= 0 ? e.sizeOverride : e.image.size()));
        putLe32(out, static_cast<uint32_t>(e.offsetOverride >= 0 ? e.offsetOverride : offset));
        offset += e.image.size();
    }
    for (const IconEntry& e : entries) out += e.image;
    return out;
}

}  // namespace testimages
