"""The real program driven by the keyboard alone, under the end-to-end harness's Xvfb and
Wine prefix, against the loopback test server's catalog: Tab reaches the first card's
install button and draws the ring, a click hides it again, Enter starts the download, and
Esc leaves the download manager, and Enter on the close button ends the program.
Screenshots of failed checks go to build/e2e/keyboard/failures.
"""
import argparse
import json
import os
import sys
import time
import urllib.request

WIN_X, WIN_Y = 50, 122          # where the program puts its 1180 x 780 window on this screen
FIRST_BUTTON = (286, 314, 386, 346)  # the first card's button, client pixels (4 columns)
ACCENT = (0x5B, 0x4D, 0xFF)
SURFACE = (255, 255, 255)
BACKGROUND = (245, 246, 248)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--source", required=True)
    args = ap.parse_args()
    sys.path.insert(0, os.path.join(args.source, "tests", "e2e"))
    import harness as h

    failures = []
    session = h.Session("keyboard", os.path.abspath(args.build), os.path.abspath(args.source), print,
                        window_manager=True)
    server = h.Server("keyboard")

    def pixel(x, y):
        return session.capture().pixel(WIN_X + x, WIN_Y + y)

    def check(name, ok, detail=""):
        print(("ok   " if ok else "FAIL ") + name + ("" if ok else ": " + str(detail)))
        if not ok:
            failures.append(name)
            session.save_screenshot(name)

    def wait_for(condition, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if condition():
                return True
            time.sleep(0.25)
        return condition()

    def downloads():
        url = server.origin + "/_control/requests?prefix=" + urllib.request.quote("/api/client/download/")
        with urllib.request.urlopen(url, timeout=10) as answer:
            return json.loads(answer.read())

    ring_x, ring_y = FIRST_BUTTON[0] - 2, (FIRST_BUTTON[1] + FIRST_BUTTON[3]) // 2
    try:
        session.start_display()
        session.prepare_prefix()
        os.makedirs(session.drive_c("kbd"), exist_ok=True)
        session.write_config(server.origin, "k", "C:\\kbd")
        session.start_program()
        painted = wait_for(lambda: pixel(*FIRST_BUTTON[:2]) is not None and
                           h.close_to(pixel(FIRST_BUTTON[0] + 50, FIRST_BUTTON[1] + 16), ACCENT, 12), 40)
        check("the catalog shows", painted)
        if not painted:
            return 1
        check("no ring before a key", h.close_to(pixel(ring_x, ring_y), SURFACE, 4), pixel(ring_x, ring_y))

        reached = False
        for _ in range(40):
            session.key("Tab")
            if h.close_to(pixel(ring_x, ring_y), ACCENT, 24):
                reached = True
                break
        check("Tab reaches the first card's button and rings it", reached, pixel(ring_x, ring_y))

        session.click(WIN_X + 700, WIN_Y + 100)  # on no area
        check("a click hides the ring",
              wait_for(lambda: h.close_to(pixel(ring_x, ring_y), SURFACE, 4), 5), pixel(ring_x, ring_y))

        before = len(downloads())
        session.key("Return")
        check("Enter starts the download", wait_for(lambda: len(downloads()) > before, 15))

        session.click(WIN_X + 860, WIN_Y + 32)  # "下载管理"
        clear = (1180 - 114, 99)  # inside "清除已完成", which only the download manager shows
        check("the download manager shows",
              wait_for(lambda: h.close_to(pixel(*clear), SURFACE, 4), 5), pixel(*clear))
        # The first Esc may go to the completion banner of the finished download.
        for _ in range(2):
            session.key("Escape")
            if wait_for(lambda: h.close_to(pixel(*clear), BACKGROUND, 4), 2):
                break
        check("Esc goes back to the catalog", h.close_to(pixel(*clear), BACKGROUND, 4), pixel(*clear))

        for _ in range(4):  # "下载管理" → "下载设置", minimize, maximize, close
            session.key("Tab")
        close_ring = (1180 - 42, 32)  # the caption button's ring lies inside it, white on the header
        check("Tab reaches the close button",
              wait_for(lambda: h.close_to(pixel(*close_ring), SURFACE, 24), 5), pixel(*close_ring))
        session.key("Return")
        check("Enter on the close button ends the program with 0", session.wait_program_exit(20) == 0)
    except Exception as e:  # a broken step is a failure with its screenshot, not a hang
        check("keyboard run", False, repr(e))
    finally:
        session.close()
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
