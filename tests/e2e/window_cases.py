"""Cases of the main window that hold at every display scale; the groups "window" and
"scaled" run them. What the window must be comes from the run: r.window_rect and
r.shadow_rect (screen), stated by each group."""
import harness as h
from catalog import SECOND


def category_switch(r):
    r.click_client(*h.centre(r.row(1)))
    r.wait_pixel("second category selected", *h.row_probe(r.row(1)), h.SELECTED_ROW, tolerance=4)
    r.wait_pixel("its accent bar", *h.row_bar(r.row(1)), h.ACCENT, tolerance=6)
    r.wait_pixel("first category no longer selected", *h.row_probe(r.row(0)), h.SIDEBAR, tolerance=3)
    second = r.wait_areas("second category listed", lambda a: a.card(SECOND[0][1]))
    if second:
        r.wait_pixel("first card of the second category has no package", *h.inside_left(second), h.NEUTRAL,
                     tolerance=4)
    r.click_client(*h.centre(r.row(0)))
    r.wait_pixel("first category again", *h.row_probe(r.row(0)), h.SELECTED_ROW, tolerance=4)
    r.wait_pixel("its first card installs", *r.catalog_probe, h.ACCENT)


def maximize_and_restore(r):
    # Under Wine's X11 driver a maximize holds only when a window manager confirms it (on a
    # bare X server the driver undoes it at once): the groups run openbox on their display.
    card = r.pixel_now(*r.catalog_probe)
    r.click_client(*r.header("最大化"))
    f = r.wait_for("window maximized", lambda: (lambda f: f if f["main"] and f["main"]["zoomed"] else None)(
        r.session.facts()))
    if not f:
        return
    r.expect_equal("no region when maximized", f["main"]["region"], None)
    r.check("shadow hidden when maximized", f["shadow"] is None or f["shadow"]["visible"] == 0, str(f["shadow"]))
    areas = r.wait_areas("restore button listed", lambda a: a if a.named("还原") else None)
    if not areas:
        return
    restore = h.centre(areas.named("还原"))
    r.session.click(areas.origin[0] + restore[0], areas.origin[1] + restore[1])
    f = r.wait_for("window restored", lambda: (lambda f: f if f["main"] and not f["main"]["zoomed"] else None)(
        r.session.facts()))
    if not f:
        return
    r.expect_equal("restored rectangle", f["main"]["window"], r.window_rect)
    r.check("region back", f["main"]["region"] is not None, "no region")
    r.check("shadow shown again", f["shadow"] is not None and f["shadow"]["visible"] == 1, str(f["shadow"]))
    if f["shadow"]:
        r.expect_equal("shadow around the restored window", f["shadow"]["window"], r.shadow_rect)
    r.wait_pixel("the restored window draws its first card again", *r.catalog_probe, card, tolerance=6, timeout=10)


def close_button_ends_the_program(r):
    areas = r.session.areas()
    if not r.check("main window listed", areas is not None, "no areas"):
        return
    x, y = h.centre(areas.named("关闭"))
    r.session.click(areas.origin[0] + x, areas.origin[1] + y)
    r.expect_equal("exit code", r.session.wait_program_exit(20), 0)
