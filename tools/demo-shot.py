#!/usr/bin/env python3
"""Runs the program once under a private Xvfb and saves a screenshot of its window.

  demo-shot.py PREFIX PROGRAM.exe SERVER_DIR CATALOG_DIR OUT.png

Waits (bounded) until the catalog is painted and every icon of the first category has been
fetched and drawn (two captures in a row agree), saves the window with its shadow to OUT.png,
then ends the program, the prefix's wineserver and the Xvfb. Exit code 0 when saved.
"""
import json
import os
import subprocess
import sys
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(HERE, "wine-run.sh")
SCREEN_W, SCREEN_H = 1280, 1024
WINDOW = (50, 122, 1180, 780)  # where the program puts itself on a 1280 x 1024 screen
SHADOW = 18


def start_xvfb():
    for n in range(170, 260):
        if os.path.exists("/tmp/.X11-unix/X%d" % n) or os.path.exists("/tmp/.X%d-lock" % n):
            continue
        xvfb = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "%dx%dx24" % (SCREEN_W, SCREEN_H),
                                 "-nolisten", "tcp", "-wr"], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        for _ in range(100):
            if os.path.exists("/tmp/.X11-unix/X%d" % n):
                return xvfb, ":%d" % n
            if xvfb.poll() is not None:
                break
            time.sleep(0.1)
        xvfb.kill()
        xvfb.wait()
    sys.exit("demo: no Xvfb display could be started")


def capture(env, out_raw):
    subprocess.run(["import", "-window", "root", "-depth", "8", "rgb:" + out_raw], env=env, check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
    with open(out_raw, "rb") as f:
        return f.read()


def window_part(data):
    x, y, w, h = WINDOW
    return b"".join(data[((y + row) * SCREEN_W + x) * 3:((y + row) * SCREEN_W + x + w) * 3] for row in range(h))


def pixel(data, cx, cy):
    i = ((WINDOW[1] + cy) * SCREEN_W + WINDOW[0] + cx) * 3
    return tuple(data[i:i + 3])


def first_category_icons(catalog_dir):
    with open(os.path.join(catalog_dir, "bootstrap.json"), encoding="utf-8") as f:
        doc = json.load(f)["data"]
    first = doc["categories"][0]["id"] if doc["categories"] else None
    icons = [a.get("icon") for a in doc["apps"] if first in a.get("categoryIds", [])]
    return [i for i in icons if i][:8]  # the cards that fit the first screen


def icon_requests(origin):
    with urllib.request.urlopen(origin + "/_control/requests?prefix=/icons/", timeout=10) as answer:
        return {r["path"] for r in json.loads(answer.read())}


def main():
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    prefix, program, server_dir, catalog_dir, out = sys.argv[1:]
    with open(os.path.join(server_dir, "ports.txt")) as f:
        port = dict(line.strip().split("=", 1) for line in f if "=" in line)["http"]
    origin = "http://127.0.0.1:" + port
    wanted_icons = set(first_category_icons(catalog_dir))

    xvfb, display = start_xvfb()
    env = dict(os.environ, DISPLAY=display)
    raw = out + ".rgb"
    log = open(out + ".log", "wb")
    started = time.monotonic()
    proc = subprocess.Popen([WINE_RUN, "--prefix", prefix, program], env=env, stdin=subprocess.DEVNULL,
                            stdout=log, stderr=log, start_new_session=True)
    saved = False
    try:
        deadline = started + 90
        # The catalog: the first card's button is filled (accent, or the grey of "敬请期待").
        while time.monotonic() < deadline and proc.poll() is None:
            data = capture(env, raw)
            if pixel(data, 293, 330) in ((91, 77, 255), (242, 243, 245)):
                break
            time.sleep(0.3)
        else:
            print("demo: the catalog did not appear (program log: %s.log)" % out)
            return 1
        print("demo: catalog painted %.1f s after start" % (time.monotonic() - started))
        # The icons: all requested, then the picture stops changing.
        while time.monotonic() < deadline and not wanted_icons <= icon_requests(origin):
            time.sleep(0.3)
        previous = None
        while time.monotonic() < deadline:
            time.sleep(0.5)
            data = window_part(capture(env, raw))
            if data == previous:
                break
            previous = data
        x, y, w, h = WINDOW
        crop = "%dx%d+%d+%d" % (w + 2 * SHADOW, h + 2 * SHADOW, x - SHADOW, y - SHADOW)
        subprocess.run(["import", "-window", "root", "-crop", crop, "+repage", out], env=env, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        saved = True
        return 0
    finally:
        subprocess.run([WINE_RUN, "--prefix", prefix, "--stop"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        if proc.poll() is None:
            proc.kill()
        proc.wait(10)
        xvfb.terminate()
        xvfb.wait(10)
        log.close()
        for leftover in (raw,):
            if os.path.exists(leftover):
                os.remove(leftover)
        if saved:
            print("demo: screenshot saved to %s" % out)


if __name__ == "__main__":
    sys.exit(main())
