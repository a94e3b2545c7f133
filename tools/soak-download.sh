#!/usr/bin/env bash
# Fault soak of the download manager: JOBS downloads against a private loopback test server
# whose soak route answers each request with a fault drawn from SEED (503, bodies cut short,
# stalls, ignored ranges, short or misplaced 206 answers, broken header blocks, 404 from the
# final address). Prints the counts of the soak program and the faults drawn; fails when any
# finished file is not byte-exact, a part file is left beside a finished file, a failure has
# no message, a job does not end, or fewer than 95 % of the jobs end byte-exact. CI runs 100
# jobs with a fixed seed (CTest download_soak).
#   tools/soak-download.sh [BUILD_DIR] [JOBS] [SEED]   defaults: build/mingw 2000 a fresh seed
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/mingw}" && pwd)"
jobs="${2:-2000}"
seed="${3:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}"
soak="$build/tests/download/download_soak.exe"
[ -f "$soak" ] || { echo "build first: cmake --build $build --target download_soak" >&2; exit 1; }

server_dir="$(mktemp -d /tmp/kv-dl-soak.XXXXXX)"
cleanup() {
  bash "$root/tools/testserver/ctl.sh" stop "$server_dir" >/dev/null 2>&1
  rm -rf "$server_dir"
}
trap cleanup EXIT
bash "$root/tools/testserver/ctl.sh" start "$server_dir" >/dev/null || { echo "test server did not start" >&2; exit 1; }

export KV_TESTSERVER_DIR="$server_dir" KV_BINARY_DIR="$build"
# Bounded: each job ends by itself within minutes; the whole run within this.
timeout $((600 + jobs * 2)) "$root/tools/wine-run.sh" --prefix "$build/wineprefix" "$soak" \
  --jobs "$jobs" --seed "$seed"
