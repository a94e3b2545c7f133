#!/usr/bin/env bash
# Builds the JSON benchmark for Windows (run under Wine) and natively, and prints both figures.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
cmake --preset mingw -S "$root" >/dev/null
cmake --build "$root/build/mingw" -j2 --target bench_json >/dev/null
cmake -S "$root" -B "$root/build/native" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
      -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build/native" -j2 --target bench_json >/dev/null
echo -n "Wine:   "; "$root/tools/wine-run.sh" --prefix "$root/build/mingw/wineprefix" "$root/build/mingw/bench/json/bench_json.exe"
echo -n "native: "; "$root/build/native/bench/json/bench_json"
