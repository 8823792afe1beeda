#!/usr/bin/env bash
# Runs the Windows build's test programs under Wine: headless at 32 bits per pixel (no windows
# can be made there), then on Xvfb at depth 24 (32 bits per pixel, with windows), 16 and 8.
#
# Usage: scripts/wine-tests.sh BUILD_DIR [FILTER]
#   BUILD_DIR  a mingw-w64 build (cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake)
#   FILTER     which programs of BUILD_DIR/bin to run: a shell pattern matched against the name
#              without ".exe", e.g. 'image_*' or 'win32_semantic_tests' (default: '*_tests')
#
# Environment: WINEPREFIX is used when set (created on first use), otherwise a fresh prefix is
# made in /tmp and removed at the end. Every program runs from BUILD_DIR/bin with
# TALVO_EXPECT_BPP set to the depth of the run. Each Xvfb server takes a display number that is
# free (-displayfd), so several runs can go on side by side.
set -uo pipefail
build=${1:?usage: scripts/wine-tests.sh BUILD_DIR [FILTER]}
filter=${2:-*_tests}
bin=$(cd "$build/bin" && pwd) || exit 2

own_prefix=""
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX=$(mktemp -d /tmp/talvo-wine.XXXXXX)
  own_prefix=$WINEPREFIX
fi
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

programs=()
for exe in "$bin"/*.exe; do
  name=$(basename "$exe" .exe)
  # shellcheck disable=SC2053 # the filter is a pattern
  [[ $name == $filter ]] && programs+=("$name")
done
if [ ${#programs[@]} -eq 0 ]; then
  echo "wine-tests: no program in $bin matches '$filter'" >&2
  exit 2
fi

status=0
xvfb_pid=""
display_file=""
stop_wine() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
}
stop_xvfb() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  fi
  xvfb_pid=""
  [ -n "$display_file" ] && rm -f "$display_file"
  display_file=""
}
cleanup() {
  stop_wine
  stop_xvfb
  [ -n "$own_prefix" ] && rm -rf "$own_prefix"
}
trap cleanup EXIT

# Starts Xvfb at a depth on a free display and sets DISPLAY; false when it does not come up.
start_xvfb() {
  display_file=$(mktemp /tmp/talvo-xvfb.XXXXXX)
  Xvfb -displayfd 3 -screen 0 1024x768x"$1" -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  local i
  for i in $(seq 100); do
    if [ -s "$display_file" ]; then
      DISPLAY=":$(head -n1 "$display_file")"
      export DISPLAY
      return 0
    fi
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  return 1
}

run_all() { # $1: label, $2: bits per pixel
  local name
  for name in "${programs[@]}"; do
    echo "== wine ($1): $name"
    if ! (cd "$bin" && TALVO_EXPECT_BPP=$2 timeout 900 wine "$name.exe"); then
      echo "FAILED under wine ($1): $name"
      status=1
    fi
  done
}

# 32 bpp: Wine without a display.
unset DISPLAY
wineboot -i >/dev/null 2>&1
run_all "32 bpp, headless" 32
stop_wine
for depth in 24 16 8; do
  bpp=$depth
  [ "$depth" = 24 ] && bpp=32 # a 24-bit X screen is a 32-bit display to Win32 programs
  if ! start_xvfb "$depth"; then
    echo "FAILED: Xvfb does not start at depth $depth"
    status=1
    stop_xvfb
    continue
  fi
  run_all "$bpp bpp, Xvfb depth $depth" "$bpp"
  stop_wine
  stop_xvfb
done
exit $status
