"""The shared display of the test programs, as a CTest fixture: an Xvfb with openbox on it.

    test_display.py start DIR   start both, write the display name to DIR/display
    test_display.py stop DIR    stop what start left running

A window manager answers the withdrawal of a closed window at once; on a bare X server Wine
waits about two seconds for that answer on every closed window.
"""
import os
import signal
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402

SCREEN = (1600, 1000)


def stop(folder):
    pids = os.path.join(folder, "pids")
    if os.path.exists(pids):
        with open(pids) as f:
            for pid in f.read().split():
                try:
                    os.kill(int(pid), signal.SIGTERM)
                except (ProcessLookupError, ValueError):
                    pass
        os.remove(pids)
    if os.path.exists(os.path.join(folder, "display")):
        os.remove(os.path.join(folder, "display"))


def start(folder):
    stop(folder)
    os.makedirs(folder, exist_ok=True)
    xvfb, display = harness.start_xvfb(*SCREEN)
    try:
        openbox = harness.start_openbox(display, os.path.join(folder, "openbox"))
    except Exception:
        xvfb.kill()
        raise
    with open(os.path.join(folder, "pids"), "w") as f:
        f.write("%d %d\n" % (openbox.pid, xvfb.pid))
    with open(os.path.join(folder, "display"), "w") as f:
        f.write(display + "\n")
    print("test display %s with openbox" % display)


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop"):
        sys.exit("usage: test_display.py start|stop DIR")
    (start if sys.argv[1] == "start" else stop)(os.path.abspath(sys.argv[2]))
