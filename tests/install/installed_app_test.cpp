// Which processes left of an installer's tree are the application it has just installed.
#include <gtest/gtest.h>

#include "install/installed_app.h"

namespace {

TEST(InstalledApp, FoldersComeFromTheEntrysValuesInEveryFormAndNeverFromSystemOrInstallerFolders) {
    const struct {
        const wchar_t* command;
        const wchar_t* folder;
    } commands[] = {
        {L"\"C:\\Program Files\\Foo App\\uninst.exe\" /S", L"C:\\Program Files\\Foo App"},
        {L"C:\\Program Files\\Foo App\\uninst.exe /S --all", L"C:\\Program Files\\Foo App"},
        {L"C:\\Program Files\\Foo App\\foo.exe,0", L"C:\\Program Files\\Foo App"},
        {L"\"C:\\Program Files\\Foo App\\foo.exe\",-101", L"C:\\Program Files\\Foo App"},
        {L"C:/Tools/Bar/app.ico", L"C:\\Tools\\Bar"},
        {L"  D:\\Bar\\bar.exe  ", L"D:\\Bar"},
        {L"MsiExec.exe /X{12345678-1234-1234-1234-123456789012}", L""},
        {L"uninst.exe", L""},
        {L"\"relative\\uninst.exe\"", L""},
        {L"", L""},
    };
    for (const auto& c : commands)
        EXPECT_EQ(folderOfCommand(c.command), c.folder) << testing::PrintToString(std::wstring(c.command));

    const std::vector<std::wstring> excluded = {L"C:\\Windows", L"C:\\Users\\u\\Temp\\kv-setup-1-2-3"};
    UninstallPlaces nsis{L"C:\\Program Files\\Foo App\\", L"C:\\Program Files\\Foo App\\foo.exe,0",
                         L"\"C:\\Program Files\\Foo App\\uninst.exe\""};
    UninstallPlaces msi{L"", L"C:\\Windows\\Installer\\{GUID}\\icon.ico",
                        L"C:\\Windows\\System32\\msiexec.exe /X{GUID}"};
    UninstallPlaces wide{L"C:\\", L"", L"C:\\Users\\u\\uninstall.exe"};
    std::vector<std::wstring> folders = installedAppFolders({nsis, msi, wide}, excluded);
    EXPECT_EQ(folders, std::vector<std::wstring>(3, L"C:\\Program Files\\Foo App"))
        << "the Windows folder, a drive root and a folder holding the installer's own are no application's";

    EXPECT_TRUE(onlyInstalledAppLeft({L"c:\\program files\\FOO APP\\bin\\foo.exe", L"C:/Program Files/Foo App/x.exe"},
                                     folders));
    EXPECT_TRUE(onlyInstalledAppLeft({}, folders)) << "nothing left at all";
    EXPECT_FALSE(onlyInstalledAppLeft({L"C:\\Program Files\\Foo App\\foo.exe",
                                       L"C:\\Users\\u\\Temp\\kv-setup-1-2-3\\setup.exe"},
                                      folders))
        << "the installer itself still runs (its last page)";
    EXPECT_FALSE(onlyInstalledAppLeft({L"C:\\Program Files\\Foo App2\\foo.exe"}, folders)) << "a sibling folder";
    EXPECT_FALSE(onlyInstalledAppLeft({L""}, folders)) << "a process whose image cannot be read";
    EXPECT_FALSE(onlyInstalledAppLeft({L"C:\\Windows\\System32\\msiexec.exe"}, installedAppFolders({msi}, excluded)));
}

}  // namespace
