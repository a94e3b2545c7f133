// Picking the best image out of an icon file: GDI+ decodes only the first image of an
// icon, so the largest, deepest one is moved into a file of its own.
#include <cstdint>
#include <cstring>

#include "catalog/catalog.h"

namespace {

uint32_t le16(const unsigned char* p) { return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8); }
uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
uint32_t be32(const unsigned char* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
void putLe32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

constexpr size_t kHeaderSize = 6;
constexpr size_t kEntrySize = 16;

}  // namespace

bool rebuildIconFile(const std::string& body, std::string& rebuilt) {
    const auto* data = reinterpret_cast<const unsigned char*>(body.data());
    const uint64_t length = body.size();
    if (length <= 21) return false;
    const uint32_t count = le16(data + 4);
    if (le16(data) != 0 || le16(data + 2) != 1 || count < 1 || count > 64) return false;

    // Only entries that lie wholly inside the body are scanned.
    const uint64_t lastIndex = (length - 22) / kEntrySize;
    const unsigned char* best = nullptr;
    uint32_t bestScore = 0;
    for (uint64_t i = 0; i < count && i <= lastIndex; ++i) {
        const unsigned char* entry = data + kHeaderSize + i * kEntrySize;
        const uint64_t size = le32(entry + 8);
        const uint64_t offset = le32(entry + 12);
        if (offset >= length || length - offset < size) continue;
        const uint32_t width = entry[0] == 0 ? 256 : entry[0];
        const uint32_t score = width * 4096 + le16(entry + 6);
        if (!best || score > bestScore) {
            best = entry;
            bestScore = score;
        }
    }
    if (!best) return false;

    const uint32_t size = le32(best + 8);
    const unsigned char* image = data + le32(best + 12);
    uint32_t width = best[0] == 0 ? 256 : best[0];
    uint32_t height = best[1] == 0 ? 256 : best[1];
    bool fromImage = false;
    static const unsigned char kPngSignature[4] = {0x89, 0x50, 0x4E, 0x47};
    if (size >= 24 && std::memcmp(image, kPngSignature, 4) == 0) {
        width = be32(image + 16);
        height = be32(image + 20);
        fromImage = true;
    } else if (size >= 12) {
        const int32_t bmpWidth = static_cast<int32_t>(le32(image + 4));
        const int32_t bmpHeight = static_cast<int32_t>(le32(image + 8));
        if (le32(image) >= 40 && bmpWidth >= 1 && bmpHeight >= 2) {
            width = static_cast<uint32_t>(bmpWidth);
            height = static_cast<uint32_t>(bmpHeight / 2);  // colour rows plus mask rows
            fromImage = true;
        }
    }
    if (fromImage && (width < 1 || width > 1024 || height < 1 || height > 1024)) return false;

    rebuilt.clear();
    rebuilt.reserve(22 + static_cast<size_t>(size));
    rebuilt.append("\x00\x00\x01\x00\x01\x00", 6);
    rebuilt.push_back(static_cast<char>(width < 256 ? width : 0));
    rebuilt.push_back(static_cast<char>(height <= 255 ? height : 0));
    rebuilt.append(reinterpret_cast<const char*>(best + 2), 6);
    putLe32(rebuilt, size);
    putLe32(rebuilt, 22);
    rebuilt.append(reinterpret_cast<const char*>(image), size);
    return true;
}
