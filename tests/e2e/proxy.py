"""Group "proxy": the real program behind a real proxy set in the user's Windows settings.

A tinyproxy of this run's own on 127.0.0.1 (its configuration and log in
BUILD_DIR/e2e/proxy/) and the settings written into the e2e prefix's registry as Windows
keeps them. With a fixed proxy the program shows the catalog with its icons, downloads and
installs the first application and sends its report; then, started again behind a
configuration script, it shows the catalog again. The proxy's log shows every request, and
every request the server saw came through the proxy (its Via header). The prefix's direct
setting is put back on every path.
"""
import os
import socket
import struct
import subprocess
import time

import harness as h
from catalog import uninstall_key

GROUP = "proxy"
CONNECTIONS = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections"
DIRECT, FIXED, SCRIPT = 1, 2, 4


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


def set_settings(r, blob):
    code = r.session.wine(["reg", "add", CONNECTIONS, "/v", "DefaultConnectionSettings", "/t", "REG_BINARY",
                           "/d", blob.hex(), "/f"], timeout=60)
    if code != 0:
        raise RuntimeError("reg add gave %d" % code)


def proxied(r, path):
    """The proxy's request lines that name this path of the run's server."""
    return [line for line in r.proxy.lines() if (r.proxy_base + path) in line]


def fixed_proxy_carries_catalog_icons_download_install_and_report(r):
    s = r.session
    r.proxy = Tinyproxy(s.work)
    # The server under the name localhost: Wine sends a request for a host of the proxy's
    # own name (127.0.0.1) as if there were no proxy.
    r.proxy_base = r.server.base.replace("127.0.0.1", "localhost")
    s.write_config(r.proxy_base, "e2e", "C:\\kv-e2e\\" + GROUP)
    set_settings(r, connection_settings(DIRECT | FIXED, "127.0.0.1:%d" % r.proxy.port, "*.example.com;10.*"))
    s.start_program()
    if not r.wait_catalog():
        return
    r.check("bootstrap through the proxy", proxied(r, "/api/client/bootstrap"), r.proxy.lines()[-5:])
    r.wait_for("icons through the proxy", lambda: proxied(r, "/icons/"), timeout=20)
    left, centre = r.card_points(0)
    r.click_client(*centre)
    r.wait_pixel("installed after download through the proxy", left[0], left[1], h.SUCCESS_WASH, timeout=60)
    r.wait_entry(uninstall_key(GROUP, 1), "星舟测试一号")
    r.check("download address through the proxy", proxied(r, "/api/client/download/1"))
    r.check("installer file through the proxy", proxied(r, "/e2e-files/1/"))
    r.wait_for("report through the proxy",
               lambda: [line for line in proxied(r, "/api/client/report") if line.startswith("POST ")], timeout=15)


def script_carries_the_catalog(r):
    s = r.session
    s.stop_wine()
    s.wait_program_exit(20)
    script = "function FindProxyForURL(url, host) { return 'PROXY 127.0.0.1:%d'; }" % r.proxy.port
    r.server.script("/proxy.pac", [{"body": script, "content_type": "application/x-ns-proxy-autoconfig"}])
    set_settings(r, connection_settings(DIRECT | SCRIPT, script=r.server.base + "/proxy.pac"))
    before = len(proxied(r, "/api/client/bootstrap"))
    icons = len(proxied(r, "/icons/"))
    requests_before = len(r.proxy.lines())
    s.start_program()
    r.wait_catalog()
    r.check("bootstrap through the script's proxy", len(proxied(r, "/api/client/bootstrap")) > before)
    r.wait_for("icons through the script's proxy", lambda: len(proxied(r, "/icons/")) > icons, timeout=20)
    fetched = len(r.server.requests("/proxy.pac"))
    r.check("script fetched", fetched > 0)
    r.log("script fetched %d times for %d requests through its proxy" % (fetched, len(r.proxy.lines()) - requests_before))
    requests = [q for q in r.server.requests() if not q["path"].endswith("/proxy.pac")]
    direct = [q["path"] for q in requests if not any(k.lower() == "via" for k, _ in q["headers"])]
    r.check("nothing reached the server directly", requests and not direct, "direct: %s" % direct)


def put_back(r):
    """The prefix's direct setting back and the proxy stopped, on every path."""
    try:
        set_settings(r, connection_settings(DIRECT))
    finally:
        if getattr(r, "proxy", None):
            r.proxy.stop()


CASES = [fixed_proxy_carries_catalog_icons_download_install_and_report, script_carries_the_catalog]
