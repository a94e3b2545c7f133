#include "ui/ui.h"

#include <algorithm>
#include <cmath>

#include "ui/gdiplus.h"
#include "ui/scale.h"

namespace {

using Gdiplus::PointF;
using Gdiplus::REAL;

// The pens, brushes and path every pictogram draws with, made and released per call.
struct GlyphKit {
    Gdiplus::Graphics& g;
    Gdiplus::Color main;
    Gdiplus::Color detail{0xE8FFFFFF};
    Gdiplus::SolidBrush mainBrush{main};
    Gdiplus::SolidBrush detailBrush{detail};
    Gdiplus::Pen mainPen{main, pxf(1.8f)};
    Gdiplus::Pen detailPen{detail, pxf(1.9f)};
    Gdiplus::GraphicsPath path;
    REAL cx, cy, r;

    GlyphKit(Gdiplus::Graphics& graphics, Gdiplus::Color m, REAL x, REAL y, REAL radius)
        : g(graphics), main(m), cx(x), cy(y), r(radius) {}

    void disc(Gdiplus::Brush& brush, REAL x, REAL y, REAL s) { g.FillEllipse(&brush, x, y, s, s); }
    void rect(Gdiplus::Brush& brush, REAL x, REAL y, REAL w, REAL h) { g.FillRectangle(&brush, x, y, w, h); }
    void line(Gdiplus::Pen& pen, REAL x1, REAL y1, REAL x2, REAL y2) { g.DrawLine(&pen, x1, y1, x2, y2); }
    void polygon(Gdiplus::Brush& brush, const PointF* points, int count) {
        path.Reset();
        path.AddLines(points, count);
        path.CloseFigure();
        g.FillPath(&brush, &path);
    }
    // A rounded rectangle from float corners, truncated to whole pixels like its radius.
    RECT truncated(REAL left, REAL top, REAL right, REAL bottom) const {
        return RECT{static_cast<LONG>(left), static_cast<LONG>(top), static_cast<LONG>(right),
                    static_cast<LONG>(bottom)};
    }
    void fillRounded(REAL left, REAL top, REAL right, REAL bottom, REAL radius) {
        path.Reset();
        addRoundRectPath(path, truncated(left, top, right, bottom), static_cast<int>(radius));
        g.FillPath(&mainBrush, &path);
    }
};

void shield(GlyphKit& k) {
    const REAL cx = k.cx, cy = k.cy, r = k.r;
    const PointF body[5] = {{cx - 0.85f * r, cy - 0.85f * r},
                            {cx + 0.85f * r, cy - 0.85f * r},
                            {cx + 0.85f * r, cy + 0.05f * r},
                            {cx, cy + 0.95f * r},
                            {cx - 0.85f * r, cy + 0.05f * r}};
    k.polygon(k.mainBrush, body, 5);
    Gdiplus::Pen check(k.detail, pxf(2.2f));
    k.line(check, cx - 0.36f * r, cy + 0.02f * r, cx - 0.07f * r, cy + 0.32f * r);
    k.line(check, cx - 0.07f * r, cy + 0.32f * r, cx + 0.4f * r, cy - 0.26f * r);
}

void speechBubble(GlyphKit& k) {
    const REAL cx = k.cx, cy = k.cy, r = k.r;
    const RECT box = k.truncated(cx - 0.875f * r, cy - 0.725f * r, cx + 0.875f * r, cy + 0.425f * r);
    k.path.Reset();
    addRoundRectPath(k.path, box, static_cast<int>(1.15f * r * 0.34f));
    const REAL b = static_cast<REAL>(box.bottom);
    const PointF tail[3] = {{cx - 0.28f * r, b}, {cx - 0.5f * r, cy + 0.6f * r}, {cx + 0.06f * r, b}};
    k.path.StartFigure();
    k.path.AddLines(tail, 3);
    k.path.CloseFigure();
    k.g.FillPath(&k.mainBrush, &k.path);
    for (REAL dx : {-0.44f, -0.11f, 0.22f}) k.disc(k.detailBrush, cx + dx * r, cy - 0.26f * r, 0.22f * r);
}

void globe(GlyphKit& k) {
    const REAL cx = k.cx, cy = k.cy, r = k.r;
    k.g.DrawEllipse(&k.mainPen, cx - 0.85f * r, cy - 0.85f * r, 1.7f * r, 1.7f * r);
    k.g.DrawEllipse(&k.mainPen, cx - 0.38f * r, cy - 0.85f * r, 0.76f * r, 1.7f * r);
    k.line(k.mainPen, cx - 0.85f * r, cy, cx + 0.85f * r, cy);
}

void playButton(GlyphKit& k) {
    const REAL cx = k.cx, cy = k.cy, r = k.r;
    k.disc(k.mainBrush, cx - 0.85f * r, cy - 0.85f * r, 1.7f * r);
    const PointF play[3] = {{cx - 0.26f * r, cy - 0.42f * r}, {cx + 0.42f * r, cy}, {cx - 0.26f * r, cy + 0.42f * r}};
    k.polygon(k.detailBrush, play, 3);
}

void document(GlyphKit& k) {
    const REAL r = k.r, x0 = k.cx - 0.6f * r, y0 = k.cy - 0.85f * r;
    const PointF page[5] = {{x0, y0},
                            {x0 + 0.7f * r, y0},
                            {x0 + 1.2f * r, y0 + 0.5f * r},
                            {x0 + 1.2f * r, y0 + 1.7f * r},
                            {x0, y0 + 1.7f * r}};
    k.polygon(k.mainBrush, page, 5);
    for (int i = 0; i < 3; ++i) {
        const REAL y = y0 + 0.78f * r + 0.32f * r * i;
        if (!(y < y0 + 1.54f * r)) break;
        k.line(k.detailPen, x0 + 0.2f * r, y, x0 + r, y);
    }
}

void keyboard(GlyphKit& k) {
    const REAL cx = k.cx, cy = k.cy, r = k.r;
    k.fillRounded(cx - 0.875f * r, cy - 0.55f * r, cx + 0.875f * r, cy + 0.55f * r, 1.1f * r * 0.3f);
    for (int j = 0; j < 2; ++j) {
        for (int i = 0; i < 5; ++i)
            k.disc(k.detailBrush, cx + (0.31f * i - 0.62f) * r, cy + (0.36f * j - 0.28f) * r, 0.17f * r);
    }
    k.rect(k.detailBrush, cx - 0.5f * r, cy + 0.32f * r, r, 0.14f * r);
}

void archive(GlyphKit& k) {
    const REAL cx = k.cx, cy = k.cy, r = k.r;
    k.fillRounded(cx - 0.7f * r, cy - 0.85f * r, cx + 0.7f * r, cy + 0.85f * r, 0.22f * r);
    k.line(k.detailPen, cx, cy - 0.7f * r, cx, cy + 0.6f * r);
    for (int i = 0; i < 5; ++i) {
        const REAL y = cy - 0.52f * r + 0.26f * r * i;
        k.line(k.detailPen, cx - 0.28f * r, y, cx - 0.08f * r, y);
        k.line(k.detailPen, cx + 0.08f * r, y + 0.13f * r, cx + 0.28f * r, y + 0.13f * r);
    }
}

void gear(GlyphKit& k) {
    const REAL cx = k.cx, cy = k.cy, r = k.r;
    const REAL side = 0.38f * r;
    for (int i = 0; i < 8; ++i) {
        const double a = i * 3.14159265 * 0.25;
        const REAL x = static_cast<REAL>(cx + 0.62 * r * std::cos(a)), y = static_cast<REAL>(cy + 0.62 * r * std::sin(a));
        k.rect(k.mainBrush, x - side / 2, y - side / 2, side, side);
    }
    k.disc(k.mainBrush, cx - 0.6f * r, cy - 0.6f * r, 1.2f * r);
    k.disc(k.detailBrush, cx - 0.23f * r, cy - 0.23f * r, 0.46f * r);
}

void chip(GlyphKit& k) {
    const REAL cx = k.cx, cy = k.cy, r = k.r;
    k.rect(k.mainBrush, cx - 0.55f * r, cy - 0.55f * r, 1.1f * r, 1.1f * r);
    k.g.DrawRectangle(&k.detailPen, cx - 0.28f * r, cy - 0.28f * r, 0.56f * r, 0.56f * r);
    for (REAL f : {-0.34f, 0.0f, 0.34f}) {
        const REAL d = f * r;
        k.line(k.mainPen, cx - 0.55f * r, cy + d, cx - 0.9f * r, cy + d);
        k.line(k.mainPen, cx + 0.55f * r, cy + d, cx + 0.9f * r, cy + d);
        k.line(k.mainPen, cx + d, cy - 0.55f * r, cx + d, cy - 0.9f * r);
        k.line(k.mainPen, cx + d, cy + 0.55f * r, cx + d, cy + 0.9f * r);
    }
}

void twoScreens(GlyphKit& k) {
    const REAL cx = k.cx, cy = k.cy, r = k.r;
    Gdiplus::Pen outline(k.main, pxf(1.8f));
    k.g.DrawRectangle(&outline, cx - 0.95f * r, cy - 0.75f * r, 0.75f * r, 0.55f * r);
    k.g.DrawRectangle(&outline, cx + 0.2f * r, cy + 0.2f * r, 0.75f * r, 0.55f * r);
    k.line(k.mainPen, cx - 0.2f * r, cy + 0.28f * r, cx + 0.45f * r, cy - 0.05f * r);
    const PointF head[3] = {{cx + 0.3f * r, cy - 0.2f * r}, {cx + 0.5f * r, cy - 0.05f * r}, {cx + 0.28f * r, cy + 0.02f * r}};
    k.polygon(k.mainBrush, head, 3);
}

void circularArrow(GlyphKit& k) {
    const REAL cx = k.cx, cy = k.cy, r = k.r;
    Gdiplus::Pen arc(k.main, pxf(2.2f));
    k.g.DrawArc(&arc, cx - 0.7f * r, cy - 0.7f * r, 1.4f * r, 1.4f * r, 120.0f, 290.0f);
    const PointF head[3] = {{cx - 0.62f * r, cy - 0.6f * r}, {cx - 0.62f * r, cy - 0.04f * r}, {cx - r, cy - 0.32f * r}};
    k.polygon(k.mainBrush, head, 3);
}

void gamepad(GlyphKit& k) {
    const REAL cx = k.cx, cy = k.cy, r = k.r;
    k.disc(k.mainBrush, cx - 0.9f * r, cy - 0.45f * r, 0.9f * r);
    k.disc(k.mainBrush, cx, cy - 0.45f * r, 0.9f * r);
    k.rect(k.mainBrush, cx - 0.45f * r, cy - 0.45f * r, 0.9f * r, 0.9f * r);
    k.rect(k.detailBrush, cx - 0.29f * r, cy - 0.055f * r, 0.58f * r, 0.06f * r);
    k.rect(k.detailBrush, cx - 0.03f * r, cy - 0.31f * r, 0.06f * r, 0.14f * r);
    k.rect(k.detailBrush, cx - 0.03f * r, cy + 0.17f * r, 0.06f * r, 0.14f * r);
    k.disc(k.detailBrush, cx + 0.2f * r, cy - 0.24f * r, 0.19f * r);
    k.disc(k.detailBrush, cx + 0.2f * r, cy + 0.05f * r, 0.19f * r);
}

void picture(GlyphKit& k) {
    const REAL cx = k.cx, cy = k.cy, r = k.r;
    k.path.Reset();
    addRoundRectPath(k.path, k.truncated(cx - 0.85f * r, cy - 0.68f * r, cx + 0.85f * r, cy + 0.68f * r), 3);
    k.g.DrawPath(&k.mainPen, &k.path);
    k.disc(k.mainBrush, cx - 0.38f * r, cy - 0.42f * r, 0.28f * r);
    Gdiplus::Pen ridge(k.main, pxf(1.8f));
    const PointF mountains[5] = {{cx - 0.68f * r, cy + 0.48f * r},
                                 {cx - 0.12f * r, cy - 0.12f * r},
                                 {cx + 0.14f * r, cy + 0.14f * r},
                                 {cx + 0.34f * r, cy - 0.04f * r},
                                 {cx + 0.68f * r, cy + 0.48f * r}};
    k.g.DrawLines(&ridge, mountains, 5);
}

void filmStrip(GlyphKit& k) {
    const REAL cx = k.cx, cy = k.cy, r = k.r;
    k.rect(k.mainBrush, cx - 0.9f * r, cy - 0.62f * r, 1.8f * r, 1.24f * r);
    for (int i = 0; i < 4; ++i) {
        const REAL x = cx - 0.77f * r + 0.41f * r * i;
        k.rect(k.detailBrush, x, cy - 0.5f * r, 0.2f * r, 0.2f * r);
        k.rect(k.detailBrush, x, cy + 0.3f * r, 0.2f * r, 0.2f * r);
    }
}

void robot(GlyphKit& k) {
    const REAL cx = k.cx, cy = k.cy, r = k.r;
    k.line(k.mainPen, cx, cy - 0.82f * r, cx, cy - 0.55f * r);
    k.disc(k.mainBrush, cx - 0.1f * r, cy - r, 0.2f * r);
    k.fillRounded(cx - 0.75f * r, cy - 0.55f * r, cx + 0.75f * r, cy + 0.5f * r, 0.2f * r);
    k.disc(k.detailBrush, cx - 0.44f * r, cy - 0.28f * r, 0.3f * r);
    k.disc(k.detailBrush, cx + 0.14f * r, cy - 0.28f * r, 0.3f * r);
    k.rect(k.detailBrush, cx - 0.22f * r, cy + 0.12f * r, 0.44f * r, 0.1f * r);
}

void pencil(GlyphKit& k) {
    const REAL cx = k.cx, cy = k.cy, r = k.r;
    Gdiplus::Pen stroke(k.main, pxf(2.5f));
    k.line(stroke, cx - 0.5f * r, cy + 0.5f * r, cx + 0.55f * r, cy - 0.55f * r);
    k.rect(k.mainBrush, cx + 0.3f * r, cy - 0.85f * r, 0.34f * r, 0.34f * r);
    const PointF nib[3] = {{cx - 0.78f * r, cy + 0.22f * r}, {cx - 0.55f * r, cy + 0.55f * r}, {cx - 0.78f * r, cy + 0.78f * r}};
    k.polygon(k.mainBrush, nib, 3);
}

void fourDiscs(GlyphKit& k) {
    const REAL cx = k.cx, cy = k.cy, r = k.r;
    for (REAL dy : {-0.56f, 0.06f}) {
        for (REAL dx : {-0.56f, 0.06f}) k.disc(k.mainBrush, cx + dx * r, cy + dy * r, 0.5f * r);
    }
}

}  // namespace

void drawGlyphIcon(Gdiplus::Graphics& graphics, int kind, const RECT& rect, COLORREF colour) {
    const REAL w = static_cast<REAL>(rect.right - rect.left), h = static_cast<REAL>(rect.bottom - rect.top);
    const Gdiplus::Color main(255, GetRValue(colour), GetGValue(colour), GetBValue(colour));
    GlyphKit kit(graphics, main, rect.left + w / 2, rect.top + h / 2, std::min(w, h) / 2);
    switch (kind) {
        case 0: shield(kit); break;
        case 1: speechBubble(kit); break;
        case 2: globe(kit); break;
        case 3: playButton(kit); break;
        case 4: document(kit); break;
        case 5: keyboard(kit); break;
        case 6: archive(kit); break;
        case 7: gear(kit); break;
        case 8: chip(kit); break;
        case 9: twoScreens(kit); break;
        case 10: circularArrow(kit); break;
        case 11: gamepad(kit); break;
        case 12: picture(kit); break;
        case 13: filmStrip(kit); break;
        case 14: robot(kit); break;
        case 15: pencil(kit); break;
        default: fourDiscs(kit); break;
    }
}
