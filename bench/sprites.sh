#!/usr/bin/env bash
# Sprite drawing: builds sprites_vs_sdl2 natively (with SDL2) and with mingw-w64, runs the native
# program at 32 and 16 bits per pixel and the Windows one under Wine, headless at 32, and prints
# two tables: talvo against SDL2's software blits, and talvo on our platform against the same
# calls on Win32 GDI under Wine.
#
# Usage: bench/sprites.sh [NATIVE_BUILD [WINDOWS_BUILD]]   (default: build and build-win)
# Environment: SPRITES_TIME (seconds per side per round, default 0.25), SPRITES_ROUNDS (default
# 3), WINEPREFIX (used when set, otherwise a fresh prefix is made and removed at the end).
set -euo pipefail
cd "$(dirname "$0")/.."
native=${1:-build}
windows=${2:-build-win}
time=${SPRITES_TIME:-0.25}
rounds=${SPRITES_ROUNDS:-3}

cmake -S . -B "$native" -DTALVO_BENCH=ON >/dev/null
cmake --build "$native" -j2 --target sprites_vs_sdl2 >/dev/null
cmake -S . -B "$windows" --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DTALVO_BENCH=ON >/dev/null
cmake --build "$windows" -j2 --target sprites_vs_sdl2 >/dev/null

own_prefix=""
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX=$(mktemp -d /tmp/talvo-wine.XXXXXX)
  own_prefix=$WINEPREFIX
fi
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
ours=$(mktemp)
wine_out=$(mktemp)
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -f "$ours" "$wine_out"
  [ -n "$own_prefix" ] && rm -rf "$own_prefix"
  return 0
}
trap cleanup EXIT

"$native/bin/sprites_vs_sdl2" --tsv --time "$time" --rounds "$rounds" >"$ours"
(
  unset DISPLAY
  # A server kept up, with the prefix's services started and settled before the timing begins:
  # otherwise their start-up runs alongside the first lines and halves what those measure.
  wineserver -p
  wineboot -i >/dev/null 2>&1
  sleep 3
  cd "$windows/bin"
  wine sprites_vs_sdl2.exe --tsv --bpp 32 --time "$time" --rounds "$rounds"
) | tr -d '\r' >"$wine_out"

echo "talvo against SDL2 (frames per second, best of $rounds rounds of ${time} s each)"
awk -F'\t' '{ printf "%-32s %4d %4d %12.0f %12.0f %10.2f\n", $1, $2, $3, $4, $5, ($5 > 0 ? $4 / $5 : 0) }
  BEGIN { printf "%-32s %4s %4s %12s %12s %10s\n", "operation", "size", "bpp", "talvo f/s",
          "SDL2 f/s", "talvo/SDL2" }' "$ours"
echo
echo "talvo on our platform against talvo on Win32 GDI under Wine (headless, 32 bpp)"
awk -F'\t' '
  BEGIN { printf "%-32s %4s %4s %12s %12s %10s\n", "operation", "size", "bpp", "ours f/s",
          "Wine f/s", "ours/Wine" }
  NR == FNR { wine[$1 FS $2 FS $3] = $4; next }
  ($1 FS $2 FS $3) in wine {
    w = wine[$1 FS $2 FS $3]
    printf "%-32s %4d %4d %12.0f %12.0f %10.2f\n", $1, $2, $3, $4, w, (w > 0 ? $4 / w : 0)
  }' "$wine_out" "$ours"
