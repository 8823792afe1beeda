#!/usr/bin/env bash
# Runs bench_blit and prints every blit step as a ratio of memcpy of the same bytes.
# Usage: bench/blit_ratios.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
json=$(mktemp)
trap 'rm -f "$json"' EXIT
"$build/bin/bench_blit" --benchmark_format=json --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true >"$json"
/usr/bin/python3 - "$json" <<'PY'
import json, sys
runs = [b for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("aggregate_name") == "median"]
rate = {}
for b in runs:
    name, w, h, bpp = b["run_name"].split("/")
    rate[(name, w, h, bpp)] = b["Mpx/s"]
print(f"{'step':<14}{'size':>10}{'bpp':>5}{'Mpx/s':>10}{'memcpy':>10}{'ratio':>7}")
for (name, w, h, bpp), r in sorted(rate.items()):
    if name == "BM_Memcpy":
        continue
    m = rate[("BM_Memcpy", w, h, bpp)]
    print(f"{name[3:]:<14}{w + 'x' + h:>10}{bpp:>5}{r:>10.0f}{m:>10.0f}{r / m:>7.2f}")
PY
