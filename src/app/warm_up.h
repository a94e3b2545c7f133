// Work of the first paint that does not need the window, done on a worker while the
// user-interface thread registers the classes and makes the window: the header logo as
// drawn (kept on disk from an earlier start, else decoded and scaled) and the back buffer
// made and its memory touched, so that the first paint finds them ready. The first frame
// looks the same with or without it.
#pragma once

// GDI+ must be started and the shared fonts made; the main window's client area will open
// at clientWidth x clientHeight (its back buffer is made ahead). At most once per process.
void startFirstPaintWarmUp(int clientWidth, int clientHeight);

// True once the worker has ended and let go of everything it made: after the first paint
// (the start-up mark), or at the latest 10 s after it started; false on time-out or when
// none was started.
bool waitForFirstPaintWarmUp(unsigned long timeout);

// User-interface thread, before the main window exists: the logo the worker prepared, when
// it is ready, becomes the header logo; otherwise the first paint decodes it itself.
void adoptWarmedLogo();
