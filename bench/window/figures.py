#!/usr/bin/env python3
"""Prints the program's start-up and idle figures (no pass/fail; not part of the tests).

  figures.py --build BUILD_DIR --source SOURCE_DIR [--runs 5]

Needs the loopback test server running with KV_TESTSERVER_DIR pointing at it (see
bench/window/run.sh). Figures:
- warm start: against a server answering the catalog after 300 ms and each icon after
  100 ms, milliseconds to the first frame with the catalog and every visible icon
  ("KVCatalogIconsFrameMs"), started with the disk caches of the run before and without,
  beside the empty window's first paint;
- start-up: milliseconds from process creation to the first paint that shows the catalog
  (the program's "KVCatalogFrameMs" window property), beside the first paint of a plain
  Win32 window under the same Wine ("KVFirstPaintMs" of bench/window/empty_window.cpp),
  and where the program's start-up time goes (its "KVMark…" properties, see MARKS);
- idle: paints ("KVPaintCount") in 5 s with nothing changing, and, after a toast is shown,
  the paints in each 250 ms slice until it has expired.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))

import harness as h  # noqa: E402
from catalog import FIRST, ICONS, Catalog  # noqa: E402


# The program's start-up marks ("KVMark…" window properties, milliseconds since process
# creation, set once the catalog is on screen), in the order start-up reaches them today.
MARKS = [
    ("KVMarkEntryMs", "entry point reached"),
    ("KVMarkCatalogRequestMs", "catalog request started"),
    ("KVMarkGdiplusMs", "GDI+ started"),
    ("KVMarkDisplayMs", "display driver started (first screen query)"),
    ("KVMarkFontsMs", "fonts created"),
    ("KVMarkOleMs", "OLE initialised"),
    ("KVMarkClassesMs", "window classes registered"),
    ("KVMarkShadowWindowMs", "shadow window created (after the frame)"),
    ("KVMarkShadowMs", "shadow picture given to its window"),
    ("KVMarkHttpSessionMs", "first WinHTTP session open"),
    ("KVMarkCatalogAnswerMs", "catalog answer received"),
    ("KVMarkCatalogPublishedMs", "catalog parsed and published"),
    ("KVMarkWindowCreatedMs", "main window created"),
    ("KVMarkWindowShownMs", "main window shown"),
    ("KVMarkFirstPaintMs", "first paint done"),
    ("KVCatalogFrameMs", "first catalog frame"),
]


def wait_facts(session, name, cls, timeout=40):
    """The window's facts once property name is set, or None."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        main = session.facts_call(["facts", cls])["main"]
        if main and main.get(name):
            return main
        time.sleep(0.2)
    return None


def wait_property(session, name, cls, timeout=40):
    main = wait_facts(session, name, cls, timeout)
    return main[name] if main else None


def print_breakdown(runs, marks=MARKS):
    """Median of each start-up mark over the runs, sorted by time, with the step before it."""
    rows = []
    for prop, label in marks:
        values = [r[prop] for r in runs if r and r.get(prop)]
        if values:
            rows.append((statistics.median(values), label, min(values), max(values)))
    rows.sort(key=lambda row: row[0])
    print("start-up breakdown, ms since process creation (median, min-max over %d runs):" % len(runs))
    last = 0
    for median, label, low, high in rows:
        print("  %6.0f  (+%4.0f)  %-44s %4d-%d" % (median, median - last, label, low, high))
        last = median


def start_and_measure(session, args, prop, cls, then=None, settled=None):
    """The facts once prop is set; with then, the facts once that later mark is set too
    (within a few seconds), for the steps that follow the measured point; with settled, the
    program runs on until settled() holds (within a few seconds)."""
    out = open(os.path.join(session.work, "figures-program.txt"), "ab")
    proc = subprocess.Popen([session.wine_run, "--prefix", session.prefix] + args, env=session.env(),
                            stdin=subprocess.DEVNULL, stdout=out, stderr=out, start_new_session=True)
    try:
        facts = wait_facts(session, prop, cls)
        if facts and then:
            facts = wait_facts(session, then, cls, timeout=5) or facts
        deadline = time.monotonic() + 5
        while settled and not settled() and time.monotonic() < deadline:
            time.sleep(0.1)
        return facts
    finally:
        session.stop_wine()
        proc.wait(20)
        out.close()


def cache_written(session, icons):
    """True once the catalog and at least icons icons are kept on disk."""
    folder = os.path.join(session.cache_folder, "icons")
    kept = [n for n in os.listdir(folder) if n.endswith(".icon")] if os.path.isdir(folder) else []
    return os.path.exists(os.path.join(session.cache_folder, "catalog.cache")) and len(kept) >= icons


def warm_start_figures(session, server, catalog, runs, empty_exe):
    """Against a server that answers the catalog after 300 ms and each icon after 100 ms: the
    first frame with the catalog and every visible icon, started with the disk caches of the
    run before (warm) and without (cold), beside the empty window's first paint."""
    server.script("/api/client/bootstrap", [{"file": catalog.bootstrap_path, "delay_ms": 300,
                                             "content_type": "application/json; charset=utf-8"}])
    icons = os.path.join(session.source, "tools", "demo-catalog", "icons")
    for name in sorted(set(ICONS)):
        server.script("/icons/" + name, [{"file": os.path.join(icons, name), "delay_ms": 100}])
    prop = "KVCatalogIconsFrameMs"
    cold, warm, empty, catalog_first, warm_runs = [], [], [], [], []
    value = lambda facts, name: facts[name] if facts and facts.get(name) else None
    for _ in range(runs):
        session.clear_caches()
        facts = start_and_measure(session, [session.exe], prop, "KVMainWnd",
                                  settled=lambda: cache_written(session, len(set(ICONS))))
        cold.append(value(facts, prop))
    # The last cold start left its caches; each warm start keeps them as they were. Warm starts
    # alternate with the empty window, so both meet the machine in the same state (a start just
    # after one that wrote the caches pays for the disk's write-back).
    for _ in range(runs):
        facts = start_and_measure(session, [session.exe], prop, "KVMainWnd", "KVMarkShadowMs")
        warm_runs.append(facts)
        warm.append(value(facts, prop))
        catalog_first.append(value(facts, "KVCatalogFrameMs"))
        empty.append(value(start_and_measure(session, [empty_exe], "KVFirstPaintMs", "KVEmptyWnd"), "KVFirstPaintMs"))
    shown = lambda v: "%s" % v if v is not None else "n/a"
    print("slow server (catalog after 300 ms, each icon after 100 ms), first frame with the catalog and every "
          "visible icon:")
    print("  warm start, caches of the run before (ms): %s" % ", ".join(map(shown, warm)))
    print("  (warm start, first catalog frame (ms): %s)" % ", ".join(map(shown, catalog_first)))
    print("  cold start, no caches (ms): %s" % ", ".join(map(shown, cold)))
    print("  empty window's first paint (ms): %s" % ", ".join(map(shown, empty)))
    w, c, e = [[v for v in values if v] for values in (warm, cold, empty)]
    if w and e:
        print("  median warm %d ms vs empty %d ms: %.2f x the empty window (target: <= 1.30 x)" %
              (statistics.median(w), statistics.median(e), statistics.median(w) / statistics.median(e)))
    if c and e:
        print("  median cold %d ms: %.2f x the empty window" % (statistics.median(c), statistics.median(c) / statistics.median(e)))
    print("warm start, ", end="")
    print_breakdown(warm_runs)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--source", required=True)
    ap.add_argument("--runs", type=int, default=5)
    args = ap.parse_args()
    session = h.Session("figures", os.path.abspath(args.build), os.path.abspath(args.source), print)
    try:
        session.start_display()
        session.prepare_prefix()
        server = h.Server("figures")
        catalog = Catalog(session, server)
        catalog.build()
        catalog.serve()
        session.write_config(server.base, "figures", "C:\\kv-e2e\\figures")
        # Warm the prefix and the file cache once, unmeasured.
        start_and_measure(session, [session.exe], "KVCatalogFrameMs", "KVMainWnd")
        empty_exe = os.path.join(session.build, "bench", "window", "kv_empty_window.exe")
        warm_start_figures(session, server, catalog, args.runs, empty_exe)
        catalog.serve()
        session.clear_caches()
        program, empty, runs, empty_runs = [], [], [], []
        for _ in range(args.runs):
            session.clear_caches()  # a first start, as these figures were always taken
            runs.append(start_and_measure(session, [session.exe], "KVCatalogFrameMs", "KVMainWnd", "KVMarkShadowMs"))
            program.append(runs[-1]["KVCatalogFrameMs"] if runs[-1] else None)
            facts = start_and_measure(session, [empty_exe], "KVFirstPaintMs", "KVEmptyWnd")
            empty.append(facts["KVFirstPaintMs"] if facts else None)
            empty_runs.append(facts)
        shown = lambda v: "%s" % v if v is not None else "n/a"
        print("start to first catalog frame (ms): %s" % ", ".join(map(shown, program)))
        print("start to first paint of an empty window (ms): %s" % ", ".join(map(shown, empty)))
        p = [v for v in program if v]
        e = [v for v in empty if v]
        if p and e:
            print("median %d ms vs %d ms: %.2f x the empty window" %
                  (statistics.median(p), statistics.median(e), statistics.median(p) / statistics.median(e)))
        print("target: <= 1.30 x the empty window")
        print_breakdown(runs)
        print("empty window, ", end="")
        print_breakdown(empty_runs, MARKS + [("KVFirstPaintMs", "first paint (a white fill)")])

        session.start_program()
        if wait_property(session, "KVCatalogFrameMs", "KVMainWnd") is None:
            print("idle: the catalog never showed")
            return 1
        session.move(1000, 1000)  # the pointer away from every hover target
        time.sleep(1.5)
        count = lambda: session.facts()["main"]["KVPaintCount"]
        before = count()
        time.sleep(5)
        print("idle, nothing changing: %d paints in 5 s" % (count() - before))
        # "尚未上架" (no package) answers with a toast and starts nothing else.
        areas = session.areas()
        cx, cy = h.centre(areas.card(FIRST[6][1]))
        session.click(areas.origin[0] + cx, areas.origin[1] + cy)
        session.move(1000, 1000)
        start = time.monotonic()
        last = count()
        slices = []
        while time.monotonic() - start < 4.5:
            time.sleep(0.25)
            now = count()
            slices.append((time.monotonic() - start, now - last))
            last = now
        print("with a toast (shown at 0 ms), paints per 250 ms slice:")
        print("  " + "  ".join("%4.0fms:%d" % (t * 1000, n) for t, n in slices))
        after_expiry = sum(n for t, n in slices if t > 3.0)
        print("paints after the toast expired (3.0-4.5 s): %d" % after_expiry)
        return 0
    finally:
        session.close()


if __name__ == "__main__":
    sys.exit(main())
