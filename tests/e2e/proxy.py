#!/usr/bin/env python3
"""End-to-end group "proxy": the real program behind a real proxy set in the user's Windows
settings.

  proxy.py --build BUILD_DIR --source SOURCE_DIR

A tinyproxy of this run's own on 127.0.0.1 (its configuration and log in
BUILD_DIR/e2e/proxy/) and the settings written into the e2e prefix's registry as Windows
keeps them. With a fixed proxy the program shows the catalog with its icons, downloads and
installs the first application and sends its report; then, started again behind a
configuration script, it shows the catalog again. The proxy's log shows every request, and
every request the server saw came through the proxy (its Via header). The prefix's direct
setting is put back on every path.
"""
import argparse
import os
import socket
import struct
import subprocess
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness as h  # noqa: E402
from catalog import Catalog, uninstall_key  # noqa: E402

GROUP = "proxy"
W = 1180
ORIGIN = (50, 122)  # where the window sits on this screen
CONNECTIONS = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections"
DIRECT, FIXED, SCRIPT = 1, 2, 4


def card_button(i):
    """Left end and centre of card i's button (client), in the 1180-wide window."""
    width = W - 12 - 212
    cols = 3 if width < 908 else (width - 28) // 220
    card_w = (width - 28 - (cols - 1) * 14) // cols
    left = 212 + (i % cols) * (card_w + 14) + 14
    top = 126 + (i // cols) * 248
    bl = left + (card_w - 100) // 2
    return (bl + 7, top + 204), (bl + 50, top + 204)


def connection_settings(flags, proxy="", bypass="", script=""):
    """The binary "DefaultConnectionSettings" value: version, counter, flags, then the proxy
    list, the bypass list and the script address, each as a length and ANSI text."""
    blob = struct.pack("<III", 0x46, int(time.time()) & 0x7FFFFFFF, flags)
    for text in (proxy, bypass, script):
        data = text.encode("ascii")
        blob += struct.pack("<I", len(data)) + data
    return blob + bytes(32)


class Tinyproxy:
    """tinyproxy on a free 127.0.0.1 port, logging every request line; ends with stop() or,
    at the latest, after ten minutes."""

    def __init__(self, folder):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.log_path = os.path.join(folder, "tinyproxy.log")
        conf = os.path.join(folder, "tinyproxy.conf")
        with open(conf, "w") as f:
            f.write("Port %d\nListen 127.0.0.1\nTimeout 60\nLogFile \"%s\"\nLogLevel Connect\nMaxClients 100\n"
                    % (self.port, self.log_path))
        open(self.log_path, "w").close()
        self.out = open(os.path.join(folder, "tinyproxy-output.txt"), "wb")
        self.process = subprocess.Popen(["timeout", "600", "tinyproxy", "-d", "-c", conf], stdin=subprocess.DEVNULL,
                                        stdout=self.out, stderr=self.out, start_new_session=True)
        deadline = time.monotonic() + 10
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.5).close()
                return
            except OSError:
                if self.process.poll() is not None or time.monotonic() > deadline:
                    self.stop()
                    raise RuntimeError("tinyproxy did not start")
                time.sleep(0.1)

    def lines(self):
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            return [line.split("): ", 1)[1].strip() for line in f if "Request (file descriptor" in line]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(10)
        self.out.close()


class ProxyRun:
    def __init__(self, build, source):
        self.lines = []
        self.failures = []
        self.checks = 0
        self.session = h.Session(GROUP, build, source, self.log)
        self.started = time.monotonic()

    def log(self, text):
        line = "[%s] %s" % (GROUP, text)
        print(line, flush=True)
        self.lines.append(line)

    def check(self, label, ok, detail=""):
        self.checks += 1
        if not ok:
            shot = self.session.save_screenshot("%02d-%s" % (len(self.failures) + 1, label))
            self.failures.append(label)
            self.log("FAIL %s: %s (screenshot %s)" % (label, detail, shot))
        return ok

    def wait_for(self, label, probe, timeout):
        deadline = time.monotonic() + timeout
        value = None
        while True:
            try:
                value = probe()
            except Exception as e:  # a helper that could not answer yet
                value = e
            if value and not isinstance(value, Exception):
                return self.check(label, True)
            if time.monotonic() > deadline:
                return self.check(label, False, "not reached within %.0f s (last: %r)" % (timeout, value))
            time.sleep(0.3)

    def pixel_is(self, point, colour):
        seen = self.session.capture().pixel(ORIGIN[0] + point[0], ORIGIN[1] + point[1])
        return seen is not None and h.close_to(seen, h.rgb(colour), 8)

    def set_settings(self, blob):
        code = self.session.wine(["reg", "add", CONNECTIONS, "/v", "DefaultConnectionSettings", "/t", "REG_BINARY",
                                  "/d", blob.hex(), "/f"], timeout=60)
        if code != 0:
            raise RuntimeError("reg add gave %d" % code)

    def proxied(self, path):
        """The proxy's request lines that name this path of the run's server."""
        return [line for line in self.proxy.lines() if (self.base + path) in line]

    def run(self):
        s = self.session
        s.start_display()
        s.prepare_prefix()
        self.server = h.Server(GROUP)
        catalog = Catalog(s, self.server)
        catalog.build()
        catalog.serve()
        self.proxy = Tinyproxy(s.work)
        # The server under the name localhost: Wine sends a request for a host of the proxy's
        # own name (127.0.0.1) as if there were no proxy.
        self.base = self.server.base.replace("127.0.0.1", "localhost")
        s.facts_call(["forget", "KVE2EProxy"])
        os.makedirs(s.drive_c("kv-e2e"), exist_ok=True)
        s.write_config(self.base, "e2e", "C:\\kv-e2e\\" + GROUP)
        proxy = "127.0.0.1:%d" % self.proxy.port
        try:
            self.set_settings(connection_settings(DIRECT | FIXED, proxy, "*.example.com;10.*"))
            self.fixed_proxy_carries_catalog_icons_download_install_and_report()
            s.stop_wine()
            script = "function FindProxyForURL(url, host) { return 'PROXY %s'; }" % proxy
            self.server.script("/proxy.pac", [{"body": script, "content_type": "application/x-ns-proxy-autoconfig"}])
            self.set_settings(connection_settings(DIRECT | SCRIPT, script=self.server.base + "/proxy.pac"))
            self.script_carries_the_catalog()
            requests = [q for q in self.server.requests() if not q["path"].endswith("/proxy.pac")]
            direct = [q["path"] for q in requests if not any(k.lower() == "via" for k, _ in q["headers"])]
            self.check("nothing reached the server directly", requests and not direct, "direct: %s" % direct)
        finally:
            self.set_settings(connection_settings(DIRECT))

    def fixed_proxy_carries_catalog_icons_download_install_and_report(self):
        s = self.session
        s.start_program()
        left, centre = card_button(0)
        if not self.wait_for("catalog shown through the fixed proxy", lambda: self.pixel_is(left, h.ACCENT), 40):
            return
        self.log("catalog painted %.1f s after the program started (fixed proxy)"
                 % (time.monotonic() - s.program_started))
        self.check("bootstrap through the proxy", self.proxied("/api/client/bootstrap"), self.proxy.lines()[-5:])
        self.wait_for("icons through the proxy", lambda: self.proxied("/icons/"), 20)
        s.click(ORIGIN[0] + centre[0], ORIGIN[1] + centre[1])
        s.move(ORIGIN[0] + 206, ORIGIN[1] + 700)
        self.wait_for("installed after download through the proxy",
                      lambda: self.pixel_is(left, h.SUCCESS_WASH) or None, 60)
        entries = s.facts_call(["uninstall", "KVE2EProxy"])
        self.check("uninstall entry", entries.get(uninstall_key(GROUP, 1)) == "星舟测试一号", entries)
        self.check("download address through the proxy", self.proxied("/api/client/download/1"))
        self.check("installer file through the proxy", self.proxied("/e2e-files/1/"))
        self.wait_for("report through the proxy",
                      lambda: [line for line in self.proxied("/api/client/report") if line.startswith("POST ")], 15)

    def script_carries_the_catalog(self):
        before = len(self.proxied("/api/client/bootstrap"))
        icons = len(self.proxied("/icons/"))
        requests_before = len(self.proxy.lines())
        self.session.start_program()
        left, _ = card_button(0)
        if self.wait_for("catalog shown through the script's proxy", lambda: self.pixel_is(left, h.ACCENT), 40):
            self.log("catalog painted %.1f s after the program started (configuration script)"
                     % (time.monotonic() - self.session.program_started))
        self.check("bootstrap through the script's proxy", len(self.proxied("/api/client/bootstrap")) > before)
        self.wait_for("icons through the script's proxy", lambda: len(self.proxied("/icons/")) > icons, 20)
        fetched = len(self.server.requests("/proxy.pac"))
        self.check("script fetched", fetched > 0)
        self.log("script fetched %d times for %d requests through its proxy"
                 % (fetched, len(self.proxy.lines()) - requests_before))

    def finish(self):
        self.session.close()
        self.proxy_stop()
        self.log("%d checks, %d failed%s, %.0f s" % (self.checks, len(self.failures),
                                                      (": " + ", ".join(self.failures)) if self.failures else "",
                                                      time.monotonic() - self.started))
        with open(os.path.join(self.session.work, "log.txt"), "w", encoding="utf-8") as f:
            f.write("\n".join(self.lines) + "\n")
        return 1 if self.failures else 0

    def proxy_stop(self):
        if getattr(self, "proxy", None):
            self.proxy.stop()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--source", required=True)
    args = ap.parse_args()
    r = ProxyRun(os.path.abspath(args.build), os.path.abspath(args.source))
    try:
        r.run()
    except Exception:
        r.check("setup", False, traceback.format_exc())
    return r.finish()


if __name__ == "__main__":
    sys.exit(main())
