"""Group "resume": downloads outlive the program, and one program runs at a time.

The real program is stopped in the middle of a slow download (closed by its close button,
then killed outright), started again, and the card's "继续下载" finishes the file byte-exact
from where it stopped: the server's log shows the resumed range with If-Range, and the bytes
fetched again are printed. Then a second start, with the first one minimized, exits 0 and
leaves one window, the first, restored.
"""
import json
import os
import subprocess
import time

import harness as h

SLOW = {"chunk": 4096, "interval_ms": 100}  # about 40 KB/s: a 230 KB installer takes 6 s


def served(path, app_id, **more):
    """The file as a file server gives it: with a validator a range can name."""
    return dict(more, file=path, headers=[["ETag", '"e2e-%d-1"' % app_id]])


def journal_path(r):
    return os.path.join(os.path.dirname(r.session.config_path), "downloads.json")


def journal_entries(r, app_id):
    with open(journal_path(r), encoding="utf-8") as f:
        return [e for e in json.load(f)["jobs"] if e["appId"] == app_id]


def file_requests(r, app_id):
    return r.server.requests(r.catalog.file_path(app_id))


def stop_mid_download(r, app_id, card, how):
    path, md5, size = r.catalog.files[app_id]
    r.server.script(r.catalog.file_path(app_id), [served(path, app_id, **SLOW)])
    r.wait_catalog()
    before = len(file_requests(r, app_id))
    r.click_client(*r.card_points(card)[1])
    transfer = r.wait_for("transfer under way", lambda: len(file_requests(r, app_id)) > before + 1
                          and file_requests(r, app_id)[-1], timeout=30, pause=0.1)
    if not transfer:
        return None
    r.wait_for("a third of the file sent", lambda: file_requests(r, app_id)[-1].get("sent", 0) >= size // 3,
               timeout=30, pause=0.1)
    # Past the first flush of the part file (every 2 s), well before the end: the journal names
    # bytes on disk.
    r.wait_for("journal names bytes on disk", lambda: [e for e in journal_entries(r, app_id) if e.get("done", 0) > 0],
               timeout=10, pause=0.2)
    sent = file_requests(r, app_id)[-1].get("sent", 0)
    s = r.session
    if how == "close":
        r.click_client(*r.header("关闭"))
        code = s.wait_program_exit(20)
        r.expect_equal("closed with exit code 0", code, 0)
    else:
        subprocess.run(["pkill", "-9", "-f", "星舟软件管家.exe"], stdin=subprocess.DEVNULL, timeout=10)
        s.wait_program_exit(20)
    sent = max(sent, file_requests(r, app_id)[-1].get("sent", 0))
    r.check("a part of the file was sent, not all", 0 < sent < size, "sent %d of %d" % (sent, size))
    return sent


def resumes_where_it_stopped(r, app_id, card, how):
    path, md5, size = r.catalog.files[app_id]
    sent = stop_mid_download(r, app_id, card, how)
    if sent is None:
        return
    entries = []
    try:
        entries = journal_entries(r, app_id)
    except (OSError, ValueError, KeyError) as e:
        r.check("journal readable", False, str(e))
    if r.check("journal holds the interrupted job", len(entries) == 1 and entries[0]["state"] == "interrupted",
               str(entries)):
        r.check("journal's bytes are on disk", 0 < entries[0]["done"] <= sent, "%s of %d sent" % (entries[0], sent))

    r.server.script(r.catalog.file_path(app_id), [served(path, app_id)])
    before = len(file_requests(r, app_id))
    r.session.start_program()
    left, centre = r.card_points(card)
    r.wait_catalog()
    r.wait_pixel("card offers 继续下载", left[0], left[1], h.ACCENT, timeout=20)
    r.click_client(*centre)
    r.wait_pixel("continued download installed", left[0], left[1], h.SUCCESS_WASH, tolerance=6, timeout=60)
    ranges = [(q["headers"], q.get("sent", 0)) for q in file_requests(r, app_id)[before:]]
    resumed = [dict((k.lower(), v) for k, v in hs) for hs, _ in ranges]
    last = resumed[-1] if resumed else {}
    start = -1
    if last.get("range", "").startswith("bytes=") and "-" in last["range"]:
        start = int(last["range"][6:].split("-")[0] or -1)
    r.check("resumed with a range and If-Range", start > 0 and bool(last.get("if-range")), str(last))
    r.check("resumed no later than what was sent", 0 < start <= sent, "range from %d, sent %d" % (start, sent))
    r.log("%s: %d of %d bytes sent before the stop, resumed from byte %d: %d bytes fetched again" %
          (how, sent, size, start, sent - start))
    got = os.path.join(r.download_dir, os.path.basename(r.catalog.file_path(app_id)))
    if r.check("file in the download folder", os.path.isfile(got), got):
        with open(got, "rb") as f, open(path, "rb") as g:
            r.check("file byte-exact", f.read() == g.read(), got)


def closed_mid_download_resumes(r):
    resumes_where_it_stopped(r, 5, 4, "close")


def killed_mid_download_resumes(r):
    resumes_where_it_stopped(r, 1, 0, "kill")


def second_start_raises_the_first(r):
    s = r.session
    first = r.wait_for("program running", r.main_facts, timeout=20)
    r.click_client(*r.header("最小化"))
    r.wait_for("first window minimized", lambda: (r.main_facts() or {}).get("iconic") == 1, timeout=10)
    began = time.monotonic()
    code = s.wine([s.exe], timeout=60)
    r.expect_equal("second start exits with 0", code, 0)
    r.log("second start ended after %.1f s" % (time.monotonic() - began))
    shown = r.wait_for("first window restored", lambda: (r.main_facts() or {}).get("iconic") == 0 and r.main_facts(),
                       timeout=10)
    if shown and first:
        r.expect_equal("the same window", shown.get("hwnd"), first.get("hwnd"))


CASES = [closed_mid_download_resumes, killed_mid_download_resumes, second_start_raises_the_first]
