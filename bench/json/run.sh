#!/usr/bin/env bash
# Builds the JSON benchmark for Windows (run under Wine) and natively, and prints both
# figures beside RapidJSON's, with the load average of the shared machine.
#   bench/json/run.sh [ROUNDS]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
rounds="${1:-15}"
cmake --preset mingw -S "$root" >/dev/null
cmake --build "$root/build/mingw" -j2 --target bench_json >/dev/null
(cd "$root" && cmake --preset native >/dev/null)
cmake --build "$root/build/native" -j2 --target bench_json >/dev/null
echo "load average: $(cat /proc/loadavg)"
echo -n "Wine:   "; "$root/tools/wine-run.sh" --prefix "$root/build/mingw/wineprefix" "$root/build/mingw/bench/json/bench_json.exe" "$rounds"
echo "load average: $(cat /proc/loadavg)"
echo -n "native: "; "$root/build/native/bench/json/bench_json" "$rounds"
echo "load average: $(cat /proc/loadavg)"
