#!/usr/bin/env python3
"""Makes the package of one application from a built test installer.

Copies the installer and appends its settings (display name, uninstall key, version,
publisher, the hand-over's timing and outcome, the run time of a started program) as the
trailer the installer reads from its own file:
UTF-8 "k=v" lines, their length as 4 bytes little-endian, then b"KVSETUP1".

  make-package.py BASE.exe OUT.exe --name "Photo Studio" [--key KEY] [--version 1.0.0]
                  [--publisher P] [--delay-ms 10000] [--exit-code 0] [--child-exit-code 0]
                  [--hand-over-after-ms 0] [--run-ms 60000] [--log-order] [--info FILE]

Prints the MD5 digest and size of the written package, for the catalog; --info FILE also
writes them to FILE as JSON {"md5": "...", "size": N}.
"""
import argparse
import hashlib
import json
import re
import shutil
import struct
import sys

MAGIC = b"KVSETUP1"


def strip_trailer(data):
    if len(data) > 12 and data[-8:] == MAGIC:
        (length,) = struct.unpack("<I", data[-12:-8])
        if length + 12 <= len(data):
            return data[: -12 - length]
    return data


def main():
    ap = argparse.ArgumentParser(description="Append installer settings to a copy of a test installer.")
    ap.add_argument("base")
    ap.add_argument("out")
    ap.add_argument("--name", required=True, help="DisplayName of the uninstall entry")
    ap.add_argument("--key", help="uninstall subkey name (default: the name without unsafe characters)")
    ap.add_argument("--version", default="1.0.0")
    ap.add_argument("--publisher", default="Kelvo Test")
    ap.add_argument("--delay-ms", type=int, default=10000, help="hand-over installer: delay before registering")
    ap.add_argument("--exit-code", type=int, default=0, help="hand-over installer: exit code of the first process")
    ap.add_argument("--child-exit-code", type=int, default=0,
                    help="hand-over installer: exit code of the second process, which registers only with 0")
    ap.add_argument("--hand-over-after-ms", type=int, default=0,
                    help="hand-over installer: how long the first process waits, idle, before it hands over")
    ap.add_argument("--run-ms", type=int, default=60000, help="launching installer: longest run of its program")
    ap.add_argument("--finish-page-ms", type=int, default=0,
                    help="slow installer: how long it stays on its last page after registering")
    ap.add_argument("--log-order", action="store_true",
                    help="hand-over installer: the second process notes its start and end in the order log")
    ap.add_argument("--info", help="also write the MD5 digest and size to this JSON file")
    args = ap.parse_args()

    key = args.key or re.sub(r'[\\/:*?"<>|\s]+', "", args.name) or "KVTestApp"
    fields = {"name": args.name, "key": key, "version": args.version, "publisher": args.publisher,
              "delayMs": str(args.delay_ms), "exitCode": str(args.exit_code),
              "childExitCode": str(args.child_exit_code),
              "handOverAfterMs": str(args.hand_over_after_ms), "runMs": str(args.run_ms),
              "finishPageMs": str(args.finish_page_ms),
              "logOrder": "1" if args.log_order else "0"}
    for k, v in fields.items():
        if "\n" in v or "\r" in v:
            sys.exit(f"make-package: {k} must be one line")
    text = "".join(f"{k}={v}\n" for k, v in fields.items()).encode("utf-8")
    if len(text) > 4096:
        sys.exit("make-package: settings longer than 4096 bytes")

    with open(args.base, "rb") as f:
        data = strip_trailer(f.read())
    data += text + struct.pack("<I", len(text)) + MAGIC
    with open(args.out, "wb") as f:
        f.write(data)
    shutil.copymode(args.base, args.out)
    digest = hashlib.md5(data).hexdigest()
    print(digest, len(data))
    if args.info:
        with open(args.info, "w", encoding="utf-8") as f:
            json.dump({"md5": digest, "size": len(data)}, f)


if __name__ == "__main__":
    main()
