#!/usr/bin/env bash
# Runs a Windows program under wine64 with a private prefix.
#   wine-run.sh [--prefix DIR] program.exe [args...]   run it, exit with its exit code
#   wine-run.sh [--prefix DIR] --stop                  stop this prefix's wineserver and display
#   wine-run.sh [--prefix DIR] --create                stop what runs in the prefix, create it
# The prefix is created on first use (quiet; a crash ends the process at once with a
# non-zero code instead of starting the debugger; a CJK font standing in for
# "Microsoft YaHei") and reused after. Without DISPLAY, the display named in the file
# KV_DISPLAY_FILE is used, else a private Xvfb is started for the prefix.
set -u

prefix="${KV_WINEPREFIX:-}"
if [ "${1:-}" = "--prefix" ]; then prefix="$2"; shift 2; fi
[ -n "$prefix" ] || prefix="$(pwd)/wineprefix"
mkdir -p "$prefix"
prefix="$(cd "$prefix" && pwd)"

WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE="$(command -v wine64 || command -v wine)"
WINESERVER=/usr/lib/wine/wineserver
[ -x "$WINESERVER" ] || WINESERVER="$(command -v wineserver)"

export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
export WINEARCH=win64

stop_display() {
  if [ -f "$prefix/.xvfb.pid" ]; then
    kill "$(cat "$prefix/.xvfb.pid")" 2>/dev/null
    rm -f "$prefix/.xvfb.pid" "$prefix/.xvfb.display"
  fi
}

if [ "${1:-}" = "--stop" ]; then
  "$WINESERVER" -k 2>/dev/null
  "$WINESERVER" -w 2>/dev/null
  stop_display
  exit 0
fi

exec 9>"$prefix/.lock"

# A fresh start: whatever an earlier run left of this prefix (its wineserver, whose desktop
# lives on the display it started with, and a private display) is stopped first.
if [ "${1:-}" = "--create" ]; then
  "$WINESERVER" -k 2>/dev/null
  "$WINESERVER" -w 2>/dev/null
  stop_display
fi

ensure_display() {
  [ -n "${DISPLAY:-}" ] && return 0
  if [ -n "${KV_DISPLAY_FILE:-}" ] && [ -s "$KV_DISPLAY_FILE" ]; then
    export DISPLAY="$(cat "$KV_DISPLAY_FILE")"
    return 0
  fi
  flock 9
  if [ -f "$prefix/.xvfb.pid" ] && kill -0 "$(cat "$prefix/.xvfb.pid")" 2>/dev/null; then
    export DISPLAY="$(cat "$prefix/.xvfb.display")"
  else
    # Xvfb claims a free display number itself and writes it once it accepts connections,
    # so programs started side by side never race for a number.
    local number="$prefix/.xvfb.number"
    rm -f "$number"
    setsid Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 < /dev/null &
    echo $! > "$prefix/.xvfb.pid"
    for _ in $(seq 1 100); do grep -q . "$number" 2>/dev/null && break; sleep 0.1; done
    echo ":$(head -n1 "$number")" > "$prefix/.xvfb.display"
    export DISPLAY="$(cat "$prefix/.xvfb.display")"
  fi
  flock -u 9
}

ensure_prefix() {
  [ -f "$prefix/.kv-ready" ] && return 0
  flock 9
  if [ ! -f "$prefix/.kv-ready" ]; then
    "$WINE" wineboot -i >/dev/null 2>&1
    local reg="$prefix/kv-settings.reg"
    cat > "$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Microsoft YaHei"="Noto Sans CJK SC"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Debugger"=""
"Auto"="1"
REG
    "$WINE" regedit /S "$reg" >/dev/null 2>&1
    "$WINESERVER" -w
    touch "$prefix/.kv-ready"
  fi
  flock -u 9
}

# The current user's proxy settings as Windows keeps them: direct, no automatic detection.
# Wine's default is detection on, which asks DHCP and DNS for a WPAD host beyond this
# machine. Applied once per prefix (also to prefixes made before this setting existed);
# tests that need a proxy write their own value and put this one back.
ensure_direct_connection() {
  [ -f "$prefix/.kv-direct" ] && return 0
  flock 9
  if [ ! -f "$prefix/.kv-direct" ]; then
    local reg="$prefix/kv-direct.reg"
    cat > "$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections]
"DefaultConnectionSettings"=hex:46,00,00,00,01,00,00,00,01,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00
REG
    "$WINE" regedit /S "$reg" >/dev/null 2>&1
    touch "$prefix/.kv-direct"
  fi
  flock -u 9
}

ensure_display
ensure_prefix
ensure_direct_connection
exec 9>&-
[ "${1:-}" = "--create" ] && exit 0
"$WINE" "$@"
