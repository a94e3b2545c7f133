#!/usr/bin/env python3
"""End-to-end cases of the real program, one group per CTest test.

  run.py GROUP --build BUILD_DIR --source SOURCE_DIR
      GROUP: window, install, settings, load, close, scaled, resume

Each group starts a private Xvfb (1280 x 1024) and the program in the e2e Wine prefix,
against its own prefix of the loopback test server, then runs its cases in order; a failed
check keeps a screenshot in BUILD_DIR/e2e/GROUP/failures/ and the group goes on with the next
case. Client coordinates below are the window's; the window sits at (50, 122) on this screen.
The group "scaled" runs at 150 % on a 1920 x 1200 screen in a prefix of its own (scaled.py).
"""
import argparse
import glob
import hashlib
import os
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness as h  # noqa: E402
from catalog import HANDOFF_DELAY_MS, ICONS, Catalog, uninstall_key  # noqa: E402
import resume  # noqa: E402
import scaled  # noqa: E402

CHANNEL = "e2e 频道"
CHANNEL_ENCODED = "e2e%20%E9%A2%91%E9%81%93"
W, H = 1180, 780


def card_button(i, scroll=0):
    """Left end and centre of card i's button (client), in the 1180-wide window."""
    width = W - 12 - 212
    cols = 3 if width < 908 else (width - 28) // 220
    card_w = (width - 28 - (cols - 1) * 14) // cols
    left = 212 + (i % cols) * (card_w + 14) + 14
    top = 126 + (i // cols) * 248 - scroll
    bl = left + (card_w - 100) // 2
    return (bl + 7, top + 204), (bl + 50, top + 204)


def sidebar_top(i, scroll=0):
    return 78 + 54 * i - scroll


def panel_row_top(k):
    return 158 + 96 * k


class Run:
    def __init__(self, group, build, source, window_manager=False, screen=(h.SCREEN_W, h.SCREEN_H), dpi=96):
        self.group = group
        self.failures = []
        self.checks = 0
        self.case = ""
        self.lines = []
        self.session = h.Session(group, build, source, self.log, window_manager=window_manager, screen=screen,
                                 dpi=dpi)
        self.origin = (50, 122)
        self.catalog_probe = card_button(0)[0]  # a pixel of the first card's button
        self.started = time.monotonic()

    def log(self, text):
        line = "[%s] %s" % (self.group, text)
        print(line, flush=True)
        self.lines.append(line)

    # --- checks -------------------------------------------------------------------

    def check(self, label, ok, detail=""):
        self.checks += 1
        if ok:
            return True
        name = "%s-%s" % (self.case, label)
        shot = self.session.save_screenshot("%02d-%s" % (len(self.failures) + 1, name))
        self.failures.append(name)
        self.log("FAIL %s: %s (screenshot %s)" % (name, detail, shot))
        return False

    def screen_point(self, x, y):
        return self.origin[0] + x, self.origin[1] + y

    def pixel_now(self, x, y):
        return self.session.capture().pixel(*self.screen_point(x, y))

    def wait_pixel(self, label, x, y, colour, tolerance=8, timeout=15.0, under=(255, 255, 255), negate=False):
        """Polls until the pixel at client (x, y) shows the fill `colour` (or stops showing it)."""
        want = h.rgb(colour, under) if isinstance(colour, int) else colour
        deadline = time.monotonic() + timeout
        seen = None
        while True:
            seen = self.pixel_now(x, y)
            if (seen is not None and h.close_to(seen, want, tolerance)) != negate:
                return self.check(label, True)
            if time.monotonic() > deadline:
                return self.check(label, False, "pixel (%d, %d) is %s, %s %s" %
                                  (x, y, seen, "wanted anything but" if negate else "wanted", want))
            time.sleep(0.2)

    def wait_for(self, label, probe, timeout=15.0, pause=0.3):
        deadline = time.monotonic() + timeout
        value = None
        while True:
            try:
                value = probe()
            except Exception as e:  # a helper that could not answer yet
                value = e
            if value is True or (value and not isinstance(value, Exception)):
                self.check(label, True)
                return value
            if time.monotonic() > deadline:
                self.check(label, False, "not reached within %.0f s (last: %r)" % (timeout, value))
                return None
            time.sleep(pause)

    def expect_equal(self, label, got, want):
        return self.check(label, got == want, "got %r, wanted %r" % (got, want))

    # --- program life -------------------------------------------------------------

    def start(self, catalog_setup):
        s = self.session
        s.start_display()
        s.prepare_prefix()
        self.server = h.Server(self.group)
        self.catalog = Catalog(s, self.server)
        self.catalog.build()
        catalog_setup(self.catalog)
        self.download_dir = s.drive_c("kv-e2e", self.group)
        # A configured folder is created one level deep only: its parent must exist, as it
        # would on a user's machine, whichever group runs first in a fresh prefix.
        os.makedirs(s.drive_c("kv-e2e"), exist_ok=True)
        self.facts_call_forget()
        # Each group starts with no downloads of an earlier group's run.
        for name in ("downloads.json", "downloads.json.bad"):
            stale = os.path.join(os.path.dirname(s.config_path), name)
            if os.path.exists(stale):
                os.remove(stale)
        s.write_config(self.server.base, CHANNEL, "C:\\kv-e2e\\" + self.group)
        self.baseline = s.capture()
        if self.group not in STARTS_ITSELF:
            s.start_program()

    def facts_call_forget(self):
        self.session.facts_call(["forget", "KVE2E%s" % self.group.capitalize()])

    def main_facts(self):
        return self.session.facts().get("main")

    def wait_catalog(self, timeout=40.0):
        start = time.monotonic()
        left = self.catalog_probe
        ok = self.wait_pixel("catalog shown", left[0], left[1], h.ACCENT, timeout=timeout)
        if ok:
            self.log("catalog painted %.1f s after the program started" % (time.monotonic() - self.session.program_started))
        return ok and time.monotonic() - start < timeout

    def uninstall_entries(self):
        return self.session.facts_call(["uninstall", "KVE2E%s" % self.group.capitalize()])

    def reports(self):
        import json
        out = []
        for r in self.server.requests("/api/client/report"):
            try:
                out.append(json.loads(r["body"]))
            except ValueError:
                out.append({"unreadable": r["body"]})
        return out

    def file_in_downloads(self, name):
        return os.path.join(self.download_dir, name)

    def run_cases(self, cases):
        for case in cases:
            self.case = case.__name__
            self.log("case %s" % self.case)
            try:
                case(self)
            except Exception:
                self.check("raised", False, traceback.format_exc())

    def finish(self):
        self.session.close()
        self.log("%d checks, %d failed%s, %.0f s" % (self.checks, len(self.failures),
                                                      (": " + ", ".join(self.failures)) if self.failures else "",
                                                      time.monotonic() - self.started))
        with open(os.path.join(self.session.work, "log.txt"), "w", encoding="utf-8") as f:
            f.write("\n".join(self.lines) + "\n")
        return 1 if self.failures else 0


# --- group "window": start-up, frame, shadow, hit-test bands, input, close -------------

def startup_shows_the_catalog(r):
    r.wait_catalog()
    r.wait_pixel("header gradient left", 3, 32, h.HEADER_LEFT, tolerance=6)
    r.wait_pixel("header gradient right", W - 3, 32, h.HEADER_RIGHT, tolerance=6)
    r.wait_pixel("first category selected", 100, sidebar_top(0) + 4, h.SELECTED_ROW, tolerance=4)
    r.wait_pixel("selected accent bar", 13, sidebar_top(0) + 20, h.ACCENT, tolerance=6)
    requests = [q["path"] for q in r.server.requests("/api/client/bootstrap")]
    r.check("one bootstrap request", len(requests) == 1, "requests: %s" % requests)


def window_sits_centred_with_its_shadow(r):
    f = r.session.facts()
    m, shadow = f["main"], f["shadow"]
    if not r.check("main window exists", m is not None, "no KVMainWnd"):
        return
    r.expect_equal("window rectangle", m["window"], [50, 122, 1230, 902])
    r.expect_equal("client rectangle", m["client"], [0, 0, W, H])
    r.expect_equal("title", m["title"], "星舟软件管家")
    r.expect_equal("visible, enabled, not zoomed", (m["visible"], m["enabled"], m["zoomed"]), (1, 1, 0))
    r.expect_equal("minimum tracking size", m.get("minTrack"), [1000, 660])
    region = m["region"]
    if r.check("rounded region", region is not None, "no window region"):
        # (0,0) (1,1) (7,7) (w/2,0) (w-1,0) (0,h-1) (w-1,h-1) centre
        r.expect_equal("region corners cut", region["inside"], [0, 0, 1, 1, 0, 0, 0, 1])
    if r.check("shadow window exists", shadow is not None, "no KVShadow"):
        r.expect_equal("shadow 18 pixels around", shadow["window"], [32, 104, 1248, 920])
        r.expect_equal("shadow visible", shadow["visible"], 1)
        wanted = 0x08000000 | 0x80000 | 0x80 | 0x20  # no-activate, layered, tool window, transparent
        r.check("shadow styles", shadow["exstyle"] & wanted == wanted, "exstyle 0x%x" % shadow["exstyle"])
    screen = r.session.capture()
    near = screen.pixel(49, 500)
    far = screen.pixel(20, 500)
    r.check("shadow darkens just outside the edge", near != r.baseline.pixel(49, 500),
            "pixel %s equals the bare screen" % (near,))
    r.check("nothing drawn beyond the shadow", far == r.baseline.pixel(20, 500), "pixel %s" % (far,))
    r.check("corner pixel outside the region", screen.pixel(50, 122) != h.rgb(h.HEADER_LEFT),
            "pixel %s is header colour" % (screen.pixel(50, 122),))


def hit_test_bands(r):
    ox, oy = r.origin
    table = [
        ((6, 300), h.HTLEFT), ((7, 300), h.HTCLIENT), ((6, 30), h.HTLEFT),
        ((W - 6, 300), h.HTRIGHT), ((W - 7, 300), h.HTCLIENT),
        ((600, 63), h.HTCAPTION), ((600, 64), h.HTCLIENT), ((300, 30), h.HTCAPTION),
        ((600, H - 6), h.HTBOTTOM), ((600, H - 7), h.HTCLIENT),
        ((3, H - 3), h.HTBOTTOMLEFT), ((6, H - 6), h.HTBOTTOMLEFT), ((W - 3, H - 3), h.HTBOTTOMRIGHT),
        ((W - 23, 32), h.HTCLIENT), ((W - 69, 32), h.HTCLIENT), ((W - 115, 32), h.HTCLIENT),
        ((W - 318, 32), h.HTCLIENT), ((W - 204, 32), h.HTCLIENT),
    ]
    answers = r.session.hit([(ox + x, oy + y) for (x, y), _ in table])
    for ((x, y), want), got in zip(table, answers):
        r.expect_equal("hit test at (%d, %d)" % (x, y), got, want)


def category_switch(r):
    r.click_client(100, sidebar_top(1) + 23)
    r.wait_pixel("second category selected", 100, sidebar_top(1) + 4, h.SELECTED_ROW, tolerance=4)
    r.wait_pixel("first category no longer selected", 100, sidebar_top(0) + 4, h.SIDEBAR, tolerance=3)
    left, _ = card_button(0)
    r.wait_pixel("first card of the second category has no package", left[0], left[1], h.NEUTRAL, tolerance=4)
    r.click_client(100, sidebar_top(0) + 23)
    r.wait_pixel("first category again", 100, sidebar_top(0) + 4, h.SELECTED_ROW, tolerance=4)
    r.wait_pixel("its first card installs", left[0], left[1], h.ACCENT)


def hover_looks(r):
    left, centre = card_button(0)
    r.move_client(*centre)
    r.wait_pixel("card button hovered", left[0], left[1], h.ACCENT_HOT, tolerance=6)
    r.move_client(100, sidebar_top(2) + 23)
    r.wait_pixel("card button no longer hovered", left[0], left[1], h.ACCENT, tolerance=6)
    r.wait_pixel("sidebar row hovered", 100, sidebar_top(2) + 4, h.HOVER_ROW, tolerance=2)
    r.move_client(W - 23, 32)
    r.wait_pixel("close button hovered", W - 40, 5, h.CLOSE_HOT, tolerance=6)
    r.move_client(700, 700)
    r.wait_pixel("close button plain", W - 40, 5, h.CLOSE_HOT, tolerance=6, negate=True)


def sidebar_thumb(under_track=True):
    track = h.rgb(0x12BEC0C9, h.rgb(h.SIDEBAR))
    return h.rgb(h.SCROLL_THUMB, track)


def wheel_and_thumb_drags(r):
    # Ten applications in four columns: three rows, 104 pixels of scroll.
    row1_left, _ = card_button(4)
    scrolled_left, _ = card_button(4, scroll=104)
    r.wheel_client(700, 500, 1)
    r.wait_pixel("wheel scrolls the grid", scrolled_left[0], scrolled_left[1], h.ACCENT)
    r.wheel_client(700, 500, -1)
    r.wait_pixel("wheel scrolls it back", row1_left[0], row1_left[1], h.ACCENT)

    # Grid thumb: 574 high on a 654-pixel track from y = 126.
    r.drag_client(W - 12 - 5, 400, W - 12 - 5, 500)
    r.wait_pixel("grid thumb dragged to the end", scrolled_left[0], scrolled_left[1], h.ACCENT)
    r.drag_client(W - 12 - 5, 400, W - 12 - 5, 300)
    r.wait_pixel("grid thumb dragged back", row1_left[0], row1_left[1], h.ACCENT)

    # Sidebar: 17 rows, 222 pixels of scroll, thumb 520 high on 688.
    thumb = sidebar_thumb()
    r.wait_pixel("sidebar thumb at the top", 195, 750, thumb, tolerance=4, negate=True)
    r.wheel_client(100, 400, 1)
    r.wait_pixel("wheel scrolls the sidebar", 100, sidebar_top(0) + 4, h.SELECTED_ROW, tolerance=4, negate=True)
    r.wheel_client(100, 400, -1)
    r.wait_pixel("sidebar scrolled back", 100, sidebar_top(0) + 4, h.SELECTED_ROW, tolerance=4)
    r.drag_client(195, 300, 195, 600)
    r.wait_pixel("sidebar thumb dragged to the end", 195, 750, thumb, tolerance=4)
    r.wait_pixel("last category row shown", 100, sidebar_top(16, scroll=222) + 4, h.SIDEBAR, tolerance=3)
    r.drag_client(195, 500, 195, 200)
    r.wait_pixel("sidebar thumb dragged back", 100, sidebar_top(0) + 4, h.SELECTED_ROW, tolerance=4)


def maximize_and_restore(r):
    # Under Wine's X11 driver a maximize holds only when a window manager confirms it (on a
    # bare X server the driver undoes it at once): this group runs openbox on its display.
    r.click_client(W - 69, 32)
    f = r.wait_for("window maximized", lambda: (lambda f: f if f["main"] and f["main"]["zoomed"] else None)(
        r.session.facts()))
    if not f:
        return
    r.expect_equal("no region when maximized", f["main"]["region"], None)
    r.check("shadow hidden when maximized", f["shadow"] is None or f["shadow"]["visible"] == 0, str(f["shadow"]))
    ox, oy = f["main"]["origin"]
    cw = f["main"]["client"][2]
    r.session.click(ox + cw - 69, oy + 32)
    f = r.wait_for("window restored", lambda: (lambda f: f if f["main"] and not f["main"]["zoomed"] else None)(
        r.session.facts()))
    if not f:
        return
    r.expect_equal("restored rectangle", f["main"]["window"], [50, 122, 1230, 902])
    r.check("region back", f["main"]["region"] is not None, "no region")
    r.check("shadow shown again", f["shadow"] is not None and f["shadow"]["visible"] == 1, str(f["shadow"]))
    if f["shadow"]:
        r.expect_equal("shadow around the restored window", f["shadow"]["window"], [32, 104, 1248, 920])
    r.wait_catalog(timeout=10)


def close_button_ends_the_program(r):
    m = r.main_facts()
    ox, oy = m["origin"] if m else r.origin
    cw = m["client"][2] if m else W
    r.session.click(ox + cw - 23, oy + 32)
    code = r.session.wait_program_exit(20)
    r.expect_equal("exit code", code, 0)


WINDOW = [startup_shows_the_catalog, window_sits_centred_with_its_shadow, hit_test_bands, category_switch,
          hover_looks, wheel_and_thumb_drags, maximize_and_restore, close_button_ends_the_program]


# --- group "install": the install-button flow and the download manager ------------------

def open_downloads(r):
    r.click_client(W - 318, 32)


def open_catalog(r):
    r.click_client(100, sidebar_top(0) + 23)
    left, _ = card_button(0)
    r.wait_pixel("catalog view", 100, sidebar_top(0) + 4, h.SELECTED_ROW, tolerance=4)


def md5_of(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


def card_press_installs(r):
    r.wait_catalog()
    left, centre = card_button(0)
    r.click_client(*centre)
    r.wait_pixel("已安装 after download, check and installer", left[0], left[1], h.SUCCESS_WASH, tolerance=6,
                 timeout=60)
    key = uninstall_key("install", 1)
    entries = r.uninstall_entries()
    r.expect_equal("uninstall entry", entries.get(key), "星舟测试一号")
    path = r.file_in_downloads("e2e-app-1.exe")
    if r.check("file in the download folder", os.path.isfile(path), path):
        r.expect_equal("file digest", md5_of(path), r.catalog.files[1][1])
    r.check("no part file left", not os.path.exists(path + ".part"), path + ".part")
    downloads = [q["path"] for q in r.server.requests("/api/client/download/1")]
    r.check("download address carries the encoded channel",
            bool(downloads) and downloads[0].endswith("/api/client/download/1?channel=" + CHANNEL_ENCODED),
            "requests: %s" % downloads)
    reports = r.wait_for("report received", lambda: [x for x in r.reports() if x.get("appId") == 1], timeout=10)
    if reports:
        r.expect_equal("one report", len(reports), 1)
        r.expect_equal("report event and channel", (reports[0].get("event"), reports[0].get("channel")),
                       ("install", CHANNEL))


def mismatch_is_never_run(r):
    left, centre = card_button(1)
    r.click_client(*centre)
    path = r.file_in_downloads("e2e-app-2.exe")
    r.wait_for("mismatched file downloaded", lambda: os.path.isfile(path), timeout=30)
    r.wait_pixel("card offers 立即安装", left[0], left[1], h.ACCENT)
    time.sleep(2)
    r.click_client(*centre)
    r.wait_pixel("error toast on a second press", 418, 101, h.TOAST_ERROR, under=h.BACKGROUND, tolerance=10,
                 timeout=5)
    time.sleep(2)
    r.check("never installed", uninstall_key("install", 2) not in r.uninstall_entries(), "entry present")
    r.check("never reported", not [x for x in r.reports() if x.get("appId") == 2], str(r.reports()))


def archive_is_kept(r):
    left, centre = card_button(2)
    r.click_client(*centre)
    path = r.file_in_downloads("pack-3.zip")
    if r.wait_for("archive in the download folder", lambda: os.path.isfile(path), timeout=30):
        r.expect_equal("archive digest", md5_of(path), r.catalog.files[3][1])
    r.wait_pixel("card offers 打开文件夹", left[0], left[1], h.ACCENT)
    time.sleep(2)
    r.check("archive never reported", not [x for x in r.reports() if x.get("appId") == 3], str(r.reports()))


def failed_download_and_retry(r):
    left, centre = card_button(3)
    r.click_client(*centre)
    r.wait_for("failing download requested", lambda: r.server.requests("/api/client/download/4"), timeout=15)
    open_downloads(r)
    top = panel_row_top(3)  # rows in ascending id: 1, 2, 3, 4
    r.wait_pixel("failed row shows a red bar", 600, top + 49, h.DANGER_WASH, under=h.rgb(h.TRACK), tolerance=6,
                 timeout=20)
    r.wait_pixel("failed row offers 重试", W - 105, top + 43, h.ACCENT)
    r.catalog.serve_download(4)
    r.click_client(W - 74, top + 43)
    r.wait_pixel("retried download installed", 600, top + 49, h.SUCCESS, tolerance=8, timeout=60)
    r.wait_for("retried download installed its entry",
               lambda: uninstall_key("install", 4) in r.uninstall_entries(), timeout=20)


def cancel_mid_download(r):
    open_catalog(r)
    left, centre = card_button(4)
    r.click_client(*centre)
    open_downloads(r)
    top = panel_row_top(4)
    r.wait_pixel("slow download in progress", 300, top + 49, h.ACCENT, tolerance=8, timeout=30)
    r.wait_pixel("row offers 取消", W - 105, top + 43, h.SURFACE, tolerance=3)
    r.click_client(W - 74, top + 43)
    r.wait_pixel("cancelled row offers 重试", W - 105, top + 43, h.ACCENT, timeout=15)
    r.wait_pixel("cancelled row has an empty track", 300, top + 49, h.TRACK, tolerance=4)
    time.sleep(1)
    r.check("no file for the cancelled download", not os.path.exists(r.file_in_downloads("e2e-app-5.exe")),
            "file exists")


def stalled_report_keeps_the_window_answering(r):
    r.server.script("/api/client/report", [{"delay_ms": 20000, "body": "{\"code\":0}"}])
    open_catalog(r)
    left, centre = card_button(5)
    started = time.monotonic()
    r.click_client(*centre)
    if not r.wait_for("stalled report sent", lambda: [x for x in r.reports() if x.get("appId") == 6], timeout=40):
        return
    # A window that waited for the report would not answer for the stall's 20 s; a busy
    # machine can delay an answer by a second or two.
    answers = r.session.facts_call(["ping", 10, 300, 8000])
    r.expect_equal("messages answered during the stall", answers["failures"], 0)
    r.check("answers came quickly", answers["slowestMs"] < 8000, "slowest %d ms" % answers["slowestMs"])
    r.wait_pixel("installed while the report stalls", left[0], left[1], h.SUCCESS_WASH, tolerance=6, timeout=15)
    r.check("within the stall", time.monotonic() - started < 30, "took %.0f s" % (time.monotonic() - started))


def button_block(screen, r, i):
    """The pixels of card i's button label area, to compare two cards' labels."""
    left, _ = card_button(i)
    x0, y0 = r.screen_point(left[0] - 7 + 10, left[1] - 204 + 192)
    return [screen.pixel(x, y) for y in range(y0, y0 + 24) for x in range(x0, x0 + 80)]


def handed_over_setup_is_installed_when_its_second_process_registers(r):
    """A setup that starts the real one and exits at once: the card stays 安装中 while the
    second process works, past the 18 s of looks after the first one's exit, and shows
    已安装 once it registers. Card 0 shows 已安装 since the first case."""
    open_catalog(r)
    left, centre = card_button(7)
    key = uninstall_key("install", 8)
    r.click_client(*centre)
    if not r.wait_pixel("hand-over card 安装中", left[0], left[1], h.SUCCESS_WASH, tolerance=6, timeout=30):
        return
    started = time.monotonic()
    deadline = started + HANDOFF_DELAY_MS / 1000 + 30
    registered = None
    while time.monotonic() < deadline:
        seen = r.pixel_now(*left)
        if seen is not None and h.close_to(seen, h.rgb(h.ACCENT), 8):
            r.check("card never offers 立即安装 while the setup runs", False,
                    "after %.1f s" % (time.monotonic() - started))
            return
        if key in r.uninstall_entries():
            registered = time.monotonic()
            break
        time.sleep(0.5)
    if not r.check("second process registered", registered is not None, "no entry %s" % key):
        return
    r.log("hand-over registered %.1f s after the card showed 安装中" % (registered - started))
    shown = r.wait_for("card shows 已安装 like card 0",
                       lambda: (lambda s: button_block(s, r, 7) == button_block(s, r, 0))(r.session.capture()),
                       timeout=10)
    if shown:
        r.log("card showed 已安装 %.1f s after the registration" % (time.monotonic() - registered))


def clear_finished(r):
    open_downloads(r)
    r.wait_pixel("rows before clearing", 225, panel_row_top(0) + 43, h.SURFACE, tolerance=3)
    r.click_client(W - 72, 99)
    r.wait_pixel("finished rows cleared", 225, panel_row_top(0) + 43, h.BACKGROUND, tolerance=3)
    open_catalog(r)
    left, _ = card_button(0)
    r.wait_pixel("a cleared task's card offers 安 装 again", left[0], left[1], h.ACCENT, timeout=5)


INSTALL = [card_press_installs, mismatch_is_never_run, archive_is_kept, failed_download_and_retry,
           cancel_mid_download, stalled_report_keeps_the_window_answering,
           handed_over_setup_is_installed_when_its_second_process_registers, clear_finished]


# --- group "settings": the settings dialog ---------------------------------------------

DIALOG_CHILDREN = [  # class, text, id, rect (dialog client)
    ("Static", "下载设置", None, [30, 20, 230, 42]),
    ("Static", "安装包保存目录", None, [30, 52, 330, 72]),
    ("Edit", None, 103, [30, 76, 360, 106]),
    ("Button", "浏览...", 3, [368, 76, 448, 106]),
    ("Static", "修改后对新的下载任务生效", None, [30, 116, 330, 136]),
    ("Button", "取消", 1, [248, 156, 332, 190]),
    ("Button", "保存", 2, [342, 156, 426, 190]),
    ("Static", None, None, [30, 204, 410, 222]),
]
WS_TABSTOP = 0x10000


def open_dialog(r):
    r.click_client(W - 204, 32)
    return r.wait_for("dialog open", lambda: r.session.facts()["settings"], timeout=10)


def dialog_closed(r):
    return r.wait_for("dialog closed", lambda: (lambda f: f if f["settings"] is None else None)(r.session.facts()),
                      timeout=10)


def dialog_controls(r):
    r.wait_catalog()
    d = open_dialog(r)
    if not d:
        return
    r.expect_equal("dialog rectangle", d["window"], [401, 376, 879, 648])
    r.expect_equal("dialog title", d["title"], "下载设置")
    r.expect_equal("main window disabled", r.main_facts()["enabled"], 0)
    children = d["children"]
    r.expect_equal("child count", len(children), len(DIALOG_CHILDREN))
    for want, got in zip(DIALOG_CHILDREN, children):
        cls, text, ident, rect = want
        label = "control %s" % (text or cls)
        r.expect_equal(label + " class", got["class"].lower(), cls.lower())
        if text is not None:
            r.expect_equal(label + " text", got["text"], text)
        if ident is not None:
            r.expect_equal(label + " id", got["id"], ident)
            r.check(label + " is a tab stop", got["style"] & WS_TABSTOP, "style 0x%x" % got["style"])
        r.expect_equal(label + " position", got["rect"], rect)
    r.expect_equal("directory shown", children[2]["text"], "C:\\kv-e2e\\settings")
    r.check("credit names the version", children[7]["text"].startswith("开发者：启明数码科技工作室    版本 v1.4.25"),
            children[7]["text"])
    r.expect_equal("focus starts in the directory box", d.get("focusId"), 103)
    for want in (3, 1, 2):
        r.session.key("Tab")
        r.wait_for("Tab moves to control %d" % want, lambda: r.session.facts()["settings"].get("focusId") == want,
                   timeout=5)
    r.session.key("Escape")
    dialog_closed(r)


def replace_directory(r, text):
    r.session.key("End", "shift+Home", "BackSpace")
    r.session.type_text(text)
    r.wait_for("typed %s" % text, lambda: r.session.facts()["settings"]["children"][2]["text"] == text, timeout=10)


def escape_cancels(r):
    if not open_dialog(r):
        return
    replace_directory(r, "C:\\kv-e2e\\discarded")
    r.session.key("Escape")
    dialog_closed(r)
    r.expect_equal("config unchanged by Esc", r.session.read_config()["downloadDir"], "C:\\kv-e2e\\settings")
    r.expect_equal("main window enabled again", r.main_facts()["enabled"], 1)


def enter_saves_and_downloads_go_there(r):
    if not open_dialog(r):
        return
    replace_directory(r, "C:\\kv-e2e\\chosen\\")
    r.session.key("Return")
    dialog_closed(r)
    r.wait_pixel("success toast", 418, 101, h.TOAST_SUCCESS, under=h.BACKGROUND, tolerance=10, timeout=5)
    r.expect_equal("config keeps the trimmed folder", r.session.read_config(),
                   {"server": r.server.base, "channel": CHANNEL, "downloadDir": "C:\\kv-e2e\\chosen"})
    left, centre = card_button(0)
    r.click_client(*centre)
    path = r.session.drive_c("kv-e2e", "chosen", "e2e-app-1.exe")
    r.wait_for("download lands in the new folder", lambda: os.path.isfile(path), timeout=40)
    r.wait_pixel("installed", left[0], left[1], h.SUCCESS_WASH, tolerance=6, timeout=40)


def drive_root_means_default(r):
    if not open_dialog(r):
        return
    replace_directory(r, "D:\\")
    r.session.key("Return")
    dialog_closed(r)
    r.expect_equal("drive root saved as the default", r.session.read_config()["downloadDir"], "")
    d = open_dialog(r)
    if d:
        shown = d["children"][2]["text"]
        r.check("the default folder is shown", shown.endswith("星舟软件管家") and len(shown) > 3, shown)
        r.session.key("Escape")
        dialog_closed(r)


SETTINGS = [dialog_controls, escape_cancels, enter_saves_and_downloads_go_there, drive_root_means_default]


# --- group "load": a failed catalog load and "重新加载" ----------------------------------

def failed_load_shows_the_error(r):
    cx = (W + 200) // 2
    r.wait_pixel("reload button shown", cx - 50, 310, h.ACCENT, timeout=40)
    left, _ = card_button(0)
    r.wait_pixel("no cards", left[0], left[1], h.BACKGROUND, tolerance=3)
    r.catalog.serve_bootstrap()
    r.click_client(cx, 310)
    r.wait_catalog(timeout=20)
    r.wait_pixel("reload button gone", cx - 50, 310, h.ACCENT, negate=True)
    r.expect_equal("two loads", len(r.server.requests("/api/client/bootstrap")), 2)


# Answers of about 8 MiB (just under the request engine's limit) in shapes that once made a
# record or a tree node of every few bytes: (head, element, tail), the element repeated.
HOSTILE = [
    ("empty objects as applications", '{"data":{"apps":[', "{}", "]}}"),
    ("a side array", '{"data":{"categories":[],"apps":[]},"extra":[', "{}", "]}"),
]
HOSTILE_BYTES = 8 * 1024 * 1024 - 4096


def bootstrap_asked(r):
    return len(r.server.requests("/api/client/bootstrap"))


def reload_until_asked(r, label, count, timeout=60.0):
    """Presses F5 until the bootstrap has been asked for count times in all (a press while a
    load runs is ignored, so a new request also means the one before has ended)."""
    deadline = time.monotonic() + timeout
    while bootstrap_asked(r) < count:
        if time.monotonic() > deadline:
            return r.check(label, False, "asked %d times, not %d" % (bootstrap_asked(r), count))
        r.session.key("F5")
        time.sleep(1.0)
    return True


def hostile_answers_keep_the_memory_bounded(r):
    for name, head, element, tail in HOSTILE:
        path = os.path.join(r.session.work, "hostile-%d.json" % HOSTILE.index((name, head, element, tail)))
        n = (HOSTILE_BYTES - len(head) - len(tail)) // (len(element) + 1)
        with open(path, "w", encoding="utf-8") as f:
            f.write(head + ",".join([element] * n) + tail)
        # The hostile answer once, then the ordinary catalog again.
        r.server.script("/api/client/bootstrap", [
            {"file": path, "content_type": "application/json"},
            {"file": r.catalog.bootstrap_path, "content_type": "application/json; charset=utf-8"}])
        asked = bootstrap_asked(r)
        if not reload_until_asked(r, "hostile answer asked for", asked + 1):
            return
        if not reload_until_asked(r, "catalog asked for after it", asked + 2):
            return
        r.wait_catalog(timeout=30)
        m = r.session.facts_call(["memory"])
        r.check("memory read", m.get("found"), str(m))
        r.log("after %s (%d bytes): working set %.1f MiB, peak working set %.1f MiB, peak private %.1f MiB"
              % (name, os.path.getsize(path), m.get("workingSet", 0) / 1048576.0,
                 m.get("peakWorkingSet", 0) / 1048576.0, m.get("peakPrivate", 0) / 1048576.0))


def held_reload_key_loads_once(r):
    asked = bootstrap_asked(r)
    r.session.xdotool("keydown", "F5")
    time.sleep(1.5)  # the display repeats a held key about 25 times a second
    r.session.xdotool("keyup", "F5")
    r.wait_catalog(timeout=20)
    time.sleep(1.0)
    r.expect_equal("one load for a held F5", bootstrap_asked(r) - asked, 1)


LOAD = [failed_load_shows_the_error, hostile_answers_keep_the_memory_bounded, held_reload_key_loads_once]

# --- group "close": closed again and again while background work runs -------------------
# A smoke test of closing: it does not prove that a press landed inside the work it aims at,
# so it cannot show that a race was hit; the exit rules are tested in the test programs.

CLOSES = 30  # every phase with every press offset once
# What runs when the window is closed, in turn: the catalog load, the icon fetches with the
# catalog shown, and a download beside the icon fetches. A load cannot run beside the other
# two: "重新加载" is offered only after a failed load. One answer of each close is held back
# and timed to arrive while the program exits (the press swept from 100 ms before to 80 ms
# after it), so that background work finishes during the exit; the rest stay pending.
PHASES = ["catalog load", "icon fetches", "download and icon fetches"]
HELD_BACK_S = {"catalog load": 1.0, "icon fetches": 0.6, "download and icon fetches": 0.6}
PENDING_MS = 30000
CLOSE_DEADLINE_S = 170  # the whole loop; each step also has a deadline of its own


def press_offset(i):
    return -0.1 + 0.02 * ((i // len(PHASES)) % 10)


def count(r, path):
    return len(r.server.requests(path))


def header_drawn(r):
    return h.close_to(r.pixel_now(3, 32), h.rgb(h.HEADER_LEFT), 6)


def serve_for_close(r, phase):
    held = int(HELD_BACK_S[phase] * 1000)
    bootstrap = {"file": r.catalog.bootstrap_path, "content_type": "application/json; charset=utf-8"}
    if phase == "catalog load":
        bootstrap["delay_ms"] = held
    r.server.script("/api/client/bootstrap", [bootstrap])
    icons = os.path.join(r.session.source, "tools", "demo-catalog", "icons")
    icon_delay = held if phase == "icon fetches" else PENDING_MS
    for name in sorted(set(ICONS)):
        r.server.script("/icons/" + name, [{"delay_ms": icon_delay, "file": os.path.join(icons, name)}])
    # The probe's answer held back, then the file streamed slowly.
    path, _, _ = r.catalog.files[5]
    r.server.script(r.catalog.file_path(5), [{"delay_ms": held, "file": path, "times": 1},
                                             {"file": path, "chunk": 1024, "interval_ms": 20}])


def closes_during_activity_exit_cleanly(r):
    s = r.session
    slow_file = r.catalog.file_path(5)
    _, slow_button = card_button(4)
    close_x, close_y = r.origin[0] + W - 23, r.origin[1] + 32
    if os.path.exists(s.crash_log):
        os.remove(s.crash_log)
    outcomes = {}
    began = time.monotonic()
    for i in range(CLOSES):
        if time.monotonic() - began > CLOSE_DEADLINE_S:
            r.check("all closes within %d s" % CLOSE_DEADLINE_S, False, "stopped after %d closes" % i)
            break
        phase = PHASES[i % len(PHASES)]
        label = "close %d (%s)" % (i + 1, phase)
        serve_for_close(r, phase)
        loads, icons, files = count(r, "/api/client/bootstrap"), count(r, "/icons/"), count(r, slow_file)
        s.start_program()
        held = None  # the request whose answer is held back
        if r.wait_for(label + ": load requested", lambda: count(r, "/api/client/bootstrap") > loads,
                      timeout=20, pause=0.05):
            if phase == "catalog load":
                if r.wait_for(label + ": window drawn", lambda: header_drawn(r), timeout=20, pause=0.05):
                    held = r.server.requests("/api/client/bootstrap")[loads]
            # Icons are asked for by the first paint of the cards, after the header.
            elif r.wait_for(label + ": icons requested", lambda: count(r, "/icons/") > icons, timeout=20,
                            pause=0.05):
                if phase == "icon fetches":
                    held = r.server.requests("/icons/")[icons]
                else:
                    r.click_client(*slow_button)
                    if r.wait_for(label + ": download probed", lambda: count(r, slow_file) > files, timeout=20,
                                  pause=0.05):
                        held = r.server.requests(slow_file)[files]
        pressed = None
        if held is not None:
            due = held["time"] + HELD_BACK_S[phase]
            target = due + press_offset(i)
            while time.time() < target:
                time.sleep(min(0.01, max(0.0, target - time.time())))
            pressed = time.time() - due
            s.xdotool("mousemove", close_x, close_y, "click", "1")
        code = s.wait_program_exit(20)
        if code is None:
            s.stop_wine()
            code = s.wait_program_exit(10)
            outcome = "did not exit"
        else:
            outcome = "exit code %d" % code
        crash = ""
        if os.path.exists(s.crash_log):
            with open(s.crash_log, errors="replace") as f:
                crash = f.read().strip()
            os.remove(s.crash_log)
            outcome += ", crash log"
        outcomes[outcome] = outcomes.get(outcome, 0) + 1
        r.log("%s: %s, %.1f s after the start%s" % (
            label, outcome, time.monotonic() - s.program_started,
            "" if pressed is None else ", pressed %+d ms from the held answer" % round(pressed * 1000)))
        r.expect_equal(label + ": exit code", code, 0)
        r.check(label + ": no crash log", not crash, crash)
        for name in glob.glob(os.path.join(r.download_dir, "*")):
            os.remove(name)
    r.log("%d closes in %.0f s: %s" % (sum(outcomes.values()), time.monotonic() - began,
                                        ", ".join("%s %d" % kv for kv in sorted(outcomes.items()))))


CLOSE = [closes_during_activity_exit_cleanly]


# group: (cases, catalog setup, window manager on the display). Besides holding a maximize,
# the window manager answers the withdrawal of a closed window at once; on a bare X server
# Wine's X11 driver waits two seconds for that answer on every close.
GROUPS = {
    "window": (WINDOW, lambda c: c.serve(), True),
    "install": (INSTALL, lambda c: c.serve(), True),
    "settings": (SETTINGS, lambda c: c.serve(), True),
    "load": (LOAD, lambda c: c.serve(bootstrap_fails=True), True),
    "close": (CLOSE, lambda c: c.serve(), True),
    "scaled": (scaled.CASES, lambda c: c.serve(), True),
    "resume": (resume.CASES, lambda c: c.serve(), True),
}
# Groups on another screen at another display scale: (screen size, DPI, what sets the run's places).
SCALED = {"scaled": (scaled.SCREEN, scaled.DPI, scaled.prepare)}
STARTS_ITSELF = {"close"}  # groups whose cases start the program themselves


def add_input_helpers():
    def click_client(self, x, y):
        self.session.click(*self.screen_point(x, y))
        # Parked where nothing reacts to hover, so looks are read unhovered.
        self.session.move(*self.screen_point(206, 700))

    def move_client(self, x, y):
        self.session.move(*self.screen_point(x, y))

    def wheel_client(self, x, y, notches):
        self.session.wheel(*self.screen_point(x, y), notches)

    def drag_client(self, x0, y0, x1, y1):
        a, b = self.screen_point(x0, y0), self.screen_point(x1, y1)
        self.session.drag(a[0], a[1], b[0], b[1])

    Run.click_client, Run.move_client, Run.wheel_client, Run.drag_client = (
        click_client, move_client, wheel_client, drag_client)


add_input_helpers()
Run.card_button = staticmethod(card_button)
Run.window_width = W


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("group", choices=sorted(GROUPS))
    ap.add_argument("--build", required=True)
    ap.add_argument("--source", required=True)
    args = ap.parse_args()
    cases, setup, window_manager = GROUPS[args.group]
    screen, dpi, prepare = SCALED.get(args.group, ((h.SCREEN_W, h.SCREEN_H), 96, None))
    r = Run(args.group, os.path.abspath(args.build), os.path.abspath(args.source), window_manager, screen, dpi)
    if prepare:
        prepare(r)
    try:
        r.start(setup)
        r.run_cases(cases)
    except Exception:
        r.check("setup", False, traceback.format_exc())
    finally:
        status = r.finish()
    return status


if __name__ == "__main__":
    sys.exit(main())
