"""The catalog server's client API: bootstrap, icons and install reports.

GET  /api/client/bootstrap   bootstrap.json of the catalog folder
GET  /icons/<file>           icons/<file> of the catalog folder
POST /api/client/report      200 {"code":0}; the body is in the request record
GET  /_gen/catalog/<n>/api/client/bootstrap   a generated bootstrap of n applications
     with long Chinese descriptions (about 730 bytes each: 10000 make about 7 MiB)
GET  /_gen/icon/<delay_ms>/<name>.png         a 32x32 PNG sent after a pause
GET  /t/<id>/_gen/throttled/<fails>/<delay_ms>/<name>.png
     a throttling icon server: the first <fails> requests of each name are answered 429,
     503, 429, ... and so is every request that arrives while more than 4 others of the
     prefix are in flight; otherwise a 32x32 PNG after the pause
GET  /t/<id>/_gen/throttled/peak   {"peak": most requests of the prefix in flight at once,
     "inFlight": now}

All of them also answer under a test prefix (/t/<pid>-<n>/...). The catalog folder is
$KV_CATALOG_DIR, else tools/demo-catalog; it is read again on every request, so a
regenerated catalog shows on the next load.
"""
import json
import os
import random
import struct
import threading
import time
import zlib

import httpkit

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_DIR = os.path.normpath(os.path.join(HERE, "..", "..", "demo-catalog"))
JSON_TYPE = "application/json; charset=utf-8"
IMAGE_TYPES = {".png": "image/png", ".ico": "image/x-icon", ".jpg": "image/jpeg", ".jpeg": "image/jpeg",
               ".bmp": "image/bmp", ".gif": "image/gif"}


def catalog_dir():
    return os.environ.get("KV_CATALOG_DIR") or DEFAULT_DIR


def bootstrap(req, m):
    path = os.path.join(catalog_dir(), "bootstrap.json")
    if not os.path.isfile(path):
        return httpkit.send_json(req, 404, {"code": 404, "message": "no catalog"})
    httpkit.send_body(req, httpkit.FileBody(path), content_type=JSON_TYPE)


def icon(req, m):
    name = m.group(2)
    if "/" in name or "\\" in name or name.startswith("."):
        return httpkit.send_bytes(req, 404, "not found\n")
    path = os.path.join(catalog_dir(), "icons", name)
    if not os.path.isfile(path):
        return httpkit.send_bytes(req, 404, "not found\n")
    kind = IMAGE_TYPES.get(os.path.splitext(name)[1].lower(), "application/octet-stream")
    httpkit.send_body(req, httpkit.FileBody(path), content_type=kind)


def report(req, m):
    try:
        doc = json.loads(req.body.decode("utf-8"))
        ok = isinstance(doc, dict) and "appId" in doc
    except (UnicodeDecodeError, ValueError):
        ok = False
    if not ok:
        return httpkit.send_json(req, 400, {"code": 400, "message": "bad report"})
    httpkit.send_json(req, 200, {"code": 0})


# Generated catalogs ------------------------------------------------------------------

CATEGORIES = [
    ("1", "安全杀毒"), ("2", "聊天社交"), ("3", "浏览器"), ("4", "影音播放"), ("5", "办公软件"),
    ("6", "输入法"), ("7", "压缩解压"), ("8", "系统工具"), ("9", "驱动硬件"), ("10", "远程控制"),
    ("11", "数据备份"), ("12", "游戏娱乐"), ("13", "图片看图"), ("14", "视频剪辑"), ("15", "AI助手"),
    ("16", "设计绘图"),
]
NAME_HEADS = ["星云", "极光", "飞鱼", "青柠", "云帆", "蓝鲸", "火狐", "白鹭", "墨竹", "金山", "天翼", "小熊",
              "闪电", "银河", "彩虹", "灵犀", "知行", "百川", "晨曦", "远山"]
NAME_TAILS = ["助手", "管家", "大师", "浏览器", "播放器", "输入法", "压缩", "看图", "剪辑", "云盘", "笔记",
              "加速器", "卫士", "办公", "驱动精灵", "远程桌面", "备份", "画图", "翻译", "录屏"]
PHRASES = [
    "界面简洁清爽，常用功能一目了然，新手也能快速上手。",
    "支持多窗口、多标签同时操作，切换自如，大幅提升工作效率。",
    "内置智能加速引擎，启动速度快，运行稳定且占用资源少。",
    "提供云端同步，在电脑、手机和平板之间无缝衔接数据。",
    "针对高分辨率屏幕优化显示效果，文字与图标清晰锐利。",
    "完全免费，无广告打扰，不捆绑安装任何第三方软件。",
    "支持批量处理与自定义快捷键，满足专业用户的进阶需求。",
    "采用多重加密保护隐私安全，本地数据不会上传到服务器。",
    "兼容 Windows 7 至 Windows 11 各个版本，安装包小巧。",
    "定期推送功能更新与安全补丁，开发团队持续维护。",
    "自带详细的图文帮助与在线客服，遇到问题随时解答。",
    "可按需选择组件安装，不需要的模块一键关闭，轻量无负担。",
]


def _generated(n):
    rng = random.Random(20241208 + n)
    apps = []
    for i in range(n):
        app_id = 100000 + i
        cats = rng.sample(CATEGORIES, 1 + (i % 3 == 0))
        name = NAME_HEADS[rng.randrange(len(NAME_HEADS))] + NAME_TAILS[rng.randrange(len(NAME_TAILS))]
        desc = "".join(rng.sample(PHRASES, 6))
        apps.append({
            "id": app_id,
            "name": "%s %d" % (name, i),
            "version": "%d.%d.%d.%d" % (rng.randrange(1, 20), rng.randrange(10), rng.randrange(100),
                                        rng.randrange(10000)),
            "categoryIds": [c[0] for c in cats],
            "description": desc,
            "icon": "/icons/gen-%d.png" % app_id,
            "packageSize": rng.randrange(500000, 900000000),
            "md5": "%032x" % rng.getrandbits(128),
            "hasPackage": i % 7 != 0,
            "downloads": rng.randrange(0, 50000000),
            "updatedAt": 1700000000000 + rng.randrange(0, 40000000000),
        })
    doc = {"code": 0, "message": "ok", "data": {
        "categories": [{"id": c[0], "name": c[1]} for c in CATEGORIES], "apps": apps}}
    return json.dumps(doc, ensure_ascii=False, separators=(",", ":")).encode("utf-8")


_cache = {}
_cache_lock = threading.Lock()


def generated_bootstrap(req, m):
    n = int(m.group(2))
    if n > 200000:
        return httpkit.send_bytes(req, 400, "too many\n")
    with _cache_lock:
        data = _cache.get(n)
        if data is None:
            data = _cache[n] = _generated(n)
    httpkit.send_body(req, httpkit.BytesBody(data), content_type=JSON_TYPE)


def png_bytes(width, height, rgb):
    raw = b"".join(b"\x00" + bytes(rgb) * width for _ in range(height))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def slow_icon(req, m):
    delay = min(int(m.group(2)), 20000)
    time.sleep(delay / 1000.0)
    seed = zlib.crc32(m.group(3).encode("utf-8"))
    data = png_bytes(32, 32, (seed & 0xFF, (seed >> 8) & 0xFF, (seed >> 16) & 0xFF))
    httpkit.send_bytes(req, 200, data, content_type="image/png")


THROTTLE_LIMIT = 4
_throttle_lock = threading.Lock()
_throttle = {}  # test prefix -> {"inFlight", "peak", "seen": {name: requests so far}}


def _throttle_state(prefix):
    return _throttle.setdefault(prefix, {"inFlight": 0, "peak": 0, "seen": {}})


def throttled_icon(req, m):
    prefix, fails, delay, name = m.group(1), int(m.group(2)), min(int(m.group(3)), 20000), m.group(4)
    with _throttle_lock:
        state = _throttle_state(prefix)
        state["inFlight"] += 1
        state["peak"] = max(state["peak"], state["inFlight"])
        n = state["seen"].get(name, 0)
        state["seen"][name] = n + 1
        crowded = state["inFlight"] > THROTTLE_LIMIT
    try:
        time.sleep(delay / 1000.0)
    finally:
        # Out of flight before the answer is written: a client that sees the answer and
        # sends its next request is never counted twice.
        with _throttle_lock:
            state["inFlight"] -= 1
    if n < fails or crowded:
        return httpkit.send_bytes(req, 429 if n % 2 == 0 else 503, "slow down\n")
    seed = zlib.crc32(name.encode("utf-8"))
    data = png_bytes(32, 32, (seed & 0xFF, (seed >> 8) & 0xFF, (seed >> 16) & 0xFF))
    httpkit.send_bytes(req, 200, data, content_type="image/png")


def throttle_peak(req, m):
    with _throttle_lock:
        state = _throttle_state(m.group(1))
        answer = {"peak": state["peak"], "inFlight": state["inFlight"]}
    httpkit.send_json(req, 200, answer)


def register(router):
    router.add(r"(/t/[^/]+)?/api/client/bootstrap", bootstrap)
    router.add(r"(/t/[^/]+)?/icons/([^/]+)", icon)
    router.add(r"(/t/[^/]+)?/api/client/report", report, methods=("POST",))
    router.add(r"(/t/[^/]+)?/_gen/catalog/(\d+)/api/client/bootstrap", generated_bootstrap)
    router.add(r"(/t/[^/]+)?/_gen/icon/(\d+)/([^/]+)\.png", slow_icon)
    router.add(r"(/t/[^/]+)/_gen/throttled/(\d+)/(\d+)/([^/]+)\.png", throttled_icon)
    router.add(r"(/t/[^/]+)/_gen/throttled/peak", throttle_peak)
