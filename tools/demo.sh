#!/usr/bin/env bash
# Runs the program against the bundled demo catalog: sets up and builds, serves the demo
# catalog on 127.0.0.1, points the program's configuration at it and starts the program
# under Wine on this machine's display. Without a display (no DISPLAY, or CI=true) it runs
# the program under a private Xvfb instead, saves a screenshot of the window to
# build/demo/screenshot.png once the catalog and its icons are painted, and ends by itself.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash tools/setup.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target kv_program kv_setup_register >build-log.txt 2>&1 || {
  tail -40 build-log.txt; echo "build failed (full log: build-log.txt)"; exit 1; }

demo="$root/build/demo"
mkdir -p "$demo"
python3 tools/demo-prepare.py build/mingw/installers/kv_setup_register.exe "$demo/catalog"

KV_CATALOG_DIR="$demo/catalog" tools/testserver/ctl.sh start "$demo/server" >/dev/null
prefix="$demo/wineprefix"
cleanup() {
  tools/testserver/ctl.sh stop "$demo/server" >/dev/null 2>&1 || true
  tools/wine-run.sh --prefix "$prefix" --stop >/dev/null 2>&1 || true
}
trap cleanup EXIT
port="$(sed -n 's/^http=//p' "$demo/server/ports.txt")"

# The program reads config.json from its folder in the user's roaming application data.
tools/wine-run.sh --prefix "$prefix" cmd /c exit 0 >/dev/null 2>&1 || true
roaming="$(ls -d "$prefix"/drive_c/users/*/AppData/Roaming 2>/dev/null | grep -v /Public/ | head -n 1)"
mkdir -p "$roaming/KelvoManager"
printf '{\n  "server": "http://127.0.0.1:%s",\n  "channel": "demo",\n  "downloadDir": ""\n}\n' "$port" \
  > "$roaming/KelvoManager/config.json"

echo "demo catalog server: http://127.0.0.1:$port (config: $roaming/KelvoManager/config.json)"
if [ -z "${DISPLAY:-}" ] || [ "${CI:-}" = "true" ]; then
  echo "no display: running 星舟软件管家 under a private Xvfb for a screenshot"
  rm -f "$demo/screenshot.png"
  python3 tools/demo-shot.py "$prefix" "build/mingw/星舟软件管家.exe" "$demo/server" "$demo/catalog" \
    "$demo/screenshot.png"
  exit $?
fi
echo "starting 星舟软件管家; close its window to end the demo"
status=0
tools/wine-run.sh --prefix "$prefix" "build/mingw/星舟软件管家.exe" || status=$?
echo "星舟软件管家 exited with code $status"
exit $status
