#!/usr/bin/env python3
"""Prints the program's figures against a hostile icon (no pass/fail; not part of the tests).

  icon_figures.py --build BUILD_DIR --source SOURCE_DIR [--apps 24] [--seconds 15]

Needs the loopback test server running with KV_TESTSERVER_DIR pointing at it (see
bench/icons/run.sh). The program is started twice on a generated catalog of --apps
applications with 64 x 64 icons (tools/testserver/routes/icons.py): once as it is, once with
the first icon replaced by a 430 KB PNG declaring 20000 x 20000 pixels. For each run, while
the icons load and for --seconds after the first catalog frame:
- peak memory: the highest resident set of the program's process (VmHWM), with Wine's own;
- responsiveness: the slowest WM_NULL round trip to the main window, sent every 100 ms
  (each given up after 10 s), and how many were given up;
- how often the hostile icon was asked for.
"""
import argparse
import os
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "tests", "e2e"))
sys.path.insert(0, os.path.join(here, "..", "window"))

import harness as h  # noqa: E402
import figures  # noqa: E402

EXE_NAME = "星舟软件管家.exe".encode("utf-8")


def program_pid(session, timeout=30):
    """The host process id of the program started in this session's prefix, or None."""
    wanted = ("WINEPREFIX=" + session.prefix).encode("utf-8")
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    if EXE_NAME not in f.read():
                        continue
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if wanted not in f.read().split(b"\0"):
                        continue
            except OSError:
                continue
            return int(entry)
        time.sleep(0.1)
    return None


def memory_kb(pid, field):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def measure(session, server, apps, huge, seconds):
    path = "/_gen/iconcatalog/%d/%d" % (apps, huge)
    session.write_config(server.base + path, "icons", "C:\\kv-e2e\\icons")
    session.start_program()
    started = time.monotonic()
    result = {"peakKb": None, "slowestMs": None, "givenUp": 0, "pings": 0, "hugeAsked": 0}
    try:
        pid = program_pid(session)
        if pid is None or figures.wait_property(session, "KVCatalogFrameMs", "KVMainWnd", timeout=60) is None:
            return result
        shown = time.monotonic() - started
        slowest, given_up, pings = 0, 0, 0
        while time.monotonic() - started < shown + seconds:
            answer = session.facts_call(["ping", 25, 100, 10000], timeout=400)
            slowest = max(slowest, answer["slowestMs"])
            given_up += answer["failures"]
            pings += answer["count"]
        result.update(peakKb=memory_kb(pid, "VmHWM"), slowestMs=slowest, givenUp=given_up, pings=pings,
                      hugeAsked=len(server.requests(path + "/huge/")))
        return result
    finally:
        session.stop_wine()
        session.wait_program_exit(20)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--source", required=True)
    ap.add_argument("--apps", type=int, default=24)
    ap.add_argument("--seconds", type=int, default=15)
    args = ap.parse_args()
    session = h.Session("icons", os.path.abspath(args.build), os.path.abspath(args.source), print)
    try:
        session.start_display()
        session.prepare_prefix()
        server = h.Server("icons")
        measure(session, server, args.apps, 0, 3)  # warms the prefix and the file cache, unmeasured
        for huge, what in ((0, "%d icons of 64 x 64" % args.apps),
                           (1, "%d icons, the first declaring 20000 x 20000" % args.apps)):
            r = measure(session, server, args.apps, huge, args.seconds)
            peak = "%.0f MB" % (r["peakKb"] / 1024.0) if r["peakKb"] else "n/a"
            print("%s: peak memory %s; slowest of %d WM_NULL round trips %s ms, %d given up after 10 s; "
                  "hostile icon asked for %d times" % (what, peak, r["pings"], r["slowestMs"], r["givenUp"],
                                                       r["hugeAsked"]))
        print("targets: peak under 400 MB, every round trip under 1500 ms")
        return 0
    finally:
        session.close()


if __name__ == "__main__":
    sys.exit(main())
