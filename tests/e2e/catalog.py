"""The catalog the end-to-end cases run against: 17 categories; the first holds one
application per behaviour under test (real packages from make-package.py, an archive, a
failing and a slow download, a stalled report, a setup that hands over), the second starts
with one without package.
Everything is served through scripts under the run's own prefix of the test server."""
import hashlib
import io
import json
import os
import subprocess
import sys
import zipfile

CATEGORY_NAMES = ["装机必备", "安全杀毒", "聊天社交", "浏览器", "影音播放", "办公软件", "输入法", "压缩解压",
                  "系统工具", "驱动硬件", "远程控制", "数据备份", "游戏娱乐", "图片看图", "视频剪辑", "AI助手",
                  "设计绘图"]

# First category, in order: id -> (name, kind). Kinds: installer, mismatch, archive, failing,
# slow, stalled (installer whose report stalls), nopackage, handoff (a setup that hands over
# to a second process, which registers HANDOFF_DELAY_MS later), filler.
FIRST = [
    (1, "星舟测试一号", "installer"),
    (2, "校验不符工具", "mismatch"),
    (3, "压缩包素材", "archive"),
    (4, "断线下载器", "failing"),
    (5, "慢速下载器", "slow"),
    (6, "报告卡住的应用", "stalled"),
    (7, "尚未上架", "nopackage"),
    (8, "交接安装器", "handoff"),
    (9, "填充应用九", "filler"),
    (10, "填充应用十", "filler"),
]
SECOND = [(11, "第二类未上架", "nopackage"), (12, "第二类应用", "filler")]

# Longer than the 18 s of looks after the first process's exit.
HANDOFF_DELAY_MS = 22000

ICONS = ["app-1002.png", "app-1005.png", "app-1001.ico", "app-1006.png", "app-1008.png"]


def uninstall_key(group, app_id):
    return "KVE2E%s%d" % (group.capitalize(), app_id)


def file_name(app_id, kind):
    return "pack-%d.zip" % app_id if kind == "archive" else "e2e-app-%d.exe" % app_id


class Catalog:
    def __init__(self, session, server):
        self.session = session
        self.server = server
        self.folder = os.path.join(session.work, "catalog")
        os.makedirs(self.folder, exist_ok=True)
        self.files = {}   # id -> (path, md5, size)
        self.apps = {}
        self.bootstrap_path = os.path.join(self.folder, "bootstrap.json")

    def make_package(self, app_id, name, kind="register", extra=()):
        base = os.path.join(self.session.build, "installers", "kv_setup_%s.exe" % kind)
        out = os.path.join(self.folder, file_name(app_id, "installer"))
        info = out + ".json"
        subprocess.run([sys.executable, os.path.join(self.session.source, "tools", "installers", "make-package.py"),
                        base, out, "--name", name, "--key", uninstall_key(self.session.name, app_id),
                        "--version", "1.0.%d" % app_id, "--publisher", "星舟端到端测试", "--info", info] + list(extra),
                       check=True, stdout=subprocess.DEVNULL, timeout=60)
        with open(info) as f:
            figures = json.load(f)
        return out, figures["md5"], figures["size"]

    def make_archive(self, app_id):
        buf = io.BytesIO()
        with zipfile.ZipFile(buf, "w") as z:
            z.writestr("readme.txt", "kept, never run\n" * 100)
        out = os.path.join(self.folder, file_name(app_id, "archive"))
        with open(out, "wb") as f:
            f.write(buf.getvalue())
        return out, hashlib.md5(buf.getvalue()).hexdigest(), len(buf.getvalue())

    def build(self):
        apps = []
        for category, entries in (("c1", FIRST), ("c2", SECOND)):
            for app_id, name, kind in entries:
                app = {"id": app_id, "name": name, "version": "1.0.%d" % app_id, "categoryIds": [category],
                       "description": "端到端测试：%s" % kind, "icon": "/icons/" + ICONS[app_id % len(ICONS)],
                       "packageSize": 0, "md5": "", "hasPackage": kind != "nopackage",
                       "downloads": 1000 + app_id, "updatedAt": 1732780800000}
                if kind in ("installer", "mismatch", "failing", "slow", "stalled", "handoff"):
                    if kind == "handoff":
                        path, md5, size = self.make_package(app_id, name, "handoff",
                                                            ["--delay-ms", str(HANDOFF_DELAY_MS)])
                    else:
                        path, md5, size = self.make_package(app_id, name)
                    app["md5"] = md5 if kind != "mismatch" else "0" * 32
                    app["packageSize"] = size
                    self.files[app_id] = (path, md5, size)
                elif kind == "archive":
                    path, md5, size = self.make_archive(app_id)
                    app["md5"], app["packageSize"] = md5, size
                    self.files[app_id] = (path, md5, size)
                apps.append(app)
                self.apps[app_id] = (name, kind)
        # Many categories so that the sidebar scrolls; a few applications in each of the others.
        categories = [{"id": "c%d" % (i + 1), "name": n} for i, n in enumerate(CATEGORY_NAMES)]
        for i in range(2, len(CATEGORY_NAMES)):
            apps.append({"id": 100 + i, "name": "%s示例" % CATEGORY_NAMES[i], "version": "2.0",
                         "categoryIds": ["c%d" % (i + 1)], "description": "示例应用",
                         "icon": "/icons/" + ICONS[i % len(ICONS)], "packageSize": 1000, "md5": "",
                         "hasPackage": False, "updatedAt": 1732780800000})
        doc = {"code": 0, "message": "ok", "data": {"categories": categories, "apps": apps}}
        with open(self.bootstrap_path, "w", encoding="utf-8") as f:
            json.dump(doc, f, ensure_ascii=False)

    def serve(self, bootstrap_fails=False):
        """Scripts every answer: the bootstrap, each download address (a redirect to a file
        address whose last segment names the file) and the files."""
        if bootstrap_fails:
            self.server.script("/api/client/bootstrap", [{"status": 500, "body": "down", "ranges": False}])
        else:
            self.serve_bootstrap()
        for app_id, (name, kind) in self.apps.items():
            if kind == "failing":
                self.server.script(self.download_path(app_id), [{"status": 400, "body": "refused", "ranges": False}])
            elif app_id in self.files:
                self.serve_download(app_id, slow=(kind == "slow"))

    def serve_bootstrap(self):
        self.server.script("/api/client/bootstrap", [{"file": self.bootstrap_path,
                                                      "content_type": "application/json; charset=utf-8"}])

    def download_path(self, app_id):
        return "/api/client/download/%d" % app_id

    def file_path(self, app_id):
        return "/e2e-files/%d/%s" % (app_id, file_name(app_id, self.apps[app_id][1]))

    def serve_download(self, app_id, slow=False):
        self.server.script(self.download_path(app_id),
                           [{"status": 302, "location": self.server.prefix + self.file_path(app_id), "ranges": False}])
        step = {"file": self.files[app_id][0]}
        if slow:
            step.update({"chunk": 1024, "interval_ms": 500})
        self.server.script(self.file_path(app_id), [step])
