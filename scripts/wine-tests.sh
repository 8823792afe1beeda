#!/usr/bin/env bash
# Runs the Windows build's test programs under Wine: headless at 32 bits per pixel (no windows
# can be made there), then on Xvfb at depth 24 (32 bits per pixel, with windows), 16 and 8. Usage: scripts/wine-tests.sh BUILD_DIR
set -uo pipefail
build=${1:?build dir}
export WINEPREFIX=${WINEPREFIX:-$(mktemp -d /tmp/talvo-wine.XXXXXX)}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
status=0
xvfb_pid=""
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=""
}
trap cleanup EXIT

run_all() { # $1: label
  local exe
  for exe in "$build"/bin/*_tests.exe; do
    echo "== wine ($1): $(basename "$exe")"
    if ! (cd "$(dirname "$exe")" && TALVO_EXPECT_BPP=$2 timeout 600 wine "$(basename "$exe")"); then
      echo "FAILED under wine ($1): $exe"
      status=1
    fi
  done
}

# 32 bpp: Wine without a display.
(unset DISPLAY; wineboot -i >/dev/null 2>&1 || true)
(unset DISPLAY; run_all "32 bpp, headless" 32)
for depth in 24 16 8; do
  disp=":$((90 + depth))"
  bpp=$depth
  [ "$depth" = 24 ] && bpp=32 # a 24-bit X screen is a 32-bit display to Win32 programs
  Xvfb "$disp" -screen 0 1024x768x"$depth" -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  sleep 2
  DISPLAY=$disp run_all "$bpp bpp, Xvfb depth $depth" "$bpp"
  cleanup
done
exit $status
