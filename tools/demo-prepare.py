#!/usr/bin/env python3
"""Lays out the demo catalog served by tools/demo.sh, in a folder of the build tree.

  demo-prepare.py INSTALLER.exe OUT_DIR

Copies tools/demo-catalog (bootstrap.json, icons) to OUT_DIR and gives every application
that has a package a real, harmless installer (the test installer that registers itself
in the user's uninstall list) at OUT_DIR/packages/<id>/<name>.exe; the bootstrap then
announces that file's real size and MD5 digest, so downloads pass their check.
"""
import json
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "demo-catalog")
MAKE_PACKAGE = os.path.join(HERE, "installers", "make-package.py")


def package_name(app):
    name = re.sub(r'[\\/:*?"<>|\x00-\x1f]', "", app.get("name", "")).strip() or "app%d" % app["id"]
    version = re.sub(r"[^0-9A-Za-z.]", "", app.get("version", ""))
    return "%s-%s.exe" % (name, version) if version else name + ".exe"


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    installer, out = sys.argv[1], sys.argv[2]
    with open(os.path.join(SOURCE, "bootstrap.json"), encoding="utf-8") as f:
        doc = json.load(f)
    os.makedirs(out, exist_ok=True)
    icons = os.path.join(out, "icons")
    if os.path.isdir(icons):
        shutil.rmtree(icons)
    shutil.copytree(os.path.join(SOURCE, "icons"), icons)
    shutil.rmtree(os.path.join(out, "packages"), ignore_errors=True)

    packaged = 0
    for app in doc["data"]["apps"]:
        if not app.get("hasPackage"):
            continue
        folder = os.path.join(out, "packages", str(app["id"]))
        os.makedirs(folder, exist_ok=True)
        target = os.path.join(folder, package_name(app))
        info = os.path.join(out, "package-info.json")
        subprocess.run([sys.executable, MAKE_PACKAGE, installer, target, "--name", app["name"],
                        "--key", "KelvoDemo%d" % app["id"], "--version", app.get("version") or "1.0",
                        "--publisher", "星舟软件演示", "--info", info],
                       check=True, stdout=subprocess.DEVNULL)
        with open(info, encoding="utf-8") as f:
            figures = json.load(f)
        os.remove(info)
        app["md5"] = figures["md5"]
        app["packageSize"] = figures["size"]
        packaged += 1

    with open(os.path.join(out, "bootstrap.json"), "w", encoding="utf-8") as f:
        json.dump(doc, f, ensure_ascii=False, indent=1)
    print("demo catalog: %d applications, %d with packages, in %s" % (len(doc["data"]["apps"]), packaged, out))


if __name__ == "__main__":
    main()
