#!/usr/bin/env bash
# Catalog-load benchmark: a generated bootstrap of 10,000 applications (about 7 MiB) from
# the loopback test server, loaded and published through loadCatalog; prints each load's
# time (request included) and the peak working set.
#   bench/catalog/run.sh [BUILD_DIR] [APPS]      defaults: build/mingw 10000
#   bench/catalog/run.sh shapes [BUILD_DIR]      the peak memory of 8 MiB answers of
#                                                hostile shapes, each in a fresh process
# Needs the target catalog_bench built in BUILD_DIR.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
if [ "${1:-}" = "shapes" ]; then
  build="$(cd "${2:-$root/build/mingw}" && pwd)"
  exe="$build/bench/catalog/catalog_bench.exe"
  [ -f "$exe" ] || { echo "build first: cmake --build $build --target catalog_bench" >&2; exit 1; }
  for shape in empty-apps side-array side-numbers root-array data-array app-members shown-apps category-ids \
               distinct-ids categories; do
    "$root/tools/wine-run.sh" --prefix "$build/wineprefix" "$exe" shape "$shape"
  done
  exit 0
fi
build="$(cd "${1:-$root/build/mingw}" && pwd)"
apps="${2:-10000}"
exe="$build/bench/catalog/catalog_bench.exe"
[ -f "$exe" ] || { echo "build first: cmake --build $build --target catalog_bench" >&2; exit 1; }

. "$root/bench/test-server.sh" kv-catalog-bench
server="http://127.0.0.1:$port/_gen/catalog/$apps"
# The server builds the document on its first request; keep that out of the figures.
curl -s -o /dev/null -w "bootstrap: %{size_download} bytes\n" "$server/api/client/bootstrap"
"$root/tools/wine-run.sh" --prefix "$build/wineprefix" "$exe" "$server" 6
