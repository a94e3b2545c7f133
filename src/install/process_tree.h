// An installer's processes followed as one tree: started inside a job object whose completion
// port tells when the last of them has ended, or, where that cannot be, by its first process.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "scoped.h"

enum class LaunchResult {
    Failed,     // nothing started
    NoProcess,  // the shell handed the file to a program already running (DDE and the like)
    Started,
};

// Programs are started directly, suspended until they are in the job; every other type is
// opened through the shell (an .msi by msiexec), which is put into the job right after.
bool startsAsProgram(const std::wstring& file);

// Whether s ends with suffix, ASCII letters compared without case; suffix is in lower case.
bool endsWithNoCase(const std::wstring& s, const wchar_t* suffix);

class InstallerProcesses {
public:
    InstallerProcesses() = default;
    InstallerProcesses(const InstallerProcesses&) = delete;
    InstallerProcesses& operator=(const InstallerProcesses&) = delete;

    // Starts the file as a double-click would: normal show, the shell's file associations,
    // a console of its own for a console program, `directory` as working folder. Closing
    // this object ends no process.
    LaunchResult launch(const std::wstring& file, const std::wstring& directory);

    // True when the whole tree is followed, false when only the first process is.
    bool followsTree() const { return static_cast<bool>(port_); }

    // Waits at most timeoutMs (INFINITE allowed) for the end of the tree, or of the first
    // process when no tree is followed; true once it has ended.
    bool waitForEnd(DWORD timeoutMs);

    // The image paths of the tree's processes still running; an empty path for one whose
    // image cannot be read. Only meaningful while the tree is followed.
    std::vector<std::wstring> remainingImages() const;

    // The first process's exit code; 0 when it cannot be read.
    DWORD firstExitCode() const;

private:
    bool makeJob();
    bool assign(HANDLE process) const;
    LaunchResult startSuspendedInJob(const std::wstring& file, const std::wstring& directory);
    LaunchResult openThroughShell(const std::wstring& file, const std::wstring& directory, bool joinJob);
    bool noProcessLeft() const;
    void dropJob();

    ScopedHandle process_;
    ScopedHandle job_;
    ScopedHandle port_;
    bool ended_ = false;
};
