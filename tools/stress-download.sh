#!/usr/bin/env bash
# Runs the download tests that exercise threads (manager, slots, cancel, verification race,
# transfers) many times against one test server to shake out races; prints the rounds
# passed. Not part of CI.
#   tools/stress-download.sh [BUILD_DIR] [ROUNDS]      defaults: build/mingw 30
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/mingw}" && pwd)"
rounds="${2:-30}"
unit="$build/tests/download/download_tests.exe"
transfer="$build/tests/download/download_transfer_tests.exe"
for f in "$unit" "$transfer"; do
  [ -f "$f" ] || { echo "build first: cmake --build $build --target download_tests download_transfer_tests" >&2; exit 1; }
done

server_dir="$(mktemp -d /tmp/kv-dl-stress.XXXXXX)"
cleanup() {
  bash "$root/tools/testserver/ctl.sh" stop "$server_dir" >/dev/null 2>&1
  rm -rf "$server_dir"
}
trap cleanup EXIT
bash "$root/tools/testserver/ctl.sh" start "$server_dir" >/dev/null || { echo "test server did not start" >&2; exit 1; }
mkdir -p "$build/download-fulldisk"
ln -sfn /dev/full "$build/download-fulldisk/fulldisk.exe.part"

export KV_TESTSERVER_DIR="$server_dir" KV_BINARY_DIR="$build"
filter_unit='Manager.*'
filter_transfer='Transfer.ASeventh*:Transfer.Cancel*:Transfer.A206Cut*:Transfer.AServerIgnoring*:Transfer.Thirteen*:Transfer.ARejected*:Transfer.AnEndless*'
passed=0
for i in $(seq 1 "$rounds"); do
  ok=1
  timeout 300 "$root/tools/wine-run.sh" --prefix "$build/wineprefix" "$unit" --gtest_filter="$filter_unit" \
    --gtest_brief=1 >"$server_dir/unit.log" 2>&1 || ok=0
  timeout 300 "$root/tools/wine-run.sh" --prefix "$build/wineprefix" "$transfer" --gtest_filter="$filter_transfer" \
    --gtest_brief=1 >"$server_dir/transfer.log" 2>&1 || ok=0
  if [ "$ok" = 1 ]; then
    passed=$((passed + 1))
  else
    echo "round $i failed:"
    grep -h -B2 -A12 "Failure\|FAILED" "$server_dir/unit.log" "$server_dir/transfer.log" | head -60
    tail -n 5 "$server_dir/unit.log" "$server_dir/transfer.log"
  fi
  echo "round $i/$rounds: $passed passed"
done
echo "stress-download: $passed of $rounds rounds passed"
[ "$passed" = "$rounds" ]
