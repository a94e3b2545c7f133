#!/usr/bin/env python3
"""Group "cache": the real program started a second time while the server holds the catalog
answer back draws the catalog of its first run, with its icons, at once."""
import os
import time

import harness as h
from catalog import ICONS

HELD_S = 8  # the catalog answer of the second start comes this late


def count(r, path):
    return len(r.server.requests(path))


def serve_icons(catalog):
    icons = os.path.join(catalog.session.source, "tools", "demo-catalog", "icons")
    for name in sorted(set(ICONS)):
        catalog.server.script("/icons/" + name, [{"file": os.path.join(icons, name)}])


def icons_frame(r):
    main = r.main_facts()
    return main.get("KVCatalogIconsFrameMs") if main else None


def close_program(r):
    r.click_client(*r.header("关闭"))
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
    r.wait_pixel("second start: catalog shown", *r.catalog_probe, h.ACCENT, timeout=HELD_S - 2)
    r.wait_pixel("first category selected", *h.row_probe(r.row(0)), h.SELECTED_ROW, tolerance=4,
                 timeout=2)
    shown = r.wait_for("second start: every visible icon drawn", lambda: icons_frame(r), timeout=2)
    r.check("drawn while the answer is held back", time.monotonic() - started < HELD_S,
            "%.1f s after the start" % (time.monotonic() - started))
    r.log("second start: catalog with icons %s ms after the process started" % shown)
    r.expect_equal("the load still asked for the catalog", count(r, "/api/client/bootstrap"), loads + 1)
    r.expect_equal("no icon asked for again", count(r, "/icons/"), icons)
    # The held answer arrives and replaces the lists; the view stays the catalog.
    paints = (r.main_facts() or {}).get("KVPaintCount", 0)
    r.wait_for("held answer sent", lambda: "sent" in r.server.requests("/api/client/bootstrap")[loads],
               timeout=HELD_S + 5, pause=0.2)
    repainted = r.wait_until(lambda: (r.main_facts() or {}).get("KVPaintCount", 0) > paints, timeout=5)
    r.log("window %s after the held answer" % ("repainted" if repainted else "not repainted within 5 s"))
    r.wait_pixel("catalog still shown after the answer", *r.catalog_probe, h.ACCENT, timeout=5)
    r.expect_equal("still no icon asked for again", count(r, "/icons/"), icons)


CASES = [second_start_draws_the_cached_catalog_while_the_server_holds_it]



def serve(catalog):
    catalog.serve()
    serve_icons(catalog)
