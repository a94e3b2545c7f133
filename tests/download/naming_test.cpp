// File names from application names and from the server's final address; archive magic.
#include <gtest/gtest.h>

#include "download/claims.h"
#include "download/naming.h"

namespace {

TEST(SanitizeFileName, KeepsWhatWindowsAcceptsInAFileName) {
    const struct {
        std::wstring in;
        std::wstring out;
    } cases[] = {
        {L"微信", L"微信"},
        {L"a\"b*c/d:e<f>g?h\\i|j", L"abcdefghij"},
        {L"Tool  ", L"Tool"},
        {L"  Tool", L"  Tool"},
        {L"Tool\t", L"Tool"},
        {L"Tab\tName\x01", L"TabName"},
        {L"   ", L"app"},
        {L"", L"app"},
        {L"\\/:*?\"<>|", L"app"},
        {std::wstring(60, L'x'), std::wstring(50, L'x')},
        // A cut never leaves a trailing blank or dot, which Windows would drop from the name.
        {std::wstring(49, L'x') + L"  y", std::wstring(49, L'x')},
        {L"Tool. . ", L"Tool"},
        // A cut never splits a surrogate pair; a broken pair loses its half.
        {std::wstring(49, L'x') + L"\xD83D\xDE00", std::wstring(49, L'x')},
        {std::wstring(48, L'x') + L"\xD83D\xDE00", std::wstring(48, L'x') + L"\xD83D\xDE00"},
        {L"a\xD83D" L"b\xDE00" L"c", L"abc"},
        // Direction marks and zero-width characters would disguise the name in Explorer.
        {L"invoice\x202E" L"fdp.exe", L"invoicefdp.exe"},
        {L"a\x200B" L"b\x200F" L"c\x2066" L"d\x2069" L"e\xFEFF" L"f\x202A" L"g\x0085" L"h\x007F", L"abcdefgh"},
        {L"CON", L"app"},
        {L"com1", L"app"},
        {L"COM0", L"app"},
        {L"lpt0.txt", L"app"},
        {L"COM\x00B9", L"app"},
        {L"lpt\x00B2.exe", L"app"},
        {L"LPT\x00B3", L"app"},
        {L"conin$", L"app"},
        {L"CONOUT$.log", L"app"},
        {L"COM10", L"COM10"},
        {L"Console", L"Console"},
    };
    for (const auto& c : cases) EXPECT_EQ(sanitizeFileName(c.in), c.out) << c.in.size();
}

TEST(FileNameFromAddress, AcceptsOnlyInstallerAndArchiveNames) {
    const struct {
        const wchar_t* address;
        const wchar_t* name;  // null = rejected, default kept
    } cases[] = {
        {L"http://h/files/%E4%B8%AD.exe", L"中.exe"},
        {L"http://h/files/setup%ZZ.exe", L"setup%ZZ.exe"},
        {L"http://h/files/setup%4.exe", L"setup%4.exe"},
        {L"http://h/files/a%2", nullptr},
        {L"http://h/files/tool%2Eexe", L"tool.exe"},
        {L"http://h/api/client/download/42?channel=official", nullptr},
        {L"http://h/get/setup.msi", L"setup.msi"},
        {L"http://h/get/App.MSIX?x=1#frag", L"App.MSIX"},
        {L"http://h/get/pack.7z", L"pack.7z"},
        {L"http://h/get/pack.rar", L"pack.rar"},
        {L"http://h/get/pack.zip", L"pack.zip"},
        {L"http://h/get/.exe", nullptr},
        {L"http://h/get/readme.txt", nullptr},
        {L"http://h/get/", nullptr},
        {L"setup.exe", L"setup.exe"},
        {L"http://h/a\\b\\c.exe", L"c.exe"},
        {L"http://h/%E4%B8.exe", nullptr},
        {L"http://h/%C0%AF.exe", nullptr},
        {L"http://h/中.exe", nullptr},
        {L"http://h/a%22b%3Cc%3E%7C%3A%2A%3F.exe", L"abc.exe"},
        {L"http://h/x%2F..%2F..%2Fevil.exe", L"x....evil.exe"},
        {L"http://h/x%5C..%5Cevil.exe", L"x..evil.exe"},
        {L"http://h/..", nullptr},
        {L"http://h/a%0D%0Ab%01.exe", L"ab.exe"},
        {L"http://h/%0A%0D", nullptr},
        {L"http://h/CON.exe", nullptr},
        {L"http://h/nul.zip", nullptr},
        {L"http://h/lpt9.exe", nullptr},
        {L"http://h/CONSOLE.exe", L"CONSOLE.exe"},
        {L"http://h/invoice%E2%80%AEfdp.exe", L"invoicefdp.exe"},
        {L"http://h/a%E2%80%8Bb%EF%BB%BF.exe", L"ab.exe"},
        {L"http://h/com0.exe", nullptr},
        {L"http://h/LPT%C2%B9.msi", nullptr},
        {L"http://h/CONOUT$.exe", nullptr},
    };
    for (const auto& c : cases) {
        std::wstring name = L"default";
        bool ok = fileNameFromAddress(c.address, name);
        if (c.name) {
            EXPECT_TRUE(ok) << c.address;
            EXPECT_EQ(name, c.name);
        } else {
            EXPECT_FALSE(ok) << c.address;
            EXPECT_EQ(name, L"default");
        }
    }
}

TEST(FileNameFromAddress, RejectsOverlongNames) {
    std::wstring name;
    EXPECT_TRUE(fileNameFromAddress(L"http://h/" + std::wstring(146, L'a') + L".exe", name));
    EXPECT_FALSE(fileNameFromAddress(L"http://h/" + std::wstring(147, L'a') + L".exe", name));
    // The 200-character limit counts the text before decoding.
    std::wstring encoded;
    for (int i = 0; i < 49; ++i) encoded += L"%41";
    encoded += std::wstring(49, L'b');
    EXPECT_TRUE(fileNameFromAddress(L"http://h/" + encoded + L".exe", name));
    EXPECT_FALSE(fileNameFromAddress(L"http://h/" + encoded + L"b.exe", name));
    EXPECT_FALSE(fileNameFromAddress(L"http://h/" + std::wstring(4096, L'a') + L".exe", name));
}

TEST(ArchiveMagic, RecognisesZipRarAnd7z) {
    const struct {
        std::string head;
        const char* type;
    } cases[] = {
        {std::string("PK\x03\x04\x14\x00\x00\x00", 8), "zip"},
        {std::string("PK\x03\x04", 4), "zip"},
        {std::string("PK\x03", 3), ""},
        {std::string("Rar!\x1A\x07\x01\x00", 8), "rar"},
        {std::string("Rar!\x1A\x07", 6), "rar"},
        {std::string("Rar!\x1A", 5), ""},
        {std::string("7z\xBC\xAF\x27\x1C\x00\x04", 8), "7z"},
        {std::string("MZ\x90\x00\x03\x00\x00\x00", 8), ""},
        {std::string(), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(archiveTypeFromMagic(reinterpret_cast<const unsigned char*>(c.head.data()), c.head.size()), c.type);
}

TEST(WithExtension, ReplacesTheExtensionOfTheFileNameOnly) {
    EXPECT_EQ(withExtension(L"C:\\d\\Tool.exe", "zip"), L"C:\\d\\Tool.zip");
    EXPECT_EQ(withExtension(L"C:\\d\\Tool.rar", "rar"), L"C:\\d\\Tool.rar");
    EXPECT_EQ(withExtension(L"C:\\d\\App.msix", "zip"), L"C:\\d\\App.zip");
    EXPECT_EQ(withExtension(L"C:\\d.x\\Tool", "7z"), L"C:\\d.x\\Tool.7z");
    EXPECT_EQ(withExtension(L"C:\\d\\a.b.exe", "zip"), L"C:\\d\\a.b.zip");
}

TEST(NumberedPath, PutsTheNumberBeforeTheExtension) {
    EXPECT_EQ(numberedPath(L"C:\\d\\setup.exe", 2), L"C:\\d\\setup (2).exe");
    EXPECT_EQ(numberedPath(L"C:\\d.x\\setup", 3), L"C:\\d.x\\setup (3)");
    EXPECT_EQ(numberedPath(L"C:\\d\\a.b.msi", 10), L"C:\\d\\a.b (10).msi");
}

// Two spellings of one file are one claim: a second job must not write over the first's file.
TEST(FileClaims, TwoSpellingsOfOneFileAreOneClaim) {
    const struct {
        const wchar_t* first;
        const wchar_t* second;
        bool same;
    } cases[] = {
        {L"D:/dl\\setup.exe", L"D:\\dl\\setup.exe", true},
        {L"D:\\dl\\SETUP.EXE", L"d:\\DL\\setup.exe", true},
        {L"D:\\dl\\setup.exe. .", L"D:\\dl\\setup.exe", true},
        {L"D:\\dl.\\setup.exe", L"D:\\dl\\setup.exe", true},
        {L"D:\\dl\\x\\..\\setup.exe", L"D:\\dl\\setup.exe", true},
        {L"D:\\dl\\\x00C4pp.exe", L"D:\\dl\\\x00E4pp.exe", true},
        {L"D:\\dl\\setup.exe", L"D:\\dl\\setup2.exe", false},
        {L"D:\\dl\\setup.exe", L"E:\\dl\\setup.exe", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(claimKey(c.first) == claimKey(c.second), c.same) << c.first << L" / " << c.second;
        if (!c.same) continue;
        FileClaim a, b;
        EXPECT_EQ(a.take(c.first), c.first);
        EXPECT_TRUE(isFileClaimed(c.second));
        // The second spelling gets a numbered name of its own.
        EXPECT_NE(claimKey(b.take(c.second)), claimKey(c.first)) << c.second;
    }
}

}  // namespace
