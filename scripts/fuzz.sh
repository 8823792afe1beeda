#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer) and
# runs each for a given time from a seed corpus of bitmap files of every depth and a few file
# names. Usage: scripts/fuzz.sh [SECONDS_PER_TARGET=60] [NAME_FILTER]
# Targets run side by side, as many at once as there are processors (TALVO_FUZZ_JOBS to choose).
# New inputs a run finds go to build-fuzz/corpus/<target>, kept for the next run. Exits 1 when a
# target crashed, leaked or timed out; the input that did it is left in build-fuzz/findings.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
filter=${2:-}
jobs=${TALVO_FUZZ_JOBS:-$(nproc)}
build=$(pwd)/build-fuzz

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVO_FUZZ=ON -DTALVO_SANITIZE=ON \
  -DTALVO_BENCH=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null || exit 1
cmake --build "$build" -j"$(nproc)" --target fuzzers >/dev/null ||
  { cmake --build "$build" -j1 --target fuzzers 2>&1 | tail -30; exit 1; }

# Seeds: the sample images, the library's pattern bitmap, and small files of every depth Pillow
# writes (1, 8, 24 and 32 bits), made afresh so that nothing large is kept in the repository.
seeds=$(mktemp -d /tmp/talvo-fuzz-seeds.XXXXXX)
names=$(mktemp -d /tmp/talvo-fuzz-names.XXXXXX)
logs=$(mktemp -d /tmp/talvo-fuzz-logs.XXXXXX)
trap 'rm -rf "$seeds" "$names" "$logs"' EXIT
cp tools/samples/*.bmp resources/pattern.bmp "$seeds"/ 2>/dev/null
/usr/bin/python3 - "$seeds" <<'PY'
import sys
from PIL import Image
out = sys.argv[1]
for w, h in ((1, 1), (5, 3), (33, 2), (12, 7)):
    rgb = Image.new("RGB", (w, h))
    rgb.putdata([((x * 37) % 256, (y * 91) % 256, (x * y * 13) % 256) for y in range(h) for x in range(w)])
    rgb.save(f"{out}/rgb_{w}x{h}.bmp")
    rgb.convert("RGBA").save(f"{out}/rgba_{w}x{h}.bmp")
    rgb.convert("P", palette=Image.ADAPTIVE, colors=16).save(f"{out}/p16_{w}x{h}.bmp")
    rgb.convert("P").save(f"{out}/p256_{w}x{h}.bmp")
    rgb.convert("1").save(f"{out}/mono_{w}x{h}.bmp")
PY
for n in shot.jpg shot.bmp 'C:\dir\shot.jpg' 'dir\sub\name' noext '.hidden' 'a.b.c.d' \
  "$(printf 'x%.0s' {1..300}).jpg"; do
  printf '%s' "$n" >"$names/$(printf '%s' "$n" | md5sum | cut -c1-12)"
done

mkdir -p "$build/corpus" "$build/findings"

# run_target NAME: one target for the given time; writes its verdict line to $logs/NAME.result.
run_target() {
  local name=$1 target=$build/bin/$1 corpus=$build/corpus/$1 seed maxlen rc runs log=$logs/$1.log
  mkdir -p "$corpus"
  case "$name" in
    capture_name_fuzzer) seed=$names; maxlen=600 ;;
    lookup_table_fuzzer) seed=$logs/empty-seed; mkdir -p "$seed"; maxlen=70000 ;;
    *) seed=$seeds; maxlen=70000 ;;
  esac
  (cd "$build/findings" && "$target" "$corpus" "$seed" \
     -max_total_time="$seconds" -max_len="$maxlen" -timeout=20 -rss_limit_mb=4096 \
     -print_final_stats=1) >"$log" 2>&1
  rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
  if [ $rc -eq 0 ]; then
    echo "fuzz $name: ${runs:-?} runs in ${seconds}s, clean" >"$logs/$name.result"
  else
    { echo "fuzz $name: FAILED (exit $rc)"
      grep -E 'ERROR|SUMMARY|abort|leaked' "$log" | head -20; } >"$logs/$name.result"
  fi
}

# As many targets at once as there are processors.
names_run=()
for target in "$build"/bin/*_fuzzer; do
  name=$(basename "$target")
  [ -n "$filter" ] && [[ "$name" != *"$filter"* ]] && continue
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  run_target "$name" &
  names_run+=("$name")
done
wait

status=0
[ ${#names_run[@]} -gt 0 ] || { echo "no fuzz target matches '$filter'"; exit 1; }
for name in "${names_run[@]}"; do
  cat "$logs/$name.result"
  grep -q 'clean$' "$logs/$name.result" || status=1
done
exit $status
