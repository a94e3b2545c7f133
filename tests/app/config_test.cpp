#include "app/config.h"

#include "scratch_folder.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kDefaultDir;

struct ParseCase {
    const char* name;
    std::string json;
    std::wstring server, channel, downloadDir;
};

std::ostream& operator<<(std::ostream& os, const ParseCase& c) { return os << c.name; }

class ParseConfig : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseConfig, TakesValidMembersAndDefaultsTheRest) {
    const ParseCase& c = GetParam();
    Config config = parseConfig(c.json);
    EXPECT_EQ(config.server, c.server);
    EXPECT_EQ(config.channel, c.channel);
    EXPECT_EQ(config.downloadDir, c.downloadDir);
}

const std::wstring D = kDefaultServer;

INSTANTIATE_TEST_SUITE_P(Members, ParseConfig, testing::Values(
    ParseCase{"all three", R"({"server":"https://a.example","channel":"beta","downloadDir":"E:\\Soft"})",
              L"https://a.example", L"beta", L"E:\\Soft"},
    ParseCase{"no members", "{}", D, L"default", kDefaultDir},
    ParseCase{"other members ignored", R"({"proxy":"x","server2":"y"})", D, L"default", kDefaultDir},
    ParseCase{"server trailing slashes removed", R"({"server":"https://a.example//"})",
              L"https://a.example", L"default", kDefaultDir},
    ParseCase{"server only slashes", R"({"server":"///"})", D, L"default", kDefaultDir},
    ParseCase{"server backslash kept", R"({"server":"https://a.example\\"})",
              L"https://a.example\\", L"default", kDefaultDir},
    ParseCase{"server empty", R"({"server":""})", D, L"default", kDefaultDir},
    ParseCase{"server a number", R"({"server":443})", D, L"default", kDefaultDir},
    ParseCase{"channel a number", R"({"channel":7})", D, L"default", kDefaultDir},
    ParseCase{"channel not trimmed", R"({"channel":" x/ "})", D, L" x/ ", kDefaultDir},
    ParseCase{"channel an object", R"({"channel":{"a":"b"}})", D, L"default", kDefaultDir},
    ParseCase{"dir trailing backslash", R"({"downloadDir":"D:\\Downloads\\"})", D, L"default", L"D:\\Downloads"},
    ParseCase{"dir mixed trailing separators", R"({"downloadDir":"D:\\Downloads/\\/"})", D, L"default",
              L"D:\\Downloads"},
    ParseCase{"dir bare drive with backslash", R"({"downloadDir":"D:\\"})", D, L"default", kDefaultDir},
    ParseCase{"dir bare drive", R"({"downloadDir":"D:"})", D, L"default", kDefaultDir},
    ParseCase{"dir of three characters", R"({"downloadDir":"abc"})", D, L"default", L"abc"},
    ParseCase{"dir chinese", "{\"downloadDir\":\"D:\\\\\xE4\xB8\x8B\xE8\xBD\xBD\"}", D, L"default",
              L"D:\\\u4E0B\u8F7D"},
    ParseCase{"dir an array", R"({"downloadDir":["D:\\x"]})", D, L"default", kDefaultDir},
    ParseCase{"duplicate key first wins", R"({"channel":"one","channel":"two"})", D, L"one", kDefaultDir},
    ParseCase{"byte-order mark skipped", "\xEF\xBB\xBF{\"channel\":\"bom\"}", D, L"bom", kDefaultDir}));

INSTANTIATE_TEST_SUITE_P(BadInput, ParseConfig, testing::Values(
    ParseCase{"empty", "", D, L"default", kDefaultDir},
    ParseCase{"whitespace", " \n\t", D, L"default", kDefaultDir},
    ParseCase{"not json", "server=https://x", D, L"default", kDefaultDir},
    ParseCase{"binary", std::string("\x00\xFF\x01", 3) + R"({"channel":"x"})", D, L"default", kDefaultDir},
    ParseCase{"root array", R"([{"channel":"x"}])", D, L"default", kDefaultDir},
    ParseCase{"root string", R"("channel")", D, L"default", kDefaultDir},
    ParseCase{"root null", "null", D, L"default", kDefaultDir},
    ParseCase{"truncated", R"({"channel":"beta","server":"https://a)", D, L"default", kDefaultDir},
    ParseCase{"invalid utf-8 replaced", "{\"channel\":\"a\xFF\xC0z\"}", D, L"a\uFFFD\uFFFDz", kDefaultDir},
    ParseCase{"nesting of 64 accepted",
              "{\"channel\":\"deep\",\"x\":" + std::string(63, '[') + std::string(63, ']') + "}", D, L"deep",
              kDefaultDir},
    ParseCase{"nesting of 65 rejected",
              "{\"channel\":\"deep\",\"x\":" + std::string(64, '[') + std::string(64, ']') + "}", D, L"default",
              kDefaultDir},
    ParseCase{"nesting of a million", std::string(1000000, '['), D, L"default", kDefaultDir}));

TEST(FormatConfig, WritesFiveLinesEachEndedByOneLineFeed) {
    Config config;
    config.server = L"https://a.example";
    config.channel = L"beta";
    config.downloadDir = L"D:\\\u4E0B\u8F7D";
    EXPECT_EQ(formatConfig(config),
              "{\n"
              "  \"server\": \"https://a.example\",\n"
              "  \"channel\": \"beta\",\n"
              "  \"downloadDir\": \"D:\\\\\xE4\xB8\x8B\xE8\xBD\xBD\"\n"
              "}\n");
}

TEST(FormatConfig, EscapesQuotesAndControlCharacters) {
    Config config;
    config.channel = L"a\"b\t\r\n\x01";
    config.downloadDir = L"";
    std::string text = formatConfig(config);
    EXPECT_NE(text.find("  \"channel\": \"a\\\"b\\t\\r\\n\\u0001\",\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  \"downloadDir\": \"\"\n}\n"), std::string::npos) << text;
}

TEST(FormatConfig, ReadsBackAsTheSameValues) {
    Config config;
    config.server = L"https://\u661F.example:8443";
    config.channel = L"q\"uo\\te\n";
    config.downloadDir = L"C:\\Users\\\u738B\\\u4E0B\u8F7D";
    Config back = parseConfig(formatConfig(config));
    EXPECT_EQ(back.server, config.server);
    EXPECT_EQ(back.channel, config.channel);
    EXPECT_EQ(back.downloadDir, config.downloadDir);
}

TEST(FolderOfPath, CutsBeforeTheLastSeparator) {
    EXPECT_EQ(folderOfPath(L"C:\\Program Files\\App\\app.exe"), L"C:\\Program Files\\App");
    EXPECT_EQ(folderOfPath(L"C:/x/y.exe"), L"C:/x");
    EXPECT_EQ(folderOfPath(L"C:\\a/b\\c.exe"), L"C:\\a/b");
    EXPECT_EQ(folderOfPath(L"app.exe"), L".");
    EXPECT_EQ(folderOfPath(L""), L".");
}

TEST(ExeConfigPath, IsConfigJsonBesideTheRunningExecutable) {
    setConfigFolders(L"", L"");
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(exeConfigPath(), folderOfPath(self) + L"\\config.json");
}

// Every test below works in a scratch folder standing in for the roaming
// application-data folder and the executable's folder.
class ConfigFile : public testing::Test {
protected:
    ScratchFolder root{L"config"};
    std::wstring appData = root / L"AppData";
    std::wstring exeDir = root / L"Exe";
    std::wstring userFile = appData + L"\\KelvoManager\\config.json";
    std::wstring exeFile = exeDir + L"\\config.json";

    void SetUp() override {
        CreateDirectoryW(appData.c_str(), nullptr);
        CreateDirectoryW(exeDir.c_str(), nullptr);
        setConfigFolders(appData, exeDir);
    }
    void TearDown() override { setConfigFolders(L"", L""); }
};

TEST_F(ConfigFile, PathIsInTheKelvoManagerFolderWhichItCreates) {
    EXPECT_FALSE(fileExists(appData + L"\\KelvoManager"));
    EXPECT_EQ(configFilePath(), userFile);
    EXPECT_TRUE(GetFileAttributesW((appData + L"\\KelvoManager").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(configFilePath(), userFile);  // an existing folder is fine
}

TEST_F(ConfigFile, ReadWholeFileAppendsEveryChunk) {
    std::string content(3 * 4096 + 1, 'x');
    content[4096] = '\0';
    content.back() = 'y';
    ASSERT_TRUE(writeBytes(exeFile, content));
    std::string bytes = "ab";
    EXPECT_TRUE(readWholeFile(exeFile, bytes));
    EXPECT_EQ(bytes, "ab" + content);

    ASSERT_TRUE(writeBytes(exeFile, ""));
    bytes.clear();
    EXPECT_TRUE(readWholeFile(exeFile, bytes));
    EXPECT_EQ(bytes, "");
}

TEST_F(ConfigFile, ReadWholeFileFailsOnlyWhenItCannotOpen) {
    std::string bytes = "kept";
    EXPECT_FALSE(readWholeFile(root / L"missing.json", bytes));
    EXPECT_FALSE(readWholeFile(L"", bytes));
    EXPECT_EQ(bytes, "kept");

    ASSERT_TRUE(writeBytes(exeFile, "{}"));
    ScopedFile writer(CreateFileW(exeFile.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    EXPECT_FALSE(readWholeFile(exeFile, bytes));
    EXPECT_EQ(bytes, "kept");
}

TEST_F(ConfigFile, LoadReadsTheUserFile) {
    configFilePath();
    ASSERT_TRUE(writeBytes(userFile, R"({"server":"https://user.example/","channel":"u"})"));
    ASSERT_TRUE(writeBytes(exeFile, R"({"channel":"exe"})"));
    Config config = loadConfig();
    EXPECT_EQ(config.server, L"https://user.example");
    EXPECT_EQ(config.channel, L"u");
    EXPECT_EQ(config.downloadDir, L"");
}

TEST_F(ConfigFile, LoadFallsBackToTheExecutablesFolderOnlyWhenTheUserFileIsMissing) {
    ASSERT_TRUE(writeBytes(exeFile, R"({"channel":"exe"})"));
    EXPECT_EQ(loadConfig().channel, L"exe");

    // An empty but present user file gives the defaults; the fallback is not read.
    configFilePath();
    ASSERT_TRUE(writeBytes(userFile, ""));
    EXPECT_EQ(loadConfig().channel, L"default");
}

TEST_F(ConfigFile, AnUnreadableUserFileIsToldApartAndKeptAsideBeforeASave) {
    const std::string handEdited = "{\n  \"server\": \"https://mine.example\",\n  \"channel\": \"x\",\n}\n";
    const struct {
        const char* what;
        std::string bytes;
        bool unreadable;
    } cases[] = {
        {"trailing comma", handEdited, true},
        {"random text", "not json at all", true},
        {"valid", R"({"channel":"c"})", false},
        {"empty", "", false},
        {"an array: JSON without the members", "[1,2]", false},
    };
    for (const auto& c : cases) {
        configFilePath();
        ASSERT_TRUE(writeBytes(userFile, c.bytes));
        bool unreadable = !c.unreadable;
        loadConfig(&unreadable);
        EXPECT_EQ(unreadable, c.unreadable) << c.what;
    }
    // Only the user's own file counts: the one beside the executable is never rewritten.
    DeleteFileW(userFile.c_str());
    ASSERT_TRUE(writeBytes(exeFile, "{,"));
    bool unreadable = true;
    loadConfig(&unreadable);
    EXPECT_FALSE(unreadable);

    // Kept aside as config.json.bad, replacing an older copy; then the save writes anew.
    ASSERT_TRUE(writeBytes(userFile + L".bad", "older copy"));
    ASSERT_TRUE(writeBytes(userFile, handEdited));
    ASSERT_TRUE(keepUnreadableConfig());
    EXPECT_EQ(readBytes(userFile + L".bad"), handEdited);
    EXPECT_FALSE(fileExists(userFile));
    ASSERT_TRUE(saveConfig(Config()));
    EXPECT_EQ(readBytes(userFile + L".bad"), handEdited);
    EXPECT_EQ(unreadableConfigKeptText(), L"配置文件无法读取，已另存为 config.json.bad");
}

TEST_F(ConfigFile, LoadWithoutAnyFileGivesTheDefaults) {
    Config config = loadConfig();
    EXPECT_EQ(config.server, kDefaultServer);
    EXPECT_EQ(config.channel, L"default");
    EXPECT_EQ(config.downloadDir, L"");
}

TEST_F(ConfigFile, LoadTakesMembersAfterAHugeValue) {
    configFilePath();
    std::string text = "{\"padding\":\"" + std::string(24 << 20, 'p') + "\",\"channel\":\"big\"}";
    ASSERT_TRUE(writeBytes(userFile, text));
    EXPECT_EQ(loadConfig().channel, L"big");
}

TEST_F(ConfigFile, LoadOfRandomBytesGivesTheDefaults) {
    configFilePath();
    std::string noise(1 << 16, '\0');
    uint32_t seed = 12345;
    for (char& c : noise) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 24);
    }
    ASSERT_TRUE(writeBytes(userFile, noise));
    Config config = loadConfig();
    EXPECT_EQ(config.server, kDefaultServer);
    EXPECT_EQ(config.channel, L"default");
}

TEST_F(ConfigFile, SaveWritesTheFiveLinesAndLeavesNoTemporaryFile) {
    Config config;
    config.downloadDir = L"D:\\Soft";
    ASSERT_TRUE(saveConfig(config));
    EXPECT_EQ(readBytes(userFile), formatConfig(config));
    EXPECT_FALSE(fileExists(userFile + L".tmp"));
    EXPECT_EQ(readBytes(userFile).back(), '\n');
}

TEST_F(ConfigFile, SaveReplacesTheOldFileAndLoadReadsItBack) {
    configFilePath();
    ASSERT_TRUE(writeBytes(userFile, std::string(10000, ' ') + R"({"channel":"old"})"));
    Config config;
    config.server = L"https://new.example";
    config.channel = L"\u6D4B\u8BD5";
    config.downloadDir = L"E:\\\u4E0B\u8F7D";
    ASSERT_TRUE(saveConfig(config));
    EXPECT_EQ(readBytes(userFile), formatConfig(config));
    Config back = loadConfig();
    EXPECT_EQ(back.server, config.server);
    EXPECT_EQ(back.channel, config.channel);
    EXPECT_EQ(back.downloadDir, config.downloadDir);
}

TEST_F(ConfigFile, SaveNeverWritesBesideTheExecutable) {
    ASSERT_TRUE(writeBytes(exeFile, R"({"channel":"exe"})"));
    ASSERT_TRUE(saveConfig(Config()));
    EXPECT_EQ(readBytes(exeFile), R"({"channel":"exe"})");
}

// Failed saves: the previous file stays exactly as it was.
class FailedSave : public ConfigFile {
protected:
    const std::string old = "{\n  \"channel\": \"old\"\n}\n";
    Config changed;

    void SetUp() override {
        ConfigFile::SetUp();
        configFilePath();
        ASSERT_TRUE(writeBytes(userFile, old));
        changed.channel = L"new";
    }
};

TEST_F(FailedSave, WhenTheTemporaryFileCannotBeCreated) {
    ASSERT_TRUE(CreateDirectoryW((userFile + L".tmp").c_str(), nullptr));
    EXPECT_FALSE(saveConfig(changed));
    EXPECT_EQ(readBytes(userFile), old);
}

TEST_F(FailedSave, WhenTheFileIsHeldOpenByAnotherProgram) {
    ScopedFile holder(CreateFileW(userFile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_FALSE(saveConfig(changed));
    holder.reset();
    EXPECT_EQ(readBytes(userFile), old);
    EXPECT_FALSE(fileExists(userFile + L".tmp"));
    EXPECT_EQ(loadConfig().channel, L"old");
}

TEST_F(FailedSave, WhenTheFileIsReadOnly) {
    ASSERT_TRUE(SetFileAttributesW(userFile.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(saveConfig(changed));
    EXPECT_EQ(readBytes(userFile), old);
    EXPECT_FALSE(fileExists(userFile + L".tmp"));
}

TEST_F(FailedSave, WhenTheFolderCannotBeCreated) {
    setConfigFolders(root / L"no\\such\\folder", exeDir);
    EXPECT_FALSE(saveConfig(changed));
    setConfigFolders(appData, exeDir);
    EXPECT_EQ(readBytes(userFile), old);
}

}  // namespace
