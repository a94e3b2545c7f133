"""The real program driven by the keyboard alone, under the end-to-end harness's Xvfb and
Wine prefix, against the loopback test server's catalog: Tab reaches the first card's
install button and draws the ring, a click hides it again, Enter starts the download, and
Esc leaves the download manager, and Enter on the close button ends the program. Buttons
are found where the program tells a screen reader they are.
Screenshots of failed checks go to build/e2e/keyboard/failures.
"""
import argparse
import json
import os
import sys
import time
import urllib.request

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

    origin = [0, 0]  # the client area's screen place, as the program reports it

    def pixel(x, y):
        return session.capture().pixel(origin[0] + x, origin[1] + y)

    def areas():
        """The program's accessible areas (client rectangles), or None before its window is up."""
        try:
            found = session.areas()
        except RuntimeError:
            return None
        if found:
            origin[:] = found.origin
        return found

    def first_card(found):
        cards = found.cards() if found else []
        return min((c["rect"] for c in cards), key=lambda r: (r[1], r[0])) if cards else None

    def check(name, ok, detail=""):
        print(("ok   " if ok else "FAIL ") + name + ("" if ok else ": " + str(detail)))
        if not ok:
            failures.append(name)
            session.save_screenshot(name)

    def wait_for(condition, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            value = condition()
            if value:
                return value
            time.sleep(0.25)
        return condition()

    def downloads():
        url = server.origin + "/_control/requests?prefix=" + urllib.request.quote("/api/client/download/")
        with urllib.request.urlopen(url, timeout=10) as answer:
            return json.loads(answer.read())

    try:
        session.start_display()
        session.prepare_prefix()
        os.makedirs(session.drive_c("kbd"), exist_ok=True)
        session.write_config(server.origin, "k", "C:\\kbd")
        session.start_program()
        button = wait_for(lambda: (lambda b: b if b and h.close_to(pixel(*h.inside_left(b)), ACCENT, 12) else None)(
            first_card(areas())), 40)
        check("the catalog shows", button)
        if not button:
            return 1
        ring_x, ring_y = button[0] - 2, (button[1] + button[3]) // 2  # the ring runs just outside the button
        check("no ring before a key", h.close_to(pixel(ring_x, ring_y), SURFACE, 4), pixel(ring_x, ring_y))

        reached = False
        for _ in range(40):
            session.key("Tab")
            if h.close_to(pixel(ring_x, ring_y), ACCENT, 24):
                reached = True
                break
        check("Tab reaches the first card's button and rings it", reached, pixel(ring_x, ring_y))

        session.click(origin[0] + 700, origin[1] + 100)  # on no area
        check("a click hides the ring",
              wait_for(lambda: h.close_to(pixel(ring_x, ring_y), SURFACE, 4), 5), pixel(ring_x, ring_y))

        before = len(downloads())
        session.key("Return")
        check("Enter starts the download", wait_for(lambda: len(downloads()) > before, 15))

        found = areas()
        header = {name: found.starting(name) for name in ("下载管理", "关闭")}
        manager = h.centre(header["下载管理"])
        session.click(origin[0] + manager[0], origin[1] + manager[1])
        # "清除已完成" only the download manager shows.
        listed = wait_for(lambda: (lambda a: a and a.named("清除已完成"))(areas()), 5)
        check("the download manager lists 清除已完成", listed)
        if not listed:
            return 1
        clear = h.inside_left(listed)
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
        close = header["关闭"]
        close_ring = (close[0] + 4, (close[1] + close[3]) // 2)  # the ring lies inside it, white on the header
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
