#!/usr/bin/env bash
# Sets up the toolchain, builds the Windows program and its tests, and runs every test
# under Wine. Exits non-zero when anything fails.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash tools/setup.sh
cmake --preset mingw >/dev/null
if ! cmake --build --preset mingw >build-log.txt 2>&1; then
  grep -E -A5 'error|Error' build-log.txt | head -80
  echo "build failed (full log: build-log.txt)"
  exit 1
fi
grep -E 'warning:' build-log.txt | sort -u | head -40 || true

status=0
ctest --preset mingw 2>&1 | tee build/ctest-log.txt || status=$?
tools/wine-run.sh --prefix build/mingw/wineprefix --stop
echo "Ten slowest tests:"
grep -E '^ *[0-9]+/[0-9]+ Test +#' build/ctest-log.txt | sed -E 's/.*#[0-9]+: ([^ ]+) .* ([0-9.]+) sec$/\2 \1/' \
  | sort -rn | head -10 | awk '{ printf "  %8.1f s  %s\n", $1, $2 }'
exit $status
