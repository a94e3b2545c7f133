#include "app/config.h"
#include "app_test_paths.h"
#include "scoped.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct LibraryTraits {
    static HMODULE invalid() { return nullptr; }
    static bool valid(HMODULE h) { return h != nullptr; }
    static void close(HMODULE h) { FreeLibrary(h); }
};

struct IconTraits {
    static HICON invalid() { return nullptr; }
    static bool valid(HICON h) { return h != nullptr; }
    static void close(HICON h) { DestroyIcon(h); }
};

#pragma pack(push, 2)
struct GroupIconHeader {
    WORD reserved, type, count;
};
struct GroupIconEntry {
    BYTE width, height, colorCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)

const char kPngSignature[] = "\x89PNG\r\n\x1A\n";

bool isPng(const std::string& bytes, unsigned* width, unsigned* height) {
    if (bytes.size() < 24 || bytes.compare(0, 8, kPngSignature) != 0 || bytes.compare(12, 4, "IHDR") != 0) return false;
    auto be32 = [&](size_t at) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(&bytes[at]);
        return unsigned(p[0]) << 24 | unsigned(p[1]) << 16 | unsigned(p[2]) << 8 | unsigned(p[3]);
    };
    *width = be32(16);
    *height = be32(20);
    return true;
}

class ProgramResources : public testing::Test {
protected:
    Scoped<HMODULE, LibraryTraits> module{
        LoadLibraryExW(KV_PROGRAM_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};

    std::string resource(const wchar_t* type, int id) {
        HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(id), type);
        if (!found) return "";
        HGLOBAL loaded = LoadResource(module.get(), found);
        const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
        return data ? std::string(data, SizeofResource(module.get(), found)) : "";
    }

    void SetUp() override { ASSERT_TRUE(module) << "cannot load the program, error " << GetLastError(); }
};

TEST_F(ProgramResources, IconGroupHoldsSevenSizesTheSmallOnesAsBitmaps) {
    std::string group = resource(RT_GROUP_ICON, 1);
    ASSERT_GE(group.size(), sizeof(GroupIconHeader));
    const auto* header = reinterpret_cast<const GroupIconHeader*>(group.data());
    EXPECT_EQ(header->type, 1);
    ASSERT_EQ(header->count, 7);
    ASSERT_EQ(group.size(), sizeof(GroupIconHeader) + 7 * sizeof(GroupIconEntry));
    const auto* entries = reinterpret_cast<const GroupIconEntry*>(group.data() + sizeof(GroupIconHeader));

    const unsigned sizes[] = {16, 24, 32, 48, 64, 128, 256};
    for (int i = 0; i < 7; i++) {
        SCOPED_TRACE(sizes[i]);
        EXPECT_EQ(unsigned(entries[i].width), sizes[i] & 0xFF);  // 256 is stored as 0
        EXPECT_EQ(unsigned(entries[i].height), sizes[i] & 0xFF);
        EXPECT_EQ(entries[i].bitCount, 32);
        std::string image = resource(RT_ICON, entries[i].id);
        EXPECT_EQ(image.size(), entries[i].bytesInRes);
        unsigned width = 0, height = 0;
        if (sizes[i] <= 48) {
            // Loaded at every start: a 32-bit bitmap (colour rows, then the mask), no decoder.
            ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
            BITMAPINFOHEADER bitmap;
            std::memcpy(&bitmap, image.data(), sizeof bitmap);
            EXPECT_EQ(bitmap.biSize, sizeof bitmap);
            EXPECT_EQ(unsigned(bitmap.biWidth), sizes[i]);
            EXPECT_EQ(unsigned(bitmap.biHeight), 2 * sizes[i]);
            EXPECT_EQ(bitmap.biBitCount, 32);
            continue;
        }
        ASSERT_TRUE(isPng(image, &width, &height));
        EXPECT_EQ(width, sizes[i]);
        EXPECT_EQ(height, sizes[i]);
    }
}

TEST_F(ProgramResources, IconDecodesAtEverySize) {
    for (int size : {16, 32, 48, 256}) {
        Scoped<HICON, IconTraits> icon(
            static_cast<HICON>(LoadImageW(module.get(), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0)));
        ASSERT_TRUE(icon) << size << " px, error " << GetLastError();
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon.get(), &info));
        ScopedGdiObject color(info.hbmColor), mask(info.hbmMask);
        BITMAP bitmap = {};
        ASSERT_TRUE(GetObjectW(color.get(), sizeof bitmap, &bitmap));
        EXPECT_EQ(bitmap.bmWidth, size);
    }
}

TEST_F(ProgramResources, LogoIsThe256PixelPngOfTheIcon) {
    std::string logo = resource(RT_RCDATA, 2);
    unsigned width = 0, height = 0;
    ASSERT_TRUE(isPng(logo, &width, &height));
    EXPECT_EQ(width, 256u);
    EXPECT_EQ(height, 256u);
    std::string group = resource(RT_GROUP_ICON, 1);
    ASSERT_EQ(group.size(), sizeof(GroupIconHeader) + 7 * sizeof(GroupIconEntry));
    const auto* largest = reinterpret_cast<const GroupIconEntry*>(group.data() + sizeof(GroupIconHeader)) + 6;
    EXPECT_EQ(logo, resource(RT_ICON, largest->id));
}

TEST_F(ProgramResources, ManifestAsksForLongPathsAndNoElevation) {
    std::string manifest = resource(RT_MANIFEST, 1);
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find("<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true"
                            "</longPathAware>"),
              std::string::npos);
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"), std::string::npos);
    EXPECT_EQ(manifest.find("Common-Controls"), std::string::npos);
    EXPECT_EQ(manifest.find("dependency"), std::string::npos);
}

class VersionInfo : public testing::Test {
protected:
    std::vector<char> block;

    void SetUp() override {
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeW(KV_PROGRAM_PATH, &ignored);
        ASSERT_GT(size, 0u) << GetLastError();
        block.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(KV_PROGRAM_PATH, 0, size, block.data()));
    }

    std::wstring text(const wchar_t* name) {
        void* value = nullptr;
        UINT length = 0;
        std::wstring key = std::wstring(L"\\StringFileInfo\\080404B0\\") + name;
        if (!VerQueryValueW(block.data(), key.c_str(), &value, &length) || !value) return L"<missing>";
        return static_cast<const wchar_t*>(value);
    }
};

TEST_F(VersionInfo, IsChineseSimplifiedInUnicode) {
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    const WORD* translation = static_cast<const WORD*>(value);
    EXPECT_EQ(translation[0], 0x0804);
    EXPECT_EQ(translation[1], 1200);
}

TEST_F(VersionInfo, NumbersAre1_4_25_0) {
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010004u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00190000u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010004u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00190000u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST_F(VersionInfo, NamesAreTheChineseProductName) {
    EXPECT_EQ(text(L"FileDescription"), L"星舟软件管家");
    EXPECT_EQ(text(L"ProductName"), L"星舟软件管家");
    EXPECT_EQ(text(L"OriginalFilename"), L"星舟软件管家.exe");
    EXPECT_EQ(text(L"CompanyName"), L"星舟软件");
    EXPECT_EQ(text(L"FileVersion"), L"1.4.25.0");
    EXPECT_EQ(text(L"ProductVersion"), L"1.4.25.0");
}

// The program creates its folder in the user's application-data folder, so it is only
// run where that folder belongs to the test: inside the build tree's private Wine prefix.
bool inPrivateWinePrefix() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

struct ProcessWindow {
    DWORD process;
    HWND found;
};

BOOL CALLBACK findMainWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<ProcessWindow*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t cls[32] = {};
    GetClassNameW(window, cls, 32);
    if (owner != search->process || wcscmp(cls, L"KVMainWnd") != 0) return TRUE;
    search->found = window;
    return FALSE;
}

TEST(Program, ShowsItsWindowAndExitsWithZeroWhenItIsClosed) {
    if (!inPrivateWinePrefix()) GTEST_SKIP() << "would touch the real user's application-data folder";
    // A server nobody listens on, so the load fails at once and nothing leaves this machine.
    ASSERT_TRUE(saveConfig(Config{L"http://127.0.0.1:9", L"default", L""}));
    std::wstring commandLine = L"\"" KV_PROGRAM_PATH L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(KV_PROGRAM_PATH, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &info));
    ScopedHandle process(info.hProcess);
    ScopedHandle thread(info.hThread);
    ProcessWindow search{info.dwProcessId, nullptr};
    // The window is created before it is shown: found, it is given the rest of the time to show.
    for (int i = 0; i < 600 && !(search.found && IsWindowVisible(search.found)); i++) {
        if (WaitForSingleObject(process.get(), 100) == WAIT_OBJECT_0) break;
        if (!search.found) EnumWindows(findMainWindow, reinterpret_cast<LPARAM>(&search));
    }
    ASSERT_NE(search.found, nullptr) << "no main window within 60 s";
    wchar_t title[64] = {};
    GetWindowTextW(search.found, title, 64);
    EXPECT_STREQ(title, L"星舟软件管家");
    EXPECT_TRUE(IsWindowVisible(search.found));
    PostMessageW(search.found, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
    DWORD exitCode = 99;
    GetExitCodeProcess(process.get(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
}

}  // namespace
