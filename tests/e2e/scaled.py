"""Group "scaled": the real program at 150 % (LogPixels 144) on a 1920 x 1200 screen.

Every place below is its 96-DPI figure through the program's own rules, MulDiv(n, 144, 96)
for each length: the window rectangle, the sidebar rows, the card grid and its buttons, the
header buttons, the settings dialog and its controls, the shadow, the focus ring and the
accessible locations.
"""
import os
import time

import harness as h
from catalog import CATEGORY_NAMES, FIRST, uninstall_key

SCREEN = (1920, 1200)
DPI = 144


def mul_div(n, numerator, denominator):
    """Windows' MulDiv for the non-negative figures here: rounded, halves away from zero."""
    return (2 * n * numerator + denominator) // (2 * denominator)


def px(n):
    return mul_div(n, DPI, 96)


def window_rect(screen_w, screen_h):
    """The window rule: centred 1180 x 780 where the screen allows, else 30 from each edge."""
    if screen_w > px(1199):
        x, w = (screen_w >> 1) - px(590), px(1180)
    else:
        x, w = px(30), screen_w - px(60)
    if screen_h > px(819):
        y, hh = (screen_h >> 1) - px(390), px(780)
    else:
        y, hh = px(30), screen_h - px(60)
    return x, y, w, hh


X, Y, W, H = window_rect(*SCREEN)


def sidebar_top(i, scroll=0):
    return px(78) + px(54) * i - scroll


def sidebar_row(i):
    """Row i's rectangle (client): left, top, right, bottom."""
    top = sidebar_top(i)
    return px(12), top, px(188), top + px(46)


def grid():
    """Columns and card width of the grid area (212, 78)-(W - 12, H); columns are decided in
    96-DPI pixels."""
    width = W - px(12) - px(212)
    width96 = mul_div(width, 96, DPI)
    cols = 3 if width96 < 908 else (width96 - 28) // 220
    card_w = (width - 2 * px(14) - (cols - 1) * px(14)) // cols
    return cols, card_w


def card_button_rect(i, scroll=0):
    cols, card_w = grid()
    left = px(212) + (i % cols) * (card_w + px(14)) + px(14)
    top = px(78) + px(48) + (i // cols) * px(248) - scroll
    bl = left + (card_w - px(100)) // 2
    return bl, top + px(188), bl + px(100), top + px(220)


def card_button(i, scroll=0):
    """A point just inside card i's button's left end, and its centre (client)."""
    l, t, r, b = card_button_rect(i, scroll)
    mid = (t + b) // 2
    return (l + px(7), mid), ((l + r) // 2, mid)


def settings_rect():
    """The dialog centred on the window, 478 x 272 scaled (screen)."""
    w, hh = px(478), px(272)
    return [X + (W - w) // 2, Y + (H - hh) // 2, X + (W - w) // 2 + w, Y + (H - hh) // 2 + hh]


def control_rect(x, y, w, hh):
    return [px(x), px(y), px(x + w), px(y + hh)]


# class, text, id, place at 96 DPI (dialog client), font height and weight at 96 DPI
DIALOG_CHILDREN = [
    ("Static", "下载设置", None, (30, 20, 200, 22), 15, 700),
    ("Static", "安装包保存目录", None, (30, 52, 300, 20), 14, 400),
    ("Edit", None, 103, (30, 76, 330, 30), 14, 400),
    ("Button", "浏览...", 3, (368, 76, 80, 30), 14, 400),
    ("Static", "修改后对新的下载任务生效", None, (30, 116, 300, 20), 14, 400),
    ("Button", "取消", 1, (248, 156, 84, 34), 14, 400),
    ("Button", "保存", 2, (342, 156, 84, 34), 14, 400),
    ("Static", None, None, (30, 204, 380, 18), 12, 400),
]


def ink_box(screen, left, top, right, bottom):
    """Width and height of the text's ink in a screen rectangle: the pixels at least half as far
    from the rectangle's corner colour as the farthest one."""
    bg = screen.pixel(left, top)
    contrast = {}
    for y in range(top, bottom):
        for x in range(left, right):
            p = screen.pixel(x, y)
            contrast[(x, y)] = max(abs(a - b) for a, b in zip(p, bg))
    full = max(contrast.values()) if contrast else 0
    if full < 40:
        return 0, 0
    inked = [xy for xy, c in contrast.items() if 2 * c >= full]
    xs = [x for x, _ in inked]
    ys = [y for _, y in inked]
    return max(xs) - min(xs) + 1, max(ys) - min(ys) + 1


ROLE_PAGETAB, ROLE_PUSHBUTTON = 0x25, 0x2B


def prepare(r):
    """The run's screen point of the client origin and the pixel that tells the catalog is shown."""
    r.origin = (X, Y)
    r.catalog_probe = card_button(0)[0]


def main_window_rect():
    return [X, Y, X + W, Y + H]


def shadow_rect():
    m = px(18)
    return [X - m, Y - m, X + W + m, Y + H + m]


# --- cases ----------------------------------------------------------------------------

def startup_shows_the_catalog(r):
    r.wait_catalog()
    r.wait_pixel("header gradient left", px(3), px(32), h.HEADER_LEFT, tolerance=6)
    r.wait_pixel("header gradient right", W - px(3), px(32), h.HEADER_RIGHT, tolerance=6)
    r.wait_pixel("first category selected", px(100), sidebar_top(0) + px(4), h.SELECTED_ROW, tolerance=4)
    r.wait_pixel("selected accent bar", px(13), sidebar_top(0) + px(20), h.ACCENT, tolerance=6)
    r.wait_pixel("row below the selected one plain", px(100), sidebar_top(1) + px(4), h.SIDEBAR, tolerance=3)


def window_rectangle_and_shadow(r):
    f = r.session.facts()
    m, shadow = f["main"], f["shadow"]
    if not r.check("main window exists", m is not None, "no KVMainWnd"):
        return
    r.log("window %s, shadow %s at %d DPI" % (m["window"], shadow and shadow["window"], DPI))
    r.expect_equal("window rectangle", m["window"], main_window_rect())
    r.expect_equal("client rectangle", m["client"], [0, 0, W, H])
    r.expect_equal("minimum tracking size", m.get("minTrack"), [px(1000), px(660)])
    region = m["region"]
    if r.check("rounded region", region is not None, "no window region"):
        r.expect_equal("region corners cut", region["inside"], [0, 0, 1, 1, 0, 0, 0, 1])
    if r.check("shadow window exists", shadow is not None, "no KVShadow"):
        r.expect_equal("shadow 27 pixels around", shadow["window"], shadow_rect())
        r.expect_equal("shadow visible", shadow["visible"], 1)
    screen = r.session.capture()
    near = (X - 1, Y + H // 2)
    far = (X - px(18) - 3, Y + H // 2)
    r.check("shadow darkens just outside the edge", screen.pixel(*near) != r.baseline.pixel(*near),
            "pixel %s equals the bare screen" % (screen.pixel(*near),))
    r.check("nothing drawn beyond the shadow", screen.pixel(*far) == r.baseline.pixel(*far),
            "pixel %s" % (screen.pixel(*far),))
    left, edge, header = px(7), px(6), px(64)
    table = [
        ((left - 1, 400), h.HTLEFT), ((left, 400), h.HTCLIENT),
        ((W - edge, 400), h.HTRIGHT), ((W - edge - 1, 400), h.HTCLIENT),
        ((W // 2, header - 1), h.HTCAPTION), ((W // 2, header), h.HTCLIENT),
        ((W // 2, H - edge), h.HTBOTTOM), ((W // 2, H - edge - 1), h.HTCLIENT),
        ((W - px(23), px(32)), h.HTCLIENT), ((W - px(69), px(32)), h.HTCLIENT), ((W - px(204), px(32)), h.HTCLIENT),
    ]
    answers = r.session.hit([(X + x, Y + y) for (x, y), _ in table])
    for ((x, y), want), got in zip(table, answers):
        r.expect_equal("hit test at (%d, %d)" % (x, y), got, want)


def accessible_tree(r):
    """The children of the main window's client object: role, name, screen rectangle."""
    m = r.main_facts()
    out = os.path.join(r.session.work, "access.txt")
    if os.path.exists(out):
        os.remove(out)
    reader = os.path.join(r.session.build, "tests", "app", "access_reader.exe")
    r.session.wine([reader, "tree", str(m["hwnd"]), h.windows_path(out)], timeout=30)
    children = []
    if os.path.exists(out):
        with open(out, encoding="utf-8") as f:
            for line in f:
                if not line.startswith("child "):
                    continue
                fields = line.rstrip("\n")[len("child "):].split("|")
                if len(fields) != 5:
                    continue
                children.append({"role": int(fields[1]), "state": int(fields[2]), "name": fields[3],
                                 "location": [int(v) for v in fields[4].split(",")]})
    return children


def accessible_locations_match_the_drawn_buttons(r):
    children = r.wait_for("accessible tree read", lambda: accessible_tree(r), timeout=20)
    if not children:
        return
    screen = r.session.capture()
    rows = [c for c in children if c["role"] == ROLE_PAGETAB]
    for i in range(5):
        l, t, rr, b = sidebar_row(i)
        found = [c for c in rows if c["name"] == CATEGORY_NAMES[i]]
        if r.check("row %d is in the tree" % i, len(found) == 1, "rows: %s" % [c["name"] for c in rows]):
            r.expect_equal("row %d location" % i, found[0]["location"], [X + l, Y + t, rr - l, b - t])
    for i, (app_id, name, kind) in enumerate(FIRST[:8]):  # the two rows of cards on screen
        l, t, rr, b = card_button_rect(i)
        # "<label> <name> v<version>"
        found = [c for c in children if c["role"] == ROLE_PUSHBUTTON and c["name"].split(" ")[1:2] == [name]]
        if not r.check("card %d button is in the tree" % i, len(found) == 1, "names: %s" % [c["name"] for c in children]):
            continue
        loc = found[0]["location"]
        r.expect_equal("card %d button location" % i, loc, [X + l, Y + t, rr - l, b - t])
        # The drawn button fills the located rectangle: its fill just inside the left end, the
        # card's white just outside.
        inside = screen.pixel(loc[0] + px(7), loc[1] + loc[3] // 2)
        outside = screen.pixel(loc[0] - px(4), loc[1] + loc[3] // 2)
        want = h.NEUTRAL if kind == "nopackage" else h.ACCENT
        r.check("card %d button drawn inside its location" % i, h.close_to(inside, h.rgb(want), 8),
                "pixel %s, wanted %s" % (inside, h.rgb(want)))
        r.check("card %d card surface beside its location" % i, h.close_to(outside, h.rgb(h.SURFACE), 4),
                "pixel %s" % (outside,))


def category_switch(r):
    r.click_client(px(100), sidebar_top(1) + px(23))
    r.wait_pixel("second category selected", px(100), sidebar_top(1) + px(4), h.SELECTED_ROW, tolerance=4)
    r.wait_pixel("its accent bar", px(13), sidebar_top(1) + px(20), h.ACCENT, tolerance=6)
    r.wait_pixel("first category no longer selected", px(100), sidebar_top(0) + px(4), h.SIDEBAR, tolerance=3)
    left, _ = card_button(0)
    r.wait_pixel("first card of the second category has no package", left[0], left[1], h.NEUTRAL, tolerance=4)
    r.click_client(px(100), sidebar_top(0) + px(23))
    r.wait_pixel("first category again", px(100), sidebar_top(0) + px(4), h.SELECTED_ROW, tolerance=4)
    r.wait_pixel("its first card installs", left[0], left[1], h.ACCENT)


def tab_to_a_card_and_enter_starts_it(r):
    l, t, rr, b = card_button_rect(0)
    ring = (l - px(2), (t + b) // 2)  # the ring runs 2 pixels outside the button, 2 wide
    r.wait_pixel("no ring before a key", ring[0], ring[1], h.SURFACE, tolerance=4)
    reached = False
    for _ in range(40):
        r.session.key("Tab")
        seen = r.pixel_now(*ring)
        if seen is not None and h.close_to(seen, h.rgb(h.ACCENT), 24):
            reached = True
            break
    if not r.check("Tab reaches the first card's button and rings it", reached, "pixel %s" % (r.pixel_now(*ring),)):
        return
    requests = len(r.server.requests("/api/client/download/1"))
    r.session.key("Return")
    r.wait_for("Enter asks for the download", lambda: len(r.server.requests("/api/client/download/1")) > requests,
               timeout=15)
    left, _ = card_button(0)
    r.wait_pixel("the card installs and shows 已安装", left[0], left[1], h.SUCCESS_WASH, tolerance=6, timeout=60)
    r.wait_for("its uninstall entry", lambda: uninstall_key("scaled", 1) in r.uninstall_entries(), timeout=20)


def card_press_installs(r):
    """Card 5 is a plain installer: press, download, check, run, 已安装."""
    left, centre = card_button(5)
    l, t, rr, b = card_button_rect(5)
    r.click_client(*centre)
    r.wait_pixel("the ring goes with a click", card_button_rect(0)[0] - px(2), card_button(0)[0][1], h.SURFACE,
                 tolerance=4)
    if not r.wait_pixel("已安装 after download, check and installer", left[0], left[1], h.SUCCESS_WASH, tolerance=6,
                        timeout=60):
        return
    r.wait_pixel("the whole button shows it", rr - px(7), (t + b) // 2, h.SUCCESS_WASH, tolerance=6)
    r.wait_pixel("the card beside it unchanged", l - px(4), (t + b) // 2, h.SURFACE, tolerance=4)
    key = uninstall_key("scaled", 6)
    r.wait_for("uninstall entry", lambda: r.uninstall_entries().get(key) == FIRST[5][1], timeout=20)
    # Both installed cards now carry the same label, drawn at the same scale.
    def block(screen, i):
        bl, bt, br, bb = card_button_rect(i)
        x0, y0 = r.screen_point(bl + px(10), bt + px(4))
        return [screen.pixel(x, y) for y in range(y0, y0 + px(24)) for x in range(x0, x0 + px(80))]
    r.wait_for("card 5 shows 已安装 like card 0",
               lambda: (lambda s: block(s, 5) == block(s, 0))(r.session.capture()), timeout=10)


def settings_dialog_at_scale(r):
    r.click_client(W - px(204), px(32))
    d = r.wait_for("dialog open", lambda: r.session.facts()["settings"], timeout=10)
    if not d:
        return
    r.log("dialog %s" % d["window"])
    r.expect_equal("dialog rectangle", d["window"], settings_rect())
    children = d["children"]
    r.expect_equal("child count", len(children), len(DIALOG_CHILDREN))
    time.sleep(0.5)  # the controls painted
    screen = r.session.capture()
    ox, oy = d["origin"]
    for want, got in zip(DIALOG_CHILDREN, children):
        cls, text, ident, place, height, weight = want
        label = "control %s" % (text or cls)
        r.expect_equal(label + " class", got["class"].lower(), cls.lower())
        if text is not None:
            r.expect_equal(label + " text", got["text"], text)
        if ident is not None:
            r.expect_equal(label + " id", got["id"], ident)
        r.expect_equal(label + " rectangle", got["rect"], control_rect(*place))
        # The font: the text as the program's font of the scaled height draws it, against
        # the control's own text (an edit box tells its character places; the others are
        # read as pixels).
        drawn = r.session.facts_call(["ink", got["hwnd"], px(height), weight])
        if not r.check(label + " text measured", drawn is not None, "no text"):
            continue
        if cls == "Edit":
            r.log("%s: characters span %s, in the %d-pixel font %d" % (label, drawn.get("charSpan"), px(height),
                                                                       drawn["beforeLast"]))
            r.expect_equal(label + " characters placed by the scaled font", drawn.get("charSpan"), drawn["beforeLast"])
            continue
        inset = px(4) if cls == "Button" else 0
        left, top, right, bottom = got["rect"]
        w, hh = ink_box(screen, ox + left + inset, oy + top + inset, ox + right - inset, oy + bottom - inset)
        r.log("%s: ink %d x %d, in the %d-pixel font %d x %d" % (label, w, hh, px(height), drawn["inkWidth"],
                                                                 drawn["inkHeight"]))
        r.check(label + " ink as wide as the scaled font's", abs(w - drawn["inkWidth"]) <= 2,
                "ink %d x %d on screen, %d x %d in the %d-pixel font" % (w, hh, drawn["inkWidth"], drawn["inkHeight"],
                                                                      px(height)))
        r.check(label + " ink as high as the scaled font's", abs(hh - drawn["inkHeight"]) <= 2,
                "ink %d x %d on screen, %d x %d in the %d-pixel font" % (w, hh, drawn["inkWidth"], drawn["inkHeight"],
                                                                      px(height)))
    r.session.key("Escape")
    r.wait_for("dialog closed", lambda: (lambda f: f if f["settings"] is None else None)(r.session.facts()),
               timeout=10)


def maximize_and_restore(r):
    r.click_client(W - px(69), px(32))
    f = r.wait_for("window maximized", lambda: (lambda f: f if f["main"] and f["main"]["zoomed"] else None)(
        r.session.facts()))
    if not f:
        return
    r.expect_equal("no region when maximized", f["main"]["region"], None)
    r.check("shadow hidden when maximized", f["shadow"] is None or f["shadow"]["visible"] == 0, str(f["shadow"]))
    ox, oy = f["main"]["origin"]
    cw = f["main"]["client"][2]
    r.session.click(ox + cw - px(69), oy + px(32))
    f = r.wait_for("window restored", lambda: (lambda f: f if f["main"] and not f["main"]["zoomed"] else None)(
        r.session.facts()))
    if not f:
        return
    r.expect_equal("restored rectangle", f["main"]["window"], main_window_rect())
    r.check("region back", f["main"]["region"] is not None, "no region")
    r.check("shadow shown again", f["shadow"] is not None and f["shadow"]["visible"] == 1, str(f["shadow"]))
    if f["shadow"]:
        r.expect_equal("shadow around the restored window", f["shadow"]["window"], shadow_rect())
    left, _ = card_button(0)
    r.wait_pixel("the restored window draws its cards again", left[0], left[1], h.SUCCESS_WASH, tolerance=6,
                 timeout=10)


def close_button_ends_the_program(r):
    m = r.main_facts()
    ox, oy = m["origin"] if m else r.origin
    cw = m["client"][2] if m else W
    r.session.click(ox + cw - px(23), oy + px(32))
    r.expect_equal("exit code", r.session.wait_program_exit(20), 0)


CASES = [startup_shows_the_catalog, window_rectangle_and_shadow, accessible_locations_match_the_drawn_buttons,
         category_switch, tab_to_a_card_and_enter_starts_it, card_press_installs, settings_dialog_at_scale,
         maximize_and_restore, close_button_ends_the_program]
