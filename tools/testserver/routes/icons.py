"""Icon catalogs for the icon figures: many distinct small icons, or a hostile one.

GET /_gen/iconcatalog/<n>/<huge>/api/client/bootstrap
     n applications in category "1", each with its own 64x64 PNG icon; with huge = 1 the
     first application's icon is instead a valid PNG declaring 20000 x 20000 pixels
     (one grey, about 390 KB: decoded it would take 1.6 GB)
GET /_gen/iconcatalog/<n>/<huge>/icons/<id>.png     a 64x64 PNG of a colour drawn from id
GET /_gen/iconcatalog/<n>/<huge>/huge/<w>x<h>.png   a valid PNG of w x h grey pixels (made
     once per size and kept; at most 30000 on a side)

Under a test prefix too (/t/<id>/...); the server base of the program is then
<origin>[/t/<id>]/_gen/iconcatalog/<n>/<huge>.
"""
import json
import struct
import threading
import zlib

import httpkit

from routes.catalog import png_bytes

_lock = threading.Lock()
_huge = {}
_bootstraps = {}


def _chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def huge_png(width, height):
    """8-bit grey, every pixel 0x80: the rows compress to almost nothing."""
    with _lock:
        data = _huge.get((width, height))
        if data is None:
            packer = zlib.compressobj(9)
            row = b"\x00" + b"\x80" * width
            parts = [packer.compress(row) for _ in range(height)]
            parts.append(packer.flush())
            data = (b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0))
                    + _chunk(b"IDAT", b"".join(parts)) + _chunk(b"IEND", b""))
            _huge[(width, height)] = data
    return data


def bootstrap(req, m):
    n, huge = min(int(m.group(2)), 100000), m.group(3) == "1"
    with _lock:
        data = _bootstraps.get((n, huge))
        if data is None:
            apps = []
            for i in range(n):
                app_id = 1 + i
                icon = "/huge/20000x20000.png" if huge and i == 0 else "/icons/%d.png" % app_id
                apps.append({"id": app_id, "name": "图标 %d" % app_id, "version": "1.0", "categoryIds": ["1"],
                             "description": "图标测试", "icon": icon, "packageSize": 1048576,
                             "md5": "%032x" % app_id, "hasPackage": True, "downloads": 0,
                             "updatedAt": 1700000000000})
            doc = {"code": 0, "message": "ok",
                   "data": {"categories": [{"id": "1", "name": "图标"}], "apps": apps}}
            data = _bootstraps[(n, huge)] = json.dumps(doc, ensure_ascii=False).encode("utf-8")
    httpkit.send_body(req, httpkit.BytesBody(data), content_type="application/json; charset=utf-8")


def small_icon(req, m):
    seed = zlib.crc32(m.group(2).encode("utf-8")) ^ 0x5A5A5A
    data = png_bytes(64, 64, (seed & 0xFF, (seed >> 8) & 0xFF, (seed >> 16) & 0xFF))
    httpkit.send_bytes(req, 200, data, content_type="image/png")


def huge_icon(req, m):
    width, height = int(m.group(2)), int(m.group(3))
    if not (1 <= width <= 30000 and 1 <= height <= 30000):
        return httpkit.send_bytes(req, 400, "too large\n")
    httpkit.send_body(req, httpkit.BytesBody(huge_png(width, height)), content_type="image/png")


def register(router):
    base = r"(/t/[^/]+)?/_gen/iconcatalog/(\d+)/([01])"
    router.add(base + r"/api/client/bootstrap", bootstrap)
    router.add(r"(/t/[^/]+)?/_gen/iconcatalog/\d+/[01]/icons/(\d+)\.png", small_icon)
    router.add(r"(/t/[^/]+)?/_gen/iconcatalog/\d+/[01]/huge/(\d+)x(\d+)\.png", huge_icon)
