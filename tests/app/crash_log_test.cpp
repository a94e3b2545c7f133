#include "app/crash_log.h"

#include "app_test_paths.h"
#include "scoped.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <utility>
#include <vector>

namespace {

// Addresses are printed with the runtime's %p: 16 hex digits, upper case with MSVC's
// runtime and lower case with MinGW's.
const char kLinePattern[] = "code=([0-9A-F]{8}) rva=([0-9A-Fa-f]{16}) frames:(( [0-9A-Fa-f]{16}){1,16})\r?";

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Points the temporary folder of this process at another folder for the test's duration.
class TempFolderOverride {
public:
    explicit TempFolderOverride(const std::wstring& folder) {
        for (const wchar_t* name : {L"TMP", L"TEMP"}) {
            wchar_t value[MAX_PATH * 2] = {};
            saved_.push_back(GetEnvironmentVariableW(name, value, MAX_PATH * 2) ? value : L"");
            SetEnvironmentVariableW(name, folder.c_str());
        }
    }
    ~TempFolderOverride() {
        SetEnvironmentVariableW(L"TMP", saved_[0].empty() ? nullptr : saved_[0].c_str());
        SetEnvironmentVariableW(L"TEMP", saved_[1].empty() ? nullptr : saved_[1].c_str());
    }

private:
    std::vector<std::wstring> saved_;
};

LONG callFilter(DWORD code, uintptr_t rva) {
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = code;
    record.ExceptionAddress = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr)) + rva);
    CONTEXT context = {};
    EXCEPTION_POINTERS pointers = {&record, &context};
    return crashFilter(&pointers);
}

TEST(CrashFilter, AppendsOneLinePerCallAndContinuesTheSearch) {
    ScratchFolder temp(L"crash_direct");
    TempFolderOverride over(temp.path() + L"\\");
    EXPECT_EQ(callFilter(0xE0001234, 0x1234), EXCEPTION_CONTINUE_SEARCH);
    EXPECT_EQ(callFilter(0x80000003, 0xABCDEF), EXCEPTION_CONTINUE_SEARCH);

    std::string log = readBytes(temp / L"kv_crash.log");
    std::vector<std::string> lines = linesOf(log);
    ASSERT_EQ(lines.size(), 2u) << log;
    EXPECT_EQ(log.back(), '\n');
    const std::pair<const char*, uint64_t> expected[] = {{"E0001234", 0x1234}, {"80000003", 0xABCDEF}};
    for (int i = 0; i < 2; i++) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, std::regex(kLinePattern))) << lines[i];
        EXPECT_EQ(m[1].str(), expected[i].first);
        EXPECT_EQ(std::strtoull(m[2].str().c_str(), nullptr, 16), expected[i].second);
    }
}

DWORD WINAPI filterOnFreshThread(void*) {
    return static_cast<DWORD>(callFilter(0xC0000005, 0x20));
}

TEST(CrashFilter, PrintsOnlyTheFramesThereAre) {
    ScratchFolder temp(L"crash_shallow");
    TempFolderOverride over(temp.path() + L"\\");
    ScopedHandle thread(CreateThread(nullptr, 0, filterOnFreshThread, nullptr, 0, nullptr));
    ASSERT_TRUE(thread);
    ASSERT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0);

    std::string log = readBytes(temp / L"kv_crash.log");
    std::vector<std::string> lines = linesOf(log);
    ASSERT_EQ(lines.size(), 1u) << log;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, std::regex(kLinePattern))) << lines[0];
    size_t frames = m[3].length() / 17;
    EXPECT_GE(frames, 1u);
    EXPECT_LT(frames, 16u) << lines[0];
    EXPECT_EQ(log.back(), '\n');
}

TEST(CrashFilter, WritesNothingWhenTheLogCannotBeOpened) {
    ScratchFolder temp(L"crash_missing");
    TempFolderOverride over(temp / L"gone\\");
    EXPECT_EQ(callFilter(0xC0000005, 0x10), EXCEPTION_CONTINUE_SEARCH);
    EXPECT_FALSE(fileExists(temp / L"gone"));
}

TEST(CrashFilter, WritesNothingWhenTheTemporaryPathIsTooLong) {
    ScratchFolder temp(L"crash_long");
    std::wstring deep = temp.path();
    while (deep.size() < MAX_PATH - 8) deep += L"\\abcdefghijklmnopqrst";
    TempFolderOverride over(deep + L"\\");
    EXPECT_EQ(callFilter(0xC0000005, 0x10), EXCEPTION_CONTINUE_SEARCH);
}

// The helper program crashes for real, with its temporary folder set to a private one.
struct HelperRun {
    bool ended = false;
    DWORD exitCode = 0;
};

HelperRun runCrashHelper(const std::wstring& argument, const std::wstring& tempFolder) {
    std::wstring environment;
    {
        wchar_t* block = GetEnvironmentStringsW();
        for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
            if (_wcsnicmp(p, L"TMP=", 4) != 0 && _wcsnicmp(p, L"TEMP=", 5) != 0) environment.append(p).push_back(0);
        }
        FreeEnvironmentStringsW(block);
    }
    environment.append(L"TMP=" + tempFolder).push_back(0);
    environment.append(L"TEMP=" + tempFolder).push_back(0);
    environment.push_back(0);

    std::wstring commandLine = L"\"" KV_CRASH_HELPER_PATH L"\" " + argument;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    HelperRun run;
    if (!CreateProcessW(KV_CRASH_HELPER_PATH, &commandLine[0], nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, &environment[0], nullptr, &startup, &info))
        return run;
    ScopedHandle process(info.hProcess);
    ScopedHandle thread(info.hThread);
    // No debugger or error dialog may hold a crashed process: it has to end by itself.
    if (WaitForSingleObject(process.get(), 30000) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 99);
        return run;
    }
    run.ended = GetExitCodeProcess(process.get(), &run.exitCode) != 0;
    return run;
}

// SizeOfImage from the executable's PE header: a relative address inside the image is below it.
uint64_t imageSize(const std::wstring& path) {
    std::string bytes = readBytes(path);
    if (bytes.size() < 0x40) return 0;
    uint32_t peOffset = *reinterpret_cast<const uint32_t*>(&bytes[0x3C]);
    if (peOffset + sizeof(IMAGE_NT_HEADERS64) > bytes.size()) return 0;
    return reinterpret_cast<const IMAGE_NT_HEADERS64*>(&bytes[peOffset])->OptionalHeader.SizeOfImage;
}

TEST(CrashLog, TwoRealCrashesLeaveTwoLines) {
    ScratchFolder temp(L"crash_real");
    for (const wchar_t* where : {L"main", L"thread"}) {
        HelperRun run = runCrashHelper(where, temp.path());
        ASSERT_TRUE(run.ended) << "the crashed helper did not end within 30 s";
        EXPECT_EQ(run.exitCode, 0xC0000005u);
    }

    std::string log = readBytes(temp / L"kv_crash.log");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), '\n');
    EXPECT_EQ(log.find("\n\n"), std::string::npos);
    std::vector<std::string> lines = linesOf(log);
    ASSERT_EQ(lines.size(), 2u) << log;
    uint64_t size = imageSize(KV_CRASH_HELPER_PATH);
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, std::regex(kLinePattern))) << line;
        EXPECT_EQ(m[1].str(), "C0000005");
        EXPECT_LT(std::strtoull(m[2].str().c_str(), nullptr, 16), size) << "fault outside the helper: " << line;
    }
}

TEST(CrashLog, UnwritableLogDoesNotStopTheCrash) {
    ScratchFolder temp(L"crash_unwritable");
    HelperRun run = runCrashHelper(L"main", temp / L"missing");
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0xC0000005u);
    EXPECT_FALSE(fileExists(temp / L"missing"));
}

}  // namespace
