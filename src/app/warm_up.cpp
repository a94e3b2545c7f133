#include "app/warm_up.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

#include "app/app_state.h"
#include "app/kept_logo.h"
#include "app/main_view.h"
#include "scoped.h"
#include "startup_marks.h"
#include "ui/gdiplus.h"

namespace {

// How long the worker keeps the back buffer for the first paint.
constexpr DWORD kFirstPaintWaitMs = 10000;

// How long the window's creation waits for a decode still running: the worker starts
// long before, so in practice it never waits.
constexpr auto kLogoWait = std::chrono::milliseconds(200);

std::mutex logoLock;
std::condition_variable logoDone;
std::shared_ptr<Gdiplus::Bitmap> warmedLogo;  // under logoLock: the decoded original, when it was needed
std::unique_ptr<Gdiplus::Bitmap> drawnLogo;    // under logoLock: the logo at its box's size
bool logoReady = false;                       // under logoLock
bool warmUpStarted = false;                   // user-interface thread only
// Set when the worker ends; never destroyed, as the worker is not waited for.
ScopedHandle& warmUpEnded = *new ScopedHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));

// What the worker is given, copied on the user-interface thread.
struct Job {
    SIZE logo;    // the logo's box
    SIZE client;  // the main window's client area as it opens
};

// The logo as drawn: kept on disk from an earlier start, else decoded, scaled and kept
// (after the window has it, so that the write does not hold up the first paint).
void prepareLogo(const Job& job) {
    const HMODULE module = GetModuleHandleW(nullptr);
    std::shared_ptr<Gdiplus::Bitmap> original;
    std::unique_ptr<Gdiplus::Bitmap> drawn;
    IconCopy toKeep;
    try {
        drawn = readKeptLogo(module, job.logo.cx, job.logo.cy);
        if (!drawn) original = loadLogoImage(module);
        if (original) drawn = scaleLogo(*original, job.logo.cx, job.logo.cy);
        if (original && drawn) toKeep = drawnPixels(*drawn);
    } catch (...) {
        original.reset();
        drawn.reset();
    }
    {
        std::lock_guard<std::mutex> lock(logoLock);
        warmedLogo = std::move(original);
        drawnLogo = std::move(drawn);
        logoReady = true;
    }
    logoDone.notify_all();
    try {
        if (!toKeep.pixels.empty()) keepLogo(module, toKeep);
    } catch (...) {
    }
}

DWORD WINAPI warmUpThread(void* param) {
    std::unique_ptr<Job> job(static_cast<Job*>(param));
    prepareLogo(*job);
    try {
        prepareBackBuffer(job->client.cx, job->client.cy);
    } catch (...) {
    }
    // The buffer is kept for the first paint, then freed when that paint had another size.
    for (DWORD waited = 0; waited < kFirstPaintWaitMs && !gStartupMarks[size_t(StartupMark::FirstPaint)].load();
         waited += 20)
        Sleep(20);
    discardPreparedBackBuffer();
    SetEvent(warmUpEnded.get());
    return 0;
}

}  // namespace

void startFirstPaintWarmUp(int clientWidth, int clientHeight) {
    if (warmUpStarted) return;
    auto* job = new (std::nothrow) Job{logoSize(), SIZE{clientWidth, clientHeight}};
    if (!job) return;
    ScopedHandle thread(CreateThread(nullptr, 0, warmUpThread, job, 0, nullptr));
    if (!thread) {
        delete job;
        return;
    }
    warmUpStarted = true;
}

bool waitForFirstPaintWarmUp(unsigned long timeout) {
    return warmUpStarted && warmUpEnded && WaitForSingleObject(warmUpEnded.get(), timeout) == WAIT_OBJECT_0;
}

void adoptWarmedLogo() {
    if (!warmUpStarted || gApp.logoState != LogoState::NotTried) return;
    std::unique_lock<std::mutex> lock(logoLock);
    logoDone.wait_for(lock, kLogoWait, [] { return logoReady; });
    if (drawnLogo) keepDrawnLogo(std::move(drawnLogo));
    if (!warmedLogo) return;
    gApp.logoImage = std::move(warmedLogo);
    gApp.logoState = LogoState::Loaded;
}
