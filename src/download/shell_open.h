// Showing a folder or a file in its folder through the shell, away from the window's
// thread: the shell may wait seconds on a slow or dead network share, and the window must
// keep answering meanwhile. Nothing is reported back; a folder that cannot be shown shows
// nothing, as the shell itself does.
#pragma once

#include <functional>
#include <string>

// Opens folder in the shell's file browser on a thread of its own; false when the thread
// could not be started (nothing is shown then). A path that is not an existing folder (a
// file, a program) is never opened.
bool openFolderDetached(const std::wstring& folder);
// Opens the folder of path with path selected, on a thread of its own.
bool showInFolderDetached(const std::wstring& path);

// Tests only: replaces the shell call with hook(target, selectItem), called on the thread
// that would have called the shell; an empty hook restores the shell.
void setShellOpenHook(std::function<void(const std::wstring&, bool)> hook);
