// MD5 of real files through CryptoAPI and the exact comparison with the catalog digest.
#include <gtest/gtest.h>

#include "download/support.h"
#include "download/verify.h"

namespace {

TEST(FileMd5Hex, DigestsFilesOfEverySize) {
    dltest::TempDir tmp(L"md5");
    std::string big;
    for (int i = 0; i < 65536 * 3 + 17; ++i) big.push_back(static_cast<char>((i * 31 + 7) & 0xFF));
    const struct {
        const wchar_t* name;
        std::string data;
        const char* md5;
    } cases[] = {
        {L"empty", "", "d41d8cd98f00b204e9800998ecf8427e"},
        {L"abc", "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {L"block", std::string(65536, 'a'), "2d61aa54b58c2e94403fb092c3dbc027"},
        {L"blocks", big, "da1ea239b1e8fcfd59d0515777bf42a8"},
    };
    for (const auto& c : cases) {
        dltest::writeFile(tmp.file(c.name), c.data);
        std::string out = "untouched";
        ASSERT_TRUE(fileMd5Hex(tmp.file(c.name), out)) << c.md5;
        EXPECT_EQ(out, c.md5);
    }
}

TEST(FileMd5Hex, UnreadableFileLeavesTheOutputAlone) {
    dltest::TempDir tmp(L"md5x");
    std::string out = "keep";
    EXPECT_FALSE(fileMd5Hex(tmp.file(L"missing.exe"), out));
    EXPECT_EQ(out, "keep");

    // Open for writing without read sharing: the digest cannot open it.
    HANDLE h = CreateFileW(tmp.file(L"busy.exe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(fileMd5Hex(tmp.file(L"busy.exe"), out));
    EXPECT_EQ(out, "keep");
    CloseHandle(h);
}

TEST(DigestMatches, IsExactOrUnchecked) {
    const std::string good = "900150983cd24fb0d6963f7d28e17f72";
    const struct {
        std::string expected;
        bool ok;
    } cases[] = {
        {good, true},
        {"", true},
        {"900150983CD24FB0D6963F7D28E17F72", false},
        {good + " ", false},
        {" " + good, false},
        {good.substr(0, 31), false},
        {"d41d8cd98f00b204e9800998ecf8427e", false},
    };
    for (const auto& c : cases) EXPECT_EQ(digestMatches(c.expected, good), c.ok) << c.expected;
}

}  // namespace
