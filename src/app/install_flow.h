// What the install buttons and a finished download do: start a download, show the
// download manager, run a verified installer (and report it to the server), show an
// archive in its folder, or tell the user why nothing happens. A file that failed its
// MD5 check is never run. User-interface thread only.
#pragma once

#include <cstdint>
#include <string>

#include "catalog/catalog.h"
#include "download/task.h"

void onCardButton(int appId);
void startInstallFlow(const App& app);
void onPanelInstall(int appId);
// A finished download of the job with this generation; a late message of a job that was
// replaced, cancelled or already handled does nothing.
void onDownloadFinished(int appId, uint64_t generation);
// The queued installer of that job has started (the install is reported now), or could
// not be started (the user is told).
void onInstallerStarted(int appId, uint64_t generation);
void onInstallerNotStarted(int appId, uint64_t generation);

// The decisions, over plain data.
enum class InstallStep {
    NoPackage,       // tell the user there is nothing to download
    RevealArchive,   // a kept archive: show it in its folder
    RunInstaller,    // a verified installer: run it
    RefuseMismatch,  // failed MD5 check: never run
    RefuseUnverified,  // could not be read to check its digest: never run
    Busy,            // already downloading, verifying or installing: nothing
    Download,        // start a fresh download
};
InstallStep installStep(bool hasPackage, const TaskInfo* task);
// A card press on an application whose job is running shows the download manager.
bool cardShowsManager(const TaskInfo* task);
// Whether a finished message is about the job shown now, and that job is finished.
bool isCurrentFinish(const TaskInfo* task, uint64_t generation);

enum class FinishedStep { Archive, RunInstaller, Mismatch, Unverified };
FinishedStep finishedStep(const TaskInfo& task);

// server + "/api/client/download/" + id + "?channel=" + the percent-encoded channel.
std::string downloadUrl(const std::wstring& server, int32_t appId, const std::wstring& channel);

// Toast texts.
std::wstring noPackageText();
std::wstring downloadStartedText(const std::wstring& name);
std::wstring archiveKeptText(const std::wstring& name);
std::wstring installerStartedText(const std::wstring& name);
std::wstring mismatchRefusedText();
std::wstring unverifiedText();  // refused, and said when the download finishes
std::wstring archiveDownloadedText(const std::wstring& name);
std::wstring installerDownloadedText(const std::wstring& name);
std::wstring mismatchDownloadedText();
std::wstring installerNotStartedToast(const std::wstring& name);

// Sends the install report on its own thread so a slow server never stalls the window;
// the answer is ignored. False when the thread could not be started.
bool sendInstallReport(const std::wstring& server, int32_t appId, const std::wstring& channel);
