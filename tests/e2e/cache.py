#!/usr/bin/env python3
"""End-to-end group "cache": the real program started a second time while the server holds
the catalog answer back draws the catalog of its first run, with its icons, at once.

  cache.py --build BUILD_DIR --source SOURCE_DIR

Needs the loopback test server of the CTest fixture (KV_TESTSERVER_DIR)."""
import argparse
import os
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from catalog import ICONS  # noqa: E402
import run  # noqa: E402

HELD_S = 8  # the catalog answer of the second start comes this late


def count(r, path):
    return len(r.server.requests(path))


def serve_icons(r):
    icons = os.path.join(r.session.source, "tools", "demo-catalog", "icons")
    for name in sorted(set(ICONS)):
        r.server.script("/icons/" + name, [{"file": os.path.join(icons, name)}])


def icons_frame(r):
    main = r.main_facts()
    return main.get("KVCatalogIconsFrameMs") if main else None


def close_program(r):
    r.click_client(run.W - 23, 32)
    if r.session.wait_program_exit(20) is None:
        r.check("program closed", False, "still running 20 s after the close button")
        r.session.stop_wine()
        r.session.wait_program_exit(10)


def second_start_draws_the_cached_catalog_while_the_server_holds_it(r):
    s = r.session
    if not r.wait_catalog():
        return
    r.wait_for("first start: every visible icon drawn", lambda: icons_frame(r), timeout=30)
    cache_file = os.path.join(s.cache_folder, "catalog.cache")
    r.wait_for("catalog kept on disk", lambda: os.path.exists(cache_file), timeout=10)
    icon_files = lambda: [n for n in os.listdir(os.path.join(s.cache_folder, "icons")) if n.endswith(".icon")] \
        if os.path.isdir(os.path.join(s.cache_folder, "icons")) else []
    r.wait_for("icons kept on disk", icon_files, timeout=10)
    close_program(r)

    r.server.script("/api/client/bootstrap", [{"file": r.catalog.bootstrap_path, "delay_ms": HELD_S * 1000,
                                               "content_type": "application/json; charset=utf-8"}])
    loads, icons = count(r, "/api/client/bootstrap"), count(r, "/icons/")
    s.start_program(keep_caches=True)
    started = time.monotonic()
    r.wait_pixel("second start: catalog shown", *r.catalog_probe, run.h.ACCENT, timeout=HELD_S - 2)
    r.wait_pixel("first category selected", 100, run.sidebar_top(0) + 4, run.h.SELECTED_ROW, tolerance=4,
                 timeout=2)
    shown = r.wait_for("second start: every visible icon drawn", lambda: icons_frame(r), timeout=2)
    r.check("drawn while the answer is held back", time.monotonic() - started < HELD_S,
            "%.1f s after the start" % (time.monotonic() - started))
    r.log("second start: catalog with icons %s ms after the process started" % shown)
    r.expect_equal("the load still asked for the catalog", count(r, "/api/client/bootstrap"), loads + 1)
    r.expect_equal("no icon asked for again", count(r, "/icons/"), icons)
    # The held answer arrives and replaces the lists; the view stays the catalog.
    time.sleep(HELD_S - (time.monotonic() - started) + 1.5)
    r.wait_pixel("catalog still shown after the answer", *r.catalog_probe, run.h.ACCENT, timeout=5)
    r.expect_equal("still no icon asked for again", count(r, "/icons/"), icons)


CASES = [second_start_draws_the_cached_catalog_while_the_server_holds_it]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--source", required=True)
    args = ap.parse_args()
    r = run.Run("cache", os.path.abspath(args.build), os.path.abspath(args.source), window_manager=True)
    try:
        r.start(lambda c: (c.serve(), serve_icons(r)))
        r.run_cases(CASES)
    except Exception:
        r.check("setup", False, traceback.format_exc())
    finally:
        status = r.finish()
    return status


if __name__ == "__main__":
    sys.exit(main())
