// The settings dialog: the download folder, browse, save and cancel, and the developer
// credit with the program's version. Modal over the main window, one instance at most.
#pragma once

#include <windows.h>

#include <string>

constexpr wchar_t kSettingsClass[] = L"KVSettings";
constexpr int kSettingsWidth = 478;
constexpr int kSettingsHeight = 272;
constexpr int kIdCancel = 1;  // "取消"
constexpr int kIdSave = 2;    // "保存"
constexpr int kIdBrowse = 3;  // "浏览..."
constexpr int kIdDirectory = 103;
constexpr int kSettingsControlCount = 8;

// The dialog's size and its controls' rectangles (heading, label, directory box, browse,
// hint, cancel, save, credit) at a display scale; 478 x 272 and the 96-DPI places at 96.
SIZE settingsWindowSize(int dpi);
RECT settingsControlRect(int index, int dpi);
// Re-lays an open dialog and makes its fonts anew after the display scale changed.
void relayoutSettingsDialog(int dpi);

bool registerSettingsClass(HINSTANCE instance);
void openSettingsDialog();
// Routes a message of the loop to the open dialog: Esc cancels, Enter saves (or presses
// the focused button), Tab moves between the controls. True when it was handled.
bool settingsDialogMessage(MSG& msg);
// A save is making its folder on a worker (a slow share must not freeze the window); the
// dialog finishes the save when the worker reports back.
bool settingsSavePending();

// The decisions, over plain data.
// Trailing '\' and '/' removed; 3 characters or fewer left means empty (the default).
// Surrounding white space is dropped first.
std::wstring trimDownloadDir(const std::wstring& text);
// Cut before the third '.': 1.4.25.0 gives 1.4.25.
std::wstring shortVersion(const std::wstring& version);
std::wstring creditLine(const std::wstring& version);  // version may be empty
// The ProductVersion of an executable's version resource; empty when it has none.
std::wstring productVersionOf(const std::wstring& exePath);

// Whether a trimmed, non-empty folder can take downloads, creating it if it is missing;
// empty when it can, else the message for the user.
std::wstring prepareDownloadDir(const std::wstring& folder);

// Toast texts after a save.
std::wstring savedText(const std::wstring& folder, bool configWritten);
int savedKind(bool configWritten);
