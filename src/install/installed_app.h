// Which of an installer's remaining processes are the application it has just installed:
// installers often start it from their last page, and it may run for hours, so it must not
// hold back the next installer.
#pragma once

#include <string>
#include <vector>

#include "install/install.h"

// The values of an uninstall entry that tell where the installed program lies.
struct UninstallPlaces {
    std::wstring installLocation;
    std::wstring displayIcon;      // a path, perhaps quoted, perhaps with ",0" as icon index
    std::wstring uninstallString;  // a command line, quoted or not, with arguments
};

// The folder of the program a command line or icon reference names; empty when it names
// no absolute path (e.g. "MsiExec.exe /X{...}").
std::wstring folderOfCommand(const std::wstring& command);

// Whether `path` lies inside `folder` (any depth), comparing without case and separator style.
bool isUnderFolder(const std::wstring& path, const std::wstring& folder);

// The folders of the installed application named by the entries. A folder is left out when
// it is a drive's root or contains, or lies inside, one of `excluded` (the Windows folder,
// the installer's own folder): a process there says nothing about the application.
std::vector<std::wstring> installedAppFolders(const std::vector<UninstallPlaces>& entries,
                                              const std::vector<std::wstring>& excluded);

// True when every image path lies in one of the folders; an unreadable image (empty) is
// never the application.
bool onlyInstalledAppLeft(const std::vector<std::wstring>& images, const std::vector<std::wstring>& appFolders);

// The places of every entry in `after` that `before` lacks, read from the registry.
std::vector<UninstallPlaces> newEntryPlaces(const InstalledSnapshot& before, const InstalledSnapshot& after);
