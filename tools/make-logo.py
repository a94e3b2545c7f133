#!/usr/bin/env python3
"""Draws the application mark and writes resources/logo.png and resources/app.ico.

The mark is a four-pointed star riding a crescent hull (a "star boat") in white on a
rounded square filled with the header's indigo-to-violet gradient. It is drawn once
at 1024 px and scaled down to every icon size; the icon holds seven images (16 to 256
px), those up to 48 px as plain bitmaps (loaded for the window and taskbar at every start,
without an image decoder) and the larger ones PNG-compressed, and the logo is the same
picture as its largest image.

Needs ImageMagick's convert (Debian: apt-get install imagemagick). The build does not:
the generated files are committed. Run from anywhere: python3 tools/make-logo.py
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "resources")
MASTER = 1024
SIZES = [16, 24, 32, 48, 64, 128, 256]
INDIGO = "#4F46E5"
VIOLET = "#7C3AED"


def sparkle(cx, cy, rx, ry, pinch):
    """A four-pointed star with concave sides; pinch is how far the sides bow in."""
    top, right, bottom, left = (cx, cy - ry), (cx + rx, cy), (cx, cy + ry), (cx - rx, cy)
    c = [(cx + pinch, cy - pinch), (cx + pinch, cy + pinch), (cx - pinch, cy + pinch), (cx - pinch, cy - pinch)]
    pts = [top, right, bottom, left]
    d = "M %d,%d" % top
    for i in range(4):
        d += " Q %d,%d %d,%d" % (c[i] + pts[(i + 1) % 4])
    return d + " Z"


def hull():
    """A sleek hull: a deck rising to a pointed bow on the right, a rounded keel below."""
    return ("M 196,616 L 700,616 Q 800,616 872,548 "
            "C 830,700 700,786 520,786 L 330,786 C 262,786 214,720 196,616 Z")


def run(*args):
    subprocess.run(["convert", *args], check=True)


def png_args(path):
    # No dates or names in the file, so the output is the same on every run.
    return ["-strip", "-define", "png:exclude-chunks=date,time,tIME", "-define", "png:color-type=6", "PNG32:" + path]


def draw_master(work):
    background = os.path.join(work, "background.png")
    mask = os.path.join(work, "mask.png")
    master = os.path.join(work, "master.png")
    run("-size", "%dx%d" % (MASTER, MASTER), "-define", "gradient:angle=135",
        "gradient:%s-%s" % (INDIGO, VIOLET), background)
    run("-size", "%dx%d" % (MASTER, MASTER), "xc:black", "-fill", "white",
        "-draw", "roundrectangle 24,24 999,999 210,210", mask)
    run(background, mask, "-alpha", "off", "-compose", "CopyOpacity", "-composite",
        "-fill", "rgba(255,255,255,0.16)", "-draw", "path '%s'" % sparkle(512, 512, 470, 470, 150),
        "-fill", "white",
        "-draw", "path '%s'" % sparkle(500, 372, 176, 236, 34),
        "-draw", "path '%s'" % hull(),
        "-draw", "path '%s'" % sparkle(760, 214, 62, 78, 12),
        "-draw", "path 'M 300,860 Q 512,820 724,860 Q 512,840 300,860 Z'",
        master)
    return master


# Sizes up to this are stored as bitmaps, the rest as PNG.
BITMAP_MAX = 48


def icon_bitmap(size, bgra):
    """An icon entry as a bitmap: the header (height doubled for the mask), the 32-bit
    colour rows bottom-up, then the 1-bit mask of the fully transparent pixels."""
    rows = [bgra[y * size * 4:(y + 1) * size * 4] for y in range(size)]
    mask_stride = (size + 31) // 32 * 4
    colour, mask = b"", b""
    for row in reversed(rows):
        colour += row
        bits = bytearray(mask_stride)
        for x in range(size):
            if row[4 * x + 3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return header + colour + mask


def write_ico(images, path):
    """An icon file of the entries given (PNG or bitmap data), largest last; 256 is written as 0."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, blobs = b"", b""
    for size, data in images:
        dim = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        blobs += data
        offset += len(data)
    with open(path, "wb") as f:
        f.write(header + entries + blobs)


def main():
    if shutil.which("convert") is None:
        sys.exit("make-logo: ImageMagick's convert is missing (apt-get install imagemagick)")
    os.makedirs(OUT, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        master = draw_master(work)
        images = []
        for size in SIZES:
            png = os.path.join(work, "icon%d.png" % size)
            run(master, "-filter", "Lanczos", "-resize", "%dx%d" % (size, size), *png_args(png))
            if size <= BITMAP_MAX:
                raw = os.path.join(work, "icon%d.bgra" % size)
                run(png, "-depth", "8", "BGRA:" + raw)
                with open(raw, "rb") as f:
                    images.append((size, icon_bitmap(size, f.read())))
            else:
                with open(png, "rb") as f:
                    images.append((size, f.read()))
        write_ico(images, os.path.join(OUT, "app.ico"))
        with open(os.path.join(OUT, "logo.png"), "wb") as f:
            f.write(images[-1][1])
    print("make-logo: wrote resources/app.ico (%s px) and resources/logo.png (256 px)"
          % ", ".join(str(s) for s in SIZES))


if __name__ == "__main__":
    main()
