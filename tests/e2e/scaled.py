"""Group "scaled": the real program at 150 % (LogPixels 144) on a 1920 x 1200 screen.

Places are read from the program (its accessible areas, the window-facts helper) and held
against what 150 % of the 96-DPI design gives, stated below as figures: the window, the
shadow, the hit-test bands, the size of rows, buttons and dialog, the dialog's fonts.
"""

import harness as h
from catalog import CATEGORY_NAMES, FIRST, uninstall_key
import window_cases as wc

SCREEN = (1920, 1200)
DPI = 144

# 1180 x 780 at 150 % is 1770 x 1170: centred across the screen; 1170 and 30 logical pixels
# (45) above and below do not fit in 1200, so the window keeps those 45 and is 1110 high.
X, Y, W, H = 75, 45, 1770, 1110
WINDOW = [X, Y, X + W, Y + H]
SHADOW = [X - 27, Y - 27, X + W + 27, Y + H + 27]  # 18 around at 96 DPI
MIN_TRACK = [1500, 990]  # 1000 x 660
LEFT_BAND, EDGE, HEADER = 11, 9, 96  # 7, 6 and 64 at 96 DPI; halves round up
ROW_SIZE, ROW_PITCH = (264, 69), 81  # 176 x 46 every 54
CARD_BUTTON_SIZE = (150, 48)  # 100 x 32
COLUMNS = 4  # the grid is 956 logical pixels wide: four columns, as at 96 DPI
RING_OUTSIDE = 3  # the focus ring, 2 logical pixels outside the button
DIALOG_SIZE = (717, 408)  # 478 x 272


# class, text, id, rectangle at 96 DPI (dialog client), font height at 150 % (and at 96), weight
DIALOG_CHILDREN = [
    ("Static", "下载设置", None, (30, 20, 230, 42), 23, 700),  # 15
    ("Static", "安装包保存目录", None, (30, 52, 330, 72), 21, 400),  # 14
    ("Edit", None, 103, (30, 76, 360, 106), 21, 400),
    ("Button", "浏览...", 3, (368, 76, 448, 106), 21, 400),
    ("Static", "修改后对新的下载任务生效", None, (30, 116, 330, 136), 21, 400),
    ("Button", "取消", 1, (248, 156, 332, 190), 21, 400),
    ("Button", "保存", 2, (342, 156, 426, 190), 21, 400),
    ("Static", None, None, (30, 204, 410, 222), 18, 400),  # 12
]


def scaled_like(got, design):
    """Each edge within a pixel of 1.5 times its 96-DPI place (rounding may go either way)."""
    return len(got) == len(design) and all(abs(g - d * 1.5) <= 1 for g, d in zip(got, design))


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


def prepare(r):
    """The run's window, shadow and screen point of the client origin."""
    r.window_rect, r.shadow_rect = WINDOW, SHADOW
    r.origin = (X, Y)


# --- cases ----------------------------------------------------------------------------

def startup_shows_the_catalog(r):
    r.wait_catalog()
    r.wait_pixel("header gradient left", 4, 48, h.HEADER_LEFT, tolerance=6)
    r.wait_pixel("header gradient right", W - 4, 48, h.HEADER_RIGHT, tolerance=6)
    r.wait_pixel("first category selected", *h.row_probe(r.row(0)), h.SELECTED_ROW, tolerance=4)
    r.wait_pixel("selected accent bar", *h.row_bar(r.row(0)), h.ACCENT, tolerance=6)
    r.wait_pixel("row below the selected one plain", *h.row_probe(r.row(1)), h.SIDEBAR, tolerance=3)
    # Kept whether or not the checks pass: the scaled window is judged by eye too.
    r.session.save_screenshot("catalog-150", folder="screens")


def window_rectangle_and_shadow(r):
    f = r.session.facts()
    m, shadow = f["main"], f["shadow"]
    if not r.check("main window exists", m is not None, "no KVMainWnd"):
        return
    r.log("window %s, shadow %s at %d DPI" % (m["window"], shadow and shadow["window"], DPI))
    r.expect_equal("window rectangle", m["window"], WINDOW)
    r.expect_equal("client rectangle", m["client"], [0, 0, W, H])
    r.expect_equal("minimum tracking size", m.get("minTrack"), MIN_TRACK)
    region = m["region"]
    if r.check("rounded region", region is not None, "no window region"):
        r.expect_equal("region corners cut", region["inside"], [0, 0, 1, 1, 0, 0, 0, 1])
    if r.check("shadow window exists", shadow is not None, "no KVShadow"):
        r.expect_equal("shadow 27 pixels around", shadow["window"], SHADOW)
        r.expect_equal("shadow visible", shadow["visible"], 1)
    screen = r.session.capture()
    near = (X - 1, Y + H // 2)
    far = (SHADOW[0] - 3, Y + H // 2)
    r.check("shadow darkens just outside the edge", screen.pixel(*near) != r.baseline.pixel(*near),
            "pixel %s equals the bare screen" % (screen.pixel(*near),))
    r.check("nothing drawn beyond the shadow", screen.pixel(*far) == r.baseline.pixel(*far),
            "pixel %s" % (screen.pixel(*far),))
    table = [
        ((LEFT_BAND - 1, 400), h.HTLEFT), ((LEFT_BAND, 400), h.HTCLIENT),
        ((W - EDGE, 400), h.HTRIGHT), ((W - EDGE - 1, 400), h.HTCLIENT),
        ((W // 2, HEADER - 1), h.HTCAPTION), ((W // 2, HEADER), h.HTCLIENT),
        ((W // 2, H - EDGE), h.HTBOTTOM), ((W // 2, H - EDGE - 1), h.HTCLIENT),
    ]
    table += [(r.header(name), h.HTCLIENT) for name in ("关闭", "最大化", "下载设置")]
    answers = r.session.hit([(X + x, Y + y) for (x, y), _ in table])
    for ((x, y), want), got in zip(table, answers):
        r.expect_equal("hit test at (%d, %d)" % (x, y), got, want)


def size(rect):
    return rect[2] - rect[0], rect[3] - rect[1]


def accessible_locations_match_the_drawn_buttons(r):
    """Rows and card buttons where the program tells a screen reader they are, of the scaled
    size, in the grid's four columns, and drawn there."""
    areas = r.wait_areas("accessible tree read", lambda a: a if a.card(FIRST[7][1]) else None, timeout=20)
    if not areas:
        return
    screen = r.session.capture()
    rows = [areas.row(name) for name in CATEGORY_NAMES[:5]]
    for i, rect in enumerate(rows):
        if not r.check("row %d is in the tree" % i, rect is not None, "rows: %s" % areas.items):
            return
        r.expect_equal("row %d size" % i, size(rect), ROW_SIZE)
        if i:
            r.expect_equal("row %d below the one before" % i, (rect[0], rect[1] - rows[i - 1][1]), (rows[0][0], ROW_PITCH))
    buttons = []
    for i, (app_id, name, kind) in enumerate(FIRST[:8]):  # the two rows of cards on screen
        rect = areas.card(name)
        if not r.check("card %d button is in the tree" % i, rect is not None,
                       "names: %s" % [a["name"] for a in areas.items]):
            return
        buttons.append(rect)
        r.expect_equal("card %d button size" % i, size(rect), CARD_BUTTON_SIZE)
        # The drawn button fills the located rectangle: its fill just inside the left end, the
        # card's white just outside.
        inside = screen.pixel(*r.screen_point(*h.inside_left(rect)))
        outside = screen.pixel(*r.screen_point(rect[0] - 6, (rect[1] + rect[3]) // 2))
        want = h.NEUTRAL if kind == "nopackage" else h.ACCENT
        r.check("card %d button drawn inside its location" % i, h.close_to(inside, h.rgb(want), 8),
                "pixel %s, wanted %s" % (inside, h.rgb(want)))
        r.check("card %d card surface beside its location" % i, h.close_to(outside, h.rgb(h.SURFACE), 4),
                "pixel %s" % (outside,))
    tops = [b[1] for b in buttons]
    r.expect_equal("%d cards a row" % COLUMNS, [t == tops[0] for t in tops], [True] * COLUMNS + [False] * 4)
    r.expect_equal("the second row under the first", [b[0] for b in buttons[COLUMNS:]],
                   [b[0] for b in buttons[:COLUMNS]])


def ring_point(rect):
    return rect[0] - RING_OUTSIDE, (rect[1] + rect[3]) // 2


def tab_to_a_card_and_enter_starts_it(r):
    ring = ring_point(r.card_button(0))
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
    r.wait_pixel("the card installs and shows 已安装", *r.catalog_probe, h.SUCCESS_WASH, tolerance=6, timeout=60)
    r.wait_for("its uninstall entry", lambda: uninstall_key("scaled", 1) in r.uninstall_entries(), timeout=20)


def card_press_installs(r):
    """Card 5 is a plain installer: press, download, check, run, 已安装."""
    left, centre = r.card_points(5)
    l, t, rr, b = r.card_button(5)
    r.click_client(*centre)
    r.wait_pixel("the ring goes with a click", *ring_point(r.card_button(0)), h.SURFACE, tolerance=4)
    if not r.wait_pixel("已安装 after download, check and installer", left[0], left[1], h.SUCCESS_WASH, tolerance=6,
                        timeout=60):
        return
    r.wait_pixel("the whole button shows it", rr - (left[0] - l), (t + b) // 2, h.SUCCESS_WASH, tolerance=6)
    r.wait_pixel("the card beside it unchanged", l - 6, (t + b) // 2, h.SURFACE, tolerance=4)
    key = uninstall_key("scaled", 6)
    r.wait_for("uninstall entry", lambda: r.uninstall_entries().get(key) == FIRST[5][1], timeout=20)
    # Both installed cards now carry the same label, drawn at the same scale.
    def block(screen, i):
        bl, bt, br, bb = r.card_button(i)
        x0, y0 = r.screen_point(bl + 15, bt + 6)
        return [screen.pixel(x, y) for y in range(y0, y0 + 36) for x in range(x0, x0 + 120)]
    r.wait_for("card 5 shows 已安装 like card 0",
               lambda: (lambda s: block(s, 5) == block(s, 0))(r.session.capture()), timeout=10)


def settings_dialog_at_scale(r):
    r.click_client(*r.header("下载设置"))
    d = r.wait_for("dialog open", lambda: r.session.facts()["settings"], timeout=10)
    if not d:
        return
    r.log("dialog %s" % d["window"])
    dialog = d["window"]
    r.expect_equal("dialog size", size(dialog), DIALOG_SIZE)
    r.check("dialog centred on the window",
            abs(dialog[0] + dialog[2] - X - X - W) <= 1 and abs(dialog[1] + dialog[3] - Y - Y - H) <= 1,
            "dialog %s, window %s" % (dialog, WINDOW))
    children = d["children"]
    r.expect_equal("child count", len(children), len(DIALOG_CHILDREN))
    ox, oy = d["origin"]
    title = children[0]["rect"] if children else [0, 0, 0, 0]
    screen = r.wait_for("dialog painted", lambda: (lambda s: s if ink_box(s, ox + title[0], oy + title[1], ox + title[2],
                                                                        oy + title[3])[0] else None)(r.session.capture()),
                        timeout=5)
    if not screen:
        return
    r.session.save_screenshot("settings-150", folder="screens")
    for want, got in zip(DIALOG_CHILDREN, children):
        cls, text, ident, place, height, weight = want
        label = "control %s" % (text or cls)
        r.expect_equal(label + " class", got["class"].lower(), cls.lower())
        if text is not None:
            r.expect_equal(label + " text", got["text"], text)
        if ident is not None:
            r.expect_equal(label + " id", got["id"], ident)
        r.check(label + " rectangle 1.5 times its 96-DPI one", scaled_like(got["rect"], place),
                "%s, at 96 DPI %s" % (got["rect"], list(place)))
        # The font: the text as the program's font of the scaled height draws it, against
        # the control's own text (an edit box tells its character places; the others are
        # read as pixels).
        drawn = r.session.facts_call(["ink", got["hwnd"], height, weight])
        if not r.check(label + " text measured", drawn is not None, "no text"):
            continue
        if cls == "Edit":
            r.log("%s: characters span %s, in the %d-pixel font %d" % (label, drawn.get("charSpan"), height,
                                                                       drawn["beforeLast"]))
            r.expect_equal(label + " characters placed by the scaled font", drawn.get("charSpan"), drawn["beforeLast"])
            continue
        inset = 6 if cls == "Button" else 0  # inside the button's border
        left, top, right, bottom = got["rect"]
        w, hh = ink_box(screen, ox + left + inset, oy + top + inset, ox + right - inset, oy + bottom - inset)
        r.log("%s: ink %d x %d, in the %d-pixel font %d x %d" % (label, w, hh, height, drawn["inkWidth"],
                                                                 drawn["inkHeight"]))
        r.check(label + " ink as wide as the scaled font's", abs(w - drawn["inkWidth"]) <= 2,
                "ink %d x %d on screen, %d x %d in the %d-pixel font" % (w, hh, drawn["inkWidth"], drawn["inkHeight"],
                                                                      height))
        r.check(label + " ink as high as the scaled font's", abs(hh - drawn["inkHeight"]) <= 2,
                "ink %d x %d on screen, %d x %d in the %d-pixel font" % (w, hh, drawn["inkWidth"], drawn["inkHeight"],
                                                                      height))
    r.session.key("Escape")
    r.wait_for("dialog closed", lambda: (lambda f: f if f["settings"] is None else None)(r.session.facts()),
               timeout=10)


CASES = [startup_shows_the_catalog, window_rectangle_and_shadow, accessible_locations_match_the_drawn_buttons,
         wc.category_switch, tab_to_a_card_and_enter_starts_it, card_press_installs, settings_dialog_at_scale,
         wc.maximize_and_restore, wc.close_button_ends_the_program]
