"""Drives the real program: a private Xvfb (with openbox on it when asked), a Wine prefix,
the program, xdotool for input, ImageMagick's import for pixels, and the window-facts helper
for what another process sees.

Every wait polls with a deadline; Session.close() ends the program, the prefix's wineserver,
the window manager and the Xvfb on every path.
"""
import glob
import json
import os
import re
import select
import shlex
import shutil
import subprocess
import time
import urllib.request

SCREEN_W, SCREEN_H = 1280, 1024  # the screen of every group but the scaled one

# Colours of the program, 0xAARRGGBB as it fills them.
ACCENT = 0xFF5B4DFF
ACCENT_HOT = 0xFF4B3FDB
NEUTRAL = 0xFFF2F3F5
SUCCESS = 0xFF00B42A
SUCCESS_WASH = 0x2600B42A
DANGER_WASH = 0x46F53F3F
TRACK = 0xFFF0F1F4
SURFACE = 0xFFFFFFFF
SIDEBAR = 0xFFFAFBFD
SELECTED_ROW = 0xFFEEEDFF
HOVER_ROW = 0xFFF2F3F5
CLOSE_HOT = 0xFFE83F4F
HEADER_LEFT = 0xFF4F46E5
HEADER_RIGHT = 0xFF7C3AED
SCROLL_THUMB = 0x6EA0A3AF
TOAST_SUCCESS = 0xE800B42A
TOAST_ERROR = 0xE8F53F3F
TOAST_NEUTRAL = 0xE81D2129
BACKGROUND = (245, 246, 248)

# The window manager's whole configuration: one desktop, no margins, no key bindings (keys
# reach the program), a press focuses and raises. Nothing else is read from the host's
# configuration folders.
OPENBOX_RC = """<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <resistance><strength>0</strength><screen_edge_strength>0</screen_edge_strength></resistance>
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <placement><policy>Smart</policy></placement>
  <desktops><number>1</number><firstdesk>1</firstdesk></desktops>
  <margins><top>0</top><bottom>0</bottom><left>0</left><right>0</right></margins>
  <keyboard></keyboard>
  <mouse>
    <context name="Client">
      <mousebind button="Left" action="Press"><action name="Focus"/><action name="Raise"/></mousebind>
    </context>
  </mouse>
  <menu></menu>
</openbox_config>
"""

HTCLIENT, HTCAPTION, HTLEFT, HTRIGHT = 1, 2, 10, 11
HTBOTTOM, HTBOTTOMLEFT, HTBOTTOMRIGHT = 15, 16, 17


def rgb(argb, under=(255, 255, 255)):
    """The colour a fill leaves on screen over `under`."""
    a = (argb >> 24) & 0xFF
    src = ((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF)
    return tuple(round((s * a + u * (255 - a)) / 255) for s, u in zip(src, under))


def close_to(a, b, tolerance):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def start_xvfb(width, height, timeout=15.0):
    """Starts Xvfb on a free display; returns (process, ":n") once it accepts connections."""
    read_end, write_end = os.pipe()
    try:
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % (width, height), "-nolisten", "tcp",
             "-br"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            pass_fds=(write_end,), start_new_session=True)
        os.close(write_end)
        write_end = -1
        text = b""
        deadline = time.monotonic() + timeout
        while not text.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 0.2)
            if ready:
                piece = os.read(read_end, 16)
                if not piece:
                    break
                text += piece
        if not text.strip().isdigit():
            xvfb.kill()
            xvfb.wait(5)
            raise RuntimeError("no Xvfb display could be started")
        return xvfb, ":" + text.strip().decode()
    finally:
        os.close(read_end)
        if write_end >= 0:
            os.close(write_end)


def start_openbox(display, home, timeout=15.0):
    """openbox on display, with a configuration and home of its own; ready once it has run its
    start-up command, which it does after taking over the screen."""
    os.makedirs(home, exist_ok=True)
    rc = os.path.join(home, "rc.xml")
    with open(rc, "w", encoding="utf-8") as f:
        f.write(OPENBOX_RC)
    os.makedirs(os.path.join(home, "config", "openbox"), exist_ok=True)
    with open(os.path.join(home, "config", "openbox", "menu.xml"), "w", encoding="utf-8") as f:
        f.write('<openbox_menu xmlns="http://openbox.org/3.4/menu"></openbox_menu>\n')
    ready = os.path.join(home, "ready")
    if os.path.exists(ready):
        os.remove(ready)
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "DISPLAY": display, "HOME": home,
           "XDG_CONFIG_HOME": os.path.join(home, "config"), "XDG_CONFIG_DIRS": os.path.join(home, "config"),
           "XDG_CACHE_HOME": os.path.join(home, "cache"), "XDG_DATA_HOME": os.path.join(home, "data"),
           "LANG": "C.UTF-8"}
    with open(os.path.join(home, "openbox-output.txt"), "wb") as out:
        openbox = subprocess.Popen(
            ["openbox", "--sm-disable", "--config-file", rc, "--startup", "touch " + shlex.quote(ready)],
            env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=out, start_new_session=True)
    deadline = time.monotonic() + timeout
    while not os.path.exists(ready):
        if openbox.poll() is not None or time.monotonic() > deadline:
            openbox.kill()
            openbox.wait(5)
            raise RuntimeError("openbox did not start on %s (see %s)" % (display, home))
        time.sleep(0.1)
    return openbox


class Screen:
    """One capture of the whole screen."""

    def __init__(self, data, width=SCREEN_W, height=SCREEN_H):
        self.data = data
        self.width = width
        self.height = height

    def pixel(self, x, y):
        if not (0 <= x < self.width and 0 <= y < self.height):
            return None
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])


class Session:
    """dpi other than 96 runs in a prefix of its own ("wineprefix-<dpi>"), whose logical pixels
    are set before the program starts: the shared prefix is never left at another scale,
    whatever happens to a run."""

    def __init__(self, name, build, source, log, window_manager=False, screen=(SCREEN_W, SCREEN_H), dpi=96):
        self.name = name
        self.build = build
        self.source = source
        self.work = os.path.join(build, "e2e", name)
        self.dpi = dpi
        self.prefix = os.path.join(build, "e2e", "wineprefix" if dpi == 96 else "wineprefix-%d" % dpi)
        self.log = log
        self.window_manager = window_manager
        self.screen_w, self.screen_h = screen
        self.xvfb = None
        self.openbox = None
        self.display = None
        self.program = None
        self.program_out = None
        self.exe = os.path.join(build, "星舟软件管家.exe")
        self.facts_exe = os.path.join(build, "tests", "e2e", "kv_window_facts.exe")
        self.wine_run = os.path.join(source, "tools", "wine-run.sh")
        self.capture_count = 0
        self.facts_server = None
        self.facts_id = 0
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(os.path.join(self.work, "failures"))

    # --- display and prefix ---------------------------------------------------------

    def start_display(self):
        """A private Xvfb on a display number it picks itself (-displayfd): the X server claims
        the number atomically, so runs started side by side never share or race for one."""
        self.xvfb, self.display = start_xvfb(self.screen_w, self.screen_h)
        if self.window_manager:
            self.start_window_manager()

    def start_window_manager(self):
        self.openbox = start_openbox(self.display, os.path.join(self.work, "openbox"))

    def stop_window_manager(self):
        if self.openbox is not None:
            self.openbox.terminate()
            try:
                self.openbox.wait(5)
            except subprocess.TimeoutExpired:
                self.openbox.kill()
                self.openbox.wait(5)
            self.openbox = None

    def stop_display(self):
        self.stop_window_manager()
        if self.xvfb is not None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait(5)
            self.xvfb = None

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        env.pop("KV_WINEPREFIX", None)
        return env

    def wine(self, args, timeout=60, stdout=None):
        """Runs a Windows program in the prefix and waits for it (never through a pipe)."""
        sink = stdout or subprocess.DEVNULL
        return subprocess.run([self.wine_run, "--prefix", self.prefix] + args, env=self.env(),
                              stdin=subprocess.DEVNULL, stdout=sink, stderr=sink, timeout=timeout).returncode

    def stop_wine(self):
        subprocess.run([self.wine_run, "--prefix", self.prefix, "--stop"], env=self.env(),
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def prepare_prefix(self):
        os.makedirs(self.prefix, exist_ok=True)
        # Undecorated X windows: with a window manager the borderless window keeps its own
        # frame and rectangle, as on Windows; without one the value changes nothing.
        self.wine(["reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Decorated", "/t", "REG_SZ", "/d", "N",
                   "/f"], timeout=180)
        if self.dpi != 96:
            self.set_logical_pixels()
        users = [d for d in glob.glob(os.path.join(self.prefix, "drive_c", "users", "*", "AppData", "Roaming"))
                 if "/Public/" not in d]
        if not users:
            raise RuntimeError("the Wine prefix has no roaming folder")
        self.roaming = users[0]
        self.config_path = os.path.join(self.roaming, "KelvoManager", "config.json")
        self.cache_folder = os.path.join(os.path.dirname(self.roaming), "Local", "KelvoManager", "Cache")
        self.crash_log = os.path.join(self.temp_folder(), "kv_crash.log")

    def set_logical_pixels(self):
        """The display scale every program of the prefix starts with. Programs read it when
        the prefix's wineserver starts, so that is restarted after the change."""
        self.wine(["reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d",
                   str(self.dpi), "/f"], timeout=60)
        self.stop_wine()

    def temp_folder(self):
        """The prefix's temporary folder (the user's TEMP), as a host path."""
        with open(os.path.join(self.prefix, "user.reg"), encoding="utf-8", errors="replace") as f:
            text = f.read()
        at = text.find("[Environment]")
        found = re.search(r'^"TEMP"="([A-Za-z]):((?:[^"\\]|\\\\)*)"$', text[at:], re.M) if at >= 0 else None
        if not found:
            raise RuntimeError("the Wine prefix names no plain TEMP folder")
        drive, rest = found.group(1).lower(), found.group(2).replace("\\\\", "\\")
        return os.path.join(self.prefix, "drive_" + drive, *[p for p in rest.split("\\") if p])

    def drive_c(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def write_config(self, server, channel, download_dir):
        os.makedirs(os.path.dirname(self.config_path), exist_ok=True)
        with open(self.config_path, "w", encoding="utf-8") as f:
            json.dump({"server": server, "channel": channel, "downloadDir": download_dir}, f, ensure_ascii=False)

    def read_config(self):
        with open(self.config_path, encoding="utf-8") as f:
            return json.load(f)

    # --- the program ----------------------------------------------------------------

    def clear_caches(self):
        """Removes the program's disk caches (last catalog, icons), so that a start is a first one."""
        shutil.rmtree(self.cache_folder, ignore_errors=True)

    def start_program(self, keep_caches=False):
        """Every start is a first start unless keep_caches: the caches of an earlier run of the
        same group would show its catalog and icons at once."""
        if not keep_caches:
            self.clear_caches()
        if self.program_out:
            self.program_out.close()
        self.program_out = open(os.path.join(self.work, "program-output.txt"), "ab")
        self.program_started = time.monotonic()
        self.program = subprocess.Popen([self.wine_run, "--prefix", self.prefix, self.exe], env=self.env(),
                                        stdin=subprocess.DEVNULL, stdout=self.program_out,
                                        stderr=self.program_out, start_new_session=True)

    def wait_program_exit(self, timeout):
        try:
            return self.program.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def close(self):
        try:
            self.stop_facts_server()
        except Exception as e:  # keep going: wine and the display must still stop
            self.log("stopping the window-facts helper failed: %s" % e)
        try:
            if self.display:
                self.stop_wine()
        except Exception as e:  # keep going: the display must still stop
            self.log("stopping wine failed: %s" % e)
        if self.program is not None:
            if self.program.poll() is None:
                self.program.kill()
            try:
                self.program.wait(10)
            except subprocess.TimeoutExpired:
                pass
            self.program = None
        if self.program_out:
            self.program_out.close()
            self.program_out = None
        self.stop_display()

    # --- reading the screen and the windows -----------------------------------------

    def capture(self):
        raw = os.path.join(self.work, "screen.rgb")
        subprocess.run(["import", "-display", self.display, "-window", "root", "-depth", "8", "rgb:" + raw],
                       env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30, check=True)
        with open(raw, "rb") as f:
            data = f.read()
        if len(data) != self.screen_w * self.screen_h * 3:
            raise RuntimeError("import returned %d bytes" % len(data))
        self.capture_count += 1
        return Screen(data, self.screen_w, self.screen_h)

    def save_screenshot(self, label, folder="failures"):
        if not self.display:
            return "(no display)"
        safe = "".join(c if c.isalnum() or c in "-_" else "_" for c in label)[:80]
        os.makedirs(os.path.join(self.work, folder), exist_ok=True)
        path = os.path.join(self.work, folder, "%s.png" % safe)
        subprocess.run(["import", "-display", self.display, "-window", "root", path], env=self.env(),
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        return path

    def start_facts_server(self):
        self.facts_folder = os.path.join(self.work, "facts-served")
        shutil.rmtree(self.facts_folder, ignore_errors=True)
        os.makedirs(self.facts_folder)
        self.facts_server = subprocess.Popen(
            [self.wine_run, "--prefix", self.prefix, self.facts_exe, windows_path(self.facts_folder), "serve"],
            env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)

    def stop_facts_server(self):
        if self.facts_server is None:
            return
        if self.facts_server.poll() is None:
            open(os.path.join(self.facts_folder, "quit"), "w").close()
            try:
                self.facts_server.wait(3)
            except subprocess.TimeoutExpired:
                self.facts_server.kill()
                self.facts_server.wait(5)
        self.facts_server = None

    def served_call(self, args, timeout):
        """The window-facts helper's answer through its served instance, which answers in
        milliseconds where a start under Wine costs about a second; None when it did not answer
        (it is then stopped, to be started again on the next call)."""
        if self.facts_server is None or self.facts_server.poll() is not None:
            self.start_facts_server()
        self.facts_id += 1
        answer = os.path.join(self.facts_folder, "answer-%d.json" % self.facts_id)
        part = os.path.join(self.facts_folder, "request.part")
        with open(part, "w", encoding="utf-8") as f:
            f.write("\t".join([str(self.facts_id)] + [str(a) for a in args]))
        os.replace(part, os.path.join(self.facts_folder, "request"))
        deadline = time.monotonic() + timeout
        while not os.path.exists(answer):
            if self.facts_server.poll() is not None or time.monotonic() > deadline:
                self.stop_facts_server()
                return None
            time.sleep(0.005)
        with open(answer, encoding="utf-8") as f:
            data = json.load(f)
        os.remove(answer)
        return data

    def facts_call(self, args, timeout=30):
        served = self.served_call(args, timeout)
        if served is not None:
            return served
        out = os.path.join(self.work, "facts.json")
        # A helper started while the previous group's wineserver is still going away can end
        # without running; it only reads, so it is simply started again (three times at most).
        for attempt in range(3):
            if os.path.exists(out):
                os.remove(out)
            self.wine([self.facts_exe, windows_path(out)] + [str(a) for a in args], timeout=timeout)
            if os.path.exists(out):
                break
            time.sleep(1)
        if not os.path.exists(out):
            raise RuntimeError("the window-facts helper wrote nothing for %s" % args)
        with open(out, encoding="utf-8") as f:
            return json.load(f)

    def facts(self):
        return self.facts_call(["facts"])

    def areas(self):
        """What a screen reader reads of the main window, or None while it has none."""
        answer = self.facts_call(["areas"])
        return Areas(answer) if answer.get("found") else None

    def hit(self, points):
        flat = []
        for x, y in points:
            flat += [x, y]
        return self.facts_call(["hit"] + flat)

    # --- input ----------------------------------------------------------------------

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)

    def move(self, x, y):
        self.xdotool("mousemove", x, y)

    def click(self, x, y):
        self.xdotool("mousemove", x, y, "sleep", "0.1", "click", "1")

    def drag(self, x0, y0, x1, y1):
        self.xdotool("mousemove", x0, y0, "sleep", "0.1", "mousedown", "1", "sleep", "0.1",
                     "mousemove", x0, (y0 + y1) // 2, "sleep", "0.1", "mousemove", x1, y1, "sleep", "0.1",
                     "mouseup", "1")

    def wheel(self, x, y, notches):
        button = 5 if notches > 0 else 4
        self.xdotool("mousemove", x, y, "sleep", "0.1", "click", "--repeat", abs(notches), "--delay", "80", button)

    def key(self, *names):
        self.xdotool("key", "--delay", "80", *names)

    def type_text(self, text):
        self.xdotool("type", "--delay", "40", text)


ROLE_ALERT, ROLE_PAGETAB, ROLE_PUSHBUTTON = 0x08, 0x25, 0x2B


class Areas:
    """The accessible children of the program's client area: names and client rectangles as
    the program itself reports them, so that the cases press and read its buttons where it
    says they are instead of repeating its layout."""

    def __init__(self, answer):
        self.origin = tuple(answer["origin"])
        self.items = answer["areas"]

    def find(self, test):
        return [a for a in self.items if test(a)]

    def first(self, test):
        found = self.find(test)
        return found[0]["rect"] if found else None

    def named(self, name):
        return self.first(lambda a: a["name"] == name)

    def starting(self, text):
        return self.first(lambda a: a["name"].startswith(text))

    def row(self, category):
        return self.first(lambda a: a["role"] == ROLE_PAGETAB and a["name"] == category)

    def cards(self):
        """Card buttons in the order the program lists them: "<label> <name> v<version>"."""
        return [a for a in self.items if a["role"] == ROLE_PUSHBUTTON and re.search(r" v[0-9][0-9.]*$", a["name"])]

    def card_area(self, app):
        found = [a for a in self.cards() if re.search(" %s v[0-9][0-9.]*$" % re.escape(app), a["name"])]
        return found[0] if found else None

    def card(self, app):
        found = self.card_area(app)
        return found["rect"] if found else None

    def toast(self):
        return self.first(lambda a: a["role"] == ROLE_ALERT)


def centre(rect):
    return (rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2


def row_probe(rect):
    """A point of a sidebar row's fill, above its text."""
    return (rect[0] + rect[2]) // 2, rect[1] + max(3, (rect[3] - rect[1]) // 12)


def row_bar(rect):
    """A point of the accent bar at the left end of the selected row."""
    return rect[0] + 1, (rect[1] + rect[3]) // 2


def inside_left(rect):
    """A point just inside the left end of a button, clear of its label and rounded corners."""
    return rect[0] + max(3, (rect[2] - rect[0]) // 14), (rect[1] + rect[3]) // 2


class Server:
    """The loopback test server of the CTest fixture, under a prefix of this run's own."""

    def __init__(self, name):
        folder = os.environ.get("KV_TESTSERVER_DIR", "")
        ports = {}
        with open(os.path.join(folder, "ports.txt")) as f:
            for line in f:
                k, _, v = line.strip().partition("=")
                ports[k] = v
        self.origin = "http://127.0.0.1:%s" % ports["http"]
        self.prefix = "/t/e2e-%s-%d-%d" % (name, os.getpid(), int(time.time()))
        self.base = self.origin + self.prefix

    def _call(self, method, path, body=None):
        data = json.dumps(body).encode("utf-8") if body is not None else None
        req = urllib.request.Request(self.origin + path, data=data, method=method)
        with urllib.request.urlopen(req, timeout=10) as answer:
            return answer.read()

    def script(self, path, steps):
        self._call("POST", "/_control/script", {"path": self.prefix + path, "steps": steps})

    def requests(self, path=""):
        return json.loads(self._call("GET", "/_control/requests?prefix=" + urllib.request.quote(self.prefix + path)))

    def reset(self):
        self._call("POST", "/_control/reset?prefix=" + urllib.request.quote(self.prefix))
