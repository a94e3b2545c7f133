#!/usr/bin/env bash
# Builds the JSON parser natively with clang's libFuzzer, ASan and UBSan, and fuzzes
# it for a bounded time. Usage: tools/fuzz-json.sh [seconds]   (default 600)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-600}"
build="$root/build/fuzz"
cmake -S "$root" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_FUZZ=ON -DKV_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target json_fuzz >/dev/null

corpus="$build/corpus"
mkdir -p "$corpus"
# Seeds: shapes the program really reads, plus the parser's quirks.
printf '%s' '{"data":{"categories":[{"id":"1","name":"\u5b89\u5168"}],"apps":[{"id":1,"name":"A","version":"1.2.3","categoryIds":["1"],"packageSize":123,"md5":"","hasPackage":true,"updatedAt":1700000000000}]}}' > "$corpus/bootstrap.json"
printf '%s' '{"server": "https://a.example", "channel": "default", "downloadDir": "D:\\x"}' > "$corpus/config.json"
printf '%s' '["\ud83d\ude00","\ud83d","\u12",1e999,-0,+5,007,0x1p4,.5,true,false,null]' > "$corpus/quirks.json"
printf '\xEF\xBB\xBF[[[[{"a":[{}]}]]]]' > "$corpus/bom.json"

cd "$build"
"$build/src/json/json_fuzz" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 "$corpus" 2>&1 | tee "$build/fuzz.log" | grep -E 'DONE|stat::|ERROR|SUMMARY|artifact' || true
grep -q 'DONE' "$build/fuzz.log" && ! grep -q 'ERROR' "$build/fuzz.log"
