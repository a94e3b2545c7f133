#include "app/config.h"
#include "app/settings_dialog.h"
#include "app_test_paths.h"
#include "download/format.h"
#include "scratch_folder.h"
#include "window_support.h"

#include <vector>

namespace {

class SettingsDialog : public MainWindowTest {
protected:
    ScratchFolder folder{L"settings"};
    std::wstring configFile;

    void SetUp() override {
        MainWindowTest::SetUp();
        CreateDirectoryW((folder / L"appdata").c_str(), nullptr);
        setConfigFolders(folder / L"appdata", folder / L"exe");
        configFile = configFilePath();
        gApp.config.downloadDir.clear();
        setDownloadDirectory(L"");
        open();
    }

    void TearDown() override {
        SetFileAttributesW(configFile.c_str(), FILE_ATTRIBUTE_NORMAL);
        MainWindowTest::TearDown();
        setConfigFolders(L"", L"");
        setDownloadDirectory(L"");
        gApp.config.downloadDir.clear();
    }

    HWND control(int id) { return GetDlgItem(gApp.settingsWindow, id); }

    // Posts a key to the focused control and lets the loop's dialog routing handle it.
    void key(WPARAM vk) {
        PostMessageW(GetFocus(), WM_KEYDOWN, vk, 1);
        PostMessageW(GetFocus(), WM_KEYUP, vk, 0xC0000001);
        pumpFor(100);
        ASSERT_TRUE(pumpUntil([] { return !settingsSavePending(); }, 20000)) << "the save never finished";
    }

    void typeAndSave(const std::wstring& text) {
        openSettingsDialog();
        ASSERT_NE(gApp.settingsWindow, nullptr);
        SetWindowTextW(gApp.settingsEdit, text.c_str());
        SendMessageW(gApp.settingsWindow, WM_COMMAND, MAKEWPARAM(kIdSave, BN_CLICKED),
                     reinterpret_cast<LPARAM>(control(kIdSave)));
        // The folder is checked and made on a worker; the dialog finishes when it reports.
        ASSERT_TRUE(pumpUntil([] { return !settingsSavePending(); }, 20000)) << "the save never finished";
    }
};

std::wstring textOf(HWND w) {
    wchar_t buf[512] = {};
    GetWindowTextW(w, buf, 512);
    return buf;
}

LOGFONTW fontOf(HWND w) {
    LOGFONTW lf = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0)), sizeof lf, &lf);
    return lf;
}

std::string rectText(const RECT& r) {
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ")-(" + std::to_string(r.right) + ", " +
           std::to_string(r.bottom) + ")";
}

// The dialog's size and its eight controls in creation order (heading, label, folder box,
// browse, hint, cancel, save, credit), at each scale; the open dialog is checked against
// these functions.
TEST(SettingsLayout, SizeAndControlsAtEveryScale) {
    const struct {
        int dpi;
        SIZE size;
        RECT controls[kSettingsControlCount];
    } cases[] = {
        {96, {478, 272}, {{30, 20, 230, 42}, {30, 52, 330, 72}, {30, 76, 360, 106}, {368, 76, 448, 106},
                          {30, 116, 330, 136}, {248, 156, 332, 190}, {342, 156, 426, 190}, {30, 204, 410, 222}}},
        {120, {598, 340}, {{38, 25, 288, 53}, {38, 65, 413, 90}, {38, 95, 450, 133}, {460, 95, 560, 133},
                           {38, 145, 413, 170}, {310, 195, 415, 238}, {428, 195, 533, 238}, {38, 255, 513, 278}}},
        {144, {717, 408}, {{45, 30, 345, 63}, {45, 78, 495, 108}, {45, 114, 540, 159}, {552, 114, 672, 159},
                           {45, 174, 495, 204}, {372, 234, 498, 285}, {513, 234, 639, 285}, {45, 306, 615, 333}}},
        {192, {956, 544}, {{60, 40, 460, 84}, {60, 104, 660, 144}, {60, 152, 720, 212}, {736, 152, 896, 212},
                           {60, 232, 660, 272}, {496, 312, 664, 380}, {684, 312, 852, 380}, {60, 408, 820, 444}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dpi);
        const SIZE size = settingsWindowSize(c.dpi);
        EXPECT_EQ(size.cx, c.size.cx);
        EXPECT_EQ(size.cy, c.size.cy);
        for (int i = 0; i < kSettingsControlCount; ++i) {
            const RECT a = settingsControlRect(i, c.dpi);
            EXPECT_EQ(rectText(a), rectText(c.controls[i])) << "control " << i;
            for (int j = i + 1; j < kSettingsControlCount; ++j) {
                const RECT b = settingsControlRect(j, c.dpi);
                RECT both;
                EXPECT_FALSE(IntersectRect(&both, &a, &b)) << i << " and " << j;
            }
        }
    }
}

TEST_F(SettingsDialog, OpensCentredAndModalWithItsControls) {
    openSettingsDialog();
    HWND dialog = gApp.settingsWindow;
    ASSERT_NE(dialog, nullptr);
    wchar_t cls[32] = {};
    GetClassNameW(dialog, cls, 32);
    EXPECT_STREQ(cls, L"KVSettings");
    EXPECT_EQ(textOf(dialog), L"下载设置");
    RECT r = {};
    GetWindowRect(dialog, &r);
    const SIZE size = settingsWindowSize(96);
    EXPECT_EQ(r.right - r.left, size.cx);
    EXPECT_EQ(r.bottom - r.top, size.cy);
    EXPECT_EQ(r.left, 50 + (1180 - size.cx) / 2);
    EXPECT_EQ(r.top, 122 + (780 - size.cy) / 2);
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), window);
    EXPECT_TRUE(GetWindowLongPtrW(dialog, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
    EXPECT_FALSE(IsWindowEnabled(window));
    EXPECT_EQ(GetFocus(), gApp.settingsEdit);

    const struct {
        const wchar_t* cls;
        std::wstring text;
        int id;
        bool tabStop;
        int fontHeight, weight;
    } expected[] = {
        {L"Static", L"下载设置", 0, false, 15, 700},
        {L"Static", L"安装包保存目录", 0, false, 14, 400},
        {L"Edit", downloadDirectory(), 103, true, 14, 400},
        {L"Button", L"浏览...", 3, true, 14, 400},
        {L"Static", L"修改后对新的下载任务生效", 0, false, 14, 400},
        {L"Button", L"取消", 1, true, 14, 400},
        {L"Button", L"保存", 2, true, 14, 400},
        {L"Static", L"开发者：启明数码科技工作室", 0, false, 12, 400},
    };
    HWND child = GetWindow(dialog, GW_CHILD);
    int index = 0;
    for (const auto& e : expected) {
        SCOPED_TRACE(testing::Message() << "control " << index);
        ASSERT_NE(child, nullptr);
        GetClassNameW(child, cls, 32);
        EXPECT_EQ(_wcsicmp(cls, e.cls), 0) << cls;
        EXPECT_EQ(textOf(child), e.text);
        RECT c = {};
        GetWindowRect(child, &c);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&c), 2);
        EXPECT_EQ(rectText(c), rectText(settingsControlRect(index++, 96)));
        if (e.id) {
            EXPECT_EQ(GetDlgCtrlID(child), e.id);
        }
        EXPECT_EQ((GetWindowLongPtrW(child, GWL_STYLE) & WS_TABSTOP) != 0, e.tabStop);
        const LOGFONTW lf = fontOf(child);
        EXPECT_EQ(lf.lfHeight, -e.fontHeight);
        EXPECT_EQ(lf.lfWeight, e.weight);
        EXPECT_STREQ(lf.lfFaceName, L"Microsoft YaHei");
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr);
    EXPECT_EQ(gApp.settingsCredit, GetWindow(GetWindow(dialog, GW_CHILD), GW_HWNDLAST));
}

TEST_F(SettingsDialog, CreditIsGreyOnTransparentAndNamesTheProgramsVersion) {
    EXPECT_EQ(productVersionOf(KV_PROGRAM_PATH), L"1.4.25.0");
    EXPECT_EQ(creditLine(productVersionOf(KV_PROGRAM_PATH)), L"开发者：启明数码科技工作室    版本 v1.4.25");
    EXPECT_EQ(productVersionOf(L"Z:\\no\\such\\file.exe"), L"");
    openSettingsDialog();
    ScopedMemoryDc dc(CreateCompatibleDC(nullptr));
    const LRESULT brush = SendMessageW(gApp.settingsWindow, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.get()),
                                       reinterpret_cast<LPARAM>(gApp.settingsCredit));
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(brush), GetStockObject(NULL_BRUSH));
    EXPECT_EQ(GetTextColor(dc.get()), RGB(150, 153, 160));
    EXPECT_EQ(GetBkMode(dc.get()), TRANSPARENT);
}

TEST_F(SettingsDialog, LabelsSitOnTheDialogsOwnBackgroundNotOnGreyBoxes) {
    openSettingsDialog();
    int labels = 0;
    for (HWND child = GetWindow(gApp.settingsWindow, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[16] = {};
        GetClassNameW(child, cls, 16);
        if (_wcsicmp(cls, L"Static") != 0 || child == gApp.settingsCredit) continue;
        ++labels;
        ScopedMemoryDc dc(CreateCompatibleDC(nullptr));
        const LRESULT brush = SendMessageW(gApp.settingsWindow, WM_CTLCOLORSTATIC,
                                           reinterpret_cast<WPARAM>(dc.get()), reinterpret_cast<LPARAM>(child));
        EXPECT_EQ(reinterpret_cast<HBRUSH>(brush), GetSysColorBrush(COLOR_WINDOW));
        EXPECT_EQ(GetBkColor(dc.get()), GetSysColor(COLOR_WINDOW));
    }
    EXPECT_EQ(labels, 3);
}

TEST_F(SettingsDialog, OpensOnceFromEitherButton) {
    for (int kind : {HitSettingsTool, HitPanelChangeDir}) {
        gApp.hitRects = {{{300, 300, 400, 400}, kind, 0}};
        click(350, 350);
        HWND first = gApp.settingsWindow;
        ASSERT_NE(first, nullptr);
        gApp.hitRects = {{{300, 300, 400, 400}, kind, 0}};
        SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(350, 350));  // main window is disabled
        openSettingsDialog();
        EXPECT_EQ(gApp.settingsWindow, first);
        int count = 0;
        EnumThreadWindows(GetCurrentThreadId(), [](HWND w, LPARAM n) {
            wchar_t cls[32] = {};
            GetClassNameW(w, cls, 32);
            if (wcscmp(cls, L"KVSettings") == 0) ++*reinterpret_cast<int*>(n);
            return TRUE;
        }, reinterpret_cast<LPARAM>(&count));
        EXPECT_EQ(count, 1);
        SendMessageW(first, WM_CLOSE, 0, 0);  // the caption's close button
        EXPECT_EQ(gApp.settingsWindow, nullptr);
        EXPECT_TRUE(IsWindowEnabled(window));
    }
    EXPECT_FALSE(fileExists(configFile));
}

TEST_F(SettingsDialog, EscCancelsEnterSavesAndTabVisitsEveryControl) {
    openSettingsDialog();
    ASSERT_EQ(GetFocus(), gApp.settingsEdit);
    const int order[] = {kIdBrowse, kIdCancel, kIdSave, kIdDirectory};
    for (int id : order) {
        key(VK_TAB);
        EXPECT_EQ(GetFocus(), control(id)) << id;
    }

    const std::wstring target = folder / L"keys";
    SetWindowTextW(gApp.settingsEdit, target.c_str());
    key(VK_ESCAPE);
    EXPECT_EQ(gApp.settingsWindow, nullptr);
    EXPECT_TRUE(gApp.config.downloadDir.empty());
    EXPECT_FALSE(fileExists(configFile));

    openSettingsDialog();
    SetWindowTextW(gApp.settingsEdit, target.c_str());
    key(VK_TAB);
    key(VK_TAB);  // on 取消: Enter presses it
    ASSERT_EQ(GetFocus(), control(kIdCancel));
    key(VK_RETURN);
    EXPECT_EQ(gApp.settingsWindow, nullptr);
    EXPECT_TRUE(gApp.config.downloadDir.empty());

    openSettingsDialog();
    SetWindowTextW(gApp.settingsEdit, target.c_str());
    key(VK_RETURN);
    EXPECT_EQ(gApp.settingsWindow, nullptr);
    EXPECT_EQ(gApp.config.downloadDir, target);
    EXPECT_EQ(downloadDirectory(), target);
    EXPECT_EQ(parseConfig(readBytes(configFile)).downloadDir, target);
    EXPECT_EQ(gApp.toastText, L"下载目录已保存");
    EXPECT_EQ(gApp.toastKind, 1);
    EXPECT_TRUE(IsWindowEnabled(window));
}

TEST_F(SettingsDialog, SavesTrimmedFoldersAndDriveRootsAsTheDefault) {
    const std::wstring soft = folder / L"Soft";
    std::wstring deep = folder.path();
    for (int i = 0; i < 6; i++) deep += L"\\" + std::wstring(50, wchar_t(L'a' + i));  // over 300 characters
    const struct {
        std::wstring typed, saved, toast;
    } cases[] = {
        {soft + L"\\", soft, L"下载目录已保存"},
        {L"  " + soft + L"/ ", soft, L"下载目录已保存"},
        {folder / L"新 文件夹", folder / L"新 文件夹", L"下载目录已保存"},
        {deep, deep, L"下载目录已保存"},
        {L"D:\\", L"", L"已恢复默认下载目录"},
        {L"D:", L"", L"已恢复默认下载目录"},
        {L"     ", L"", L"已恢复默认下载目录"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "typed length " << c.typed.size());
        typeAndSave(c.typed);
        EXPECT_EQ(gApp.settingsWindow, nullptr);
        EXPECT_EQ(gApp.config.downloadDir, c.saved);
        EXPECT_EQ(parseConfig(readBytes(configFile)).downloadDir, c.saved);
        EXPECT_EQ(gApp.toastText, c.toast);
        EXPECT_EQ(gApp.toastKind, 1);
        if (!c.saved.empty()) {
            const DWORD a = GetFileAttributesW(c.saved.c_str());
            EXPECT_TRUE(a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY));
            EXPECT_EQ(downloadDirectory(), c.saved);
        }
    }
}

TEST_F(SettingsDialog, RefusesFoldersThatCannotTakeDownloadsAndKeepsTheText) {
    const std::wstring file = folder / L"a file.txt";
    ASSERT_TRUE(writeBytes(file, "x"));
    const struct {
        std::wstring typed, toast;
    } cases[] = {
        {file, L"该路径是一个文件，请选择文件夹"},
        {file + L"\\sub", L"无法创建该目录，请检查路径和权限"},
        {L"relative\\folder", L"请填写完整的目录路径，例如 D:\\Downloads"},
        {L"      xyzw     ", L"请填写完整的目录路径，例如 D:\\Downloads"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "typed length " << c.typed.size());
        typeAndSave(c.typed);
        ASSERT_NE(gApp.settingsWindow, nullptr);
        EXPECT_EQ(textOf(gApp.settingsEdit), c.typed);
        EXPECT_EQ(gApp.toastText, c.toast);
        EXPECT_EQ(gApp.toastKind, 2);
        EXPECT_TRUE(gApp.config.downloadDir.empty());
        EXPECT_FALSE(fileExists(configFile));
        SendMessageW(gApp.settingsWindow, WM_CLOSE, 0, 0);
    }
}

TEST_F(SettingsDialog, AHandEditedConfigThatDoesNotParseSurvivesTheFirstSave) {
    const std::string handEdited = "{\"server\": \"https://mine.example\", \"channel\": \"x\",}";
    ASSERT_TRUE(writeBytes(configFile, handEdited));
    gApp.configUnreadable = true;
    const std::wstring target = folder / L"after-bad";
    typeAndSave(target);
    EXPECT_EQ(gApp.settingsWindow, nullptr);
    EXPECT_EQ(readBytes(configFile + L".bad"), handEdited);
    EXPECT_EQ(parseConfig(readBytes(configFile)).downloadDir, target);
    EXPECT_EQ(gApp.toastText, L"配置文件无法读取，已另存为 config.json.bad");
    EXPECT_EQ(gApp.toastKind, 2);
    EXPECT_FALSE(gApp.configUnreadable);

    // The next save is an ordinary one, and the copy stays.
    typeAndSave(target);
    EXPECT_EQ(gApp.toastText, L"下载目录已保存");
    EXPECT_EQ(readBytes(configFile + L".bad"), handEdited);
    DeleteFileW((configFile + L".bad").c_str());
}

TEST_F(SettingsDialog, AReadOnlyConfigKeepsTheFolderForThisRunAndSaysTheFileFailed) {
    const std::string old = formatConfig(gApp.config);
    ASSERT_TRUE(writeBytes(configFile, old));
    ASSERT_TRUE(SetFileAttributesW(configFile.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::wstring target = folder / L"ro";
    typeAndSave(target);
    EXPECT_EQ(gApp.settingsWindow, nullptr);
    EXPECT_EQ(gApp.toastText, L"下载目录已生效，但配置文件保存失败");
    EXPECT_EQ(gApp.toastKind, 2);
    EXPECT_EQ(gApp.config.downloadDir, target);
    EXPECT_EQ(downloadDirectory(), target);
    EXPECT_EQ(readBytes(configFile), old);
}

}  // namespace
