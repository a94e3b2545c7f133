#include "app/settings_dialog.h"

#include <shlobj.h>

#include <atomic>
#include <cwchar>
#include <memory>
#include <new>
#include <vector>

#include "app/app_state.h"
#include "app/config.h"
#include "app/main_window.h"
#include "download/format.h"
#include "scoped.h"
#include "ui/scale.h"

namespace {

constexpr wchar_t kHeading[] = L"下载设置";
constexpr COLORREF kCreditColour = RGB(150, 153, 160);

constexpr UINT kMsgFolderPrepared = WM_APP + 10;

// The dialog's three fonts, made anew on each open and released when it is gone.
ScopedGdiObject bodyFont, headingFont, creditFont;

// A save whose folder a worker is checking and making. The worker fills `problem`, then
// sets `done` and tells the dialog; the dialog drops its reference when it closes, so a
// report that comes too late finds no dialog and does nothing.
struct FolderCheck {
    std::wstring folder;
    std::wstring problem;
    std::atomic<bool> done{false};
};
std::shared_ptr<FolderCheck> pendingCheck;

struct FolderCheckJob {
    std::shared_ptr<FolderCheck> check;
    HWND dialog;
};

DWORD WINAPI folderCheckThread(void* param) {
    std::unique_ptr<FolderCheckJob> job(static_cast<FolderCheckJob*>(param));
    try {
        job->check->problem = prepareDownloadDir(job->check->folder);
    } catch (...) {
        job->check->problem = L"无法创建该目录，请检查路径和权限";
    }
    job->check->done = true;
    PostMessageW(job->dialog, kMsgFolderPrepared, 0, 0);
    return 0;
}

void enableSaving(HWND dialog, bool enable) {
    EnableWindow(GetDlgItem(dialog, kIdSave), enable);
    EnableWindow(GetDlgItem(dialog, kIdBrowse), enable);
    SendMessageW(gApp.settingsEdit, EM_SETREADONLY, enable ? FALSE : TRUE, 0);
}

std::wstring windowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) return std::wstring();
    std::vector<wchar_t> buffer(size_t(length) + 1);
    const int got = GetWindowTextW(window, buffer.data(), length + 1);
    return std::wstring(buffer.data(), got > 0 ? size_t(got) : 0);
}

HWND addControl(HWND dialog, const wchar_t* cls, const wchar_t* text, int x, int y, int w, int h, int id,
                DWORD extra) {
    return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | extra, x, y, w, h, dialog,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

BOOL CALLBACK setBodyFont(HWND child, LPARAM font) {
    SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
    return TRUE;
}

BOOL CALLBACK setHeadingFont(HWND child, LPARAM font) {
    wchar_t text[65] = {};
    GetWindowTextW(child, text, 65);
    if (wcscmp(text, kHeading) == 0) SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
    return TRUE;
}

std::wstring ownPath() {
    wchar_t path[260] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, 260);
    return std::wstring(path, length < 260 ? length : 0);
}

// The controls in creation order, as the layout places them.
HWND settingsControls[kSettingsControlCount] = {};

void makeDialogFonts(HWND dialog, int dpi) {
    bodyFont.reset(createUiFont(scalePx(14, dpi), 400));
    headingFont.reset(createUiFont(scalePx(15, dpi), 700));
    creditFont.reset(createUiFont(scalePx(12, dpi), 400));
    EnumChildWindows(dialog, setBodyFont, reinterpret_cast<LPARAM>(bodyFont.get()));
    EnumChildWindows(dialog, setHeadingFont, reinterpret_cast<LPARAM>(headingFont.get()));
    SendMessageW(gApp.settingsCredit, WM_SETFONT, reinterpret_cast<WPARAM>(creditFont.get()), TRUE);
}

void onSettingsCreate(HWND dialog) {
    const int dpi = uiDpi();
    const std::wstring directory = downloadDirectory();
    const std::wstring credit = creditLine(productVersionOf(ownPath()));
    struct Made {
        const wchar_t* cls;
        const wchar_t* text;
        int id;
        DWORD extra;
    };
    const Made made[kSettingsControlCount] = {
        {L"STATIC", kHeading, 0, 0},
        {L"STATIC", L"安装包保存目录", 0, 0},
        {L"EDIT", directory.c_str(), kIdDirectory, WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP},
        {L"BUTTON", L"浏览...", kIdBrowse, WS_TABSTOP},
        {L"STATIC", L"修改后对新的下载任务生效", 0, 0},
        {L"BUTTON", L"取消", kIdCancel, WS_TABSTOP},
        {L"BUTTON", L"保存", kIdSave, WS_TABSTOP | BS_DEFPUSHBUTTON},
        {L"STATIC", credit.c_str(), 0, 0},
    };
    for (int i = 0; i < kSettingsControlCount; ++i) {
        const RECT r = settingsControlRect(i, dpi);
        settingsControls[i] = addControl(dialog, made[i].cls, made[i].text, r.left, r.top, r.right - r.left,
                                         r.bottom - r.top, made[i].id, made[i].extra);
    }
    gApp.settingsEdit = settingsControls[2];
    gApp.settingsCredit = settingsControls[7];
    makeDialogFonts(dialog, dpi);
}

int CALLBACK browseCallback(HWND browser, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED && data) SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

void onBrowse(HWND dialog) {
    const std::wstring current = windowText(gApp.settingsEdit);
    wchar_t display[260] = {};
    if (!current.empty() && current.size() <= 259) wcscpy(display, current.c_str());
    BROWSEINFOW info = {};
    info.hwndOwner = dialog;
    info.pszDisplayName = display;
    info.lpszTitle = L"选择下载保存目录";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    info.lpfn = browseCallback;
    info.lParam = current.empty() ? 0 : reinterpret_cast<LPARAM>(current.c_str());
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
    if (!item) return;
    wchar_t path[MAX_PATH] = {};
    const BOOL ok = SHGetPathFromIDListW(item, path);
    CoTaskMemFree(item);
    if (ok && path[0]) SetWindowTextW(gApp.settingsEdit, path);
}

// The folder is usable (or the default was chosen): it takes effect for new downloads and
// is written to config.json.
void finishSave(HWND dialog, const std::wstring& folder) {
    gApp.config.downloadDir = folder;
    setDownloadDirectory(folder);
    if (folder.empty()) refreshDownloadDirectory(gApp.mainWindow, WM_APP + 1);
    // A config.json that did not parse is kept aside first: the user's own text is not lost.
    bool kept = false;
    if (gApp.configUnreadable) {
        kept = keepUnreadableConfig();
        gApp.configUnreadable = !kept;
    }
    const bool written = !gApp.configUnreadable && saveConfig(gApp.config);
    DestroyWindow(dialog);
    if (kept && written)
        showToast(unreadableConfigKeptText(), 2);
    else
        showToast(savedText(folder, written), savedKind(written));
    requestRepaint();
}

void onSave(HWND dialog) {
    if (pendingCheck) return;
    const std::wstring folder = trimDownloadDir(windowText(gApp.settingsEdit));
    if (folder.empty()) {
        finishSave(dialog, folder);
        return;
    }
    auto check = std::make_shared<FolderCheck>();
    check->folder = folder;
    auto* job = new (std::nothrow) FolderCheckJob{check, dialog};
    ScopedHandle thread(job ? CreateThread(nullptr, 0, folderCheckThread, job, 0, nullptr) : nullptr);
    if (!thread) {
        delete job;
        showToast(L"无法创建该目录，请检查路径和权限", 2);
        return;
    }
    pendingCheck = check;
    enableSaving(dialog, false);
}

void onFolderPrepared(HWND dialog) {
    if (!pendingCheck || !pendingCheck->done) return;
    const std::shared_ptr<FolderCheck> check = std::move(pendingCheck);
    pendingCheck.reset();
    enableSaving(dialog, true);
    // A folder that cannot take downloads is not saved: the dialog stays open with the
    // typed text, and the user is told why.
    if (!check->problem.empty()) {
        showToast(check->problem, 2);
        SetFocus(gApp.settingsEdit);
        return;
    }
    finishSave(dialog, check->folder);
}

void onSettingsCommand(HWND dialog, WPARAM wParam) {
    if (HIWORD(wParam) != BN_CLICKED) return;
    switch (LOWORD(wParam)) {
    case kIdCancel:
        DestroyWindow(dialog);
        break;
    case kIdBrowse:
        onBrowse(dialog);
        break;
    case kIdSave:
        onSave(dialog);
        break;
    default:
        break;
    }
}

LRESULT onSettingsCtlColorStatic(HWND dialog, WPARAM wParam, LPARAM lParam) {
    HDC dc = reinterpret_cast<HDC>(wParam);
    if (reinterpret_cast<HWND>(lParam) != gApp.settingsCredit) {
        // The default answer paints labels on the button face colour: grey boxes on the
        // dialog's window-coloured background. Labels sit on the dialog's own colour.
        const LRESULT answer = DefWindowProcW(dialog, WM_CTLCOLORSTATIC, wParam, lParam);
        if (!dc) return answer;
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    SetTextColor(dc, kCreditColour);
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
}

void onSettingsDestroy() {
    pendingCheck.reset();
    gApp.settingsWindow = nullptr;
    gApp.settingsEdit = nullptr;
    gApp.settingsCredit = nullptr;
    if (gApp.mainWindow) {
        EnableWindow(gApp.mainWindow, TRUE);
        SetForegroundWindow(gApp.mainWindow);
    }
}

void onSettingsNcDestroy() {
    // The controls are gone by now, so their fonts can go too.
    for (HWND& control : settingsControls) control = nullptr;
    bodyFont.reset();
    headingFont.reset();
    creditFont.reset();
}

LRESULT CALLBACK settingsWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        onSettingsCreate(dialog);
        return 0;
    case WM_COMMAND:
        onSettingsCommand(dialog, wParam);
        return 0;
    case WM_CTLCOLORSTATIC:
        return onSettingsCtlColorStatic(dialog, wParam, lParam);
    case WM_SETFOCUS:
        if (gApp.settingsEdit) SetFocus(gApp.settingsEdit);
        return 0;
    case DM_GETDEFID:
        return MAKELRESULT(kIdSave, DC_HASDEFID);
    case kMsgFolderPrepared:
        onFolderPrepared(dialog);
        return 0;
    case WM_DESTROY:
        onSettingsDestroy();
        return 0;
    case WM_NCDESTROY:
        onSettingsNcDestroy();
        return DefWindowProcW(dialog, message, wParam, lParam);
    default:
        return DefWindowProcW(dialog, message, wParam, lParam);
    }
}

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
bool isSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == 0x3000; }

bool ownedBySettings(HWND window) {
    return window && (window == gApp.settingsWindow || IsChild(gApp.settingsWindow, window));
}

}  // namespace

bool registerSettingsClass(HINSTANCE instance) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = settingsWindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kSettingsClass;
    return RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void openSettingsDialog() {
    if (gApp.settingsWindow) {
        SetForegroundWindow(gApp.settingsWindow);
        return;
    }
    RECT main = {};
    GetWindowRect(gApp.mainWindow, &main);
    const SIZE size = settingsWindowSize(uiDpi());
    const int x = main.left + (main.right - main.left - size.cx) / 2;
    const int y = main.top + (main.bottom - main.top - size.cy) / 2;
    gApp.settingsWindow = CreateWindowExW(WS_EX_DLGMODALFRAME, kSettingsClass, L"下载设置",
                                          WS_POPUP | WS_CAPTION | WS_SYSMENU, x, y, size.cx, size.cy,
                                          gApp.mainWindow, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!gApp.settingsWindow) return;
    ShowWindow(gApp.settingsWindow, SW_SHOW);
    EnableWindow(gApp.mainWindow, FALSE);
    SetFocus(gApp.settingsEdit);
    SendMessageW(gApp.settingsEdit, EM_SETSEL, 0, -1);
}

bool settingsDialogMessage(MSG& msg) {
    if (!gApp.settingsWindow) return false;
    // The save and cancel ids are 2 and 1, the reverse of IDCANCEL and IDOK, so the keys
    // are taken here for what they mean before the dialog manager maps them.
    if (msg.message == WM_KEYDOWN && ownedBySettings(msg.hwnd) && (msg.wParam == VK_ESCAPE || msg.wParam == VK_RETURN)) {
        HWND dialog = gApp.settingsWindow;
        if (msg.wParam == VK_ESCAPE) {
            DestroyWindow(dialog);
            return true;
        }
        HWND focus = GetFocus();
        int id = kIdSave;
        if (focus && GetParent(focus) == dialog) {
            wchar_t cls[16] = {};
            GetClassNameW(focus, cls, 16);
            if (_wcsicmp(cls, L"BUTTON") == 0) id = GetDlgCtrlID(focus);
        }
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
        return true;
    }
    return IsDialogMessageW(gApp.settingsWindow, &msg) != FALSE;
}

bool settingsSavePending() { return pendingCheck != nullptr; }

std::wstring trimDownloadDir(const std::wstring& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && isSpace(text[begin])) begin++;
    while (end > begin && isSpace(text[end - 1])) end--;
    std::wstring folder = text.substr(begin, end - begin);
    while (!folder.empty() && isSeparator(folder.back())) folder.pop_back();
    if (folder.size() <= 3) folder.clear();
    return folder;
}

std::wstring shortVersion(const std::wstring& version) {
    size_t at = std::wstring::npos;
    for (int dots = 0; dots < 3; dots++) {
        at = version.find(L'.', at == std::wstring::npos ? 0 : at + 1);
        if (at == std::wstring::npos) return version;
    }
    return version.substr(0, at);
}

std::wstring creditLine(const std::wstring& version) {
    std::wstring line = L"开发者：启明数码科技工作室";
    if (!version.empty()) line += L"    版本 v" + shortVersion(version);
    return line;
}

std::wstring productVersionOf(const std::wstring& exePath) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exePath.c_str(), &ignored);
    if (size == 0) return std::wstring();
    std::vector<char> block(size);
    if (!GetFileVersionInfoW(exePath.c_str(), 0, size, block.data())) return std::wstring();
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) || !value || length < 4)
        return std::wstring();
    const WORD* translation = static_cast<const WORD*>(value);
    wchar_t key[64] = {};
    swprintf(key, 64, L"\\StringFileInfo\\%04x%04x\\ProductVersion", translation[0], translation[1]);
    value = nullptr;
    length = 0;
    if (!VerQueryValueW(block.data(), key, &value, &length) || !value || length == 0) return std::wstring();
    return std::wstring(static_cast<const wchar_t*>(value));
}

std::wstring prepareDownloadDir(const std::wstring& folder) {
    const bool drivePath = folder.size() >= 3 && iswalpha(folder[0]) && folder[1] == L':' && isSeparator(folder[2]);
    const bool uncPath = folder.size() >= 3 && isSeparator(folder[0]) && isSeparator(folder[1]);
    if (!drivePath && !uncPath) return L"请填写完整的目录路径，例如 D:\\Downloads";
    std::wstring path = folder;
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return std::wstring();
        return L"该路径是一个文件，请选择文件夹";
    }
    // Each missing level in turn, from the first below the drive or share.
    for (size_t at = path.find(L'\\', uncPath ? 2 : 3); ; at = path.find(L'\\', at + 1)) {
        const std::wstring level = path.substr(0, at);
        if (!level.empty() && GetFileAttributesW(level.c_str()) == INVALID_FILE_ATTRIBUTES)
            CreateDirectoryW(level.c_str(), nullptr);
        if (at == std::wstring::npos) break;
    }
    const DWORD now = GetFileAttributesW(path.c_str());
    if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_DIRECTORY)) return std::wstring();
    return L"无法创建该目录，请检查路径和权限";
}

std::wstring savedText(const std::wstring& folder, bool configWritten) {
    if (!configWritten) return L"下载目录已生效，但配置文件保存失败";
    return folder.empty() ? L"已恢复默认下载目录" : L"下载目录已保存";
}

int savedKind(bool configWritten) { return configWritten ? 1 : 2; }

SIZE settingsWindowSize(int dpi) { return SIZE{scalePx(kSettingsWidth, dpi), scalePx(kSettingsHeight, dpi)}; }

RECT settingsControlRect(int index, int dpi) {
    // x, y, width, height at 96 DPI, in creation order.
    static const int places[kSettingsControlCount][4] = {
        {30, 20, 200, 22},  {30, 52, 300, 20},   {30, 76, 330, 30},   {368, 76, 80, 30},
        {30, 116, 300, 20}, {248, 156, 84, 34},  {342, 156, 84, 34},  {30, 204, 380, 18},
    };
    if (index < 0 || index >= kSettingsControlCount) return RECT{0, 0, 0, 0};
    const int* p = places[index];
    const int left = scalePx(p[0], dpi), top = scalePx(p[1], dpi);
    return RECT{left, top, scalePx(p[0] + p[2], dpi), scalePx(p[1] + p[3], dpi)};
}

void relayoutSettingsDialog(int dpi) {
    HWND dialog = gApp.settingsWindow;
    if (!dialog) return;
    RECT frame = {};
    GetWindowRect(dialog, &frame);
    const SIZE size = settingsWindowSize(dpi);
    SetWindowPos(dialog, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (int i = 0; i < kSettingsControlCount; ++i) {
        if (!settingsControls[i]) continue;
        const RECT r = settingsControlRect(i, dpi);
        SetWindowPos(settingsControls[i], nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    makeDialogFonts(dialog, dpi);
}
