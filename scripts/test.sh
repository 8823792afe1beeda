#!/usr/bin/env bash
# Builds talvo and runs every test: the native build, the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, each fuzz target for a short while, and the Windows build (the
# platform's and the library's tests, with TALVO.dll) under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
log=$(mktemp /tmp/talvo-test.XXXXXX)
trap 'rm -f "$log"' EXIT

# The builds are the presets of CMakePresets.json: release (with the benchmarks), asan, windows.
cmake --preset release >/dev/null
cmake --build build-release -j"$jobs"
(cd build-release && ctest --output-on-failure -j"$jobs") | tee -a "$log"

cmake --preset asan >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs") | tee -a "$log"

# Every fuzz target briefly (libFuzzer, ASan and UBSan): a smoke run from the seed corpora.
scripts/fuzz.sh 30 | tee -a "$log"

cmake --preset windows >/dev/null
cmake --build build-windows -j"$jobs"
scripts/wine-tests.sh build-windows | tee -a "$log"

# The installed package: the example built with find_package and with pkg-config, and run.
scripts/check-install.sh build-release

# One closing line over all runs: CTest programs count as one test each, Wine runs per test case,
# fuzz targets one each.
counts=$(awk '
  /^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+/ { p += $NF - $4; f += $4 }
  /^\[  PASSED  \] [0-9]+ test/ { p += $4 }
  /^\[  FAILED  \] [0-9]+ test/ { f += $4 }
  /^fuzz .*: .* clean$/ { p += 1 }
  /^fuzz .*: FAILED/ { f += 1 }
  END { print p + 0, f + 0 }' "$log")
read -r passed failed <<<"$counts"
echo "$passed passed, $failed failed"
